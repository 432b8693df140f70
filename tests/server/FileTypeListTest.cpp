// The deployer's list of file types as DllInstall receives it, parsed without
// the registry: both forms of item, one spelling per pattern, and every kind
// of bad item refused with nothing kept.
#include "server/FileTypeList.h"

#include <gtest/gtest.h>

namespace {

using Items = std::vector<std::wstring>;

TEST(FileTypeListTest, ParsesExtensionsAndPatternsInOneSpelling) {
    CFileTypeList list;
    ASSERT_EQ(S_OK, list.Parse(L" .kxv ; .264;0,4,,4b585652; ;-16, 2,FFFF,0a0B,0,1,,01;.KXV;0,4,,4B585652;"));
    EXPECT_EQ((Items{L".kxv", L".264"}), list.Extensions());
    EXPECT_EQ((Items{L"0,4,,4B585652", L"-16,2,FFFF,0A0B,0,1,,01"}), list.Patterns());

    for (const wchar_t* empty : {static_cast<const wchar_t*>(nullptr), L"", L" ; ;"}) {
        ASSERT_EQ(S_OK, list.Parse(empty));
        EXPECT_TRUE(list.Extensions().empty());
        EXPECT_TRUE(list.Patterns().empty());
    }
}

TEST(FileTypeListTest, RefusesEveryBadItemAndKeepsNothing) {
    const wchar_t* bad[] = {
        L".", L"kxv", L".tar.gz", L".k v", L".a\\b", L".abcdefghijklmnopqrstuvwxyz0123456",
        L"0,4,,4B5856",        // value shorter than count
        L"0,4,FF,4B585652",    // mask of another length
        L"0,0,,",              // no bytes
        L"x,4,,4B585652", L"0,4,,4B58565G", L"0,4,4B585652", L"0,4,,4B585652,1",
        L"4294967296,1,,00", L"0,257,,00", L"-0x1,1,,00",
    };
    for (const wchar_t* item : bad) {
        CFileTypeList list;
        ASSERT_EQ(S_OK, list.Parse(L".kxv;0,1,,00"));
        EXPECT_EQ(E_INVALIDARG, list.Parse((std::wstring(L".good;") + item).c_str())) << item;
        EXPECT_TRUE(list.Extensions().empty()) << item;
        EXPECT_TRUE(list.Patterns().empty()) << item;
    }
}

}  // namespace

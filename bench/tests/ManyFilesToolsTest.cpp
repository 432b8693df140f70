// The many-files run's own instruments: the address-space walk must see a
// block reserved or committed by anyone in the process, and the budget
// setting must leave the registry as it found it.
#include "bench/AddressSpaceMeter.h"
#include "bench/RegistryDwordScope.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t BlockBytes = 64ull << 20;
const wchar_t TestKey[] = L"Software\\KXVD\\kxbench-test";

DWORD ReadValue(const wchar_t* name, LONG* status) {
    DWORD value = 0, size = sizeof(value);
    *status = RegGetValueW(HKEY_CURRENT_USER, TestKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

}  // namespace

TEST(AddressSpaceMeterTest, SeesReservedAndCommittedBlocks) {
    CAddressSpaceMeter meter;
    const AddressSpaceUse before = meter.Sample();
    EXPECT_GT(before.InUse, 0u);
    EXPECT_LE(before.InUse + before.NoAccessReserve, CAddressSpaceMeter::Limit());
    void* block = VirtualAlloc(nullptr, BlockBytes, MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, block);
    const AddressSpaceUse reserved = meter.Sample();
    ASSERT_NE(nullptr, VirtualAlloc(block, BlockBytes, MEM_COMMIT, PAGE_READWRITE));
    const AddressSpaceUse committed = meter.Sample();
    VirtualFree(block, 0, MEM_RELEASE);
    // Other threads of the process may take or give back a little meanwhile.
    EXPECT_GE(reserved.InUse, before.InUse + BlockBytes * 9 / 10) << "a reservation takes address space";
    EXPECT_GE(committed.Committed, reserved.Committed + BlockBytes * 9 / 10);
    EXPECT_GE(meter.Peak().InUse, committed.InUse);
    EXPECT_LT(meter.Walk().InUse, meter.Peak().InUse) << "the peak stays after the block is gone";
}

TEST(RegistryDwordScopeTest, RestoresAnEarlierValueAndRemovesANewOne) {
    RegDeleteTreeW(HKEY_CURRENT_USER, TestKey);
    LONG status = 0;
    {
        CRegistryDwordScope scope(HKEY_CURRENT_USER, TestKey, L"Fresh", 64);
        ASSERT_TRUE(scope.Written());
        EXPECT_EQ(64u, ReadValue(L"Fresh", &status));
        EXPECT_EQ(ERROR_SUCCESS, status);
    }
    ReadValue(L"Fresh", &status);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, status) << "a value that was not there before is removed";
    {
        CRegistryDwordScope earlier(HKEY_CURRENT_USER, TestKey, L"Kept", 7);
        {
            CRegistryDwordScope scope(HKEY_CURRENT_USER, TestKey, L"Kept", 220);
            EXPECT_EQ(220u, ReadValue(L"Kept", &status));
        }
        EXPECT_EQ(7u, ReadValue(L"Kept", &status)) << "the earlier value is put back";
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, TestKey);
}

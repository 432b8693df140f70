// The many-files run's own instruments: the address-space walk must see a
// block reserved or committed by anyone in the process, the budget setting
// must leave the registry as it found it, and a child's figures must reach
// the parent whole and be judged strictly.
#include "bench/AddressSpaceMeter.h"
#include "bench/BenchMedia.h"
#include "bench/ManyFilesRun.h"
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

TEST(ManyFilesFiguresTest, ReachTheParentWholeAndOnlyAWholeFileIsIntact) {
    MediaPlan plan;
    plan.Frames = 200;
    const uint64_t sound = plan.DurationMs() * 16ull;
    ManyGraphFigures whole;
    whole.Outcome = ManyOutcome::Complete;
    whole.Pictures = whole.PicturesInOrder = 200;
    whole.SoundBytes = whole.SoundInOrder = sound;
    whole.EndSeconds = 8.25;
    ManyGraphFigures aborted = whole;
    aborted.Outcome = ManyOutcome::Aborted;
    aborted.Code = E_OUTOFMEMORY;
    ManyFilesFigures figures;
    figures.Limit = 2047ull << 20;
    figures.Peak.InUse = 1900ull << 20;
    figures.Seconds = 8.5;
    figures.Graphs = {whole, aborted};
    const std::wstring path = BenchScratchFolder() + L"many_figures_test.txt";
    ASSERT_TRUE(figures.Write(path));
    ManyFilesFigures read;
    ASSERT_TRUE(read.Read(path));
    DeleteFileW(path.c_str());
    EXPECT_EQ(figures.Limit, read.Limit);
    EXPECT_EQ(figures.Peak.InUse, read.Peak.InUse);
    EXPECT_DOUBLE_EQ(8.5, read.Seconds);
    ASSERT_EQ(2u, read.Graphs.size());
    EXPECT_EQ(ManyOutcome::Aborted, read.Graphs[1].Outcome);
    EXPECT_EQ(E_OUTOFMEMORY, read.Graphs[1].Code);
    EXPECT_EQ(sound, read.Graphs[0].SoundInOrder);

    EXPECT_TRUE(read.Graphs[0].Intact(plan));
    EXPECT_FALSE(read.Graphs[1].Intact(plan)) << "every picture, but the graph aborted";
    ManyGraphFigures repeated = whole;
    repeated.PicturesInOrder = 199;
    EXPECT_FALSE(repeated.Intact(plan)) << "a repeated picture in place of a lost one";
    ManyGraphFigures silent = whole;
    silent.SoundInOrder = sound - 800;
    EXPECT_FALSE(silent.Intact(plan)) << "silence in place of sound";
}

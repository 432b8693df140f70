// The allocation counter decides the "0 allocations per picture" verdict: it
// must count every allocation a watched module makes, once, and nothing that
// other code makes.
#include "bench/AllocationCounter.h"
#include "bench/ModuleFactory.h"
#include "common/KXPlayApi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <objbase.h>

namespace {

// Kept out of the optimiser's sight so that no allocation is elided.
void* volatile Sink;

// Allocations made by this executable's code between two calls.
uint64_t ExeCount() { return CAllocationCounter::Count(0); }

class AllocationCounterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Watched = CAllocationCounter::Watch(GetModuleHandleW(nullptr), 0); }
    static bool Watched;
};

bool AllocationCounterTest::Watched = false;

}  // namespace

TEST_F(AllocationCounterTest, CountsEachAllocationOfTheWatchedModuleOnce) {
    ASSERT_TRUE(Watched);
    const uint64_t before = ExeCount();
    const uint64_t largeBefore = CAllocationCounter::LargeCount(0);
    void* block = std::malloc(100);
    Sink = block;
    void* zeroed = std::calloc(4, 25);
    Sink = zeroed;
    block = std::realloc(block, 256 * 1024);
    Sink = block;
    void* task = CoTaskMemAlloc(64);
    Sink = task;
    std::free(block);
    std::free(zeroed);
    CoTaskMemFree(task);
    const uint64_t after = ExeCount();
    EXPECT_EQ(4u, after - before) << "malloc, calloc, realloc and CoTaskMemAlloc; frees are not allocations";
    EXPECT_EQ(1u, CAllocationCounter::LargeCount(0) - largeBefore) << "the 256 KB realloc";
}

TEST_F(AllocationCounterTest, OperatorNewOfTheStaticRuntimeIsCounted) {
    ASSERT_TRUE(Watched);
    const uint64_t before = ExeCount();
    std::unique_ptr<int[]> array(new int[1000]);
    Sink = array.get();
    EXPECT_EQ(1u, ExeCount() - before);
}

TEST_F(AllocationCounterTest, WatchingTwiceNeitherDoublesNorLoops) {
    ASSERT_TRUE(Watched);
    EXPECT_FALSE(CAllocationCounter::Watch(GetModuleHandleW(nullptr), 0)) << "nothing left to redirect";
    const uint64_t before = ExeCount();
    void* block = std::malloc(10);
    Sink = block;
    std::free(block);
    EXPECT_EQ(1u, ExeCount() - before);
}

TEST_F(AllocationCounterTest, AnotherModulesAllocationsGoToItsOwnSlot) {
    ASSERT_TRUE(Watched);
    EXPECT_FALSE(CAllocationCounter::Watch(nullptr, 1));
    EXPECT_FALSE(CAllocationCounter::Watch(GetModuleHandleW(nullptr), CAllocationCounter::Slots));
    HMODULE library = LoadLibraryW(CModuleFactory::BesideExecutable(L"VUVezaVID.dll").c_str());
    ASSERT_NE(nullptr, library);
    ASSERT_TRUE(CAllocationCounter::Watch(library, 1));
    auto open = reinterpret_cast<PFN_KX_PLAY_OpenFileExW>(reinterpret_cast<void*>(GetProcAddress(library, "KX_PLAY_OpenFileExW")));
    ASSERT_NE(nullptr, open);
    const uint64_t exeBefore = ExeCount();
    const uint64_t libraryBefore = CAllocationCounter::Count(1);
    // A path that cannot be opened still makes the library build its strings
    // and objects before it gives up.
    KXPLAYHANDLE handle = open(L"Z:\\no\\such\\recording.kxr");
    EXPECT_EQ(nullptr, handle);
    EXPECT_GT(CAllocationCounter::Count(1), libraryBefore) << "the library's own allocations";
    EXPECT_EQ(exeBefore, ExeCount()) << "none of them charged to the executable";
}

// The hang report names every other thread and the modules on its stack.
#include "ThreadDump.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace {

DWORD WINAPI WaitForRelease(void* release) {
    WaitForSingleObject(static_cast<HANDLE>(release), INFINITE);
    return 0;
}

TEST(ThreadDumpTest, ListsABlockedThreadWithTheModulesOnItsStack) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, release);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &WaitForRelease, release, 0, &id);
    ASSERT_NE(nullptr, thread);
    const std::string dump = DumpThreads();
    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000)) << "the blocked thread did not end";
    CloseHandle(thread);
    CloseHandle(release);

    char heading[32];
    snprintf(heading, sizeof(heading), "thread %04lx:", static_cast<unsigned long>(id));
    const size_t line = dump.find(heading);
    ASSERT_NE(std::string::npos, line) << dump;
    const std::string stack = dump.substr(line, dump.find('\n', line) - line);
    EXPECT_NE(std::string::npos, stack.find("test_reliability_fuzz.exe+0x")) << stack;
    EXPECT_NE(std::string::npos, stack.find("kernel32.dll+0x")) << stack;
    char self[32];
    snprintf(self, sizeof(self), "thread %04lx:", static_cast<unsigned long>(GetCurrentThreadId()));
    EXPECT_EQ(std::string::npos, dump.find(self)) << "the dumping thread cannot scan itself";
}

}  // namespace

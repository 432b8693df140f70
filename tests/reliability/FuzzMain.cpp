// The fuzz suite's entry: a crash ends the run at once with a line naming
// what the fuzzer was doing.
#include "CrashReport.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    InstallCrashReport();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

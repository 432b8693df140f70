// Runs a program as a child process with its output captured, as a user's
// shell or script would, and waits for it within a bound; a child that does
// not finish is terminated and reported. Used on the test's thread; two
// reader threads drain the pipes so a chatty child never blocks.
#pragma once

#include <string>
#include <vector>

struct ChildResult {
    bool Finished = false;   // false: killed at the time limit
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// program: full path; folder: the child's working folder.
ChildResult RunChild(const std::wstring& program, const std::vector<std::wstring>& args, const std::wstring& folder,
                     unsigned timeoutMs);

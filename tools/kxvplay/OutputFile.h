// An output written under a temporary name beside its final one and moved
// into place only by Commit, so the final name never holds a half-written
// file: the temporary file is deleted on destruction unless committed.
// Used on the main thread; the writer of the temporary file must have
// closed it before Commit or destruction.
#pragma once

#include <string>

class COutputFile {
public:
    // Checks that the final path can be written (its folder exists, it is
    // neither a folder nor a read-only file) and clears a stale temporary file; throws
    // CAppError(OutputFailure) otherwise.
    explicit COutputFile(const std::wstring& finalPath);
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    const std::wstring& TemporaryPath() const { return Temporary; }
    const std::wstring& FinalPath() const { return Final; }
    // Replaces whatever is under the final name; throws on failure.
    void Commit();

private:
    std::wstring Final;
    std::wstring Temporary;
    bool Committed = false;
};

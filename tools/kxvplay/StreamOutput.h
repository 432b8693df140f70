// Where a streamed export's bytes go: kxvplay's standard output as the
// caller set it up (a pipe into an encoder, or a file), or a file of its own.
// Bytes go through WriteFile, never through the C runtime, so nothing turns
// a 0x0A into a line end. Owns the file handle it opened (not standard
// output's), closed by Close or destruction.
//
// Write is called on one source worker thread at a time (the tally's lock
// serialises them), Failed on the main thread while the graph runs, and
// the rest on the main thread after the graph stopped. The first failure
// sticks: later writes do nothing. Failure is written under Lock; Broken is
// the lock-free flag the main thread polls.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CStreamOutput {
public:
    // Standard output; throws CAppError(OutputFailure) when there is none or
    // it is a terminal, which binary data would only garble.
    static std::unique_ptr<CStreamOutput> StandardOutput();
    // A new file at path; throws CAppError(OutputFailure) when it cannot be
    // created. name is what messages call it.
    static std::unique_ptr<CStreamOutput> NewFile(const std::wstring& path, const std::wstring& name);
    ~CStreamOutput();
    CStreamOutput(const CStreamOutput&) = delete;
    CStreamOutput& operator=(const CStreamOutput&) = delete;

    void Write(const void* data, size_t bytes);
    // Writes bytes again at offset from where this output began, when the
    // output can seek (a file, also as standard output), and goes back to
    // the end. False, changing nothing, where it cannot seek.
    bool Rewrite(uint64_t offset, const void* data, size_t bytes);
    bool Failed() const { return Broken.load(); }
    // Closes a file of its own; throws CAppError(OutputFailure) with the
    // first failure, if any.
    void Close();

    const std::wstring Name;   // "standard output" or the file's name

private:
    CStreamOutput(HANDLE handle, bool owned, std::wstring name);
    void Fail(DWORD error);

    HANDLE Handle;
    const bool Owned;
    LARGE_INTEGER Origin = {};   // position where this output began
    bool Seekable = false;
    std::atomic<bool> Broken{false};
    std::mutex Lock;
    DWORD Failure = ERROR_SUCCESS;   // guarded by Lock
};

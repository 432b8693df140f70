#include "StreamOutput.h"

#include "AppError.h"
#include "HResultText.h"

namespace {

[[noreturn]] void CannotWrite(const std::wstring& name, DWORD error) {
    throw CAppError(ExitCode::OutputFailure,
                    L"output cannot be written: " + name + L": " + DescribeHResult(HRESULT_FROM_WIN32(error)));
}

}  // namespace

CStreamOutput::CStreamOutput(HANDLE handle, bool owned, std::wstring name)
    : Name(std::move(name)), Handle(handle), Owned(owned) {
    // A pipe or a console cannot seek; a file can, also when it is standard
    // output redirected, and then its header can be completed at the end.
    const LARGE_INTEGER zero = {};
    Seekable = GetFileType(Handle) == FILE_TYPE_DISK && SetFilePointerEx(Handle, zero, &Origin, FILE_CURRENT);
}

CStreamOutput::~CStreamOutput() {
    if (Owned && Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
}

std::unique_ptr<CStreamOutput> CStreamOutput::StandardOutput() {
    const std::wstring name = L"standard output";
    HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) CannotWrite(name, ERROR_INVALID_HANDLE);
    DWORD mode = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
        throw CAppError(ExitCode::OutputFailure, L"output cannot be written: standard output is a terminal; "
                                                 L"pipe it into a program or redirect it to a file");
    }
    return std::unique_ptr<CStreamOutput>(new CStreamOutput(handle, false, name));
}

std::unique_ptr<CStreamOutput> CStreamOutput::NewFile(const std::wstring& path, const std::wstring& name) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) CannotWrite(name, GetLastError());
    return std::unique_ptr<CStreamOutput>(new CStreamOutput(handle, true, name));
}

void CStreamOutput::Fail(DWORD error) {
    std::lock_guard<std::mutex> hold(Lock);
    if (Failure == ERROR_SUCCESS) Failure = error;
    Broken = true;
}

void CStreamOutput::Write(const void* data, size_t bytes) {
    const auto* next = static_cast<const BYTE*>(data);
    while (bytes > 0 && !Broken) {
        // A pipe may take less than it was given.
        const DWORD chunk = bytes > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes);
        DWORD written = 0;
        if (!WriteFile(Handle, next, chunk, &written, nullptr) || written == 0) {
            const DWORD error = GetLastError();
            Fail(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
            return;
        }
        next += written;
        bytes -= written;
    }
}

bool CStreamOutput::Rewrite(uint64_t offset, const void* data, size_t bytes) {
    if (!Seekable || Broken) return false;
    LARGE_INTEGER end = {};
    LARGE_INTEGER at = {};
    at.QuadPart = Origin.QuadPart + static_cast<LONGLONG>(offset);
    const LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(Handle, zero, &end, FILE_CURRENT) || !SetFilePointerEx(Handle, at, nullptr, FILE_BEGIN)) {
        return false;
    }
    Write(data, bytes);
    if (!SetFilePointerEx(Handle, end, nullptr, FILE_BEGIN)) Fail(GetLastError());
    return true;
}

void CStreamOutput::Close() {
    if (Owned && Handle != INVALID_HANDLE_VALUE) {
        if (!CloseHandle(Handle)) Fail(GetLastError());
        Handle = INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> hold(Lock);
    if (Failure != ERROR_SUCCESS) CannotWrite(Name, Failure);
}

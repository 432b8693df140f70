#include "OutputFile.h"

#include "AppError.h"
#include "HResultText.h"
#include "common/WidePath.h"

#include <windows.h>

COutputFile::COutputFile(const std::wstring& finalPath) {
    if (FAILED(CWidePath::Full(finalPath, &Final))) {
        throw CAppError(ExitCode::OutputFailure, L"cannot write " + finalPath + L": the path is not valid");
    }
    Temporary = Final + L".partial";
    const DWORD attributes = GetFileAttributesW(Final.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot write " + finalPath + L": it is a folder");
    }
    // Some platforms (Wine) let a move replace a read-only file; the user's
    // protection of the old file counts everywhere.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot write " + finalPath + L": the file is read-only");
    }
    const std::wstring folder = Final.substr(0, Final.find_last_of(L'\\'));
    const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot write " + finalPath + L": the folder " + folder +
                                                     L" does not exist");
    }
    if (!DeleteFileW(Temporary.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        throw CAppError(ExitCode::OutputFailure, L"cannot replace the stale " + Temporary + L": " +
                                                     DescribeHResult(HRESULT_FROM_WIN32(GetLastError())));
    }
}

COutputFile::~COutputFile() {
    if (!Committed) DeleteFileW(Temporary.c_str());
}

void COutputFile::Commit() {
    if (!MoveFileExW(Temporary.c_str(), Final.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot move the finished output to " + Final + L": " +
                                                     DescribeHResult(HRESULT_FROM_WIN32(GetLastError())));
    }
    Committed = true;
}

#include "TempFolder.h"

#include <windows.h>

CTempFolder::CTempFolder() {
    static LONG counter = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    Folder = std::wstring(base) + L"kxtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(InterlockedIncrement(&counter));
    CreateDirectoryW(Folder.c_str(), nullptr);
}

CTempFolder::~CTempFolder() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((Folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(File(found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(Folder.c_str());
}

std::wstring CTempFolder::List() const {
    std::wstring names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((Folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names += std::wstring(found.cFileName) + L";";
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return names;
}

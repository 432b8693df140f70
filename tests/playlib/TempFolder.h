// A folder of its own for one test's files, removed with everything in it
// (folders made inside it too) when the test ends. Used on the test's thread
// only.
#pragma once

#include <string>

class CTempFolder {
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    // Full path of a file in the folder.
    std::wstring File(const std::wstring& name) const { return Folder + L"\\" + name; }
    // Names of the files in the folder.
    std::wstring List() const;

private:
    std::wstring Folder;
};

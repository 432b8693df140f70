// The file types a deployer names for the module to open by path, parsed from
// the text regsvr32 passes to DllInstall ("/i:LIST"): items separated by ';'
// (spaces around them allowed, empty items skipped), each either an extension
// (".kxv": a dot and up to 31 characters that can name a registry key and
// contain no further dot) or a check-byte pattern in the platform's syntax
// ("offset,count,mask,value", several such groups in one item must all
// match; the mask may be empty, else like the value exactly count bytes in
// hex). Patterns are kept in one spelling (no spaces, hex in capitals), so
// the same pattern given twice is one item.
//
// Owns its two lists; no registry access, no lock: one thread builds and
// reads an instance.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CFileTypeList {
public:
    // S_OK with the items of list (null or empty: none); E_INVALIDARG, with
    // both lists left empty, when any item is neither form.
    HRESULT Parse(const wchar_t* list);

    const std::vector<std::wstring>& Extensions() const { return ExtensionItems; }
    const std::vector<std::wstring>& Patterns() const { return PatternItems; }

    // One item's forms, also for patterns read back from the registry.
    static bool IsExtension(const std::wstring& item);
    // The pattern's canonical spelling; false when item is no pattern.
    static bool CanonicalPattern(const std::wstring& item, std::wstring* canonical);

private:
    std::vector<std::wstring> ExtensionItems;
    std::vector<std::wstring> PatternItems;
};

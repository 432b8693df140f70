// The registry entries through which the platform's graph manager and the
// players find the filter for a file given by its path alone:
//  - check bytes: one key a pattern, HKCR\Media Type\{MEDIATYPE_Stream}
//    \{subtype}, with "0" = the pattern and "Source Filter" = our class; the
//    subtype is the name-based id of the pattern's canonical text (see
//    FileTypeList.h), so one pattern always has the same key. A graph manager
//    may read the values of a key into a buffer no longer than its first one
//    (Wine 8 does): one pattern a key is read whole everywhere;
//  - extensions: HKCR\Media Type\Extensions\.ext with "Source Filter";
//  - Windows Media Player: HKLM\Software\Microsoft\Multimedia\WMPlayer
//    \Extensions\.ext with Runtime 7 (play through DirectShow), Permissions 15
//    and "KXVD Source Filter" = our class, which marks the key as ours.
// A key that exists before we take it keeps whatever its owner wrote there:
// each value we replace is kept under "KXVD Previous <name>" (only the first
// time, so registering again keeps the real owner's data) and is put back on
// removal; values we added alone are deleted, and a key left empty goes too.
//
// Every key is written in the registry view of the calling module's width.
// Called on the thread that runs the module's registration exports; keeps no
// state, takes no lock.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CFileTypeRegistration {
public:
    // The check bytes of our own recordings' signature ("KXVR" at offset 0).
    static const wchar_t* const SignaturePattern;

    // Writes a key for each pattern (E_INVALIDARG for an item that is none)
    // and removes the single key of earlier versions, which held them all.
    static HRESULT AddPatterns(const std::vector<std::wstring>& patterns);
    // The per-extension step, in list order: each extension's key and its
    // player key (AddExtension in the source); the first failure ends it.
    static HRESULT AddExtensions(const std::vector<std::wstring>& extensions);
    // Removes every pattern key, extension and player key that names our
    // class (whatever list registered them), giving taken-over extensions
    // back to their previous owner. The first failure, S_OK when none.
    static HRESULT RemoveAll();
};

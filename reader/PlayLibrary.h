// Loads VUVezaVID.dll and resolves its thirteen functions by name into a
// KXPlayApi table. The filter module loads and registers without the library;
// a missing library or function leaves the table unavailable (Api() null), and
// every open then fails cleanly.
//
// Shared(): the production instance, loaded once per process on first use
// (thread-safe), from the folder of the module that contains this code first,
// then from the folder the installer recorded (REG_SZ LibraryFolder under
// HKLM\Software\KXVD\KXVDSrc), then from the normal search path; a library
// loaded from a folder finds its own DLLs there. It is never unloaded: the
// library's own threads may outlive any one file object, and unloading during
// module detach is unsafe.
//
// An instance made with an explicit path (tests) loads exactly that file and
// unloads it on destruction. Api() may be called from any thread.
#pragma once

#include "common/KXPlayApi.h"

class CPlayLibrary {
public:
    explicit CPlayLibrary(const wchar_t* path);
    ~CPlayLibrary();
    CPlayLibrary(const CPlayLibrary&) = delete;
    CPlayLibrary& operator=(const CPlayLibrary&) = delete;

    // The complete table, or null when the library or any function is missing.
    const KXPlayApi* Api() const { return Complete ? &Table : nullptr; }

    static const CPlayLibrary& Shared();

private:
    CPlayLibrary();
    bool Resolve();

    HMODULE Module = nullptr;
    KXPlayApi Table{};
    bool Complete = false;
};

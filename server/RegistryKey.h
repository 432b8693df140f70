// CRegistryKey: one open registry key, closed when its owner lets it go, and
// the few questions registration asks of a key. Registration runs on the
// thread that calls the module's entry points; the class keeps no shared
// state, so any thread may use it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CRegistryKey {
public:
    CRegistryKey() = default;
    explicit CRegistryKey(HKEY key) : Key(key) {}
    ~CRegistryKey() { reset(); }
    CRegistryKey(CRegistryKey&& other) noexcept : Key(other.Key) { other.Key = nullptr; }
    CRegistryKey& operator=(CRegistryKey&& other) noexcept;
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    HKEY get() const { return Key; }
    explicit operator bool() const { return Key != nullptr; }
    // Closes the key held and holds key instead.
    void reset(HKEY key = nullptr);

    // An empty owner where name cannot be opened with access.
    static CRegistryKey Open(HKEY parent, const std::wstring& name, REGSAM access);
    // Creates name, or opens it where it exists (existed, when given, says
    // which), for reading and writing.
    static HRESULT Create(HKEY parent, const std::wstring& name, CRegistryKey* key, bool* existed = nullptr);
    // Whether key holds no subkey and no value (false where it cannot tell).
    static bool IsEmpty(HKEY key);
    static std::vector<std::wstring> ValueNames(HKEY key);
    static std::vector<std::wstring> SubkeyNames(HKEY key);

private:
    HKEY Key = nullptr;
};

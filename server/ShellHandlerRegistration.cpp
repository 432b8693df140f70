#include "server/ShellHandlerRegistration.h"

#include "server/RegistryKey.h"

#include "common/KXVDSrcClsid.h"

#include <objbase.h>
#include <thumbcache.h>

#include <memory>
#include <vector>

namespace {

const wchar_t PropertyHandlersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers";
const wchar_t AssociationsKey[] = L"SystemFileAssociations";
const wchar_t PreviousPrefix[] = L"KXVD Previous ";
const wchar_t DefaultName[] = L"Default";
// Marks the extension's own key and its association key as ours.
const wchar_t ShellMarkValue[] = L"KXVD Shell Handlers";
constexpr DWORD ValueBytes = 2048;

// What Explorer shows, in its order: the preview pane, the properties
// dialog's details and the tooltip.
const wchar_t* const DetailsLists[][2] = {
    {L"PreviewDetails",
     L"prop:System.Media.Duration;System.Video.FrameWidth;System.Video.FrameHeight;System.Video.FrameRate;"
     L"System.Audio.SampleRate;System.Size"},
    {L"FullDetails",
     L"prop:System.PropGroup.Video;System.Media.Duration;System.Video.FrameWidth;System.Video.FrameHeight;"
     L"System.Video.FrameRate;System.Video.FourCC;System.PropGroup.Audio;System.Audio.SampleRate;"
     L"System.Audio.ChannelCount;System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemTypeText;"
     L"System.ItemFolderPathDisplay;System.Size;System.DateCreated;System.DateModified"},
    {L"InfoTip", L"prop:System.ItemTypeText;System.Media.Duration;System.Video.FrameWidth;System.Video.FrameHeight;"
                 L"System.Size"},
};

HRESULT FromWin32(LONG error) {
    return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
}

std::wstring GuidText(const GUID& id) {
    wchar_t text[39];
    StringFromGUID2(id, text, 39);
    return text;
}

// The name a replaced value is kept under.
std::wstring KeptName(const wchar_t* name) {
    return std::wstring(PreviousPrefix) + (*name ? name : DefaultName);
}

bool ReadValue(HKEY key, const wchar_t* name, DWORD* type, std::vector<BYTE>* data) {
    data->resize(ValueBytes);
    DWORD bytes = ValueBytes;
    if (RegQueryValueExW(key, name, nullptr, type, data->data(), &bytes) != ERROR_SUCCESS) return false;
    data->resize(bytes);
    return true;
}

bool HoldsText(HKEY key, const wchar_t* name, const std::wstring& text) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(key, name, &type, &data) || type != REG_SZ) return false;
    const std::wstring held(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    return _wcsicmp(held.c_str(), text.c_str()) == 0;
}

// A value we are about to replace, kept under its "previous" name as it is.
HRESULT KeepPrevious(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(key, name, &type, &data)) return S_OK;
    const std::wstring kept = KeptName(name);
    return FromWin32(RegSetValueExW(key, kept.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())));
}

// Puts a kept value back, or deletes ours where there was none.
void GiveBack(HKEY key, const wchar_t* name) {
    const std::wstring kept = KeptName(name);
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadValue(key, kept.c_str(), &type, &data)) {
        RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
        RegDeleteValueW(key, kept.c_str());
    } else {
        RegDeleteValueW(key, name);
    }
}

// One key we take: root\base\relative (base may be empty), ours while its
// mark value holds our class; relative is what we create and remove again.
struct ShellKey {
    HKEY Root;
    std::wstring Base;
    std::wstring Relative;
    const wchar_t* Mark;
    std::wstring Ours;
    std::vector<std::pair<const wchar_t*, std::wstring>> Values;
};

// Whether the other width's module, in the other registry view, holds the
// extension too. On 64-bit Windows the extension's own key and its
// association key lie outside the redirected part of HKCR, so both modules
// write the same values there, and the first removal must leave them to the
// second.
bool OtherViewHolds(const std::wstring& extension, const std::wstring& handler) {
#ifndef _WIN64
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return false;
    const REGSAM otherView = KEY_WOW64_64KEY;
#else
    const REGSAM otherView = KEY_WOW64_32KEY;
#endif
    CRegistryKey key = CRegistryKey::Open(HKEY_LOCAL_MACHINE, std::wstring(PropertyHandlersKey) + L"\\" + extension, KEY_READ | otherView);
    return key && HoldsText(key.get(), L"", handler);
}

// Writes the values; a key not ours yet keeps its owner's first.
HRESULT Take(const ShellKey& shell) {
    CRegistryKey key;
    HRESULT hr = CRegistryKey::Create(shell.Root, shell.Base.empty() ? shell.Relative : shell.Base + L"\\" + shell.Relative, &key);
    const bool taken = SUCCEEDED(hr) && HoldsText(key.get(), shell.Mark, shell.Ours);
    for (const auto& value : shell.Values) {
        if (SUCCEEDED(hr) && !taken) hr = KeepPrevious(key.get(), value.first);
        if (SUCCEEDED(hr)) {
            hr = FromWin32(RegSetValueExW(key.get(), value.first, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.second.c_str()),
                                          static_cast<DWORD>((value.second.size() + 1) * sizeof(wchar_t))));
        }
    }
    return hr;
}

// Gives a key of ours back, then removes what is left empty of the part we
// created.
HRESULT Release(const ShellKey& shell) {
    CRegistryKey base = CRegistryKey::Open(shell.Root, shell.Base, KEY_READ | KEY_WRITE);
    if (!base) return S_OK;
    {
        CRegistryKey key = CRegistryKey::Open(base.get(), shell.Relative, KEY_READ | KEY_WRITE);
        if (!key || !HoldsText(key.get(), shell.Mark, shell.Ours)) return S_OK;
        for (const auto& value : shell.Values) GiveBack(key.get(), value.first);
    }
    for (std::wstring path = shell.Relative; !path.empty();) {
        {
            CRegistryKey key = CRegistryKey::Open(base.get(), path, KEY_READ);
            if (!key || !CRegistryKey::IsEmpty(key.get())) break;
        }
        const LONG error = RegDeleteKeyW(base.get(), path.c_str());
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return FromWin32(error);
        const size_t cut = path.find_last_of(L'\\');
        path = cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
    }
    return S_OK;
}

// Every key an extension's handlers take, with the values written there.
std::vector<ShellKey> ShellKeys(const std::wstring& extension) {
    const std::wstring thumbnail = GuidText(CLSID_KXVDThumbnailProvider);
    const std::wstring handler = GuidText(CLSID_KXVDPropertyHandler);
    ShellKey lists{HKEY_CLASSES_ROOT, AssociationsKey, extension, ShellMarkValue, handler, {}};
    for (const auto& list : DetailsLists) lists.Values.emplace_back(list[0], list[1]);
    lists.Values.emplace_back(ShellMarkValue, handler);
    return {
        {HKEY_CLASSES_ROOT, L"", extension + L"\\ShellEx\\" + GuidText(__uuidof(IThumbnailProvider)), L"", thumbnail,
         {{L"", thumbnail}}},
        {HKEY_CLASSES_ROOT, L"", extension, ShellMarkValue, handler, {{L"PerceivedType", L"video"}, {ShellMarkValue, handler}}},
        lists,
        // Last: it is the record of the extension being ours, in this view.
        {HKEY_LOCAL_MACHINE, PropertyHandlersKey, extension, L"", handler, {{L"", handler}}},
    };
}

}  // namespace

HRESULT CShellHandlerRegistration::AddExtension(const std::wstring& extension) {
    CRegistryKey key;
    HRESULT hr = CRegistryKey::Create(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_KXVDThumbnailProvider), &key);
    if (SUCCEEDED(hr)) {
        const DWORD disable = 1;
        hr = FromWin32(RegSetValueExW(key.get(), L"DisableProcessIsolation", 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&disable), sizeof(disable)));
    }
    for (const ShellKey& shell : ShellKeys(extension)) {
        if (SUCCEEDED(hr)) hr = Take(shell);
    }
    return hr;
}

HRESULT CShellHandlerRegistration::RemoveAll() {
    const std::wstring handler = GuidText(CLSID_KXVDPropertyHandler);
    std::vector<std::wstring> ours;
    {
        CRegistryKey handlers = CRegistryKey::Open(HKEY_LOCAL_MACHINE, PropertyHandlersKey, KEY_READ);
        for (DWORD index = 0; handlers; ++index) {
            wchar_t name[256];
            DWORD length = 256;
            if (RegEnumKeyExW(handlers.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            CRegistryKey key = CRegistryKey::Open(handlers.get(), name, KEY_READ);
            if (key && HoldsText(key.get(), L"", handler)) ours.push_back(name);
        }
    }
    HRESULT result = S_OK;
    for (const std::wstring& extension : ours) {
        const bool shared = OtherViewHolds(extension, handler);
        for (const ShellKey& shell : ShellKeys(extension)) {
            if (shared && shell.Root == HKEY_CLASSES_ROOT) continue;
            const HRESULT hr = Release(shell);
            if (SUCCEEDED(result)) result = hr;
        }
    }
    return result;
}

// A recording's Explorer handler reached as the shell reaches it, for
// `kxvplay thumb` and `kxvplay props`: the class named under the file
// extension's key, created by COM, initialised with the file's full path.
// So a user checks the registration (`regsvr32 /i:".ext"`) on the desk,
// where Wine has no thumbnail cache or details pane. Main thread only.
#pragma once

#include <propsys.h>
#include <wrl/client.h>

#include <string>

class CShellHandler {
public:
    enum class Kind { Thumbnail, Properties };

    // Throws CAppError: FileUnreadable, NotRegistered (with how to register
    // the extension), or the handler's refusal of the file (ShellFailure).
    CShellHandler(Kind kind, const std::wstring& file);

    const std::wstring& FullPath() const { return Path; }
    // The registry key read and the class it named.
    const std::wstring& Key() const { return KeyName; }
    const std::wstring& ClassText() const { return ClassName; }
    IInitializeWithFile* Handler() const { return Initialised.Get(); }

    // Throws the CAppError a handler's failure on the file means.
    [[noreturn]] void ShellFailure(const std::wstring& what, HRESULT hr) const;

private:
    std::wstring Path;
    std::wstring KeyName;
    std::wstring ClassName;
    Microsoft::WRL::ComPtr<IInitializeWithFile> Initialised;
};

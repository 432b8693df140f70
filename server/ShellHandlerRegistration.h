// The registry entries through which Explorer (and the file dialogs of the
// module's width) finds the thumbnail provider and the property handler of
// an extension named in the deployer's list:
//  - HKCR\.ext\ShellEx\{IThumbnailProvider} default = the provider's class,
//    and DisableProcessIsolation = 1 on that class (it opens files by path);
//  - HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem
//    \PropertyHandlers\.ext default = the property handler's class;
//  - HKCR\.ext PerceivedType "video", and HKCR\SystemFileAssociations\.ext
//    PreviewDetails, FullDetails and InfoTip naming the properties.
// A value that another product had is kept under "KXVD Previous <name>"
// (the default value under "KXVD Previous Default"), only the first time,
// and put back on removal; values we added alone are deleted, and keys left
// empty go too. The property handler key is the record of which extensions
// are ours: removal finds them there, whichever list registered them.
//
// Every key is written in the registry view of the calling module's width;
// on 64-bit Windows HKCR\.ext and HKCR\SystemFileAssociations are shared by
// both views, and a removal leaves them while the other width's module still
// has the extension.
// Called on the thread that runs the module's registration exports; keeps no
// state, takes no lock.
#pragma once

#include <windows.h>

#include <string>

class CShellHandlerRegistration {
public:
    // extension: ".ext" as the list gives it.
    static HRESULT AddExtension(const std::wstring& extension);
    // Removes the handlers' entries of every extension whose property handler
    // is ours. The first failure, S_OK when none.
    static HRESULT RemoveAll();
};

#include "reader/NoticeWindowClass.h"

#include "framework/CritLock.h"
#include "framework/ScopedLock.h"

#include <windows.h>

namespace {

const char ClassName[] = "KXMSGCLASS";

struct ClassUse {
    CCritLock Lock;
    int Users = 0;       // guarded by Lock
    bool Owned = false;  // guarded by Lock: registered by us, so ours to unregister
};

ClassUse& Use() {
    static ClassUse use;
    return use;
}

}  // namespace

const char* CNoticeWindowClass::Name() { return ClassName; }

bool CNoticeWindowClass::Acquire() {
    ClassUse& use = Use();
    CScopedLock hold(&use.Lock);
    if (use.Users == 0) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = DefWindowProcA;
        cls.lpszClassName = ClassName;
        if (RegisterClassA(&cls)) {
            use.Owned = true;
        } else if (GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
            use.Owned = false;
        } else {
            return false;
        }
    }
    ++use.Users;
    return true;
}

void CNoticeWindowClass::Release() {
    ClassUse& use = Use();
    CScopedLock hold(&use.Lock);
    if (--use.Users == 0 && use.Owned) {
        UnregisterClassA(ClassName, nullptr);
        use.Owned = false;
    }
}

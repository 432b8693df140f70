// State of the module as a whole, set by the loader's notifications and by
// IClassFactory::LockServer.
//  - ModuleInstance: written once at process attach (loader lock held),
//    read by registration afterwards.
//  - ServerLockCount: net LockServer(TRUE) calls, changed by interlocked
//    operations from any thread.
#pragma once

#include <windows.h>

extern HINSTANCE ModuleInstance;
extern volatile LONG ServerLockCount;

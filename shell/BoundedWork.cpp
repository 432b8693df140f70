#include "shell/BoundedWork.h"

#include "framework/BaseObject.h"
#include "framework/UniqueHandle.h"

#include <new>
#include <utility>

namespace {

// Shared by the caller and the worker; the last of the two frees it.
struct BoundedTask : CBaseObject {
    explicit BoundedTask(std::function<HRESULT()> work)
        : CBaseObject("bounded shell work"), Work(std::move(work)), Done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    void Release() {
        if (InterlockedDecrement(&References) == 0) delete this;
    }

    std::function<HRESULT()> Work;
    // Written by the worker before Done is signalled.
    HRESULT Result = E_UNEXPECTED;
    CUniqueHandle Done;
    volatile LONG References = 2;
    HMODULE Module = nullptr;
};

DWORD WINAPI RunTask(void* argument) {
    BoundedTask* task = static_cast<BoundedTask*>(argument);
    const HMODULE module = task->Module;
    task->Result = task->Work();
    SetEvent(task->Done.Get());
    task->Release();
    // The caller may have given up and the module's last object gone: the
    // module stays mapped until this thread has left its code.
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

HRESULT CBoundedWork::Run(std::function<HRESULT()> work, DWORD limitMs) {
    BoundedTask* task = new (std::nothrow) BoundedTask(std::move(work));
    if (!task) return E_OUTOFMEMORY;
    if (!task->Done ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunTask),
                            &task->Module)) {
        const HRESULT failure = HRESULT_FROM_WIN32(GetLastError());
        delete task;
        return FAILED(failure) ? failure : E_FAIL;
    }
    CUniqueHandle thread(CreateThread(nullptr, 0, RunTask, task, 0, nullptr));
    if (!thread) {
        const HRESULT failure = HRESULT_FROM_WIN32(GetLastError());
        FreeLibrary(task->Module);
        delete task;
        return FAILED(failure) ? failure : E_FAIL;
    }
    const bool ended = WaitForSingleObject(task->Done.Get(), limitMs) == WAIT_OBJECT_0;
    const HRESULT result = ended ? task->Result : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    task->Release();
    return result;
}

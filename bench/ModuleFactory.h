// The module KXVDSrc.ax beside the bench, loaded by path and asked for its
// class factory directly, so that the bench needs no registration and always
// measures the module of its own build. Owns the load reference and the
// factory; used on the bench's main thread.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <string>

class CModuleFactory {
public:
    CModuleFactory() = default;
    ~CModuleFactory();
    CModuleFactory(const CModuleFactory&) = delete;
    CModuleFactory& operator=(const CModuleFactory&) = delete;

    bool Open();
    HRESULT CreateFilter(IBaseFilter** filter);
    HMODULE Module() const { return Handle; }

    // A file beside the bench executable.
    static std::wstring BesideExecutable(const wchar_t* name);

private:
    HMODULE Handle = nullptr;
    Microsoft::WRL::ComPtr<IClassFactory> Factory;
};

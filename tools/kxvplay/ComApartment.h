// COM for the process's main thread, in the multithreaded apartment so that
// the graph's and the filter's worker threads can use the same objects
// (the imaging factory, grabber callbacks) without marshalling. Held for the
// whole command; throws CAppError(GraphFailure) when COM cannot start.
#pragma once

#include "AppError.h"
#include "HResultText.h"

#include <objbase.h>

class CComApartment {
public:
    CComApartment() {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(hr)) {
            throw CAppError(ExitCode::GraphFailure, L"graph failure: COM cannot start: " + DescribeHResult(hr));
        }
    }
    ~CComApartment() { CoUninitialize(); }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
};

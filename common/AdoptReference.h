// Takes over a COM reference the caller already owns, into a ComPtr.
// mingw-w64's ComPtr::Attach adds a reference of its own (the platform's
// Attach does not), so an object born with a reference, or an out-pointer
// filled by a callee, held through Attach would never be released.
#pragma once

#include <wrl/client.h>

template <class T>
Microsoft::WRL::ComPtr<T> AdoptReference(T* owned) {
    Microsoft::WRL::ComPtr<T> held;
    *held.GetAddressOf() = owned;
    return held;
}

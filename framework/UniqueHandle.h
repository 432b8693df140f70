// A kernel handle owned for the life of the object: closed on Reset and on
// destruction; null stands for none. Movable, not copyable. Its owner says
// which thread may touch it; the object itself takes no lock.
#pragma once

#include <windows.h>

class CUniqueHandle {
public:
    CUniqueHandle() = default;
    explicit CUniqueHandle(HANDLE handle) : Owned(handle) {}
    ~CUniqueHandle();

    CUniqueHandle(CUniqueHandle&& other) noexcept;
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept;
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    HANDLE Get() const { return Owned; }
    explicit operator bool() const { return Owned != nullptr; }
    // Closes the handle owned, if any, and owns handle instead.
    void Reset(HANDLE handle = nullptr);

private:
    HANDLE Owned = nullptr;
};

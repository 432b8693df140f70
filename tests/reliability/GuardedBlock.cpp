#include "GuardedBlock.h"

#include <windows.h>

CGuardedBlock::CGuardedBlock(size_t capacity) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    const size_t usable = (capacity + page - 1) / page * page;
    void* base = VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!base) return;
    DWORD old = 0;
    if (!VirtualProtect(static_cast<uint8_t*>(base) + usable, page, PAGE_NOACCESS, &old)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return;
    }
    Base = static_cast<uint8_t*>(base);
    Usable = usable;
}

CGuardedBlock::~CGuardedBlock() {
    if (Base) VirtualFree(Base, 0, MEM_RELEASE);
}

#include "playlib/HandleRegistry.h"

CHandleRegistry& CHandleRegistry::Instance() {
    static CHandleRegistry registry;
    return registry;
}

void* CHandleRegistry::Add(const std::shared_ptr<CPlayer>& player) {
    CCriticalSection::CHolder hold(Lock);
    const uintptr_t handle = NextHandle;
    NextHandle += 4;
    Players[handle] = player;
    return reinterpret_cast<void*>(handle);
}

std::shared_ptr<CPlayer> CHandleRegistry::Find(void* handle) {
    CCriticalSection::CHolder hold(Lock);
    auto it = Players.find(reinterpret_cast<uintptr_t>(handle));
    return it == Players.end() ? nullptr : it->second;
}

std::shared_ptr<CPlayer> CHandleRegistry::Remove(void* handle) {
    std::shared_ptr<CPlayer> player;
    CCriticalSection::CHolder hold(Lock);
    auto it = Players.find(reinterpret_cast<uintptr_t>(handle));
    if (it != Players.end()) {
        player = std::move(it->second);
        Players.erase(it);
    }
    return player;
}

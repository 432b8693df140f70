// The live handles of the library. Every exported call looks its handle up
// here, so a stale or made-up handle is refused instead of dereferenced.
// Handles are numbers that are never reused while the library is loaded.
//
// Called from any thread; Lock guards Players and NextHandle and is never
// held while calling into a player.
#pragma once

#include "playlib/CriticalSection.h"

#include <cstdint>
#include <map>
#include <memory>

class CPlayer;

class CHandleRegistry {
public:
    static CHandleRegistry& Instance();

    // Registers a player and returns its new handle.
    void* Add(const std::shared_ptr<CPlayer>& player);
    // The player for a handle, or null when the handle is not live.
    std::shared_ptr<CPlayer> Find(void* handle);
    // Unregisters a handle and returns its player, or null when not live.
    std::shared_ptr<CPlayer> Remove(void* handle);

private:
    CHandleRegistry() = default;

    CCriticalSection Lock;
    std::map<uintptr_t, std::shared_ptr<CPlayer>> Players;  // guarded by Lock
    uintptr_t NextHandle = 0x4B580010;                       // guarded by Lock
};

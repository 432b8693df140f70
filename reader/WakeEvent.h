// An auto-reset event for one waiter that is set for new data only when the
// waiter has found none: the waiter arms it when it looks and comes away
// empty (before it waits), and the producer's Notify sets the event only
// while it is armed. Under Wine every SetEvent is a round trip to the
// wineserver, and most data arrives while its reader is busy elsewhere, so an
// event set for every picture and every piece of sound cost more than the
// data's own copy at small picture sizes. Wake sets the event whatever the
// waiter said, for the changes of state a waiter must always see (end of
// file, flush, stop, close, a failure).
//
// No lost wake-up: the waiter arms before its last look at the data, and the
// producer publishes its data before it reads the arm (both sequentially
// consistent, or ordered by the lock that guards the data), so either the
// look sees the data or Notify sees the arm. A Notify for data that the
// waiter then took without waiting leaves the event set; the next wait
// returns at once and the waiter looks again.
//
// Any thread; Arm by the waiter, Notify by the producer, Wake by anyone.
// Owns the event.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

class CWakeEvent {
public:
    // armed: whether the first data after construction is awaited.
    explicit CWakeEvent(bool armed);
    CWakeEvent(const CWakeEvent&) = delete;
    CWakeEvent& operator=(const CWakeEvent&) = delete;

    // Null when the event could not be created.
    HANDLE Handle() const { return Event.Get(); }
    void Arm() { Armed.store(1); }
    // The waiter gave up waiting: data that comes now need not set the event.
    void Disarm() { Armed.store(0); }
    bool IsArmed() const { return Armed.load() != 0; }
    // Producer, after publishing its data: sets the event when the waiter armed it.
    void Notify();
    void Wake();

private:
    CUniqueHandle Event;
    std::atomic<uint8_t> Armed;
};

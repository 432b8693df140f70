// One direction of a lane (see RemoteProtocol.h): the sender rings, the
// receiver waits. The ring is a flag in the shared block; the event is set
// only for a receiver that sleeps, and a receiver sleeps only when the ring
// has not come yet. Under Wine every event operation is a round trip to the
// wineserver, and a picture read makes three crossings: an answer that is
// there before its receiver looks (the helper's copy request usually is)
// costs neither side a call. It does not spin: on a machine of two cores the
// spinning side takes the time the other process needs to answer (measured:
// 200 us of spinning cost a quarter of the 1920x1080 throughput).
//
// Ring and Wait are each called by one thread at a time (the lane's user on
// its side); the two fields are atomic in the shared block. A wake-up that
// finds no ring (an event left set by a ring the spin already took) is
// waited out again.
#pragma once

#include "remote/RemoteProtocol.h"

#include <windows.h>

class CDoorbell {
public:
    enum Outcome { Rung, Ended, TimedOut };

    CDoorbell() = default;
    CDoorbell(remote::Bell* bell, HANDLE event) : Shared(bell), Event(event) {}

    void Ring();
    // Until rung, the process other has ended, or limitMs has passed.
    Outcome Wait(HANDLE other, DWORD limitMs);

private:
    bool TakeRing();

    remote::Bell* Shared = nullptr;
    HANDLE Event = nullptr;
};

#include "remote/Doorbell.h"

void CDoorbell::Ring() {
    Shared->Rung.store(1);
    // Both stores are sequentially consistent: either the receiver sees the
    // ring before it sleeps, or this sees it sleeping and wakes it.
    if (Shared->Sleeping.load()) SetEvent(Event);
}

bool CDoorbell::TakeRing() { return Shared->Rung.exchange(0) != 0; }

CDoorbell::Outcome CDoorbell::Wait(HANDLE other, DWORD limitMs) {
    if (TakeRing()) return Rung;
    const DWORD begin = GetTickCount();
    for (;;) {
        Shared->Sleeping.store(1);
        if (TakeRing()) {
            Shared->Sleeping.store(0);
            return Rung;
        }
        const DWORD spent = GetTickCount() - begin;
        const DWORD left = limitMs == INFINITE ? INFINITE : (spent >= limitMs ? 0 : limitMs - spent);
        HANDLE waits[2] = {Event, other};
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, left);
        Shared->Sleeping.store(0);
        if (TakeRing()) return Rung;
        if (woke == WAIT_OBJECT_0 + 1) return Ended;
        if (woke != WAIT_OBJECT_0) return TimedOut;
    }
}

// A condition variable whose waiters hold a CCritLock. Any thread. A wake and
// a wait stay inside the process (under Wine neither is a wineserver request,
// where an event's are), so a hand-off that happens per sample uses this.
#pragma once

#include "framework/CritLock.h"

class CCondition {
public:
    CCondition() { InitializeConditionVariable(&Variable); }
    CCondition(const CCondition&) = delete;
    CCondition& operator=(const CCondition&) = delete;

    // The caller holds lock exactly once; it is let go during the wait and
    // held again when this returns. May return without a wake: the caller
    // looks again at what it waits for.
    void Wait(CCritLock* lock) { SleepConditionVariableCS(&Variable, &lock->Section, INFINITE); }
    void WakeAll() { WakeAllConditionVariable(&Variable); }

private:
    CONDITION_VARIABLE Variable;
};

#include "reader/WakeEvent.h"

CWakeEvent::CWakeEvent(bool armed) : Event(CreateEventW(nullptr, FALSE, FALSE, nullptr)), Armed(armed ? 1 : 0) {}

void CWakeEvent::Notify() {
    if (Armed.load() && Armed.exchange(0)) SetEvent(Event.Get());
}

void CWakeEvent::Wake() { SetEvent(Event.Get()); }

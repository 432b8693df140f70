#include "reader/WakeEvent.h"

CWakeEvent::CWakeEvent(bool armed) : Event(CreateEventW(nullptr, FALSE, FALSE, nullptr)), Armed(armed ? 1 : 0) {}

CWakeEvent::~CWakeEvent() {
    if (Event) CloseHandle(Event);
}

void CWakeEvent::Notify() {
    if (Armed.load() && Armed.exchange(0)) SetEvent(Event);
}

void CWakeEvent::Wake() { SetEvent(Event); }

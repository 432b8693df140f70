#include "framework/BaseObject.h"

volatile LONG LiveObjectCount = 0;

CBaseObject::CBaseObject(const char*) {
    InterlockedIncrement(&LiveObjectCount);
}

CBaseObject::~CBaseObject() {
    InterlockedDecrement(&LiveObjectCount);
}

// Counts the module's live framework objects so that the module can tell the
// platform whether it may be unloaded. Any thread; the count changes only by
// interlocked operations.
#pragma once

#include <windows.h>

// Number of CBaseObject-derived objects constructed and not yet destroyed.
extern volatile LONG LiveObjectCount;

class CBaseObject {
public:
    // The name is for diagnostics only and is not stored.
    explicit CBaseObject(const char* objectName);
    ~CBaseObject();

    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
};

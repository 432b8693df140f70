// The classes this module serves, as data: DllGetClassObject looks a class id
// up in FactoryTable, and self-registration writes one set of COM keys and one
// filter-mapper entry per element. The table is constant and needs no lock.
#pragma once

#include "framework/FilterSetupRecord.h"

#include <windows.h>

class CUnknown;

struct FactoryTemplate {
    // Display name, also the default value of the class key.
    const wchar_t* TemplateName;
    const CLSID* TemplateClassId;
    // Creates one object for the outer unknown (or null). May store a failure
    // through result while still returning an object; the caller then
    // destroys that object.
    CUnknown* (*CreateObject)(IUnknown* outer, HRESULT* result);
    // Called at module load (TRUE) and unload (FALSE); may be null.
    void (*InitRoutine)(BOOL loading, const CLSID* classId);
    // Registration data for the filter mapper; may be null.
    const FilterSetupRecord* SetupRecord;
};

extern const FactoryTemplate FactoryTable[];
extern const int FactoryCount;

// Self-registration: the COM class keys of every FactoryTable entry under
// HKEY_CLASSES_ROOT\CLSID, and each filter's entry in the platform's filter
// mapper. Registration writes the keys before the mapper entry; removal takes
// the mapper entry out before the keys. The exports add the file-type keys
// through which a file is found by its path (FileTypeRegistration.h):
// DllRegisterServer our recordings' signature, DllInstall the deployer's
// list; DllUnregisterServer and DllInstall(FALSE) remove all of them.
//
// Called on the thread that runs DllRegisterServer / DllUnregisterServer (or
// a filter's IAMovieSetup); keeps no state, takes no lock.
#pragma once

#include "framework/FilterSetupRecord.h"

#include <strmif.h>
#include <windows.h>

// The module's path is read as wide text of any length; a path that cannot
// be read fails the call before anything is written.
HRESULT UpdateModuleRegistration(BOOL registering);
HRESULT UpdateAllServerKeys(const wchar_t* modulePath, BOOL registering);
// Writes the class key and its server key in full, the texts as wide
// strings; on a failure removes the class key again and answers the Win32
// error as an HRESULT.
HRESULT WriteServerKeys(const CLSID& classId, const wchar_t* description, const wchar_t* modulePath,
                        const wchar_t* threadingModel, const wchar_t* serverKeyName);
HRESULT DeleteServerKeys(const CLSID& classId);
// Removes the key and everything below it. A subkey that cannot be removed is
// stepped over, so the walk always ends; the result is S_OK whatever remained,
// E_FAIL only for an empty name.
HRESULT DeleteRegistryTree(HKEY parent, const wchar_t* name);
HRESULT RegisterThroughMapper2(const FilterSetupRecord* record, IFilterMapper2* mapper, BOOL registering);

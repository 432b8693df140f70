// VUVezaVID.dll from the test's folder with its thirteen functions resolved,
// as the filter loads it. Created and used on any thread; unloads on
// destruction.
#pragma once

#include "common/KXPlayApi.h"

class CStandInLibrary {
public:
    CStandInLibrary();
    ~CStandInLibrary();
    CStandInLibrary(const CStandInLibrary&) = delete;
    CStandInLibrary& operator=(const CStandInLibrary&) = delete;

    bool Loaded() const { return Loaded_; }
    const KXPlayApi& Api() const { return Table; }

private:
    HMODULE Module = nullptr;
    KXPlayApi Table{};
    bool Loaded_ = false;
};

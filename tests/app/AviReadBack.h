// Reads an AVI back through the platform's own File Source (Async) and AVI
// Splitter, unclocked, into sample logs: what any DirectShow player of the
// file would get. Called on a test's thread with COM initialised.
#pragma once

#include "SampleLog.h"

#include <string>

// False when the graph cannot be built or does not complete within 60 s.
bool ReadAviBack(const std::wstring& avi, CSampleLog* video, CSampleLog* audio);

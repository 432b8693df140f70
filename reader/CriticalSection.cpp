#include "reader/CriticalSection.h"

CCriticalSection::CCriticalSection() { InitializeCriticalSection(&Section); }

CCriticalSection::~CCriticalSection() { DeleteCriticalSection(&Section); }

void CCriticalSection::lock() { EnterCriticalSection(&Section); }

void CCriticalSection::unlock() { LeaveCriticalSection(&Section); }

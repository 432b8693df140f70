#include "reader/CriticalSection.h"

CCriticalSection::CCriticalSection() { InitializeCriticalSection(&Section); }

CCriticalSection::~CCriticalSection() { DeleteCriticalSection(&Section); }

void CCriticalSection::lock() { EnterCriticalSection(&Section); }

bool CCriticalSection::try_lock() { return TryEnterCriticalSection(&Section) != 0; }

void CCriticalSection::unlock() { LeaveCriticalSection(&Section); }

#include "CrashReport.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<const char*> Activity{"start-up"};

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    // Formatted without the C library, whose state the crash may have broken.
    char line[512];
    const int length = wsprintfA(line, "crash: exception 0x%08lx at %p (data address %p) during: %s\r\n",
                                 static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress,
                                 record->NumberParameters > 1
                                     ? reinterpret_cast<void*>(record->ExceptionInformation[1])
                                     : nullptr,
                                 Activity.load());
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void InstallCrashReport() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(&ReportCrash);
}

void NoteActivity(const char* activity) { Activity = activity; }

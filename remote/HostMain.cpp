// KXVDHost.exe: the 32-bit helper of the 64-bit module. It loads the maker's
// VUVezaVID.dll (from its own folder first, then the search path) and runs
// one media file for the module that started it, over the control block named
// on its command line (see RemoteProtocol.h). Exit codes: 0 after the
// module's quit, 2 bad command line or block, 3 the module's process ended,
// 4 the lanes could not start, 5 out of memory.
#include "remote/HostServer.h"
#include "remote/HostedFile.h"
#include "remote/SectionPictureMemory.h"

#include <windows.h>

#include <memory>
#include <new>

int wmain(int argc, wchar_t** argv) {
    // A fault inside the maker's library ends this process, and only it: no
    // dialog that would keep a dead helper around.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (argc != 2) return 2;
    CSectionPictureMemory memory;
    CHostServer server(&memory);
    if (!server.Attach(argv[1])) return 2;
    std::unique_ptr<CHostedFile> file(new (std::nothrow) CHostedFile(&memory, &server));
    if (!file) return 5;
    // Serve closes the file after the module's quit. Lane threads may still
    // be waiting on the control block, or after the module's end be inside
    // the file: the process ends around them instead of destroying either.
    ExitProcess(static_cast<UINT>(server.Serve(file.get())));
}

// kxrec: makes, imports, shows and decodes recordings; see KxrecCommands.h.
#include "tools/kxrec/KxrecCommands.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    std::string out;
    std::string error;
    const int result = kxrec::RunKxrec(args, out, error);
    fputs(out.c_str(), stdout);
    if (result != 0) fprintf(stderr, "kxrec: %s\n", error.c_str());
    return result;
}

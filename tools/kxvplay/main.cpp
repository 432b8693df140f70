// kxvplay: plays, inspects and exports recordings through the registered
// "KXVD Source File" filter, exactly as third-party applications use it.
#include "AppError.h"
#include "CommandLine.h"
#include "Commands.h"
#include "ComApartment.h"
#include "Console.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

int Dispatch(const std::vector<std::wstring>& args) {
    const CommandOptions options = CCommandLine::Parse(args);
    if (options.Help) {
        CConsole::Out(options.Command.empty() ? CCommandLine::GeneralHelp()
                                              : CCommandLine::CommandHelp(options.Command));
        return static_cast<int>(ExitCode::Ok);
    }
    const CComApartment apartment;
    if (options.Command == L"info") RunInfo(options);
    else if (options.Command == L"play") RunPlay(options);
    else if (options.Command == L"open") RunOpen(options);
    else if (options.Command == L"export") RunExport(options);
    else if (options.Command == L"frame") RunFrame(options);
    else if (options.Command == L"frames") RunFrames(options);
    else if (options.Command == L"thumb") RunThumb(options);
    else if (options.Command == L"props") RunProps(options);
    else RunSheet(options);
    return static_cast<int>(ExitCode::Ok);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Output is written as UTF-8, so a console shows paths as they are.
    SetConsoleOutputCP(CP_UTF8);
    try {
        return Dispatch(std::vector<std::wstring>(argv + 1, argv + argc));
    } catch (const CAppError& error) {
        CConsole::Err(L"kxvplay: " + error.Message + L"\n");
        return static_cast<int>(error.Code);
    } catch (const std::exception& error) {
        CConsole::Err(L"kxvplay: internal failure: " + std::wstring(error.what(), error.what() + strlen(error.what())) +
                      L"\n");
        return static_cast<int>(ExitCode::GraphFailure);
    }
}

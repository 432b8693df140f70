// kxvplay's command line: the command, its positional arguments and options,
// checked against what each command accepts. Used on the main thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct CommandOptions {
    std::wstring Command;                  // info, play, open, export, frame, frames, sheet, thumb, props
    std::vector<std::wstring> Arguments;   // positional, in order
    bool Help = false;
    bool Json = false;
    bool Realtime = false;
    bool Mf = false;                       // open: through Media Foundation
    bool HasStart = false;
    double StartSeconds = 0;
    bool HasStop = false;
    double StopSeconds = 0;
    bool HasStartFrame = false;            // --start-frame / --stop-frame: picture numbers
    long long StartFrame = 0;
    bool HasStopFrame = false;
    long long StopFrame = 0;
    double Rate = 1.0;
    unsigned Every = 1;
    unsigned Size = 256;                   // thumb: the longer side in pixels
    std::wstring Format;                   // export: avi, y4m or wav; empty: by the output's name
};

class CCommandLine {
public:
    // Parses argv[1..]; throws CAppError(ExitCode::Usage) on any mistake.
    static CommandOptions Parse(const std::vector<std::wstring>& args);

    // The whole help text, or the help of one command.
    static std::wstring GeneralHelp();
    static std::wstring CommandHelp(const std::wstring& command);

private:
    static double Number(const std::wstring& option, const std::wstring& text);
};

#include "CommandLine.h"

#include "AppError.h"
#include "common/KXVDSrcClsid.h"

#include <cwchar>
#include <cmath>

namespace {

struct CommandShape {
    const wchar_t* Name;
    size_t Positional;
    const wchar_t* Options;   // space-separated, each with its leading dashes
    const wchar_t* Help;
};

const CommandShape Commands[] = {
    {L"info", 1, L"--json",
     L"kxvplay info FILE [--json]\n"
     L"  Picture size, frame rate, duration, frame total, whether there is sound,\n"
     L"  and the filter's two pins with their media types.\n"},
    {L"play", 1, L"--start --stop --start-frame --stop-frame --rate --realtime --json",
     L"kxvplay play FILE [--start SECONDS] [--stop SECONDS] [--rate R] [--realtime] [--json]\n"
     L"  Plays the recording into renderers: unclocked into Null Renderers by default;\n"
     L"  with --realtime the graph clock paces it into the platform's video and audio\n"
     L"  renderers (Null Renderers only where none can be had). --rate R (above 0.1)\n"
     L"  sets the pins' rate. Shows progress, then a summary: pictures and sound\n"
     L"  delivered, gaps and repeats in the time stamps, wall time and pictures per\n"
     L"  second.\n"
     L"  --start-frame N / --stop-frame N give the range by picture number instead.\n"},
    {L"open", 1, L"--mf --realtime --json",
     L"kxvplay open FILE [--json]\n"
     L"kxvplay open --mf FILE [--realtime] [--json]\n"
     L"  Opens FILE by its path alone, as players do (RenderFile): the graph manager\n"
     L"  picks the source filter from the registry (extension key, else check bytes)\n"
     L"  and the renderers. Lists the graph's filters, then plays to the end on the\n"
     L"  clock. Exit 3 when another source filter was chosen: register the file type\n"
     L"  with regsvr32 /i:\".ext\" (see the README).\n"
     L"  With --mf, as Media Foundation applications do: the source reader reads every\n"
     L"  sample as fast as it comes and a summary follows; with --realtime the media\n"
     L"  session plays it on the clock into the video and audio renderers to its end.\n"
     L"  Exit 3 when no handler is registered for the extension.\n"},
    {L"export", 2, L"--format --start --stop --start-frame --stop-frame --json",
     L"kxvplay export FILE OUT [--format avi|y4m|wav] [--start SECONDS] [--stop SECONDS] [--json]\n"
     L"  The format is --format's, else OUT's extension (.y4m, .wav; anything else\n"
     L"  is an AVI).\n"
     L"  avi: YUY2 video and PCM sound through the platform's AVI Mux and File\n"
     L"    Writer where they can write both, otherwise with kxvplay's own writer\n"
     L"    (OpenDML for files over 1 GB); stderr names the writer used.\n"
     L"  y4m: the pictures alone as YUV4MPEG2 4:2:2, the raw video encoders read.\n"
     L"  wav: the sound alone as 8 kHz mono 16-bit PCM WAV.\n"
     L"  OUT \"-\" writes a y4m or wav stream to standard output (for a pipe into an\n"
     L"  encoder); the summary then goes to stderr. A file OUT is written under\n"
     L"  OUT.partial and renamed only when the export completed, so OUT is never\n"
     L"  left half-written; an existing read-only OUT is left alone (exit 7).\n"
     L"  --start-frame N / --stop-frame N give the range by picture number instead.\n"},
    {L"frame", 3, L"--json",
     L"kxvplay frame FILE N OUT.png [--json]\n"
     L"  Writes picture N (numbered from 0) exactly, as a PNG still: the source is\n"
     L"  moved by picture number, not by time.\n"},
    {L"frames", 2, L"--every --start --stop --json",
     L"kxvplay frames FILE OUTDIR [--every N] [--start SECONDS] [--stop SECONDS] [--json]\n"
     L"  Writes every Nth picture (default every one) as OUTDIR\\frame_NNNNNN.png,\n"
     L"  numbered by picture in the recording.\n"},
    {L"sheet", 2, L"--json",
     L"kxvplay sheet FILE OUT.png [--json]\n"
     L"  Writes a contact sheet: evenly spaced pictures of the whole recording as\n"
     L"  thumbnails in a grid, each labelled with its time (mm:ss.fff).\n"},
    {L"thumb", 2, L"--size --json",
     L"kxvplay thumb FILE OUT.png [--size N] [--json]\n"
     L"  Writes the thumbnail Explorer shows, through the thumbnail provider\n"
     L"  registered for FILE's extension (regsvr32 /i:\".ext\"), N pixels on the\n"
     L"  longer side (default 256, at most 4096).\n"},
    {L"props", 1, L"--json",
     L"kxvplay props FILE [--json]\n"
     L"  The details Explorer shows (duration, frame size and rate, FourCC, sound),\n"
     L"  through the property handler registered for FILE's extension.\n"},
};

const wchar_t ExitCodeHelp[] =
    L"Exit codes:\n"
    L"  0  success\n"
    L"  1  usage error (unknown command or option, bad value)\n"
    L"  2  input file missing, a folder, or unreadable\n"
    L"  3  filter not registered (run: regsvr32 " KXVD_MODULE_FILE L")\n"
    L"  4  playback library VUVezaVID.dll found neither beside " KXVD_MODULE_FILE L" nor in LIBRARYDIR\n"
    L"  5  recording refused by the playback library\n"
    L"  6  filter graph failure (the message names the HRESULT)\n"
    L"  7  output cannot be written\n";

const CommandShape* FindCommand(const std::wstring& name) {
    for (const CommandShape& shape : Commands) {
        if (name == shape.Name) return &shape;
    }
    return nullptr;
}

bool Accepts(const CommandShape& shape, const std::wstring& option) {
    const std::wstring list = std::wstring(L" ") + shape.Options + L" ";
    return list.find(L" " + option + L" ") != std::wstring::npos;
}

[[noreturn]] void Usage(const std::wstring& message) {
    throw CAppError(ExitCode::Usage, message + L" (see kxvplay --help)");
}

}  // namespace

double CCommandLine::Number(const std::wstring& option, const std::wstring& text) {
    wchar_t* end = nullptr;
    const double value = wcstod(text.c_str(), &end);
    if (text.empty() || !end || *end != L'\0' || !std::isfinite(value)) {
        Usage(option + L" needs a number, not \"" + text + L"\"");
    }
    return value;
}

CommandOptions CCommandLine::Parse(const std::vector<std::wstring>& args) {
    CommandOptions options;
    if (args.empty()) Usage(L"no command given");
    if (args[0] == L"--help" || args[0] == L"-h" || args[0] == L"help") {
        options.Help = true;
        if (args.size() > 1) {
            if (!FindCommand(args[1])) Usage(L"unknown command \"" + args[1] + L"\"");
            options.Command = args[1];
        }
        return options;
    }
    const CommandShape* shape = FindCommand(args[0]);
    if (!shape) Usage(L"unknown command \"" + args[0] + L"\"");
    options.Command = args[0];
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"--help" || arg == L"-h") {
            options.Help = true;
            return options;
        }
        if (arg.size() < 2 || arg.compare(0, 2, L"--") != 0) {
            options.Arguments.push_back(arg);
            continue;
        }
        if (!Accepts(*shape, arg)) Usage(L"\"" + options.Command + L"\" has no option " + arg);
        if (arg == L"--json") {
            options.Json = true;
            continue;
        }
        if (arg == L"--realtime") {
            options.Realtime = true;
            continue;
        }
        if (arg == L"--mf") {
            options.Mf = true;
            continue;
        }
        if (i + 1 >= args.size()) Usage(arg + L" needs a value");
        const std::wstring& value = args[++i];
        if (arg == L"--format") {
            if (value != L"avi" && value != L"y4m" && value != L"wav") {
                Usage(L"--format is avi, y4m or wav, not \"" + value + L"\"");
            }
            options.Format = value;
            continue;
        }
        const double number = Number(arg, value);
        if (arg == L"--start") {
            if (number < 0) Usage(L"--start cannot be negative");
            options.HasStart = true;
            options.StartSeconds = number;
        } else if (arg == L"--stop") {
            if (number <= 0) Usage(L"--stop must be above 0");
            options.HasStop = true;
            options.StopSeconds = number;
        } else if (arg == L"--rate") {
            if (number <= 0.1 || number > 100) Usage(L"--rate must be above 0.1 and at most 100");
            options.Rate = number;
        } else if (arg == L"--start-frame" || arg == L"--stop-frame") {
            if (number < 0 || number > 2147483647.0 || number != std::floor(number)) {
                Usage(arg + L" needs a whole picture number from 0");
            }
            const bool first = arg == L"--start-frame";
            (first ? options.HasStartFrame : options.HasStopFrame) = true;
            (first ? options.StartFrame : options.StopFrame) = static_cast<long long>(number);
        } else if (arg == L"--every") {
            if (number < 1 || number > 1000000 || number != std::floor(number)) {
                Usage(L"--every needs a whole number from 1");
            }
            options.Every = static_cast<unsigned>(number);
        } else if (arg == L"--size") {
            if (number < 1 || number > 4096 || number != std::floor(number)) {
                Usage(L"--size needs a whole number of pixels from 1 to 4096");
            }
            options.Size = static_cast<unsigned>(number);
        }
    }
    if (options.Arguments.size() != shape->Positional) {
        Usage(L"\"" + options.Command + L"\" takes " + std::to_wstring(shape->Positional) +
              (shape->Positional == 1 ? L" file" : L" paths") + L", got " +
              std::to_wstring(options.Arguments.size()));
    }
    if (options.HasStart && options.HasStop && options.StopSeconds <= options.StartSeconds) {
        Usage(L"--stop must be after --start");
    }
    if ((options.HasStart && options.HasStartFrame) || (options.HasStop && options.HasStopFrame)) {
        Usage(L"give a range end in seconds or in pictures, not both");
    }
    if (options.HasStopFrame && options.StopFrame <= (options.HasStartFrame ? options.StartFrame : 0)) {
        Usage(L"--stop-frame must be after --start-frame (and above 0)");
    }
    return options;
}

std::wstring CCommandLine::GeneralHelp() {
    std::wstring text =
        L"kxvplay: plays, inspects and exports KXVD recordings through the registered\n"
        L"\"KXVD Source File\" DirectShow filter (" KXVD_MODULE_FILE L").\n\n"
        L"Commands (kxvplay COMMAND --help for one of them):\n";
    for (const CommandShape& shape : Commands) text += shape.Help;
    return text + L"\n" + ExitCodeHelp;
}

std::wstring CCommandLine::CommandHelp(const std::wstring& command) {
    const CommandShape* shape = FindCommand(command);
    return (shape ? std::wstring(shape->Help) : GeneralHelp()) + L"\n" + ExitCodeHelp;
}

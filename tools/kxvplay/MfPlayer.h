// kxvplay's Media Foundation side: a recording opened from its path alone
// the way MF applications open it (the source resolver picks the byte-stream
// handler registered for the extension), read through the synchronous
// source reader, or played by the media session into the platform's video
// and audio renderers on the clock. MF is started for the object's life;
// used on the main thread only; throws CAppError with kxvplay's exit codes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CMfPlayer {
public:
    // What the reader took from one stream.
    struct StreamTally {
        bool Present = false;
        uint64_t Samples = 0;
        uint64_t Bytes = 0;
        LONGLONG FirstTime = -1;
        LONGLONG EndTime = 0;
        // Samples that did not start where the one before stopped.
        uint64_t Gaps = 0;
        uint64_t Overlaps = 0;
    };
    struct ReadSummary {
        StreamTally Pictures;
        StreamTally Sound;
        LONGLONG Duration = 0;
        double WallSeconds = 0;
    };
    struct SessionSummary {
        bool Ended = false;
        bool Sound = false;
        double WallSeconds = 0;
        LONGLONG Duration = 0;
    };

    CMfPlayer();
    ~CMfPlayer();
    CMfPlayer(const CMfPlayer&) = delete;
    CMfPlayer& operator=(const CMfPlayer&) = delete;

    // Every sample of every stream through the source reader, as fast as it
    // comes.
    ReadSummary ReadAll(const std::wstring& file);
    // The media session from start to MESessionEnded, the pictures into a
    // window captioned caption; at most the duration and 30 s.
    SessionSummary Play(const std::wstring& file, const std::wstring& caption);

    const std::wstring& FullPath() const { return Path; }

private:
    void CheckReadable(const std::wstring& file);
    // The open's failure as kxvplay's error: no handler for the extension,
    // a refused recording, or another failure.
    [[noreturn]] void OpenFailed(const std::wstring& file, HRESULT hr);

    std::wstring Path;
    bool Started = false;
};

// One open recording in the stand-in library: the file, its decoding thread
// and the state the exported calls change.
//
// Threads: the exported calls come from any thread (including the decoding
// thread, from inside the decode callback); the decoding thread runs Run and
// is the only one that touches Reader's file and the decode buffers.
//
// Locking: Lock guards every field below it marked "guarded". It is a leaf
// lock (the handle registry's lock is never held while calling in here), and
// it is never held while the callback runs, so the callback may call back
// into the library. Changed is signalled whenever a guarded field changes
// that a waiter might be waiting on.
//
// Promises kept: whether a callback starts is decided under Lock, so after
// Pause or Stop returns no callback starts until the next Play (one already
// started may still be running when they are called from another thread);
// a removal or replacement of the callback, and Close, also wait for a
// callback in progress to return, except when called on the decoding thread
// itself. Out of memory nothing is thrown out of the decoding thread: a record
// that cannot be decoded for want of memory is held and tried again, so no
// picture or sound is skipped.
#pragma once

#include "common/KXPlayApi.h"
#include "playlib/CriticalSection.h"
#include "recording/RecordingReader.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CPlayer {
public:
    // Opens and indexes the recording and starts the decoding thread, which
    // waits for a Play. Null when the recording cannot be opened.
    static std::shared_ptr<CPlayer> Open(const std::wstring& path);
    ~CPlayer();
    CPlayer(const CPlayer&) = delete;
    CPlayer& operator=(const CPlayer&) = delete;

    // Ends decoding; waits for the decoding thread unless called on it.
    void Close();

    void SetMsgWnd(HWND wnd);
    void SetFileEndMsg(HWND wnd, UINT msg);
    void SetCallback(KXDecodeCallback callback, void* user);
    void Play();
    void Pause();
    // False when ms is at or after the end of the recording.
    bool SetPlayedTime(DWORD ms);
    // -1 and 0 until the recording's information delay has passed.
    LONG TotalFrames();
    DWORD DurationMs();

private:
    CPlayer() = default;
    static DWORD WINAPI ThreadProc(void* param);
    void Run();
    bool InfoKnown() const;
    bool OnDecodingThread() const { return GetCurrentThreadId() == ThreadId; }
    void WaitForCallbackReturn();
    // Picks the next record to decode (Lock held); false when at the end.
    bool NextRecord(size_t* index, uint32_t* skipSamples);
    void ReachEnd();
    // Decodes a record into its buffer, points Buffer at it and sets Info;
    // false when it is damaged.
    bool DecodeRecord(size_t index, uint32_t skipSamples);

    // Fixed after Open.
    kxrec::CRecordingReader Reader;   // file: decoding thread only; index: read-only
    std::vector<size_t> PictureRecords;
    std::vector<size_t> SoundRecords;
    LONG PictureTotal = 0;            // reported: the records present, or a cut-short header's promise
    DWORD Duration = 0;               // reported, likewise
    DWORD HeldDuration = 0;           // the end of the records actually present
    DWORD OpenTick = 0;
    HANDLE Thread = nullptr;
    DWORD ThreadId = 0;

    // Decoding thread only.
    // Pictures and sound decode into buffers of their own: a sound record
    // between two pictures would otherwise shrink the picture buffer, and
    // growing it back zero-fills a whole picture before it is decoded.
    std::vector<uint8_t> PictureBuffer;
    std::vector<uint8_t> SoundBuffer;
    std::vector<uint8_t>* Buffer = &PictureBuffer;  // the decoded record being delivered
    FrameInfo Info{};
    uint32_t BufferFirstSample = 0;   // sample index of Buffer's first sample (sound)

    CCriticalSection Lock;
    CONDITION_VARIABLE Changed = CONDITION_VARIABLE_INIT;
    bool Closing = false;             // guarded
    bool Playing = false;             // guarded
    KXDecodeCallback Callback = nullptr;  // guarded
    void* User = nullptr;             // guarded
    bool Calling = false;             // guarded: a callback is running
    uint32_t CallsStarted = 0;        // guarded
    uint32_t Generation = 0;          // guarded: changes on every reposition
    size_t Position = 0;              // guarded: next record to decode
    size_t FirstPicture = 0;          // guarded: pictures before this record are skipped
    uint32_t FirstSample = 0;         // guarded: sound before this sample is skipped
    bool Pending = false;             // guarded: Buffer holds undelivered bytes
    size_t PendingOffset = 0;         // guarded: next byte of Buffer to deliver
    bool AtEnd = false;               // guarded
    HWND InfoWnd = nullptr;           // guarded
    bool InfoPending = false;         // guarded: 1178 still to be posted to InfoWnd
    HWND EndWnd = nullptr;            // guarded
    UINT EndMsg = 0;                  // guarded
    bool EndPending = false;          // guarded: the end was reached, its message not posted yet
};

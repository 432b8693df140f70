// The contract of the maker's playback library VUVezaVID.dll: its thirteen
// functions, the decode callback, the frame-information record and the two
// window messages it posts. The filter never sees the file format; it only
// relies on what is declared here. The stand-in library in playlib/ is built
// from this same header, so both sides agree on the calling convention.
#pragma once

#include <windows.h>
#include <cstdint>

#define KX_PLAY_CALL __stdcall

// Opaque handle of an open file, as returned by KX_PLAY_OpenFileExW.
typedef void* KXPLAYHANDLE;

// Posted to the window given by KX_PLAY_SetFileEndMsg when decoding reaches the end of the file.
constexpr UINT KX_MSG_FILE_END = 1124;   // 0x464, WM_USER + 100
// Posted to the window given by KX_PLAY_SetMsgWnd once frame total and duration can be read.
constexpr UINT KX_MSG_FILE_INFO = 1178;  // 0x49A, WM_USER + 154

// FrameInfo::type values.
constexpr int32_t KX_FRAME_YUY2 = 258;   // 0x102: decoded picture, packed YUY2, rows of width pixels
constexpr int32_t KX_FRAME_PCM = 1538;   // 0x602: decoded sound, KX_PCM_RATE mono 16-bit PCM bytes
// Samples a second of KX_FRAME_PCM sound.
constexpr uint32_t KX_PCM_RATE = 8000;

// KX_PLAY_SetDecCallBackEx's last argument: deliver decoded pictures as YUY2.
constexpr int32_t KX_DECODE_YUY2 = 258;

// Frame-information record as the library lays it out (32-bit little-endian fields).
struct FrameInfo {
    int32_t width;     // picture width in pixels (pictures only)
    int32_t height;    // picture height in rows (pictures only)
    int32_t stamp;     // not read by the filter; the stand-in puts the picture or sound time in ms here
    int32_t type;      // KX_FRAME_YUY2 or KX_FRAME_PCM; other values are ignored
};
static_assert(sizeof(FrameInfo) == 16, "FrameInfo layout is fixed by the library");

// The decode callback: (1) not read, (2) decoded bytes valid only during the call,
// (3) their length, (4) the frame information, (5) the registered user context,
// (6) not read.
typedef void (KX_PLAY_CALL *KXDecodeCallback)(long first, char* data, long length,
                                               FrameInfo* info, void* user, long last);

typedef KXPLAYHANDLE (KX_PLAY_CALL *PFN_KX_PLAY_OpenFileExW)(const wchar_t* path);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_CloseFile)(KXPLAYHANDLE h);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_SetMsgWnd)(KXPLAYHANDLE h, HWND wnd);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_SetFileEndMsg)(KXPLAYHANDLE h, HWND wnd, UINT msg);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_SetDecCallBackEx)(KXPLAYHANDLE h, KXDecodeCallback cb,
                                                          void* user, long reserved, long mode);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_SetDecodeMode)(KXPLAYHANDLE h, long mode);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_SetPlayOption)(KXPLAYHANDLE h, long option, long value);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_Play)(KXPLAYHANDLE h, HWND wnd);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_Pause)(KXPLAYHANDLE h);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_Stop)(KXPLAYHANDLE h);
typedef BOOL (KX_PLAY_CALL *PFN_KX_PLAY_SetPlayedTimeEx)(KXPLAYHANDLE h, DWORD ms);
typedef LONG (KX_PLAY_CALL *PFN_KX_PLAY_GetFileTotalFrames)(KXPLAYHANDLE h);
typedef DWORD (KX_PLAY_CALL *PFN_KX_PLAY_GetFileTimeMilliSec)(KXPLAYHANDLE h);

// The one interface through which the reader reaches the library: a table of
// the thirteen functions. Production fills it from VUVezaVID.dll at run time;
// tests fill it with a scripted fake.
struct KXPlayApi {
    PFN_KX_PLAY_OpenFileExW OpenFileExW;
    PFN_KX_PLAY_CloseFile CloseFile;
    PFN_KX_PLAY_SetMsgWnd SetMsgWnd;
    PFN_KX_PLAY_SetFileEndMsg SetFileEndMsg;
    PFN_KX_PLAY_SetDecCallBackEx SetDecCallBackEx;
    PFN_KX_PLAY_SetDecodeMode SetDecodeMode;
    PFN_KX_PLAY_SetPlayOption SetPlayOption;
    PFN_KX_PLAY_Play Play;
    PFN_KX_PLAY_Pause Pause;
    PFN_KX_PLAY_Stop Stop;
    PFN_KX_PLAY_SetPlayedTimeEx SetPlayedTimeEx;
    PFN_KX_PLAY_GetFileTotalFrames GetFileTotalFrames;
    PFN_KX_PLAY_GetFileTimeMilliSec GetFileTimeMilliSec;
};

// A playback library that lacks KX_PLAY_GetFileTimeMilliSec: the module must
// refuse it whole. Its open "succeeds" so that a module that used the partial
// table anyway would go on and show it.
#include "common/KXPlayApi.h"

extern "C" {

KXPLAYHANDLE KX_PLAY_CALL KX_PLAY_OpenFileExW(const wchar_t*) { return reinterpret_cast<KXPLAYHANDLE>(0x1234); }
BOOL KX_PLAY_CALL KX_PLAY_CloseFile(KXPLAYHANDLE) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_SetMsgWnd(KXPLAYHANDLE, HWND) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_SetFileEndMsg(KXPLAYHANDLE, HWND, UINT) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_SetDecCallBackEx(KXPLAYHANDLE, KXDecodeCallback, void*, long, long) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_SetDecodeMode(KXPLAYHANDLE, long) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_SetPlayOption(KXPLAYHANDLE, long, long) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_Play(KXPLAYHANDLE, HWND) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_Pause(KXPLAYHANDLE) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_Stop(KXPLAYHANDLE) { return TRUE; }
BOOL KX_PLAY_CALL KX_PLAY_SetPlayedTimeEx(KXPLAYHANDLE, DWORD) { return TRUE; }
LONG KX_PLAY_CALL KX_PLAY_GetFileTotalFrames(KXPLAYHANDLE) { return 100; }

}

// The thirteen exported functions. Each looks its handle up in the registry
// first, so a stale or made-up handle gets a failure result, never a crash.
#include "common/KXPlayApi.h"
#include "playlib/HandleRegistry.h"
#include "playlib/Player.h"

#include <new>

namespace {

std::shared_ptr<CPlayer> Find(KXPLAYHANDLE h) {
    return CHandleRegistry::Instance().Find(h);
}

}  // namespace

extern "C" {

KXPLAYHANDLE KX_PLAY_CALL KX_PLAY_OpenFileExW(const wchar_t* path) {
    if (path == nullptr) return nullptr;
    // Nothing may leave a C export as an exception; out of memory, the file
    // simply cannot be opened.
    std::shared_ptr<CPlayer> player;
    try {
        player = CPlayer::Open(path);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!player) return nullptr;
    try {
        return CHandleRegistry::Instance().Add(player);
    } catch (const std::bad_alloc&) {
        // Its decoding thread already runs: end it with the player.
        player->Close();
        return nullptr;
    }
}

BOOL KX_PLAY_CALL KX_PLAY_CloseFile(KXPLAYHANDLE h) {
    std::shared_ptr<CPlayer> player = CHandleRegistry::Instance().Remove(h);
    if (!player) return FALSE;
    player->Close();
    return TRUE;
}

BOOL KX_PLAY_CALL KX_PLAY_SetMsgWnd(KXPLAYHANDLE h, HWND wnd) {
    std::shared_ptr<CPlayer> player = Find(h);
    if (!player) return FALSE;
    player->SetMsgWnd(wnd);
    return TRUE;
}

BOOL KX_PLAY_CALL KX_PLAY_SetFileEndMsg(KXPLAYHANDLE h, HWND wnd, UINT msg) {
    std::shared_ptr<CPlayer> player = Find(h);
    if (!player) return FALSE;
    player->SetFileEndMsg(wnd, msg);
    return TRUE;
}

BOOL KX_PLAY_CALL KX_PLAY_SetDecCallBackEx(KXPLAYHANDLE h, KXDecodeCallback cb, void* user,
                                           long /*reserved*/, long /*mode*/) {
    std::shared_ptr<CPlayer> player = Find(h);
    if (!player) return FALSE;
    player->SetCallback(cb, user);
    return TRUE;
}

BOOL KX_PLAY_CALL KX_PLAY_SetDecodeMode(KXPLAYHANDLE h, long /*mode*/) {
    return Find(h) ? TRUE : FALSE;
}

BOOL KX_PLAY_CALL KX_PLAY_SetPlayOption(KXPLAYHANDLE h, long /*option*/, long /*value*/) {
    return Find(h) ? TRUE : FALSE;
}

BOOL KX_PLAY_CALL KX_PLAY_Play(KXPLAYHANDLE h, HWND /*wnd*/) {
    std::shared_ptr<CPlayer> player = Find(h);
    if (!player) return FALSE;
    player->Play();
    return TRUE;
}

BOOL KX_PLAY_CALL KX_PLAY_Pause(KXPLAYHANDLE h) {
    std::shared_ptr<CPlayer> player = Find(h);
    if (!player) return FALSE;
    player->Pause();
    return TRUE;
}

// Stopping keeps the position: a later Play continues from where decoding stopped.
BOOL KX_PLAY_CALL KX_PLAY_Stop(KXPLAYHANDLE h) {
    return KX_PLAY_Pause(h);
}

BOOL KX_PLAY_CALL KX_PLAY_SetPlayedTimeEx(KXPLAYHANDLE h, DWORD ms) {
    std::shared_ptr<CPlayer> player = Find(h);
    return player && player->SetPlayedTime(ms) ? TRUE : FALSE;
}

LONG KX_PLAY_CALL KX_PLAY_GetFileTotalFrames(KXPLAYHANDLE h) {
    std::shared_ptr<CPlayer> player = Find(h);
    return player ? player->TotalFrames() : -1;
}

DWORD KX_PLAY_CALL KX_PLAY_GetFileTimeMilliSec(KXPLAYHANDLE h) {
    std::shared_ptr<CPlayer> player = Find(h);
    return player ? player->DurationMs() : 0;
}

}  // extern "C"

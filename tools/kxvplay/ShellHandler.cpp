#include "ShellHandler.h"

#include "AppError.h"
#include "HResultText.h"
#include "common/KXVDSrcClsid.h"

#include <thumbcache.h>

namespace {

const wchar_t PropertyHandlers[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\";

std::wstring GuidText(const GUID& id) {
    wchar_t text[39];
    StringFromGUID2(id, text, 39);
    return text;
}

}  // namespace

CShellHandler::CShellHandler(Kind kind, const std::wstring& file) {
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD length = GetFullPathNameW(file.c_str(), ARRAYSIZE(full), full, nullptr);
    Path = (length > 0 && length < ARRAYSIZE(full)) ? std::wstring(full) : file;
    const DWORD attributes = GetFileAttributesW(Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw CAppError(ExitCode::FileUnreadable, L"file not found: " + file);
    }
    const size_t dot = Path.find_last_of(L'.');
    const size_t slash = Path.find_last_of(L"\\/");
    const std::wstring extension =
        dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash) ? std::wstring() : Path.substr(dot);
    const bool thumbnail = kind == Kind::Thumbnail;
    const HKEY root = thumbnail ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
    KeyName = thumbnail ? extension + L"\\ShellEx\\" + GuidText(__uuidof(IThumbnailProvider))
                        : std::wstring(PropertyHandlers) + extension;
    wchar_t text[64] = {};
    DWORD bytes = sizeof(text);
    CLSID id = CLSID_NULL;
    const std::wstring howToRegister =
        L"register the extension with: regsvr32 /i:\"" + (extension.empty() ? L".ext" : extension) + L"\" " KXVD_MODULE_FILE;
    if (extension.empty() ||
        RegGetValueW(root, KeyName.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS ||
        FAILED(CLSIDFromString(text, &id))) {
        throw CAppError(ExitCode::NotRegistered, std::wstring(L"no ") + (thumbnail ? L"thumbnail provider" : L"property handler") +
                                                     L" registered for \"" + extension + L"\" files; " + howToRegister);
    }
    ClassName = text;
    const HRESULT created = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Initialised));
    if (FAILED(created)) {
        throw CAppError(ExitCode::NotRegistered, L"the handler " + ClassName + L" named under " + KeyName +
                                                     L" cannot be created (" + DescribeHResult(created) + L"); " +
                                                     howToRegister);
    }
    const HRESULT initialised = Initialised->Initialize(Path.c_str(), STGM_READ);
    if (FAILED(initialised)) ShellFailure(L"reading", initialised);
}

void CShellHandler::ShellFailure(const std::wstring& what, HRESULT hr) const {
    if (hr == E_FAIL) {
        throw CAppError(ExitCode::RecordingRefused, L"recording refused: the playback library (or its absence) "
                                                    L"gave nothing from " + Path);
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) {
        throw CAppError(ExitCode::RecordingRefused, L"recording refused: the handler gave up " + what + L" " + Path +
                                                        L" after its 5 s bound");
    }
    throw CAppError(ExitCode::GraphFailure, L"handler failure: " + what + L" " + Path + L": " + DescribeHResult(hr));
}

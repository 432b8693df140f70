// The filter's fixed COM class id. Applications create "KXVD Source File" by
// this id; it never changes between versions, since graphs saved by
// applications and registry entries refer to it.
#pragma once

#include <guiddef.h>

// {54FA89DD-1E1B-43BE-8850-760A5348165C}
inline constexpr GUID CLSID_KXVDSource =
    {0x54fa89dd, 0x1e1b, 0x43be, {0x88, 0x50, 0x76, 0x0a, 0x53, 0x48, 0x16, 0x5c}};

inline constexpr const wchar_t* KXVDSourceFriendlyName = L"KXVD Source File";

// The module's file name: the 32-bit module and the 64-bit one (which uses
// the helper KXVDHost.exe) sit side by side in one folder.
#ifdef _WIN64
#define KXVD_MODULE_FILE L"KXVDSrc64.ax"
#else
#define KXVD_MODULE_FILE L"KXVDSrc.ax"
#endif
inline constexpr const wchar_t* KXVDSourceModuleName = KXVD_MODULE_FILE;

// The subtype of MEDIATYPE_Stream under which earlier versions registered
// every check-byte pattern in one key ("Media Type\{stream}\{this}"), which
// removal still finds; now the namespace of the name-based subtypes that give
// each pattern a key of its own. Fixed for the same reason as the class id.
// {48CE716B-A9C9-41DA-8E48-A9CC52635B6D}
inline constexpr GUID MEDIASUBTYPE_KXVDRecording =
    {0x48ce716b, 0xa9c9, 0x41da, {0x8e, 0x48, 0xa9, 0xcc, 0x52, 0x63, 0x5b, 0x6d}};

// The Media Foundation byte-stream handler's class id, which the
// ByteStreamHandlers keys of the registered extensions name; fixed for the
// same reason as the filter's.
// {4BA6C155-F99A-4E7E-9E77-D2E1668073D0}
inline constexpr GUID CLSID_KXVDByteStreamHandler =
    {0x4ba6c155, 0xf99a, 0x4e7e, {0x9e, 0x77, 0xd2, 0xe1, 0x66, 0x80, 0x73, 0xd0}};

inline constexpr const wchar_t* KXVDByteStreamHandlerName = L"KXVD Recording Byte Stream Handler";
// The Explorer handlers of the same module (shell/): the thumbnail provider
// and the property handler, each a class of its own, fixed for the same
// reason: the per-extension shell keys name them.
// {F86E3A00-A7D5-45C7-8FFE-38A74BFC7767}
inline constexpr GUID CLSID_KXVDThumbnailProvider =
    {0xf86e3a00, 0xa7d5, 0x45c7, {0x8f, 0xfe, 0x38, 0xa7, 0x4b, 0xfc, 0x77, 0x67}};
inline constexpr const wchar_t* KXVDThumbnailProviderName = L"KXVD Recording Thumbnail";
// {D1823AAE-1D10-4909-9481-8C72F2AAB065}
inline constexpr GUID CLSID_KXVDPropertyHandler =
    {0xd1823aae, 0x1d10, 0x4909, {0x94, 0x81, 0x8c, 0x72, 0xf2, 0xaa, 0xb0, 0x65}};
inline constexpr const wchar_t* KXVDPropertyHandlerName = L"KXVD Recording Properties";

// The property keys the property handler answers and the details lists name,
// defined here rather than taken from mingw-w64's propkey.h: that header
// gives System.Audio.SampleRate and System.Audio.ChannelCount the format id
// 64440490-4C8B-11D1-8B80-..., where Windows (and the same header's
// System.Media.Duration) has ...-8B70-...; values under that id would be read
// by nobody.
#pragma once

#include <wtypes.h>

namespace shellkeys {

// {64440490-4C8B-11D1-8B70-080036B11A03}: the media and sound properties.
inline constexpr GUID MediaFormat = {0x64440490, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};
// {64440491-4C8B-11D1-8B70-080036B11A03}: the video properties.
inline constexpr GUID VideoFormat = {0x64440491, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};

// VT_UI8, 100-ns units.
inline constexpr PROPERTYKEY MediaDuration = {MediaFormat, 3};
inline constexpr PROPERTYKEY AudioSampleRate = {MediaFormat, 5};
inline constexpr PROPERTYKEY AudioChannelCount = {MediaFormat, 7};
// VT_UI4 each; the frame rate in pictures per 1000 seconds.
inline constexpr PROPERTYKEY VideoFrameWidth = {VideoFormat, 3};
inline constexpr PROPERTYKEY VideoFrameHeight = {VideoFormat, 4};
inline constexpr PROPERTYKEY VideoFrameRate = {VideoFormat, 6};
inline constexpr PROPERTYKEY VideoFourCC = {VideoFormat, 44};

}  // namespace shellkeys

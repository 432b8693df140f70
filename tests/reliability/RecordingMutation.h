// Damage done to recordings on purpose: the file's bytes read and written
// whole, the header's fields changed with its checksum made valid again (so
// the library believes the changed field), bits flipped and the end cut off.
// Used on one thread.
#pragma once

#include "recording/RecordingFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::vector<uint8_t> ReadWholeFile(const std::wstring& path);
bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);

// Sets the header field at byteOffset (a multiple of 4 before headerCrc) and
// seals the header's checksum again. False when the bytes hold no header.
bool ChangeHeaderField(std::vector<uint8_t>* bytes, size_t byteOffset, uint32_t value);
// Number of 32-bit header fields before the checksum.
constexpr size_t HeaderFieldCount = offsetof(kxrec::RecordingHeader, headerCrc) / 4;

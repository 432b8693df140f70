#include "RecordingMutation.h"

#include "recording/Crc32.h"

#include <windows.h>

#include <cstring>

std::vector<uint8_t> ReadWholeFile(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    const DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE) {
        bytes.resize(size);
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), size, &read, nullptr) || read != size) bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() ||
                    (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size());
    CloseHandle(file);
    return ok;
}

bool ChangeHeaderField(std::vector<uint8_t>* bytes, size_t byteOffset, uint32_t value) {
    constexpr size_t crcOffset = offsetof(kxrec::RecordingHeader, headerCrc);
    if (bytes->size() < sizeof(kxrec::RecordingHeader) || byteOffset % 4 != 0 || byteOffset >= crcOffset) return false;
    std::memcpy(bytes->data() + byteOffset, &value, sizeof(value));
    const uint32_t crc = kxrec::Crc32(0, bytes->data(), crcOffset);
    std::memcpy(bytes->data() + crcOffset, &crc, sizeof(crc));
    return true;
}

#include "server/FileTypeList.h"

#include <cwchar>
#include <cwctype>

namespace {

constexpr size_t MaxExtensionChars = 32;   // with the dot
constexpr unsigned long MaxCheckBytes = 256;
constexpr unsigned long MaxOffset = 0x7FFFFFFF;

std::wstring Trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    const size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find(separator, begin);
        parts.push_back(Trimmed(text.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin)));
        if (end == std::wstring::npos) return parts;
        begin = end + 1;
    }
}

// A decimal number within limit, an optional leading '-' where allowed
// (the platform counts a negative offset from the end of the file).
bool Decimal(const std::wstring& text, bool signedAllowed, unsigned long limit, long* value) {
    size_t i = 0;
    const bool negative = signedAllowed && !text.empty() && text[0] == L'-';
    if (negative) ++i;
    if (i == text.size() || text.size() - i > 10) return false;
    unsigned long long number = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        number = number * 10 + static_cast<unsigned>(text[i] - L'0');
    }
    if (number > limit) return false;
    *value = negative ? -static_cast<long>(number) : static_cast<long>(number);
    return true;
}

// Hex of exactly bytes bytes, in capitals; false for anything else.
bool Hex(const std::wstring& text, long bytes, std::wstring* upper) {
    if (text.size() != static_cast<size_t>(bytes) * 2) return false;
    upper->clear();
    for (wchar_t c : text) {
        if (!std::iswxdigit(c)) return false;
        upper->push_back(static_cast<wchar_t>(std::towupper(c)));
    }
    return true;
}

}  // namespace

bool CFileTypeList::IsExtension(const std::wstring& item) {
    if (item.size() < 2 || item.size() > MaxExtensionChars || item[0] != L'.') return false;
    for (size_t i = 1; i < item.size(); ++i) {
        const wchar_t c = item[i];
        if (c <= L' ' || c == 0x7F || std::wcschr(L"\\/:*?\"<>|,.;", c)) return false;
    }
    return true;
}

bool CFileTypeList::CanonicalPattern(const std::wstring& item, std::wstring* canonical) {
    const std::vector<std::wstring> fields = Split(item, L',');
    if (fields.size() % 4 != 0) return false;
    std::wstring text;
    for (size_t group = 0; group < fields.size(); group += 4) {
        long offset = 0, count = 0;
        std::wstring mask, value;
        if (!Decimal(fields[group], true, MaxOffset, &offset)) return false;
        if (!Decimal(fields[group + 1], false, MaxCheckBytes, &count) || count == 0) return false;
        if (!fields[group + 2].empty() && !Hex(fields[group + 2], count, &mask)) return false;
        if (!Hex(fields[group + 3], count, &value)) return false;
        if (!text.empty()) text += L',';
        text += std::to_wstring(offset) + L',' + std::to_wstring(count) + L',' + mask + L',' + value;
    }
    *canonical = text;
    return true;
}

HRESULT CFileTypeList::Parse(const wchar_t* list) {
    ExtensionItems.clear();
    PatternItems.clear();
    if (!list) return S_OK;
    std::vector<std::wstring> extensions, patterns;
    for (const std::wstring& item : Split(list, L';')) {
        if (item.empty()) continue;
        std::wstring pattern;
        if (IsExtension(item)) {
            bool known = false;
            for (const std::wstring& other : extensions) known = known || _wcsicmp(other.c_str(), item.c_str()) == 0;
            if (!known) extensions.push_back(item);
        } else if (CanonicalPattern(item, &pattern)) {
            bool known = false;
            for (const std::wstring& other : patterns) known = known || other == pattern;
            if (!known) patterns.push_back(pattern);
        } else {
            return E_INVALIDARG;
        }
    }
    ExtensionItems.swap(extensions);
    PatternItems.swap(patterns);
    return S_OK;
}

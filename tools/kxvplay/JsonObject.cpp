#include "JsonObject.h"

#include "Console.h"

#include <charconv>
#include <cmath>
#include <cstdio>

std::string CJsonObject::Quote(const std::wstring& value) {
    const std::string utf8 = CConsole::Utf8(value);
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void CJsonObject::Key(const std::string& key) {
    if (!Body.empty()) Body += ",";
    Body += "\"" + key + "\":";
}

CJsonObject& CJsonObject::Add(const std::string& key, const std::wstring& value) {
    Key(key);
    Body += Quote(value);
    return *this;
}

CJsonObject& CJsonObject::Add(const std::string& key, int64_t value) {
    Key(key);
    Body += std::to_string(value);
    return *this;
}

CJsonObject& CJsonObject::Add(const std::string& key, double value) {
    Key(key);
    // The shortest text that reads back as the same double, so a time of
    // 100-ns units keeps every digit it came with; JSON has no infinities.
    char text[64];
    const std::to_chars_result written = std::to_chars(text, text + sizeof(text), value);
    Body += std::isfinite(value) && written.ec == std::errc() ? std::string(text, written.ptr) : "null";
    return *this;
}

CJsonObject& CJsonObject::Add(const std::string& key, bool value) {
    Key(key);
    Body += value ? "true" : "false";
    return *this;
}

CJsonObject& CJsonObject::AddRaw(const std::string& key, const std::string& value) {
    Key(key);
    Body += value;
    return *this;
}

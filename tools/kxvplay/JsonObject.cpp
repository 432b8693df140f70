#include "JsonObject.h"

#include "Console.h"

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
    char text[64];
    snprintf(text, sizeof(text), "%.6g", value);
    Body += text;
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

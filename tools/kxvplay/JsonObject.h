// One JSON object built field by field, in the order added; strings escaped.
// Plain value; one thread.
#pragma once

#include <cstdint>
#include <string>

class CJsonObject {
public:
    CJsonObject& Add(const std::string& key, const std::wstring& value);
    CJsonObject& Add(const std::string& key, int64_t value);
    CJsonObject& Add(const std::string& key, double value);
    CJsonObject& Add(const std::string& key, bool value);
    // value is already JSON (an object or an array).
    CJsonObject& AddRaw(const std::string& key, const std::string& value);
    std::string Text() const { return "{" + Body + "}"; }

    static std::string Quote(const std::wstring& value);

private:
    void Key(const std::string& key);
    std::string Body;
};

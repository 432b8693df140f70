#include "AppTest.h"

#include "ModuleSetup.h"
#include "common/WidePath.h"

#include <windows.h>

#include <cstdlib>

namespace {

constexpr unsigned ChildLimitMs = 60000;

class RegisteredModule : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(RegisterModule()) << "KXVDSrc.ax could not be registered"; }
};

::testing::Environment* const Registered = ::testing::AddGlobalTestEnvironment(new RegisteredModule);

}  // namespace

std::wstring BinFolder() {
    std::wstring exe;
    CWidePath::OfModule(nullptr, &exe);
    return CWidePath::FolderOf(exe);
}

ChildResult AppTest::KxvplayAt(const std::wstring& program, const std::vector<std::wstring>& args,
                               const std::wstring& folder) {
    ChildResult result = RunChild(program, args, folder, ChildLimitMs);
    EXPECT_TRUE(result.Finished) << "kxvplay did not finish within 60 s; stderr so far: " << result.Err;
    return result;
}

ChildResult AppTest::Kxvplay(const std::vector<std::wstring>& args) {
    return KxvplayAt(BinFolder() + L"kxvplay.exe", args, BinFolder());
}

std::string JsonField(const std::string& json, const std::string& key) {
    const std::string marker = "\"" + key + "\":";
    const size_t at = json.find(marker);
    if (at == std::string::npos) return std::string();
    size_t begin = at + marker.size();
    if (begin < json.size() && json[begin] == '"') {
        const size_t end = json.find('"', begin + 1);
        return json.substr(begin + 1, end - begin - 1);
    }
    size_t end = begin;
    while (end < json.size() && json[end] != ',' && json[end] != '}') ++end;
    return json.substr(begin, end - begin);
}

double JsonNumber(const std::string& json, const std::string& key) {
    const std::string text = JsonField(json, key);
    return text.empty() ? -1.0 : std::strtod(text.c_str(), nullptr);
}

#include "bench/BenchReport.h"

#include <windows.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

// A figure as the shortest text that reads back as the same double.
std::string JsonNumber(double value) {
    char text[64];
    const std::to_chars_result written = std::to_chars(text, text + sizeof(text), value);
    return std::isfinite(value) && written.ec == std::errc() ? std::string(text, written.ptr) : "null";
}

std::string Figure(double value) {
    char text[64];
    if (value != 0 && (value >= 1e6 || value < 0.01)) {
        std::snprintf(text, sizeof(text), "%.4g", value);
    } else {
        std::snprintf(text, sizeof(text), "%.2f", value);
    }
    return text;
}

std::string ProcessorName() {
    char name[128] = {};
    DWORD bytes = sizeof(name) - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", "ProcessorNameString",
                     RRF_RT_REG_SZ, nullptr, name, &bytes) != ERROR_SUCCESS) {
        return "unknown processor";
    }
    return name;
}

}  // namespace

void CBenchReport::Add(const std::string& section, const std::string& name, double value, const std::string& unit,
                       const std::string& note) {
    Rows.push_back(ReportRow{section, name, value, unit, note});
}

void CBenchReport::Judge(const std::string& name, bool held, const std::string& detail) {
    Targets.push_back(TargetVerdict{name, held, detail});
}

void CBenchReport::Warn(const std::string& text) { Warnings.push_back(text); }

std::string CBenchReport::MachineLine() {
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof(memory);
    GlobalMemoryStatusEx(&memory);
    using WineVersion = const char*(__cdecl*)();
    auto version = reinterpret_cast<WineVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    char line[256];
    std::snprintf(line, sizeof(line), "%s, %lu logical processors, %llu MB memory, %s", ProcessorName().c_str(),
                  system.dwNumberOfProcessors, static_cast<unsigned long long>(memory.ullTotalPhys >> 20),
                  version ? (std::string("Wine ") + version()).c_str() : "Windows");
    return line;
}

void CBenchReport::Print() const {
    std::printf("kxbench (%s) on %s\n", Mode.c_str(), MachineLine().c_str());
    std::string section;
    for (const ReportRow& row : Rows) {
        if (row.Section != section) {
            section = row.Section;
            std::printf("\n%s\n", section.c_str());
        }
        std::printf("  %-46s %14s %-12s %s\n", row.Name.c_str(), Figure(row.Value).c_str(), row.Unit.c_str(),
                    row.Note.c_str());
    }
    std::printf("\nTargets\n");
    for (const TargetVerdict& target : Targets) {
        std::printf("  [%s] %s: %s\n", target.Held ? "held" : "MISSED", target.Name.c_str(), target.Detail.c_str());
    }
    for (const std::string& warning : Warnings) std::printf("warning: %s\n", warning.c_str());
    std::fflush(stdout);
}

bool CBenchReport::WriteJson(const std::wstring& path) const {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    std::fprintf(file, "{\n  \"mode\": \"%s\",\n  \"machine\": \"%s\",\n  \"figures\": [\n", Escaped(Mode).c_str(),
                 Escaped(MachineLine()).c_str());
    for (size_t i = 0; i < Rows.size(); ++i) {
        const ReportRow& row = Rows[i];
        std::fprintf(file, "    {\"section\": \"%s\", \"name\": \"%s\", \"value\": %s, \"unit\": \"%s\", \"note\": \"%s\"}%s\n",
                     Escaped(row.Section).c_str(), Escaped(row.Name).c_str(), JsonNumber(row.Value).c_str(), Escaped(row.Unit).c_str(),
                     Escaped(row.Note).c_str(), i + 1 < Rows.size() ? "," : "");
    }
    std::fprintf(file, "  ],\n  \"targets\": [\n");
    for (size_t i = 0; i < Targets.size(); ++i) {
        const TargetVerdict& target = Targets[i];
        std::fprintf(file, "    {\"name\": \"%s\", \"held\": %s, \"detail\": \"%s\"}%s\n", Escaped(target.Name).c_str(),
                     target.Held ? "true" : "false", Escaped(target.Detail).c_str(), i + 1 < Targets.size() ? "," : "");
    }
    std::fprintf(file, "  ],\n  \"warnings\": [");
    for (size_t i = 0; i < Warnings.size(); ++i) {
        std::fprintf(file, "%s\"%s\"", i ? ", " : "", Escaped(Warnings[i]).c_str());
    }
    std::fprintf(file, "]\n}\n");
    return std::fclose(file) == 0;
}

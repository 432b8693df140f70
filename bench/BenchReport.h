// The bench's findings: rows of figures by section, the targets judged, and
// the machine they came from; printed as a table and written as JSON. Used
// on the bench's thread.
#pragma once

#include <string>
#include <vector>

struct ReportRow {
    std::string Section;
    std::string Name;
    double Value;
    std::string Unit;
    std::string Note;
};

struct TargetVerdict {
    std::string Name;
    bool Held;
    std::string Detail;
};

class CBenchReport {
public:
    void Add(const std::string& section, const std::string& name, double value, const std::string& unit,
             const std::string& note = std::string());
    void Judge(const std::string& name, bool held, const std::string& detail);
    void Warn(const std::string& text);
    void SetMode(const std::string& mode) { Mode = mode; }

    void Print() const;
    bool WriteJson(const std::wstring& path) const;
    // Processor, core count, memory and Wine version, as one line.
    static std::string MachineLine();

private:
    std::vector<ReportRow> Rows;
    std::vector<TargetVerdict> Targets;
    std::vector<std::string> Warnings;
    std::string Mode;
};

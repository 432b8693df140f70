// A grouped bar chart (one group per picture size, one bar per series) drawn
// into a 32-bit bitmap with GDI and written as PNG through WIC. Values are
// drawn on a logarithmic axis, since the copy limit and the slowest path can
// be two orders of magnitude apart. Used on one thread; COM initialised.
#pragma once

#include <string>
#include <vector>

struct ChartSeries {
    std::wstring Name;
    unsigned Colour;                 // 0xRRGGBB
    std::vector<double> Values;      // one per group; 0 or less: no bar
};

struct ChartData {
    std::wstring Title;
    std::wstring Unit;
    std::vector<std::wstring> Groups;
    std::vector<ChartSeries> Series;
};

class CPngChart {
public:
    CPngChart(int width, int height) : Width(width), Height(height) {}
    // Draws and writes the chart; false when drawing or encoding fails.
    bool Write(const ChartData& data, const std::wstring& path) const;

private:
    int Width;
    int Height;
};

// What the bench hands over: the chart must show each series in its own
// colour (or not at all when it has no value), and the JSON must stay valid
// whatever text a warning carries.
#include "bench/BenchMedia.h"
#include "bench/BenchReport.h"
#include "bench/PngChart.h"

#include <gtest/gtest.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <fstream>
#include <iterator>
#include <set>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

struct Image {
    UINT Width = 0;
    UINT Height = 0;
    std::vector<uint32_t> Pixels;  // 0xRRGGBB
};

bool ReadPng(const std::wstring& path, Image* image) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr)) hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    GUID container{};
    if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(&container);
    if (SUCCEEDED(hr) && !IsEqualGUID(container, GUID_ContainerFormatPng)) hr = E_FAIL;
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr)) hr = frame->GetSize(&image->Width, &image->Height);
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr)) {
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom);
    }
    if (FAILED(hr)) return false;
    image->Pixels.resize(static_cast<size_t>(image->Width) * image->Height);
    hr = converter->CopyPixels(nullptr, image->Width * 4, image->Width * image->Height * 4,
                               reinterpret_cast<BYTE*>(image->Pixels.data()));
    for (uint32_t& pixel : image->Pixels) pixel &= 0xFFFFFF;
    return SUCCEEDED(hr);
}

class ChartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        path = BenchScratchFolder() + L"chart_test.png";
        DeleteFileW(path.c_str());
    }
    void TearDown() override {
        DeleteFileW(path.c_str());
        CoUninitialize();
    }
    std::wstring path;
};

}  // namespace

TEST_F(ChartTest, EachSeriesWithValuesShowsInItsOwnColour) {
    ChartData data;
    data.Title = L"test";
    data.Unit = L"pictures/s";
    data.Groups = {L"352x288", L"1920x1080"};
    data.Series = {{L"fast", 0xD01010, {90000, 2000}}, {L"slow", 0x10A020, {5000, 250}}, {L"absent", 0x2030E0, {0, -1}}};
    ASSERT_TRUE(CPngChart(640, 360).Write(data, path));
    Image image;
    ASSERT_TRUE(ReadPng(path, &image));
    EXPECT_EQ(640u, image.Width);
    EXPECT_EQ(360u, image.Height);
    const std::multiset<uint32_t> colours(image.Pixels.begin(), image.Pixels.end());
    EXPECT_GT(colours.count(0xFFFFFF), image.Pixels.size() / 2) << "white background";
    const size_t fast = colours.count(0xD01010), slow = colours.count(0x10A020);
    EXPECT_GT(fast, 1000u) << "red bars (colour order swapped?)";
    EXPECT_GT(slow, 1000u) << "green bars";
    EXPECT_GT(fast, slow) << "larger values, taller bars";
    EXPECT_LT(colours.count(0x2030E0), 400u) << "a series without values has only its legend box";
}

TEST_F(ChartTest, NothingToDrawWritesNothing) {
    ChartData empty;
    EXPECT_FALSE(CPngChart(640, 360).Write(empty, path));
    ChartData zeros;
    zeros.Groups = {L"a"};
    zeros.Series = {{L"none", 0x000000, {0}}};
    EXPECT_FALSE(CPngChart(640, 360).Write(zeros, path));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

TEST(BenchReportTest, JsonCarriesEveryFigureVerdictAndWarningEscaped) {
    const std::wstring path = BenchScratchFolder() + L"report_test.json";
    CBenchReport report;
    report.SetMode("full");
    report.Add("1. \"size\"", "rate", 1234.5, "pictures/s", "C:\\path\tnote");
    report.Judge("target", true, "fine");
    report.Judge("other", false, "missed");
    report.Warn("line\nbreak");
    ASSERT_TRUE(report.WriteJson(path));
    std::ifstream in(path.c_str());
    const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileW(path.c_str());
    EXPECT_NE(std::string::npos, json.find("\"section\": \"1. \\\"size\\\"\""));
    EXPECT_NE(std::string::npos, json.find("\"value\": 1234.5"));
    EXPECT_NE(std::string::npos, json.find("C:\\\\path note")) << "backslash doubled, tab blanked";
    EXPECT_NE(std::string::npos, json.find("\"held\": true"));
    EXPECT_NE(std::string::npos, json.find("\"held\": false"));
    EXPECT_NE(std::string::npos, json.find("\"line break\"")) << "no raw line break inside a string";
}

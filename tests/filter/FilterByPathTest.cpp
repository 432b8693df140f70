// Opening a recording by its path alone, as players do, on the desktop the
// test run provides (scripts/desktop.sh): the graph manager finds the filter
// by check bytes (the files' extension has no key, which under Wine would
// hide them), RenderFile connects both pins to the platform's renderers and
// plays on the clock to EC_COMPLETE with our pictures in the video window,
// and the multimedia command interface opens, measures and plays a file.
#include "FilterTest.h"
#include "GraphRig.h"
#include "ModuleSetup.h"
#include "WindowCapture.h"

#include "common/KXVDSrcClsid.h"

#include <mmsystem.h>
#include <uuids.h>

#include <algorithm>
#include <iostream>

namespace {

const CLSID NullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

class FilterByPathTest : public FilterTest {
protected:

    // Captions the video window of a rendered graph and moves it to the
    // screen's corner; the caption.
    std::wstring PlaceVideoWindow(CGraphRig* rig) {
        const std::wstring caption = L"KXVD by path " + std::to_wstring(GetCurrentProcessId());
        ComPtr<IVideoWindow> window;
        if (FAILED(rig->Graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(window.GetAddressOf())))) {
            return caption;
        }
        BSTR text = SysAllocString(caption.c_str());
        window->put_Caption(text);
        SysFreeString(text);
        window->put_Left(0);
        window->put_Top(0);
        return caption;
    }
};

bool IsVideoRenderer(const CLSID& id) {
    return id == CLSID_VideoRenderer || id == CLSID_VideoMixingRenderer || id == CLSID_VideoMixingRenderer9 ||
           id == CLSID_VideoRendererDefault;
}

CLSID SourceChosenFor(const std::wstring& path) {
    CLSID id = CLSID_NULL;
    ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)))) return id;
    ComPtr<IBaseFilter> source;
    if (SUCCEEDED(graph->AddSourceFilter(path.c_str(), L"Source", &source))) source->GetClassID(&id);
    return id;
}

}  // namespace

TEST_F(FilterByPathTest, AddSourceFilterFindsTheFilterByCheckBytes) {
    RecordingPlan plan;
    plan.DurationMs = 1000;
    const std::wstring path = Recording(L"bytes.kxr", plan);
    EXPECT_TRUE(IsEqualCLSID(CLSID_KXVDSource, SourceChosenFor(path))) << "plain registration: by the signature";

    // Without our keys the graph manager falls back to its File Source;
    // a deployer's pattern alone finds the filter again.
    ASSERT_EQ(S_OK, InstallFileTypes(false, nullptr));
    EXPECT_FALSE(IsEqualCLSID(CLSID_KXVDSource, SourceChosenFor(path)));
    ASSERT_EQ(S_OK, InstallFileTypes(true, L"4,8,,0100000040000000"));
    EXPECT_TRUE(IsEqualCLSID(CLSID_KXVDSource, SourceChosenFor(path))) << "a pattern given through DllInstall";
    ASSERT_EQ(S_OK, InstallFileTypes(false, nullptr));
    ASSERT_TRUE(RegisterModule());
}

TEST_F(FilterByPathTest, RenderFilePlaysThroughThePlatformsRenderersAndShowsOurPictures) {
    if (!CWindowCapture::DesktopPresent()) GTEST_SKIP() << "the renderers need the desktop scripts/test.sh provides";
    RecordingPlan plan;
    plan.DurationMs = 3000;
    const std::wstring path = Recording(L"render.kxr", plan);
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.RenderByPath(path)) << "both pins rendered (VFW_S_PARTIAL_RENDER: no sound device)";
    CLSID source = CLSID_NULL;
    rig.Source->GetClassID(&source);
    EXPECT_TRUE(IsEqualCLSID(CLSID_KXVDSource, source));
    const std::vector<CLSID> downstream = rig.Downstream();
    EXPECT_TRUE(std::any_of(downstream.begin(), downstream.end(), IsVideoRenderer)) << "no video renderer";
    EXPECT_NE(downstream.end(), std::find(downstream.begin(), downstream.end(), CLSID_DSoundRender));
    EXPECT_EQ(downstream.end(), std::find(downstream.begin(), downstream.end(), NullRendererClass));

    const std::wstring window = PlaceVideoWindow(&rig);
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Paused));
    CWindowCapture capture;
    int distance = 0;
    EXPECT_EQ(0, capture.ShownFrame(window, 0, 0, 352, 288, &distance))
        << "paused on the first picture, distance " << distance;
    std::cout << "[ screenshot ] paused: picture 0 within " << distance << " of 255 per channel\n";
    RecordProperty("PausedDistance", distance);

    const DWORD begin = GetTickCount();
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    const int playing = capture.ShownFrame(window, 1, plan.FrameCount() - 1, 352, 288, &distance);
    EXPECT_GT(playing, 0) << "no later picture shown while playing, best distance " << distance;
    std::cout << "[ screenshot ] playing: picture " << playing << " within " << distance << " of 255\n";
    RecordProperty("PlayingDistance", distance);
    ASSERT_TRUE(rig.WaitForComplete(30000)) << "no EC_COMPLETE within 30 s, abort code " << rig.LastAbortCode();
    EXPECT_GE(GetTickCount() - begin, plan.DurationMs * 8 / 10) << "not paced by the clock";
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}

TEST_F(FilterByPathTest, MultimediaCommandsOpenMeasureAndPlayARecording) {
    if (!CWindowCapture::DesktopPresent()) GTEST_SKIP() << "the renderers need the desktop scripts/test.sh provides";
    RecordingPlan plan;
    plan.DurationMs = 2000;
    const std::wstring path = Recording(L"mci.kxr", plan);
    const std::wstring open = L"open \"" + path + L"\" type mpegvideo alias kxclip";
    const MCIERROR error = mciSendStringW(open.c_str(), nullptr, 0, nullptr);
    char reason[128] = {};
    mciGetErrorStringA(error, reason, 128);
    ASSERT_EQ(0u, error) << "open: " << reason;
    wchar_t text[128] = {};
    ASSERT_EQ(0u, mciSendStringW(L"status kxclip length", text, 128, nullptr));
    EXPECT_NEAR(2000, _wtoi(text), 100) << "length in milliseconds";

    // The end of playback arrives as a notification to a window of ours.
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    const DWORD begin = GetTickCount();
    ASSERT_EQ(0u, mciSendStringW(L"play kxclip notify", nullptr, 0, window));
    WPARAM outcome = 0;
    while (outcome == 0 && GetTickCount() - begin < 30000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == MM_MCINOTIFY) outcome = message.wParam;
            DispatchMessageW(&message);
        }
    }
    EXPECT_EQ(static_cast<WPARAM>(MCI_NOTIFY_SUCCESSFUL), outcome) << "playback did not end within 30 s";
    EXPECT_GE(GetTickCount() - begin, plan.DurationMs * 8 / 10) << "not paced by the clock";
    EXPECT_EQ(0u, mciSendStringW(L"close kxclip", nullptr, 0, nullptr));
    DestroyWindow(window);
}

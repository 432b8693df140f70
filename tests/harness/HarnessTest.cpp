#include <gtest/gtest.h>
#include <windows.h>

// The prefix's display driver must allow a hidden window with a message loop:
// the media file reader depends on one.
TEST(Harness, HiddenWindowReceivesPostedMessage) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "KXHARNESSCLASS";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND wnd = CreateWindowExA(0, "KXHARNESSCLASS", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(PostMessageA(wnd, WM_USER + 100, 0, 0));
    MSG msg{};
    ASSERT_GT(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 100));
    DestroyWindow(wnd);
    UnregisterClassA("KXHARNESSCLASS", nullptr);
}

TEST(Harness, RunsAsAProcessOfTheBuildsWidth) {
#ifdef _WIN64
    EXPECT_EQ(sizeof(void*), 8u);
#else
    EXPECT_EQ(sizeof(void*), 4u);
#endif
}

// The Win32 window of a frame, in a top-level window that plays the host's editor window.
// Needs a window system (under Wine: an X display such as Xvfb); skipped without one.

#include "tests/toolkit/toolkit_fixture.h"

#include <windows.h>

#include <string>

using tktest::stripColor;

namespace {

constexpr wchar_t kHostClass[] = L"QrWindowTestHost";

LPARAM at(int x, int y) {
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

void pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// A visible top-level window whose client area has the given size, away from the screen's
// corner so that screen and client coordinates differ.
HWND makeHost(int width, int height) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kHostClass;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    RECT outer{0, 0, width, height};
    AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
    HWND host = CreateWindowExW(0, kHostClass, L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 60, 50,
                                outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    pump();
    return host;
}

CRect clientRect(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return CRect(client.left, client.top, client.right, client.bottom);
}

// Menus are windows of this system class while they are open.
HWND openMenu() {
    return FindWindowW(L"#32768", nullptr);
}

} // namespace

class Window : public ::testing::Test {
  protected:
    Window() : editor(log), listener(log) {}

    void SetUp() override {
        host = makeHost(573, 394);
        if (!host) GTEST_SKIP() << "no window system";
        frame = new CFrame(CRect(0, 0, 573, 394), host, &editor);
        ASSERT_NE(frame->getPlatformWindow(), nullptr);
        child = static_cast<HWND>(frame->getPlatformWindow()->getNativeHandle());
    }

    void TearDown() override {
        delete frame;
        if (host) DestroyWindow(host);
        pump();
    }

    CAnimKnob* addKnob() {
        CBitmap* strip = tktest::makeStrip(30, 30, 41);
        auto* knob = new CAnimKnob(CRect(25, 62, 55, 92), &listener, 1, 41, 30, strip, {});
        strip->forget();
        frame->addView(knob);
        return knob;
    }

    tktest::Log log;
    tktest::RecordingEditor editor;
    tktest::RecordingListener listener;
    HWND host = nullptr;
    HWND child = nullptr;
    CFrame* frame = nullptr;
};

TEST_F(Window, IsAVisibleChildOfTheHostWindowWithTheFramesSize) {
    ASSERT_TRUE(IsWindow(child));
    EXPECT_EQ(GetParent(child), host);
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_EQ(clientRect(child), CRect(0, 0, 573, 394));

    // A parent that is not a window gives an offscreen-only frame, not a crash.
    CFrame orphan(CRect(0, 0, 10, 10), reinterpret_cast<void*>(0x1234), &editor);
    EXPECT_EQ(orphan.getPlatformWindow(), nullptr);
}

TEST_F(Window, DragCapturesTheMouseUntilTheRelease) {
    CAnimKnob* knob = addKnob();
    SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(40, 77));
    EXPECT_EQ(GetCapture(), child);
    // Outside the window while captured: negative client coordinates.
    SendMessageW(child, WM_MOUSEMOVE, MK_LBUTTON, at(40, -23));
    EXPECT_FLOAT_EQ(knob->getValue(), 0.5f);
    SendMessageW(child, WM_LBUTTONUP, 0, at(40, -23));
    EXPECT_NE(GetCapture(), child);
    EXPECT_FALSE(frame->isTrackingMouse());
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 1", "changed 1 0.50", "end 1"}));

    // Moves without a pressed gesture change nothing.
    SendMessageW(child, WM_MOUSEMOVE, 0, at(40, 0));
    EXPECT_FLOAT_EQ(knob->getValue(), 0.5f);
}

TEST_F(Window, LosingTheCaptureEndsTheGesture) {
    CAnimKnob* knob = addKnob();
    SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(40, 77));
    SendMessageW(child, WM_MOUSEMOVE, MK_LBUTTON, at(40, 57));
    SetCapture(host); // another window takes the mouse
    EXPECT_FALSE(frame->isTrackingMouse());
    EXPECT_EQ(log.events.back(), "end 1");
    const float value = knob->getValue();
    SendMessageW(child, WM_MOUSEMOVE, MK_LBUTTON, at(40, 0));
    SendMessageW(child, WM_LBUTTONUP, 0, at(40, 0));
    EXPECT_FLOAT_EQ(knob->getValue(), value);
    ReleaseCapture();
}

TEST_F(Window, WheelNotchesArriveAtTheScreenPointsClientCoordinates) {
    CAnimKnob* knob = addKnob();
    POINT onKnob{40, 77};
    ClientToScreen(child, &onKnob);
    SendMessageW(child, WM_MOUSEWHEEL, MAKEWPARAM(0, 2 * WHEEL_DELTA), at(onKnob.x, onKnob.y));
    EXPECT_NEAR(knob->getValue(), 0.02f, 1e-6f);
    SendMessageW(child, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)),
                 at(onKnob.x, onKnob.y));
    EXPECT_NEAR(knob->getValue(), 0.01f, 1e-6f);
    // The client point itself, read as a screen point, lies beside the knob.
    SendMessageW(child, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), at(40, 77));
    EXPECT_NEAR(knob->getValue(), 0.01f, 1e-6f);
}

TEST_F(Window, PaintingShowsTheFrameAndClearsItsDirtyRegion) {
    auto* states = tktest::makeStrip(40, 20, 2);
    auto* button = new COnOffButton(CRect(100, 100, 140, 120), &listener, 5, states);
    states->forget();
    frame->addView(button);
    button->setValue(1.0f);
    button->invalid();
    EXPECT_FALSE(frame->getDirtyRect().isEmpty());
    frame->idle();
    EXPECT_TRUE(frame->getDirtyRect().isEmpty());

    HDC dc = GetDC(child);
    ASSERT_NE(dc, nullptr);
    const std::uint32_t shown = stripColor(1);
    const COLORREF expected = RGB((shown >> 16) & 0xFF, (shown >> 8) & 0xFF, shown & 0xFF);
    EXPECT_EQ(GetPixel(dc, 100, 100), expected);
    EXPECT_EQ(GetPixel(dc, 139, 119), expected);
    EXPECT_EQ(GetPixel(dc, 99, 100), RGB(0, 0, 0)) << "uncovered parts show black";
    ReleaseDC(child, dc);
}

TEST_F(Window, ResizingTakesAlongTheHostWindowThatFitsTheFrame) {
    frame->setSize(573, 27);
    EXPECT_EQ(clientRect(child), CRect(0, 0, 573, 27));
    EXPECT_EQ(clientRect(host), CRect(0, 0, 573, 27));
    frame->setSize(573, 394);
    EXPECT_EQ(clientRect(child), CRect(0, 0, 573, 394));
    EXPECT_EQ(clientRect(host), CRect(0, 0, 573, 394));

    // A host window larger than the frame is the host's own business.
    HWND roomy = CreateWindowExW(0, kHostClass, L"roomy", WS_CHILD | WS_VISIBLE, 0, 0, 600, 420,
                                 host, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(roomy, nullptr);
    {
        CFrame inner(CRect(0, 0, 573, 394), roomy, &editor);
        inner.setSize(573, 27);
        EXPECT_EQ(clientRect(static_cast<HWND>(inner.getPlatformWindow()->getNativeHandle())),
                  CRect(0, 0, 573, 27));
        EXPECT_EQ(clientRect(roomy), CRect(0, 0, 600, 420));
        EXPECT_EQ(clientRect(host), CRect(0, 0, 573, 394));
    }
    DestroyWindow(roomy);
}

namespace {

// What a timer saw of the open menu, and the keys it sent there.
struct MenuScript {
    std::vector<WPARAM> keys; // empty: dismiss the menu
    RECT menuRect{};
    bool sawMenu = false;
};
MenuScript* activeScript = nullptr; // test-only: timer procedures carry no context

void CALLBACK driveMenu(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menu = openMenu();
    if (!menu || !activeScript) return;
    KillTimer(nullptr, id);
    activeScript->sawMenu = true;
    GetWindowRect(menu, &activeScript->menuRect);
    if (activeScript->keys.empty()) {
        EndMenu();
        return;
    }
    for (WPARAM key : activeScript->keys) {
        PostMessageW(menu, WM_KEYDOWN, key, 0);
        PostMessageW(menu, WM_KEYUP, key, 0);
    }
}

} // namespace

TEST_F(Window, PopupMenuOpensBelowTheMenuAndAnswersTheChoice) {
    auto* menu = new COptionMenu(CRect(234, 0, 410, 25), &listener, 4);
    menu->addEntry("Port A");
    menu->addEntry("Caf\xE9 & Bar");
    menu->addEntry("Refresh");
    menu->setValue(0.0f);
    frame->addView(menu);

    MenuScript choose{{VK_DOWN, VK_DOWN, VK_RETURN}};
    activeScript = &choose;
    SetTimer(nullptr, 0, 100, driveMenu);
    SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(300, 10));
    SendMessageW(child, WM_LBUTTONUP, 0, at(300, 10));
    ASSERT_TRUE(choose.sawMenu);
    POINT anchor{234, 25};
    ClientToScreen(child, &anchor);
    EXPECT_EQ(choose.menuRect.left, anchor.x);
    EXPECT_EQ(choose.menuRect.top, anchor.y);
    EXPECT_EQ(menu->getCurrentIndex(), 1);
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 4", "changed 4 1.00", "end 4"}));

    log.events.clear();
    MenuScript dismiss;
    activeScript = &dismiss;
    SetTimer(nullptr, 0, 100, driveMenu);
    SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(300, 10));
    SendMessageW(child, WM_LBUTTONUP, 0, at(300, 10));
    activeScript = nullptr;
    ASSERT_TRUE(dismiss.sawMenu);
    EXPECT_EQ(menu->getCurrentIndex(), 1);
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 4", "end 4"}));
}

TEST_F(Window, TheWindowClassGoesWithTheLastWindow) {
    wchar_t name[128] = {};
    ASSERT_GT(GetClassNameW(child, name, 128), 0);
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(child, GWLP_HINSTANCE));
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;

    auto* second = new CFrame(CRect(0, 0, 50, 50), host, &editor);
    ASSERT_NE(second->getPlatformWindow(), nullptr);
    delete frame;
    frame = nullptr;
    EXPECT_TRUE(GetClassInfoExW(instance, name, &info)) << "still in use";
    delete second;
    EXPECT_FALSE(GetClassInfoExW(instance, name, &info));

    frame = new CFrame(CRect(0, 0, 573, 394), host, &editor); // registered again
    EXPECT_NE(frame->getPlatformWindow(), nullptr);
}

TEST_F(Window, HostDestroyingItsWindowFirstEndsTheDragAndLeavesAWorkingFrame) {
    CAnimKnob* knob = addKnob();
    SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(40, 77));
    DestroyWindow(host);
    host = nullptr;
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(frame->isTrackingMouse());
    EXPECT_EQ(log.events.back(), "end 1");
    // The frame goes on without its window until the editor deletes it.
    knob->setValue(0.3f);
    knob->invalid();
    frame->idle();
    frame->setSize(573, 27);
    EXPECT_EQ(frame->getPlatformWindow()->getNativeHandle(), nullptr);
}

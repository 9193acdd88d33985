// A hand check of the Win32 window backend: a top-level window stands in for a host's editor
// window, and a frame with a few of the plug-in's controls lives in it as a child. Every
// gesture and value change is printed, so a script can drive the window (xdotool under
// Wine and Xvfb) and read what happened.
//
//   window_demo.exe [--seconds N] [--stop FILE] [--png FILE]
//
// Runs until the window is closed, N seconds (default 20) pass or FILE exists; --png then
// renders the same frame offscreen to FILE, for comparison with a screenshot.

#include <windows.h>

#include "toolkit/offscreen.h"
#include "toolkit/toolkit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr UINT_PTR kIdleTimer = 1;
constexpr int kWidth = 573;
constexpr int kHeight = 394;
constexpr int kShrunkHeight = 27;

enum Tag : std::int32_t { kKnob1 = 1, kKnob2, kLink, kMenu, kRefresh, kShrink };

void say(const char* format, auto... values) {
    std::printf(format, values...);
    std::printf("\n");
    std::fflush(stdout);
}

class Editor : public VSTGUIEditorInterface {
  public:
    std::int32_t getKnobMode() const override { return kLinearMode; }
    bool beginEdit(std::int32_t index) override {
        say("begin %d", static_cast<int>(index));
        return true;
    }
    bool endEdit(std::int32_t index) override {
        say("end %d", static_cast<int>(index));
        return true;
    }
    void doIdleStuff() override {
        for (CFrame* frame : framesToIdle)
            frame->idle();
    }
    std::vector<CFrame*> framesToIdle;
};

class Listener : public CControlListener {
  public:
    void valueChanged(CControl* control) override {
        say("changed %d %.3f", static_cast<int>(control->getTag()), control->getValue());
        if (control->getTag() == kKnob1 && label) {
            char text[32];
            std::snprintf(text, sizeof text, "%d dB",
                          static_cast<int>(control->getValue() * 40.0f) + 10);
            label->setText(text);
            label->invalid();
        }
        if (control->getTag() == kShrink && frame)
            frame->setSize(kWidth, control->getValue() > 0.5f ? kShrunkHeight : kHeight);
    }
    CTextEdit* label = nullptr;
    CFrame* frame = nullptr;
};

LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_TIMER && wParam == kIdleTimer) {
        auto* editor = reinterpret_cast<Editor*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (editor) editor->doIdleStuff();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeHost() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = hostProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"QrDemoHost";
    if (!RegisterClassExW(&windowClass)) return nullptr;
    const DWORD style = WS_OVERLAPPEDWINDOW & ~(WS_THICKFRAME | WS_MAXIMIZEBOX);
    RECT outer{0, 0, kWidth, kHeight};
    AdjustWindowRectEx(&outer, style, FALSE, 0);
    return CreateWindowExW(0, windowClass.lpszClassName, L"Toolkit window check",
                           style | WS_VISIBLE, 0, 0, outer.right - outer.left,
                           outer.bottom - outer.top, nullptr, nullptr, windowClass.hInstance,
                           nullptr);
}

// The embedded picture, or a plain one of that size when this build has none.
CBitmap* picture(const char* name, CCoord width, CCoord height, CColor fallback) {
    auto* bitmap = new CBitmap(name);
    if (bitmap->isLoaded()) return bitmap;
    bitmap->forget();
    bitmap = new CBitmap(width, height);
    bitmap->fill(fallback);
    return bitmap;
}

struct Controls {
    CAnimKnob* knob1;
    CAnimKnob* knob2;
    COnOffButton* link;
    COptionMenu* menu;
    COnOffButton* shrink;
};

Controls buildControls(CFrame* frame, Listener& listener) {
    Controls controls{};
    CBitmap* menuBack = picture("BackgroundMenu", kWidth, 30, CColor(60, 60, 70));
    CBitmap* pageBack = picture("BackgroundPage1", kWidth, kHeight, CColor(200, 200, 190));
    CBitmap* knobs = picture("KnobHandle", 30, 30 * 41, CColor(20, 20, 20));
    CBitmap* link = picture("ButtonLinkHandle", 104, 36, CColor(90, 90, 200));
    CBitmap* shrink = picture("ButtonFrameHandle", 120, 50, CColor(90, 200, 90));
    CBitmap* refresh = picture("ButtonRefreshHandle", 94, 50, CColor(200, 90, 90));

    auto* page = new CViewContainer(CRect(0, 30, kWidth, kHeight), frame, pageBack);
    page->setBackgroundOffset(CPoint(0, 30));
    frame->addView(page);
    auto* knob1 = new CAnimKnob(CRect(25, 32, 55, 62), &listener, kKnob1, 41, 30, knobs, {});
    auto* knob2 = new CAnimKnob(CRect(95, 32, 125, 62), &listener, kKnob2, 41, 30, knobs, {});
    knob2->setValue(0.5f);
    page->addView(knob1);
    page->addView(knob2);
    controls.knob1 = knob1;
    controls.knob2 = knob2;
    auto* label = new CTextEdit(CRect(23, 70, 58, 90), &listener, 100, "10 dB");
    label->setTransparency(true);
    label->setFontColor(kBlackCColor);
    label->setMouseEnabled(false);
    page->addView(label);
    listener.label = label;
    controls.link = new COnOffButton(CRect(26, 96, 130, 114), &listener, kLink, link);
    page->addView(controls.link);

    auto* bar = new CViewContainer(CRect(0, 0, kWidth, 30), frame, menuBack);
    frame->addView(bar);
    bar->addView(new CKickButton(CRect(138, 0, 232, 25), &listener, kRefresh, 25, refresh, {}));
    auto* menu = new COptionMenu(CRect(234, 0, 410, 25), &listener, kMenu);
    menu->setTransparency(true);
    menu->setFontColor(kBlackCColor);
    menu->setFont(kNormalFontSmall);
    menu->addEntry("Midi Through Port-0");
    menu->addEntry("Caf\xE9 & Bar"); // Latin-1 and an ampersand
    menu->addEntry("Refresh");
    menu->setValue(0.0f);
    bar->addView(menu);
    controls.menu = menu;
    controls.shrink = new COnOffButton(CRect(412, 0, 532, 25), &listener, kShrink, shrink);
    bar->addView(controls.shrink);

    for (CBitmap* bitmap : {menuBack, pageBack, knobs, link, shrink, refresh})
        bitmap->forget();
    return controls;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 20.0;
    const char* stopFile = nullptr;
    const char* pngFile = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--stop") == 0) stopFile = argv[i + 1];
        if (std::strcmp(argv[i], "--png") == 0) pngFile = argv[i + 1];
    }

    const HWND host = makeHost();
    if (!host) {
        say("no host window (is there a display?)");
        return 2;
    }
    Editor editor;
    Listener listener;
    auto* frame = new CFrame(CRect(0, 0, kWidth, kHeight), host, &editor);
    if (!frame->getPlatformWindow()) {
        say("no frame window");
        return 3;
    }
    listener.frame = frame;
    editor.framesToIdle.push_back(frame);
    const Controls controls = buildControls(frame, listener);
    SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&editor));
    SetTimer(host, kIdleTimer, 50, nullptr);
    say("ready host=%p child=%p", static_cast<void*>(host),
        frame->getPlatformWindow()->getNativeHandle());

    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    bool running = true;
    while (running && GetTickCount64() < end) {
        if (stopFile && GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) running = false;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    RECT client{};
    GetClientRect(host, &client);
    say("host client %ldx%ld", client.right, client.bottom);
    say("final knob1 %.3f knob2 %.3f link %.0f menu %d shrink %.0f", controls.knob1->getValue(),
        controls.knob2->getValue(), controls.link->getValue(),
        static_cast<int>(controls.menu->getCurrentIndex()), controls.shrink->getValue());
    if (pngFile) {
        toolkit::OffscreenSurface surface(frame->getWidth(), frame->getHeight());
        frame->render(surface.context());
        say("offscreen %s: %s", pngFile, surface.writePng(pngFile) ? "written" : "failed");
    }
    KillTimer(host, kIdleTimer);
    SetWindowLongPtrW(host, GWLP_USERDATA, 0);
    delete frame;
    if (IsWindow(host)) DestroyWindow(host);
    return 0;
}

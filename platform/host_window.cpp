#include "platform/host_window.h"

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace platform {
namespace {

constexpr wchar_t kClassName[] = L"QuorvelHostWindow";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 1);  // closed by the user
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class Win32HostWindow : public HostWindow {
public:
    explicit Win32HostWindow(HWND window) : window(window) {}
    ~Win32HostWindow() override { DestroyWindow(window); }

    void* nativeHandle() const override { return window; }

    void setClientSize(int width, int height) override {
        RECT frame{0, 0, width, height};
        AdjustWindowRect(&frame, kStyle, FALSE);
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    bool processEvents() override {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return GetWindowLongPtrW(window, GWLP_USERDATA) == 0;
    }

    // Sent, not posted: the plug-in's window procedure runs before this returns, on this
    // thread, as it would for the user's mouse.
    bool sendPointer(Pointer what, int x, int y) override {
        HWND child = GetWindow(window, GW_CHILD);
        if (!child) return false;
        const LPARAM where = MAKELPARAM(x, y);
        switch (what) {
        case Pointer::Press:
            SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, where);
            break;
        case Pointer::Move:
            SendMessageW(child, WM_MOUSEMOVE, MK_LBUTTON, where);
            break;
        case Pointer::Release:
            SendMessageW(child, WM_LBUTTONUP, 0, where);
            break;
        }
        return true;
    }

private:
    HWND window;
};

} // namespace

std::unique_ptr<HostErrorHandler> HostErrorHandler::install(std::string& whyNot) {
    whyNot = "Windows has no process-wide handler of window-system errors";
    return nullptr;
}

std::unique_ptr<HostWindow> HostWindow::create(const std::string& title, int width, int height) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = hostWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);  // fails harmlessly when already registered

    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, kStyle, FALSE);
    const int length = MultiByteToWideChar(CP_UTF8, 0, title.c_str(), -1, nullptr, 0);
    std::wstring wideTitle(length > 0 ? static_cast<std::size_t>(length) : 1u, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, title.c_str(), -1, wideTitle.data(), length);
    HWND window = CreateWindowExW(0, kClassName, wideTitle.c_str(), kStyle, 0, 0,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return std::make_unique<Win32HostWindow>(window);
}

} // namespace platform

#else

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <cstdint>

#include "platform/shared_library.h"

namespace platform {
namespace {

class X11HostWindow : public HostWindow {
public:
    X11HostWindow(Display* display, Window window, Atom deleteAtom)
        : display(display), window(window), deleteAtom(deleteAtom) {}
    ~X11HostWindow() override {
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }

    void* nativeHandle() const override {
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window));
    }

    void setClientSize(int width, int height) override {
        fixSize(width, height);
        XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XFlush(display);
    }

    bool processEvents() override {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ClientMessage &&
                static_cast<Atom>(event.xclient.data.l[0]) == deleteAtom)
                open = false;
        }
        return open;
    }

    // A synthetic event to the topmost child window: the plug-in's window, on a connection of
    // the plug-in's own. The round trip makes sure the server has queued it there.
    bool sendPointer(Pointer what, int x, int y) override {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count)) return false;
        const Window target = count > 0 ? children[count - 1] : 0;
        if (children) XFree(children);
        if (!target) return false;
        XEvent event{};
        long mask = 0;
        if (what == Pointer::Move) {
            XMotionEvent& motion = event.xmotion;
            motion.type = MotionNotify;
            motion.window = target;
            motion.root = root;
            motion.x = motion.x_root = x;
            motion.y = motion.y_root = y;
            motion.state = Button1Mask;
            motion.is_hint = NotifyNormal;
            motion.same_screen = True;
            mask = PointerMotionMask | Button1MotionMask;
        } else {
            XButtonEvent& button = event.xbutton;
            button.type = what == Pointer::Press ? ButtonPress : ButtonRelease;
            button.window = target;
            button.root = root;
            button.x = button.x_root = x;
            button.y = button.y_root = y;
            // The state is what was held before this event.
            button.state = what == Pointer::Press ? 0 : Button1Mask;
            button.button = Button1;
            button.same_screen = True;
            mask = what == Pointer::Press ? ButtonPressMask : ButtonReleaseMask;
        }
        XSendEvent(display, target, False, mask, &event);
        XSync(display, False);
        return true;
    }

    // The editor decides the size; the window manager should not offer to change it.
    void fixSize(int width, int height) {
        XSizeHints* hints = XAllocSizeHints();
        if (!hints) return;
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
        XSetWMNormalHints(display, window, hints);
        XFree(hints);
    }

private:
    Display* display;
    Window window;
    Atom deleteAtom;
    bool open = true;
};

} // namespace

std::unique_ptr<HostWindow> HostWindow::create(const std::string& title, int width, int height) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    const int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                                        static_cast<unsigned>(width), static_cast<unsigned>(height),
                                        0, BlackPixel(display, screen),
                                        WhitePixel(display, screen));
    XStoreName(display, window, title.c_str());
    Atom deleteAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteAtom, 1);
    auto host = std::make_unique<X11HostWindow>(display, window, deleteAtom);
    host->fixSize(width, height);
    XMapRaised(display, window);
    XSync(display, False);
    return host;
}

namespace {

std::atomic<int> hostErrorsSeen{0};

int countHostError(Display*, XErrorEvent*) {
    ++hostErrorsSeen;
    return 0;
}

class X11HostErrorHandler : public HostErrorHandler {
public:
    explicit X11HostErrorHandler(Display* display)
        : display(display), previous(XSetErrorHandler(countHostError)) {}
    ~X11HostErrorHandler() override {
        XSetErrorHandler(previous);
        XCloseDisplay(display);
    }

    bool stillInstalled(std::string& instead) const override {
        // Xlib only tells the handler it replaces, so look by replacing and putting back.
        const XErrorHandler current = XSetErrorHandler(countHostError);
        XSetErrorHandler(current);
        if (current == countHostError) return true;
        instead = SharedLibrary::moduleOf(reinterpret_cast<const void*>(current));
        if (instead.empty()) instead = "code in no loaded module (an unloaded library's)";
        return false;
    }

    void reinstall() override { XSetErrorHandler(countHostError); }

    bool provokeError() override {
        const int before = hostErrorsSeen.load();
        // No window has this id: BadWindow, reported once the request has been handled.
        XMapWindow(display, static_cast<Window>(1));
        XSync(display, False);
        return hostErrorsSeen.load() > before;
    }

private:
    Display* display;
    XErrorHandler previous;
};

} // namespace

std::unique_ptr<HostErrorHandler> HostErrorHandler::install(std::string& whyNot) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        whyNot = "no X display";
        return nullptr;
    }
    return std::make_unique<X11HostErrorHandler>(display);
}

} // namespace platform

#endif

// The fake remote's window on X11: an unpainted child window on a connection of its own.

#include "tests/host/fake_remote_window.h"

#include <X11/Xlib.h>

#include <cstdint>

namespace fake_remote {
namespace {

int fakeErrorHandler(Display*, XErrorEvent*) {
    return 0;
}

class X11Window : public SystemWindow {
  public:
    X11Window(Display* display, Window window, WindowEvents& events)
        : display(display), window(window), events(events) {}
    ~X11Window() override {
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }

    void idle() override {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.xany.window != window) continue;
            if (event.type == ButtonPress && event.xbutton.button == Button1)
                events.pressed(event.xbutton.x, event.xbutton.y);
            else if (event.type == MotionNotify)
                events.moved(event.xmotion.x, event.xmotion.y);
            else if (event.type == ButtonRelease && event.xbutton.button == Button1)
                events.released(event.xbutton.x, event.xbutton.y);
        }
    }

    void resize(int width, int height) override {
        XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XFlush(display);
    }

  private:
    Display* display;
    Window window;
    WindowEvents& events;
};

} // namespace

std::unique_ptr<SystemWindow> SystemWindow::open(void* parent, int width, int height,
                                                 WindowEvents& events, bool leaveErrorHandler) {
    const auto parentWindow = static_cast<Window>(reinterpret_cast<std::uintptr_t>(parent));
    if (!parentWindow) return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    if (leaveErrorHandler) XSetErrorHandler(fakeErrorHandler);
    XSetWindowAttributes attributes{};
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    const Window window = XCreateWindow(display, parentWindow, 0, 0, static_cast<unsigned>(width),
                                        static_cast<unsigned>(height), 0, CopyFromParent,
                                        InputOutput, CopyFromParent, CWEventMask, &attributes);
    XMapWindow(display, window);
    XSync(display, False);
    return std::make_unique<X11Window>(display, window, events);
}

} // namespace fake_remote

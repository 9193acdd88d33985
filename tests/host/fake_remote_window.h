#pragma once
// The fake remote's window on the system: a plain child of the host's window on a display
// connection of its own, which reports left-button events and can change its size. One file
// per window system (fake_remote_window_x11.cpp, fake_remote_window_none.cpp).

#include <memory>

namespace fake_remote {

class WindowEvents {
  public:
    virtual ~WindowEvents() = default;
    virtual void pressed(int x, int y) = 0;
    virtual void moved(int x, int y) = 0;
    virtual void released(int x, int y) = 0;
};

class SystemWindow {
  public:
    // Null where there is no window system or the parent is unusable. With `leaveErrorHandler`
    // it installs an error handler of its own and never puts the host's back: the fault the
    // validator's windows check must find.
    static std::unique_ptr<SystemWindow> open(void* parent, int width, int height,
                                              WindowEvents& events, bool leaveErrorHandler);
    virtual ~SystemWindow() = default;
    // Hands what the window system has for the window to `events`.
    virtual void idle() = 0;
    virtual void resize(int width, int height) = 0;
};

} // namespace fake_remote

#pragma once
// A plain top-level window for our own host program: the parent a plug-in's editor opens in.
// X11 on Linux, Win32 on Windows.

#include <memory>
#include <string>

namespace platform {

class HostWindow {
public:
    // Null when there is no window system to talk to (no display).
    static std::unique_ptr<HostWindow> create(const std::string& title, int width, int height);
    virtual ~HostWindow() = default;

    // The handle a plug-in's editor takes as its parent: an X11 Window id or an HWND.
    virtual void* nativeHandle() const = 0;
    // Resizes the client area.
    virtual void setClientSize(int width, int height) = 0;
    // Handles what the window system has for this window; false once the user closed it.
    virtual bool processEvents() = 0;

    // A left-button event for the window a plug-in opened inside this one, at (x, y) in that
    // window's coordinates, delivered as the window system delivers a user's. False when no
    // window of the plug-in is there.
    enum class Pointer { Press, Move, Release };
    virtual bool sendPointer(Pointer what, int x, int y) = 0;
};

// The host's own handler of the window system's protocol errors, on systems where there is
// one handler for the whole process (Xlib's). A plug-in that installs its own and leaves it
// behind swallows the host's errors, and once unloaded turns the next one into a crash.
class HostErrorHandler {
  public:
    // Installs the host's handler; null (and why not) where the system has no such handler or
    // no display.
    static std::unique_ptr<HostErrorHandler> install(std::string& whyNot);
    virtual ~HostErrorHandler() = default;

    // Whether the host's handler is still the one installed; if not, `instead` names the
    // module whose code is installed.
    virtual bool stillInstalled(std::string& instead) const = 0;
    // Puts the host's handler back.
    virtual void reinstall() = 0;
    // One protocol error on a connection of the host's; answers whether the host's handler saw
    // it.
    virtual bool provokeError() = 0;
};

} // namespace platform

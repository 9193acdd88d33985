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
};

} // namespace platform

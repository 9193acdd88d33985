#pragma once
// The seam between the portable toolkit and one window system. A backend file supplies
// createPlatformWindow (the window of a CFrame, a child of the host's window) and decodePng;
// the frame supplies the callbacks the window reports paint and mouse events to.

#include "toolkit/geometry.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace toolkit {

class DrawContext;

// Mouse buttons and modifier keys of a mouse event, or-ed together.
enum MouseButtons : long {
    kLButton = 1 << 0,
    kMButton = 1 << 1,
    kRButton = 1 << 2,
    kShift = 1 << 3,
    kControl = 1 << 4,
    kAlt = 1 << 5,
};

struct PopupEntry {
    std::string title;  // 8-bit Latin-1
    std::int32_t flags; // COptionMenu entry flags
};

// What a platform window calls on its frame. Coordinates are the window's, in pixels.
class IPlatformFrame {
  public:
    // Paint `area` now into `context` (set up for the window's surface).
    virtual void platformPaint(DrawContext& context, const CRect& area) = 0;
    virtual bool platformMouseDown(CPoint where, long buttons) = 0;
    virtual void platformMouseMoved(CPoint where, long buttons) = 0;
    virtual void platformMouseUp(CPoint where, long buttons) = 0;
    // distance: notches, positive away from the user.
    virtual bool platformWheel(CPoint where, float distance, long buttons) = 0;
    // The system took the mouse away during a drag (capture lost, window gone).
    virtual void platformMouseCancel() = 0;

  protected:
    ~IPlatformFrame() = default;
};

// One native child window. All calls come from the window's thread.
class IPlatformWindow {
  public:
    virtual ~IPlatformWindow() = default;

    virtual void* getNativeHandle() const = 0;
    // Resizes the child window (and whatever enclosing windows the platform must follow).
    virtual void setSize(CCoord width, CCoord height) = 0;
    // Asks for `rect` to be repainted; it is painted at the next processEvents or flushPaint
    // at the latest.
    virtual void invalidRect(const CRect& rect) = 0;
    // Dispatches pending window-system events (input, exposure) to the frame, then paints
    // what is invalid. Called from the editor's idle.
    virtual void processEvents() = 0;
    // Paints what is invalid, without dispatching input. Safe inside an event callback.
    virtual void flushPaint() = 0;
    // Shows a popup menu below `anchor` (window coordinates) and waits for the user;
    // answers the chosen entry's position or -1 when dismissed.
    virtual int popupMenu(const CRect& anchor, const std::vector<PopupEntry>& entries,
                          int currentIndex) = 0;
    // Keeps mouse events coming to this window while a drag lasts.
    virtual void beginMouseCapture() = 0;
    virtual void endMouseCapture() = 0;
};

// Creates the window of a frame as a child of `parent` (HWND, X11 Window id, ...), or
// answers null where the backend has no window system.
std::unique_ptr<IPlatformWindow> createPlatformWindow(void* parent, CCoord width, CCoord height,
                                                      IPlatformFrame& frame);

struct PixelImage {
    CCoord width = 0;
    CCoord height = 0;
    std::vector<std::uint32_t> pixels; // premultiplied ARGB, like CBitmap
};

// Decodes PNG bytes; false (and `out` untouched) when they do not decode.
bool decodePng(const void* data, std::size_t size, PixelImage& out);

// The bytes of an embedded resource by name (empty when there is none).
std::vector<unsigned char> loadResource(const char* name);

// 8-bit Latin-1 text to UTF-8, for backends whose text APIs take UTF-8.
std::string latin1ToUtf8(const char* text);

} // namespace toolkit

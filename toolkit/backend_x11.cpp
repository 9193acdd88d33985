// Windows on X11: a child of the host's window on a connection of its own, painted with cairo
// into an image back buffer that goes to the window as an X image, and driven from the
// editor's idle (no threads of its own).
#include "toolkit/cairocontext.h"
#include "toolkit/controls.h"
#include "toolkit/platformwindow.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <time.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
// The per-connection error hook is declared with Xlib's extension interface, which also
// defines min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace toolkit {

namespace {

// Xlib hands protocol errors to one handler for the whole process, which is the host's (and
// whose default ends the process); swapping it from several threads cannot be made safe.
// Errors of our own connections never get there: every display we open drops them in its own
// per-connection conversion hook, and the calls whose failure matters check their results.
// Xlib's thread support is the library's own business (it initialises itself when loaded), and
// the atoms we intern live in the server, so closing the display leaves nothing of ours behind.
Bool dropError(Display* /*display*/, XErrorEvent* /*error*/, xError* /*wire*/) {
    return False;
}

void keepErrorsOnConnection(Display* display) {
    for (int code = 1; code < 256; ++code)
        XESetWireToError(display, code, dropError);
}

constexpr long kWindowEvents =
    ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
constexpr unsigned kPointerButtonMasks = Button1Mask | Button2Mask | Button3Mask;

long modifierBits(unsigned state) {
    long bits = 0;
    if (state & ShiftMask) bits |= kShift;
    if (state & ControlMask) bits |= kControl;
    if (state & Mod1Mask) bits |= kAlt;
    return bits;
}

long heldButtonBits(unsigned state) {
    long bits = 0;
    if (state & Button1Mask) bits |= kLButton;
    if (state & Button2Mask) bits |= kMButton;
    if (state & Button3Mask) bits |= kRButton;
    return bits;
}

long buttonBit(unsigned button) {
    switch (button) {
    case Button1:
        return kLButton;
    case Button2:
        return kMButton;
    case Button3:
        return kRButton;
    default:
        return 0;
    }
}

unsigned buttonMask(unsigned button) {
    switch (button) {
    case Button1:
        return Button1Mask;
    case Button2:
        return Button2Mask;
    case Button3:
        return Button3Mask;
    default:
        return 0;
    }
}

void sleepMilliseconds(long milliseconds) {
    timespec pause{0, milliseconds * 1000000L};
    nanosleep(&pause, nullptr);
}

// Puts areas of a cairo image (RGB24) on windows of one visual. Xlib alone does the transfer:
// cairo's own X11 surfaces would swap the process-wide error handler whenever a connection is
// set up or closed, which races between threads and can leave a handler of a library we
// loaded installed in the host.
class ImageUpload {
  public:
    ImageUpload() = default;
    ~ImageUpload() { release(); }
    ImageUpload(const ImageUpload&) = delete;
    ImageUpload& operator=(const ImageUpload&) = delete;

    // False when the visual's pixels are not made of colour masks (not TrueColor).
    bool init(Display* newDisplay, Drawable drawable, Visual* newVisual, int newDepth) {
        display = newDisplay;
        visual = newVisual;
        depth = newDepth;
        if (!visual || visual->c_class != TrueColor) return false;
        gc = XCreateGC(display, drawable, 0, nullptr);
        return gc != nullptr;
    }
    // Frees the server's side; must come before the connection closes.
    void release() {
        if (gc) XFreeGC(display, gc);
        gc = nullptr;
    }
    void put(Drawable target, cairo_surface_t* image, const CRect& area);

  private:
    Display* display = nullptr;
    Visual* visual = nullptr;
    int depth = 0;
    GC gc = nullptr;
    std::vector<char> pixels; // the X image's rows, reused from one paint to the next
};

// One colour channel (0 to 255) scaled into the bits of `mask`.
unsigned long toMask(unsigned value, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const unsigned long top = mask >> shift;
    return ((value * top + 127) / 255) << shift;
}

void ImageUpload::put(Drawable target, cairo_surface_t* image, const CRect& area) {
    if (!gc || area.isEmpty()) return;
    cairo_surface_flush(image);
    const unsigned char* source = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    if (!source) return;
    const auto width = static_cast<unsigned>(area.getWidth());
    const auto height = static_cast<unsigned>(area.getHeight());
    XImage* xImage = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                                  nullptr, width, height, 32, 0);
    if (!xImage) return;
    pixels.resize(static_cast<std::size_t>(xImage->bytes_per_line) * height);
    xImage->data = pixels.data();
    // Pixels are written in this machine's byte order; Xlib reorders them for the server.
    xImage->byte_order = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
    // Bits of the depth that belong to no colour (alpha of 32-bit visuals) are opaque.
    const unsigned long used = visual->red_mask | visual->green_mask | visual->blue_mask;
    const unsigned long opaque = (depth >= 32 ? ~0UL : ((1UL << depth) - 1)) & 0xFFFFFFFFUL & ~used;
    const bool plain = xImage->bits_per_pixel == 32 && visual->red_mask == 0xFF0000 &&
                       visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
    for (unsigned y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            source + static_cast<std::ptrdiff_t>(area.top + static_cast<int>(y)) * stride +
            static_cast<std::ptrdiff_t>(area.left) * 4);
        char* out = pixels.data() + static_cast<std::size_t>(xImage->bytes_per_line) * y;
        if (plain) {
            auto* line = reinterpret_cast<std::uint32_t*>(out);
            for (unsigned x = 0; x < width; ++x)
                line[x] = (row[x] & 0xFFFFFFu) | static_cast<std::uint32_t>(opaque);
            continue;
        }
        for (unsigned x = 0; x < width; ++x) {
            const std::uint32_t rgb = row[x];
            XPutPixel(xImage, static_cast<int>(x), static_cast<int>(y),
                      toMask((rgb >> 16) & 0xFF, visual->red_mask) |
                          toMask((rgb >> 8) & 0xFF, visual->green_mask) |
                          toMask(rgb & 0xFF, visual->blue_mask) | opaque);
        }
    }
    XPutImage(display, target, gc, xImage, 0, 0, area.left, area.top, width, height);
    xImage->data = nullptr; // ours, not Xlib's to free
    XDestroyImage(xImage);
}

// ---------------------------------------------------------------------------------------
// The popup menu: an override-redirect window on the root that holds the pointer and the
// keyboard until a choice or a dismissal.

class X11Window;

class PopupMenu {
  public:
    PopupMenu(Display* display, int screen, const std::vector<PopupEntry>& entries,
              int currentIndex);
    ~PopupMenu();
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;

    // Places the menu below `anchor` (root coordinates), or above it where the screen ends.
    bool open(const CRect& anchor);
    Window getWindow() const { return popup; }

    // Input for the menu; each answers true once the menu is done (see `result`).
    bool onMotion(CPoint where);
    bool onPress(CPoint where, unsigned button);
    bool onRelease(CPoint where, unsigned button);
    bool onKey(KeySym key);
    void invalidate() { needsPaint = true; }
    void paintIfNeeded();
    int result() const { return chosen; }

  private:
    static constexpr CCoord kRowHeight = 18;
    static constexpr CCoord kSeparatorHeight = 7;
    static constexpr CCoord kBorder = 1;
    static constexpr CCoord kMarkWidth = 18; // room for the check mark
    static constexpr CCoord kRightPadding = 12;

    bool selectable(int index) const;
    int entryAt(CPoint where) const;
    void setHighlight(int index);
    void layout(CCoord minWidth, CCoord maxHeight);

    Display* display;
    int screen;
    const std::vector<PopupEntry>& entries;
    int currentIndex;
    std::vector<CRect> rows; // one per entry, in menu coordinates
    CCoord width = 0;
    CCoord height = 0;
    Window popup = 0;
    ImageUpload upload;
    cairo_surface_t* buffer = nullptr;
    int highlight = -1;
    int chosen = -1;
    bool armed = false; // a release may choose: the pointer moved or pressed in the menu
    bool needsPaint = true;
};

PopupMenu::PopupMenu(Display* display, int screen, const std::vector<PopupEntry>& entries,
                     int currentIndex)
    : display(display), screen(screen), entries(entries), currentIndex(currentIndex) {}

PopupMenu::~PopupMenu() {
    if (buffer) cairo_surface_destroy(buffer);
    if (popup) {
        XUngrabKeyboard(display, CurrentTime);
        XUngrabPointer(display, CurrentTime);
        XDestroyWindow(display, popup);
        XFlush(display);
    }
}

bool PopupMenu::selectable(int index) const {
    if (index < 0 || index >= static_cast<int>(entries.size())) return false;
    return (entries[static_cast<std::size_t>(index)].flags &
            (COptionMenu::kDisabledEntry | COptionMenu::kTitleEntry |
             COptionMenu::kSeparatorEntry)) == 0;
}

void PopupMenu::layout(CCoord minWidth, CCoord maxHeight) {
    // Text widths with the menu's font, measured on a scratch surface.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cairo = cairo_create(scratch);
    cairo_set_font_size(cairo, kNormalFontSmall.size);
    CCoord textWidth = 0;
    for (const PopupEntry& entry : entries) {
        const bool title = (entry.flags & COptionMenu::kTitleEntry) != 0;
        cairo_select_font_face(cairo, cairoFontFamily(kNormalFontSmall.name),
                               CAIRO_FONT_SLANT_NORMAL,
                               title ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_text_extents_t extents;
        cairo_text_extents(cairo, latin1ToUtf8(entry.title.c_str()).c_str(), &extents);
        textWidth = std::max(textWidth, static_cast<CCoord>(extents.x_advance + 0.999));
    }
    cairo_destroy(cairo);
    cairo_surface_destroy(scratch);

    // Rows top to bottom; a list taller than the screen continues in further columns.
    const CCoord columnWidth =
        std::max(minWidth - 2 * kBorder, kMarkWidth + textWidth + kRightPadding);
    const CCoord limit = std::max(kRowHeight, maxHeight - 2 * kBorder);
    CCoord x = kBorder;
    CCoord y = kBorder;
    CCoord bottom = y;
    rows.clear();
    for (const PopupEntry& entry : entries) {
        const CCoord rowHeight =
            (entry.flags & COptionMenu::kSeparatorEntry) ? kSeparatorHeight : kRowHeight;
        if (y > kBorder && y + rowHeight - kBorder > limit) {
            x += columnWidth;
            y = kBorder;
        }
        rows.emplace_back(x, y, x + columnWidth, y + rowHeight);
        y += rowHeight;
        bottom = std::max(bottom, y);
    }
    width = x + columnWidth + kBorder;
    height = bottom + kBorder;
}

bool PopupMenu::open(const CRect& anchor) {
    const CCoord screenWidth = DisplayWidth(display, screen);
    const CCoord screenHeight = DisplayHeight(display, screen);
    layout(anchor.getWidth(), screenHeight);

    CCoord x = std::clamp(anchor.left, 0, std::max(0, screenWidth - width));
    CCoord y = anchor.bottom;
    if (y + height > screenHeight)
        y = anchor.top - height >= 0 ? anchor.top - height : std::max(0, screenHeight - height);

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.save_under = True;
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | StructureNotifyMask;
    popup =
        XCreateWindow(display, RootWindow(display, screen), x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWSaveUnder | CWBackPixmap | CWEventMask, &attributes);
    if (!popup) return false;
    XStoreName(display, popup, "Popup menu");
    const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    const Atom popupType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_POPUP_MENU", False);
    XChangeProperty(display, popup, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&popupType), 1);

    buffer = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (!upload.init(display, popup, DefaultVisual(display, screen),
                     DefaultDepth(display, screen)) ||
        cairo_surface_status(buffer) != CAIRO_STATUS_SUCCESS)
        return false;

    XMapRaised(display, popup);
    XSync(display, False);
    // Without the pointer a click elsewhere would never reach us, so no grab means no menu.
    // A grab can fail for a moment while another client's grab ends.
    bool grabbed = false;
    for (int attempt = 0; attempt < 20 && !grabbed; ++attempt) {
        grabbed =
            XGrabPointer(display, popup, False,
                         ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                         GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
        if (!grabbed) sleepMilliseconds(10);
    }
    if (!grabbed) return false;
    // The keyboard is only for Escape and the arrows; the menu works without it.
    XGrabKeyboard(display, popup, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    return true;
}

int PopupMenu::entryAt(CPoint where) const {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].pointInside(where)) return static_cast<int>(i);
    return -1;
}

void PopupMenu::setHighlight(int index) {
    if (!selectable(index)) index = -1;
    if (index == highlight) return;
    highlight = index;
    needsPaint = true;
}

bool PopupMenu::onMotion(CPoint where) {
    const int index = entryAt(where);
    if (index >= 0) armed = true;
    setHighlight(index);
    return false;
}

bool PopupMenu::onPress(CPoint where, unsigned button) {
    if (button != Button1 && button != Button2 && button != Button3) return false;
    if (!CRect(0, 0, width, height).pointInside(where)) {
        chosen = -1;
        return true;
    }
    armed = true;
    setHighlight(entryAt(where));
    return false;
}

bool PopupMenu::onRelease(CPoint where, unsigned button) {
    if (button != Button1 && button != Button2 && button != Button3) return false;
    // The release of the click that opened the menu chooses only after a move onto an entry.
    if (!armed) return false;
    const int index = entryAt(where);
    if (!selectable(index)) return false;
    chosen = index;
    return true;
}

bool PopupMenu::onKey(KeySym key) {
    const int count = static_cast<int>(entries.size());
    switch (key) {
    case XK_Escape:
        chosen = -1;
        return true;
    case XK_Return:
    case XK_KP_Enter:
        if (!selectable(highlight)) return false;
        chosen = highlight;
        return true;
    case XK_Up:
    case XK_Down: {
        const int step = key == XK_Down ? 1 : -1;
        int index = highlight;
        for (int tries = 0; tries < count; ++tries) {
            index = index < 0 ? (step > 0 ? 0 : count - 1) : (index + step + count) % count;
            if (selectable(index)) {
                setHighlight(index);
                break;
            }
        }
        return false;
    }
    default:
        return false;
    }
}

void PopupMenu::paintIfNeeded() {
    if (!needsPaint || !buffer) return;
    needsPaint = false;
    cairo_t* cairo = cairo_create(buffer);
    CairoDrawContext context(cairo, width, height);
    const CColor border(0x80, 0x80, 0x80);
    context.fillRect(CRect(0, 0, width, height), border);
    context.fillRect(CRect(kBorder, kBorder, width - kBorder, height - kBorder),
                     CColor(0xF4, 0xF4, 0xF4));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PopupEntry& entry = entries[i];
        const CRect& row = rows[i];
        if (entry.flags & COptionMenu::kSeparatorEntry) {
            const CCoord middle = row.top + row.getHeight() / 2;
            context.fillRect(CRect(row.left + 4, middle, row.right - 4, middle + 1),
                             CColor(0xC0, 0xC0, 0xC0));
            continue;
        }
        const bool lit = static_cast<int>(i) == highlight;
        if (lit) context.fillRect(row, CColor(0x33, 0x66, 0xCC));
        CColor ink = lit ? kWhiteCColor : kBlackCColor;
        if (!selectable(static_cast<int>(i)) && !(entry.flags & COptionMenu::kTitleEntry))
            ink = CColor(0x99, 0x99, 0x99);
        if ((entry.flags & COptionMenu::kCheckedEntry) || static_cast<int>(i) == currentIndex) {
            // A check mark in the left margin.
            const double cx = row.left + kMarkWidth / 2.0;
            const double cy = row.top + row.getHeight() / 2.0;
            cairo_save(cairo);
            cairo_set_source_rgb(cairo, ink.red / 255.0, ink.green / 255.0, ink.blue / 255.0);
            cairo_set_line_width(cairo, 1.6);
            cairo_move_to(cairo, cx - 4.0, cy);
            cairo_line_to(cairo, cx - 1.0, cy + 3.0);
            cairo_line_to(cairo, cx + 4.0, cy - 3.5);
            cairo_stroke(cairo);
            cairo_restore(cairo);
        }
        CFontDesc font = kNormalFontSmall;
        if (entry.flags & COptionMenu::kTitleEntry) font.style = kBoldFace;
        context.drawText(
            entry.title.c_str(),
            CRect(row.left + kMarkWidth, row.top, row.right - kRightPadding / 2, row.bottom), font,
            ink, kLeftText);
    }
    cairo_destroy(cairo);
    upload.put(popup, buffer, CRect(0, 0, width, height));
    XFlush(display);
}

// ---------------------------------------------------------------------------------------
// The frame's window.

class X11Window final : public IPlatformWindow {
  public:
    X11Window(Display* display, IPlatformFrame& frame) : display(display), frame(frame) {}
    ~X11Window() override;
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    // Creates the child window; false when the parent is unusable.
    bool create(Window parent, CCoord width, CCoord height);

    void* getNativeHandle() const override {
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window));
    }
    void setSize(CCoord width, CCoord height) override;
    void invalidRect(const CRect& rect) override;
    void processEvents() override;
    void flushPaint() override;
    int popupMenu(const CRect& anchor, const std::vector<PopupEntry>& entries,
                  int currentIndex) override;
    void beginMouseCapture() override;
    void endMouseCapture() override;

  private:
    void dispatch(XEvent& event);
    // Handles the events about the window itself (paint, teardown); true when it was one.
    bool handleWindowEvent(const XEvent& event);
    void paint();
    bool makeBackBuffer();
    void lostWindow();

    Display* display;
    IPlatformFrame& frame;
    Window window = 0;
    Visual* visual = nullptr;
    int screen = 0;
    CCoord width = 1;
    CCoord height = 1;
    ImageUpload upload;
    cairo_surface_t* backBuffer = nullptr;
    CRect pending;
    bool gone = false; // the server destroyed the window (with the host's)
    bool captured = false;
    bool painting = false;
};

bool X11Window::create(Window parent, CCoord newWidth, CCoord newHeight) {
    XWindowAttributes parentAttributes;
    // A round trip: a parent id that is no window fails here instead of later.
    if (!XGetWindowAttributes(display, parent, &parentAttributes)) return false;
    if (parentAttributes.c_class != InputOutput) return false;

    width = std::max(1, newWidth);
    height = std::max(1, newHeight);
    XSetWindowAttributes attributes{};
    // No background: the server never clears what we are about to paint (no flicker), and
    // a shrinking window keeps its top-left content.
    attributes.background_pixmap = None;
    attributes.bit_gravity = NorthWestGravity;
    attributes.event_mask = kWindowEvents;
    window = XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    XWindowAttributes own;
    if (!window || !XGetWindowAttributes(display, window, &own)) {
        window = 0;
        return false;
    }
    visual = own.visual;
    screen = XScreenNumberOfScreen(own.screen);
    if (!upload.init(display, window, visual, own.depth) || !makeBackBuffer()) return false;
    XMapWindow(display, window);
    XFlush(display);
    pending = CRect(0, 0, width, height);
    return true;
}

X11Window::~X11Window() {
    if (backBuffer) cairo_surface_destroy(backBuffer);
    upload.release();
    if (captured) XUngrabPointer(display, CurrentTime);
    // The host may have destroyed its window, and ours with it, already: the connection drops the
    // error of destroying it twice.
    if (window && !gone) XDestroyWindow(display, window);
    XCloseDisplay(display);
}

bool X11Window::makeBackBuffer() {
    if (backBuffer) cairo_surface_destroy(backBuffer);
    backBuffer = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    return cairo_surface_status(backBuffer) == CAIRO_STATUS_SUCCESS;
}

void X11Window::setSize(CCoord newWidth, CCoord newHeight) {
    newWidth = std::max(1, newWidth);
    newHeight = std::max(1, newHeight);
    if (newWidth == width && newHeight == height) return;
    width = newWidth;
    height = newHeight;
    if (!gone) {
        XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XFlush(display);
    }
    makeBackBuffer();
    pending = CRect(0, 0, width, height);
}

void X11Window::invalidRect(const CRect& rect) {
    CRect area = rect;
    area.intersect(CRect(0, 0, width, height));
    pending.unite(area);
}

void X11Window::processEvents() {
    // Bounded, so that a flood of motion cannot keep the host's idle from returning.
    for (int budget = 256; budget > 0 && XPending(display) > 0; --budget) {
        XEvent event;
        XNextEvent(display, &event);
        dispatch(event);
    }
    paint();
}

void X11Window::flushPaint() {
    paint();
}

void X11Window::paint() {
    if (painting || gone || !backBuffer) return;
    CRect area = pending;
    area.intersect(CRect(0, 0, width, height));
    pending = CRect();
    if (area.isEmpty()) return;
    painting = true;
    cairo_t* cairo = cairo_create(backBuffer);
    // What the frame leaves transparent shows black, never an older picture.
    cairo_rectangle(cairo, area.left, area.top, area.getWidth(), area.getHeight());
    cairo_set_source_rgb(cairo, 0.0, 0.0, 0.0);
    cairo_fill(cairo);
    {
        CairoDrawContext context(cairo, width, height);
        frame.platformPaint(context, area);
    }
    cairo_destroy(cairo);
    cairo_surface_flush(backBuffer);
    upload.put(window, backBuffer, area);
    XFlush(display);
    painting = false;
}

void X11Window::lostWindow() {
    if (captured) frame.platformMouseCancel();
    captured = false;
}

bool X11Window::handleWindowEvent(const XEvent& event) {
    if (event.xany.window != window) return false;
    switch (event.type) {
    case Expose:
        invalidRect(CRect(event.xexpose.x, event.xexpose.y, event.xexpose.x + event.xexpose.width,
                          event.xexpose.y + event.xexpose.height));
        return true;
    case DestroyNotify:
        if (event.xdestroywindow.window != window) return false;
        gone = true;
        lostWindow();
        return true;
    case UnmapNotify:
        // An unmapped window loses its grab; the drag is over.
        lostWindow();
        return true;
    default:
        return false;
    }
}

void X11Window::dispatch(XEvent& event) {
    if (handleWindowEvent(event) || event.xany.window != window || gone) return;
    switch (event.type) {
    case ButtonPress: {
        const auto& press = event.xbutton;
        const CPoint where(press.x, press.y);
        if (press.button == Button4 || press.button == Button5) {
            frame.platformWheel(where, press.button == Button4 ? 1.0f : -1.0f,
                                heldButtonBits(press.state) | modifierBits(press.state));
            break;
        }
        // Only the first button of a gesture starts one.
        if (buttonBit(press.button) == 0 || (press.state & kPointerButtonMasks) != 0) break;
        // A drag whose release never came (its grab ended when the window was hidden) is
        // over; the frame would otherwise ignore this new press.
        if (captured) lostWindow();
        frame.platformMouseDown(where, buttonBit(press.button) | modifierBits(press.state));
        break;
    }
    case ButtonRelease: {
        const auto& release = event.xbutton;
        if (buttonBit(release.button) == 0) break;
        // The gesture ends with the last of its buttons.
        if ((release.state & kPointerButtonMasks & ~buttonMask(release.button)) != 0) break;
        frame.platformMouseUp(CPoint(release.x, release.y),
                              buttonBit(release.button) | modifierBits(release.state));
        break;
    }
    case MotionNotify: {
        // Only the newest of consecutive moves matters.
        while (XEventsQueued(display, QueuedAlready) > 0) {
            XEvent next;
            XPeekEvent(display, &next);
            if (next.type != MotionNotify || next.xany.window != window) break;
            XNextEvent(display, &event);
        }
        const auto& motion = event.xmotion;
        frame.platformMouseMoved(CPoint(motion.x, motion.y),
                                 heldButtonBits(motion.state) | modifierBits(motion.state));
        break;
    }
    default:
        break;
    }
}

void X11Window::beginMouseCapture() {
    if (gone) return;
    captured = XGrabPointer(display, window, False,
                            ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                            GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
}

void X11Window::endMouseCapture() {
    if (!captured) return;
    captured = false;
    XUngrabPointer(display, CurrentTime);
    XFlush(display);
}

int X11Window::popupMenu(const CRect& anchor, const std::vector<PopupEntry>& entries,
                         int currentIndex) {
    if (entries.empty() || gone) return -1;
    const bool hadCapture = captured;
    if (captured) endMouseCapture();

    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    if (!XTranslateCoordinates(display, window, RootWindow(display, screen), anchor.left,
                               anchor.top, &rootX, &rootY, &child))
        return -1;
    PopupMenu menu(display, screen, entries, currentIndex);
    if (!menu.open(CRect(rootX, rootY, rootX + anchor.getWidth(), rootY + anchor.getHeight())))
        return -1;

    // A local loop until the menu is done; our own window keeps painting meanwhile.
    bool done = false;
    while (!done && !gone) {
        if (XPending(display) == 0) {
            menu.paintIfNeeded();
            paint();
        }
        XEvent event;
        XNextEvent(display, &event);
        if (handleWindowEvent(event)) {
            if (event.type == UnmapNotify || event.type == DestroyNotify) done = true;
            continue;
        }
        if (event.xany.window != menu.getWindow()) continue;
        switch (event.type) {
        case Expose:
            menu.invalidate();
            break;
        case MotionNotify:
            done = menu.onMotion(CPoint(event.xmotion.x, event.xmotion.y));
            break;
        case ButtonPress:
            done = menu.onPress(CPoint(event.xbutton.x, event.xbutton.y), event.xbutton.button);
            break;
        case ButtonRelease:
            done = menu.onRelease(CPoint(event.xbutton.x, event.xbutton.y), event.xbutton.button);
            break;
        case KeyPress:
            done = menu.onKey(XLookupKeysym(&event.xkey, 0));
            break;
        case UnmapNotify:
        case DestroyNotify:
            done = true;
            break;
        default:
            break;
        }
    }
    const int result = done && !gone ? menu.result() : -1;
    if (hadCapture && !gone) beginMouseCapture();
    return result;
}

} // namespace

std::unique_ptr<IPlatformWindow> createPlatformWindow(void* parent, CCoord width, CCoord height,
                                                      IPlatformFrame& frame) {
    const auto parentWindow = static_cast<Window>(reinterpret_cast<std::uintptr_t>(parent));
    if (parentWindow == 0) return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    keepErrorsOnConnection(display);
    // From here the window owns the connection and closes it whatever happens.
    auto window = std::make_unique<X11Window>(display, frame);
    if (!window->create(parentWindow, width, height)) return nullptr;
    return window;
}

} // namespace toolkit

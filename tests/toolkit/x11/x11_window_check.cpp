// A stand-in host for the real-window test: a top-level X window with a frame of a few
// controls in it through the X11 backend, idled every 10 ms. The test script drives it with
// lines on stdin and real input through the X server, and reads what happened from stdout.
//
//   qr_x11_window_check serve       the interactive window (commands below)
//   qr_x11_window_check badparent   a frame on a window id that does not exist
//
// Commands: "render <png>" (offscreen picture of the frame), "values", "size <w> <h>",
// "sync" (answers after one more idle), "remap" (hide and show the host's window),
// "destroyhost", "quit".

#include "toolkit/offscreen.h"
#include "toolkit/toolkit.h"

#include <cairo.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>

#include <X11/Xlib.h>

namespace {

constexpr CCoord kWidth = 360;
constexpr CCoord kHeight = 240;
constexpr int kHostX = 40;
constexpr int kHostY = 40;
constexpr int kKnobImages = 41;
constexpr CCoord kKnobSize = 48;

enum Tags { kKnobTag = 1, kButtonTag = 2, kMenuTag = 3 };

void say(const char* format, auto... args) {
    std::printf(format, args...);
    std::printf("\n");
    std::fflush(stdout);
}

class Editor : public VSTGUIEditorInterface {
  public:
    void doIdleStuff() override { idleFrames(); }
    std::int32_t getKnobMode() const override { return kLinearMode; }
    bool beginEdit(std::int32_t index) override {
        say("begin %d", static_cast<int>(index));
        return true;
    }
    bool endEdit(std::int32_t index) override {
        say("end %d", static_cast<int>(index));
        return true;
    }
    void pump() { idleFrames(); }
};

class Listener : public CControlListener {
  public:
    void valueChanged(CControl* control) override {
        say("changed %d %.2f", static_cast<int>(control->getTag()), control->getValue());
    }
};

// Draws into a bitmap's pixels with cairo (both use premultiplied native ARGB).
template <typename Paint> void paintBitmap(CBitmap& bitmap, Paint paint) {
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(bitmap.getPixels()), CAIRO_FORMAT_ARGB32,
        bitmap.getWidth(), bitmap.getHeight(), bitmap.getWidth() * 4);
    cairo_t* cairo = cairo_create(surface);
    paint(cairo);
    cairo_destroy(cairo);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
}

// A knob strip: a dark disc with a pointer turning from -135 to +135 degrees.
CBitmap* makeKnobStrip() {
    auto* strip = new CBitmap(kKnobSize, kKnobSize * kKnobImages);
    paintBitmap(*strip, [](cairo_t* cairo) {
        const double radius = kKnobSize / 2.0 - 3.0;
        for (int i = 0; i < kKnobImages; ++i) {
            const double cx = kKnobSize / 2.0;
            const double cy = i * kKnobSize + kKnobSize / 2.0;
            cairo_arc(cairo, cx, cy, radius, 0, 2 * M_PI);
            cairo_set_source_rgb(cairo, 0.15, 0.15, 0.18);
            cairo_fill_preserve(cairo);
            cairo_set_source_rgb(cairo, 0.7, 0.7, 0.75);
            cairo_set_line_width(cairo, 2.0);
            cairo_stroke(cairo);
            const double angle = (-135.0 + 270.0 * i / (kKnobImages - 1)) * M_PI / 180.0;
            cairo_move_to(cairo, cx, cy);
            cairo_line_to(cairo, cx + std::sin(angle) * (radius - 3),
                          cy - std::cos(angle) * (radius - 3));
            cairo_set_source_rgb(cairo, 1.0, 0.6, 0.1);
            cairo_set_line_width(cairo, 3.0);
            cairo_stroke(cairo);
        }
    });
    return strip;
}

// An on/off switch: grey above (off), lit green below (on).
CBitmap* makeSwitch() {
    auto* bitmap = new CBitmap(40, 40);
    paintBitmap(*bitmap, [](cairo_t* cairo) {
        cairo_rectangle(cairo, 1, 1, 38, 18);
        cairo_set_source_rgb(cairo, 0.35, 0.35, 0.35);
        cairo_fill(cairo);
        cairo_rectangle(cairo, 1, 21, 38, 18);
        cairo_set_source_rgb(cairo, 0.2, 0.8, 0.3);
        cairo_fill(cairo);
    });
    return bitmap;
}

class Window {
  public:
    explicit Window(Display* display) : display(display) {
        const int screen = DefaultScreen(display);
        host =
            XCreateSimpleWindow(display, RootWindow(display, screen), kHostX, kHostY, kWidth + 40,
                                kHeight + 40, 0, BlackPixel(display, screen), 0x505050);
        XStoreName(display, host, "Toolkit test host");
        XSelectInput(display, host, StructureNotifyMask);
        XMapWindow(display, host);
        for (XEvent event;;) {
            XNextEvent(display, &event);
            if (event.type == MapNotify) break;
        }

        frame = new CFrame(CRect(0, 0, kWidth, kHeight),
                           reinterpret_cast<void*>(static_cast<std::uintptr_t>(host)), &editor);
        frame->setBackgroundColor(CColor(0x28, 0x30, 0x40));

        CBitmap* strip = makeKnobStrip();
        knob = new CAnimKnob(CRect(20, 40, 20 + kKnobSize, 40 + kKnobSize), &listener, kKnobTag,
                             kKnobImages, kKnobSize, strip);
        knob->setValue(0.5f);
        frame->addView(knob);
        strip->forget();

        CBitmap* states = makeSwitch();
        button = new COnOffButton(CRect(100, 54, 140, 74), &listener, kButtonTag, states);
        frame->addView(button);
        states->forget();

        menu = new COptionMenu(CRect(170, 54, 300, 74), &listener, kMenuTag);
        for (const char* name : {"Alpha", "Bravo", "Charlie", "Delta"})
            menu->addEntry(name);
        menu->setValue(0.0f);
        menu->setBackColor(CColor(0x10, 0x10, 0x10));
        frame->addView(menu);

        auto* text =
            new CTextEdit(CRect(20, 120, 340, 140), nullptr, 0, "Gain -12.5 dB \xE4\xF6\xFC \xB5s");
        text->setBackColor(CColor(0x50, 0x20, 0x20));
        text->setFont(kNormalFontSmall);
        frame->addView(text);
    }

    ~Window() {
        delete frame;
        if (!hostGone) XDestroyWindow(display, host);
        XSync(display, False);
    }

    void tellIds() {
        auto* window = frame->getPlatformWindow();
        if (!window) {
            say("window null");
            return;
        }
        const auto child =
            static_cast<::Window>(reinterpret_cast<std::uintptr_t>(window->getNativeHandle()));
        int x = 0;
        int y = 0;
        ::Window ignored;
        XTranslateCoordinates(display, child, DefaultRootWindow(display), 0, 0, &x, &y, &ignored);
        say("host %lu", static_cast<unsigned long>(host));
        say("child %lu at %d %d", static_cast<unsigned long>(child), x, y);
    }

    // Answers false on "quit".
    bool command(const std::string& line) {
        char path[1024] = {};
        int w = 0;
        int h = 0;
        if (std::sscanf(line.c_str(), "render %1023s", path) == 1) {
            toolkit::OffscreenSurface surface(frame->getWidth(), frame->getHeight());
            surface.clear(kBlackCColor);
            frame->render(surface.context());
            say(surface.writePng(path) ? "rendered" : "render failed");
        } else if (line == "values") {
            say("values knob=%.2f button=%.2f menu=%.2f", knob->getValue(), button->getValue(),
                menu->getValue());
        } else if (std::sscanf(line.c_str(), "size %d %d", &w, &h) == 2) {
            frame->setSize(w, h);
            say("sized");
        } else if (line == "sync") {
            editor.pump();
            say("synced");
        } else if (line == "remap") {
            // Hidden and shown again, the window has to paint itself from its exposures.
            XUnmapWindow(display, host);
            XSync(display, False);
            XMapWindow(display, host);
            XSync(display, False);
            say("remapped");
        } else if (line == "destroyhost") {
            XDestroyWindow(display, host);
            XSync(display, False);
            hostGone = true;
            say("host destroyed");
        } else if (line == "quit") {
            return false;
        } else {
            say("unknown command");
        }
        return true;
    }

    void pump() {
        editor.pump();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
    }

  private:
    Display* display;
    ::Window host = 0;
    bool hostGone = false;
    Editor editor;
    Listener listener;
    CFrame* frame = nullptr;
    CAnimKnob* knob = nullptr;
    COnOffButton* button = nullptr;
    COptionMenu* menu = nullptr;
};

int serve() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        say("no display");
        return 1;
    }
    {
        Window window(display);
        window.tellIds();
        std::string buffer;
        for (bool running = true; running;) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (poll(&input, 1, 10) > 0) {
                char chunk[256];
                const ssize_t count = read(STDIN_FILENO, chunk, sizeof chunk);
                if (count <= 0) break;
                buffer.append(chunk, static_cast<std::size_t>(count));
                for (std::size_t end; running && (end = buffer.find('\n')) != std::string::npos;) {
                    const std::string line = buffer.substr(0, end);
                    buffer.erase(0, end + 1);
                    running = window.command(line);
                }
            }
            if (running) window.pump();
        }
    }
    XCloseDisplay(display);
    say("bye");
    return 0;
}

// A frame whose parent cannot be used stays offscreen only, and the process survives.
int withoutWindow(void* parent) {
    Editor editor;
    auto* frame = new CFrame(CRect(0, 0, kWidth, kHeight), parent, &editor);
    say(frame->getPlatformWindow() ? "window made" : "window null");
    editor.pump();
    frame->invalid();
    frame->idle();
    delete frame;
    say("bye");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "serve") return serve();
    if (mode == "badparent")
        return withoutWindow(reinterpret_cast<void*>(std::uintptr_t{0x7ffff0}));
    std::fprintf(stderr, "usage: %s serve|badparent\n", argv[0]);
    return 2;
}

// A stand-in host for the plug-in's Linux window on a real X server (DISPLAY): two instances
// whose windows are opened, idled and closed over and over on two threads, each thread with a
// display connection of its own, as hosts that run one GUI thread per plug-in do; the last
// time, each host window is destroyed before the editor is closed. Then the
// plug-in is unloaded and the host provokes X errors of its own. The host must survive, its
// own error handler must still be the one installed, and it must have seen every error.
//
//   qr_x11_unload_check PLUGIN.so [CYCLES]
//
// Exits 0 when all is well, 1 with the reasons on stderr otherwise, 77 when there is no
// display.

#include <dlfcn.h>

#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "vst/aeffect.h"

namespace {

constexpr int kIdlesPerCycle = 20;

std::atomic<int> hostErrors{0};
std::vector<std::string> failures;

int hostErrorHandler(Display* /*display*/, XErrorEvent* /*error*/) {
    ++hostErrors;
    return 0;
}

VstIntPtr VSTCALLBACK hostCallback(AEffect* /*effect*/, VstInt32 opcode, VstInt32 /*index*/,
                                   VstIntPtr /*value*/, void* /*ptr*/, float /*opt*/) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

void fail(const std::string& why) {
    failures.push_back(why);
    std::fprintf(stderr, "FAIL %s\n", why.c_str());
}

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, void* ptr = nullptr) {
    return effect->dispatcher(effect, opcode, 0, 0, ptr, 0.0f);
}

// One host GUI thread: its own connection and top-level window, the editor opened into it,
// idled while the thread handles its own events, closed again.
void windowThread(AEffect* effect, int cycles, std::atomic<int>& opened) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    const int screen = DefaultScreen(display);
    const Window parent =
        XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 573, 424, 0, 0, 0);
    XMapWindow(display, parent);
    XSync(display, False);
    void* handle = reinterpret_cast<void*>(static_cast<std::uintptr_t>(parent));
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (dispatch(effect, effEditOpen, handle) == 1) ++opened;
        for (int idle = 0; idle < kIdlesPerCycle; ++idle) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
            }
            dispatch(effect, effEditIdle);
        }
        // The last time, the host destroys its window (and ours with it) before it closes
        // the editor: the errors that leaves on our connection are not the host's to see.
        if (cycle == cycles - 1) {
            XDestroyWindow(display, parent);
            XSync(display, False);
        }
        dispatch(effect, effEditClose);
    }
    XCloseDisplay(display);
}

// A request on a window that no longer exists: BadWindow for the host's handler.
void provokeError(Display* display) {
    const Window gone =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(display, gone);
    XMapWindow(display, gone);
    XSync(display, False);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PLUGIN.so [CYCLES]\n", argv[0]);
        return 2;
    }
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 30;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "skipped: no X display\n");
        return 77;
    }
    XSetErrorHandler(hostErrorHandler);

    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    using Entry = AEffect*(VSTCALLBACK*)(audioMasterCallback);
    const auto entry = reinterpret_cast<Entry>(dlsym(library, "VSTPluginMain"));
    AEffect* effects[2] = {entry ? entry(hostCallback) : nullptr,
                           entry ? entry(hostCallback) : nullptr};
    if (!effects[0] || !effects[1]) {
        std::fprintf(stderr, "the plug-in made no effect\n");
        return 1;
    }
    for (AEffect* effect : effects)
        dispatch(effect, effOpen);

    std::atomic<int> opened{0};
    {
        std::thread first(windowThread, effects[0], cycles, std::ref(opened));
        std::thread second(windowThread, effects[1], cycles, std::ref(opened));
        first.join();
        second.join();
    }
    if (opened != 2 * cycles)
        fail("windows opened " + std::to_string(opened.load()) + " times, not " +
             std::to_string(2 * cycles));

    // While the plug-in is still loaded, the host's errors reach the host.
    provokeError(display);
    if (hostErrors != 1)
        fail("the host's handler saw " + std::to_string(hostErrors.load()) +
             " of 1 error while the plug-in was loaded");

    for (AEffect* effect : effects)
        dispatch(effect, effClose);
    dlclose(library);
    if (void* still = dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(still);
        fail("the plug-in stayed loaded after dlclose");
    }

    // An error in the host now must reach the host's handler, not freed code of ours.
    provokeError(display);
    provokeError(display);
    if (hostErrors != 3)
        fail("the host's handler saw " + std::to_string(hostErrors.load() - 1) +
             " of 2 errors after unloading");
    if (XSetErrorHandler(hostErrorHandler) != hostErrorHandler)
        fail("the host's X error handler was replaced");

    XCloseDisplay(display);
    std::printf("%s: %d window cycles on two threads, %d host errors seen\n",
                failures.empty() ? "ok" : "FAILED", cycles, hostErrors.load());
    return failures.empty() ? 0 : 1;
}

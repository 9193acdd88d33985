// The plug-in's window as real hosts treat it: size requests, a host that changes values under
// the window or echoes its changes back, editors on several threads with their own display
// connections, and unloading the plug-in afterwards.
//
// - Size requests: whenever the window's size differs from what the host last knew (the answer
//   before opening, or an earlier request), the host must have been asked to follow, through
//   the host callback, if the host says it can ("sizeWindow").
// - Moves after the host changed a value, and a host that echoes automation: each move of the
//   window that changes a 7-bit step reaches the host and the device, once.
// - Windows on several threads: afterwards the host's own handler of X errors is still the
//   one installed, the host's errors reach it, and the host survives unloading the plug-in.
// Moves come as the window system delivers a user's mouse (synthetic events to the plug-in's
// own window), so they need a display; where there is none they are skipped with the reason.

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <thread>

#include "editor/editorlayout.h"
#include "platform/host_window.h"
#include "plugin/parameters.h"
#include "tools/host/commands.h"
#include "tools/host/validate_support.h"

namespace qrhost {
namespace {

using platform::HostWindow;
using Pointer = HostWindow::Pointer;

constexpr int kArrivalMs = 2000;

// Where our window keeps what the checks work: the page views start under the 30-pixel menu
// bar; a point well inside a knob and the shrink button.
constexpr int kPageTop = 30;
CPoint knobPoint(int slot) {
    const CRect knob = editorlayout::knobRect(slot, 0, 0);
    return CPoint(knob.left + 12, knob.top + kPageTop + 12);
}
CPoint shrinkButtonPoint() {
    const CRect& button = editorlayout::kFrameButtonRect;
    return CPoint((button.left + button.right) / 2, (button.top + button.bottom) / 2);
}

// An open window of an instance in a host window of its own, with the idle a host gives it.
class OpenWindow {
  public:
    OpenWindow(Instance& instance, HostWindow& host) : instance(instance), host(host) {
        opened = instance.openWindow(host.nativeHandle());
        idle();
    }
    ~OpenWindow() {
        if (opened) instance.closeWindow();
    }
    bool isOpen() const { return opened; }

    void idle(int times = 2) {
        for (int i = 0; i < times; ++i) {
            host.processEvents();
            instance.dispatch(effEditIdle);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    void send(Pointer what, CPoint where) {
        if (!host.sendPointer(what, where.x, where.y))
            throw HostError("the plug-in's window is not inside the host's");
        idle();
    }
    // Press, `steps` moves of (dx, dy) each, release: what a user's drag gives a window.
    void drag(CPoint from, int steps, int dx, int dy) {
        send(Pointer::Press, from);
        CPoint at = from;
        for (int i = 0; i < steps; ++i) {
            at.x += dx;
            at.y += dy;
            send(Pointer::Move, at);
        }
        send(Pointer::Release, at);
    }
    void click(CPoint where) {
        send(Pointer::Press, where);
        send(Pointer::Release, where);
    }

  private:
    Instance& instance;
    HostWindow& host;
    bool opened = false;
};

std::unique_ptr<HostWindow> hostWindow(std::string& whyNot) {
    auto window = HostWindow::create("qrhost validate", 640, 480);
    if (!window) whyNot = "no display for a host window (the window system's events need one)";
    return window;
}

// Our plug-in with its window in a host window, a device of the lab and a host side.
struct Scene {
    std::unique_ptr<HostWindow> window;
    std::unique_ptr<MidiReceiverProbe> device;
};

bool prepareScene(CheckRun& run, const PluginUnderTest& plugin, LabAccess& labs, Scene& scene,
                  bool needsDevice) {
    if (!plugin.ours || !plugin.hasEditor) {
        run.report(Outcome::Skip, "the controls of this plug-in's window are unknown to the host");
        return false;
    }
    std::string whyNot;
    scene.window = hostWindow(whyNot);
    if (!scene.window) {
        run.report(Outcome::Skip, whyNot);
        return false;
    }
    if (!needsDevice) return true;
    MidiLab* lab = labs.get(whyNot);
    if (lab) scene.device = lab->receiver("a", whyNot);
    if (!scene.device || deviceNumberOf(*scene.device) < 0) {
        run.report(Outcome::Skip, "no MIDI lab: " + whyNot);
        return false;
    }
    return true;
}

std::string sizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// Whether the host was asked for exactly this size since `from` requests were seen.
bool asked(const HostSide& host, std::size_t from, int width, int height) {
    const auto requests = host.calls(kAudioMasterSizeWindow);
    for (std::size_t i = from; i < requests.size(); ++i)
        if (requests[i].index == width && requests[i].value == height) return true;
    return false;
}

void checkSizeRequests(CheckRun& run, PluginUnderTest& plugin, LabAccess&) {
    if (!plugin.hasEditor) return run.report(Outcome::Skip, "the plug-in has no editor");
    HostSide host;
    Instance instance(plugin.entry, &host);
    std::string whyNot;
    auto window = hostWindow(whyNot);
    // Ours also opens offscreen, without a parent: the size it reports is the same.
    if (!window && !plugin.ours) return run.report(Outcome::Skip, whyNot);
    int width = 0, height = 0;
    const bool sizedBefore = instance.windowSize(width, height);
    std::string figures = "before opening " + (sizedBefore ? sizeText(width, height) : "no size");
    std::vector<std::string> faults;
    // After each step: a size different from what the host last knew must have been asked for.
    std::size_t seen = 0;
    auto follow = [&](const std::string& what) {
        int now = 0, nowHeight = 0;
        if (!instance.windowSize(now, nowHeight)) {
            faults.push_back(what + ": no size");
            return;
        }
        figures += "; " + what + " " + sizeText(now, nowHeight);
        if (now == width && nowHeight == height) return;
        const bool requested = asked(host, seen, now, nowHeight);
        figures += std::string(", host asked to follow: ") + (requested ? "yes" : "no");
        if (!requested) faults.push_back(what);
        width = now;
        height = nowHeight;
        seen = host.calls(kAudioMasterSizeWindow).size();
    };
    if (window) {
        OpenWindow open(instance, *window);
        if (!open.isOpen()) return run.verdict(false, figures + "; the window did not open");
        open.idle(3);
        follow("open");
        if (plugin.ours) {
            open.click(shrinkButtonPoint());
            open.idle(3);
            follow("shrunk");
            open.click(shrinkButtonPoint());
            open.idle(3);
            follow("grown");
        }
    } else {
        if (!instance.openWindow(nullptr)) return run.verdict(false, figures + "; did not open");
        instance.dispatch(effEditIdle);
        follow("open offscreen");
        instance.closeWindow();
        figures += " (shrink and grow need a display: " + whyNot + ")";
    }
    std::string all;
    for (const auto& fault : faults)
        all +=
            (all.empty() ? "; the host was never asked to follow the size after: " : ", ") + fault;
    run.verdict(faults.empty(), figures + all);
}

void checkMoveAfterHostChange(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    Scene scene;
    if (!prepareScene(run, plugin, labs, scene, false)) return;
    std::string whyNot;
    MidiLab* lab = labs.get(whyNot);
    if (lab) scene.device = lab->receiver("a", whyNot);
    // Listed before the instance counts its devices.
    const int number = scene.device ? deviceNumberOf(*scene.device) : -1;
    if (number < 0) scene.device.reset();
    HostSide host;
    Instance instance(plugin.entry, &host);
    if (number >= 0) instance.set(ParameterIndex::kMidiDevice, static_cast<float>(number));
    OpenWindow open(instance, *scene.window);
    if (!open.isOpen()) return run.verdict(false, "the window did not open");
    const VstInt32 index = ParameterIndex::kFirstGain;
    // A project restore or automation: the host sets gain 1, the window follows.
    instance.set(index, 0.8f);
    open.idle(3);
    DeviceState device;
    if (scene.device)
        device.collectUntil(*scene.device, kArrivalMs,
                            [](const DeviceState& s) { return s.last(0) == 101; });
    host.clear();
    // The user drags knob 1 down to its floor (200 pixels span the range) in one quick move.
    open.drag(knobPoint(0), 1, 0, 250);
    open.idle(3);
    const auto automation = host.calls(audioMasterAutomate);
    float told = -1.0f;
    for (const HostCall& call : automation)
        if (call.index == index) told = call.opt;
    const float held = instance.get(index);
    std::string figures = "the host set gain 1 to 0.8, then the window dragged knob 1 to its "
                          "floor: the host was told " +
                          (told < 0.0f ? std::string("nothing") : formatFloat(told)) +
                          ", the parameter reads " + formatFloat(held);
    bool deviceOk = true;
    if (scene.device) {
        deviceOk = device.collectUntil(*scene.device, kArrivalMs,
                                       [](const DeviceState& s) { return s.last(0) == 0; });
        figures += ", the device's last value is " + std::to_string(device.last(0));
    } else {
        figures += " (device unchecked: " + whyNot + ")";
    }
    const bool moved = told == 0.0f && held == 0.0f && deviceOk;
    if (!moved) figures += " (the move was lost)";
    run.verdict(moved, figures);
}

void checkHostEcho(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    Scene scene;
    if (!prepareScene(run, plugin, labs, scene, true)) return;
    HostSide host;
    host.echoAutomation = true;
    Instance instance(plugin.entry, &host);
    instance.set(ParameterIndex::kMidiDevice, static_cast<float>(deviceNumberOf(*scene.device)));
    OpenWindow open(instance, *scene.window);
    if (!open.isOpen()) return run.verdict(false, "the window did not open");
    open.idle(3);
    scene.device->take(std::numeric_limits<std::size_t>::max(), 100);
    host.clear();
    // Knob 2 up by 60 pixels in steps of 5: about three 7-bit steps per move.
    open.drag(knobPoint(1), 12, 0, -5);
    open.idle(3);
    // What the device must get: each new 7-bit step the host was told of, once, in order.
    std::vector<int> wanted;
    for (const HostCall& call : host.calls(audioMasterAutomate)) {
        if (call.index != ParameterIndex::kFirstGain + 1) continue;
        const int value = gainToMidiValue(call.opt);
        if (wanted.empty() || wanted.back() != value) wanted.push_back(value);
    }
    DeviceState device;
    device.collectUntil(*scene.device, kArrivalMs, [&](const DeviceState& s) {
        return !wanted.empty() && s.history(1).size() >= wanted.size() &&
               s.last(1) == wanted.back();
    });
    device.add(scene.device->take(std::numeric_limits<std::size_t>::max(), 200));
    const auto got = device.history(1);
    int duplicates = 0;
    for (std::size_t i = 1; i < got.size(); ++i)
        if (got[i] == got[i - 1]) ++duplicates;
    std::string figures = "a window drag with a host that echoes every change back: " +
                          std::to_string(wanted.size()) + " new steps told to the host, the " +
                          "device got " + std::to_string(got.size()) + " messages, " +
                          std::to_string(duplicates) + " of them repeats";
    const bool exact = !wanted.empty() && got == wanted;
    if (!exact && duplicates == 0 && !wanted.empty())
        figures += " (the device's steps differ from the host's)";
    if (wanted.empty()) figures += " (the drag reached no knob)";
    run.verdict(exact, figures);
}

// ---------------------------------------------------------------------------------------

struct ThreadsOutcome {
    bool ran = false;
    bool handlerLeft = false; // the plug-in's (or anyone's) handler was left installed
    std::string leftIn;       // the module it lives in
};

void checkWindowsOnThreads(CheckRun& run, PluginUnderTest& plugin,
                           std::unique_ptr<platform::HostErrorHandler>& handler,
                           ThreadsOutcome& outcome) {
    if (!plugin.hasEditor) return run.report(Outcome::Skip, "the plug-in has no editor");
    std::string whyNot;
    if (!hostWindow(whyNot)) return run.report(Outcome::Skip, whyNot);
    std::string handlerWhyNot;
    handler = platform::HostErrorHandler::install(handlerWhyNot);
    constexpr int kThreads = 4;
    const int cycles = run.scaled(25, 10);
    std::atomic<int> opened{0}, attempts{0};
    std::string failure;
    std::mutex failureLock;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            try {
                // Each thread with its own host window, on its own display connection.
                auto window = HostWindow::create("qrhost validate thread", 640, 480);
                if (!window) throw HostError("no host window on this thread");
                for (int c = 0; c < cycles; ++c) {
                    Instance instance(plugin.entry);
                    ++attempts;
                    OpenWindow open(instance, *window);
                    if (open.isOpen()) ++opened;
                    open.idle(3);
                }
            } catch (const std::exception& error) {
                std::lock_guard guard(failureLock);
                failure = error.what();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    if (!failure.empty()) throw HostError(failure);
    outcome.ran = true;
    std::string figures = std::to_string(kThreads) + " threads, each with its own host window " +
                          "and display connection: " + std::to_string(opened.load()) + "/" +
                          std::to_string(attempts.load()) + " editors opened, idled and closed";
    bool passed = opened == attempts;
    if (!handler) {
        run.verdict(passed, figures + " (" + handlerWhyNot + ")");
        return;
    }
    std::string instead;
    if (!handler->stillInstalled(instead)) {
        outcome.handlerLeft = true;
        outcome.leftIn = instead;
        figures += "; the process's X error handler is no longer the host's but " + instead;
    } else {
        figures += "; the host's X error handler is still installed";
    }
    const bool reached = handler->provokeError();
    figures += std::string("; the host's own X error ") +
               (reached ? "reached its handler" : "did NOT reach its handler (swallowed)");
    // So that the host survives the rest of the run, whatever was left.
    handler->reinstall();
    run.verdict(passed && !outcome.handlerLeft && reached, figures);
}

void checkUnload(CheckRun& run, PluginUnderTest& plugin, platform::HostErrorHandler* handler,
                 const ThreadsOutcome& outcome) {
    if (!outcome.ran) return run.report(Outcome::Skip, "no windows were opened on threads");
    plugin.library.close();
    plugin.entry = nullptr;
    const bool gone = !platform::SharedLibrary::isLoaded(plugin.path);
    std::string figures =
        std::string("plug-in ") + (gone ? "unloaded" : "still loaded (another handle holds it)");
    if (!handler) {
        run.verdict(true, figures + "; no process-wide error handler on this system");
        return;
    }
    const bool reached = handler->provokeError();
    figures += std::string("; the host's next X error ") +
               (reached ? "reached its own handler" : "did not reach its handler");
    if (outcome.handlerLeft)
        figures += "; the handler the plug-in left behind (" + outcome.leftIn +
                   ") was put back by the validator: a host would have jumped into " +
                   (gone ? "unloaded code" : "the plug-in") + " there";
    run.verdict(reached && !outcome.handlerLeft, figures);
}

} // namespace

void runWindowChecks(CheckRun& run, PluginUnderTest& plugin, LabAccess& lab) {
    run.guarded("size requests", [&] { checkSizeRequests(run, plugin, lab); });
    run.guarded("window move after host change",
                [&] { checkMoveAfterHostChange(run, plugin, lab); });
    run.guarded("host echo", [&] { checkHostEcho(run, plugin, lab); });
}

void runWindowThreadChecks(CheckRun& run, PluginUnderTest& plugin) {
    std::unique_ptr<platform::HostErrorHandler> handler;
    ThreadsOutcome outcome;
    run.guarded("windows on 4 threads",
                [&] { checkWindowsOnThreads(run, plugin, handler, outcome); });
    // Unloading ends every check after it, so it only runs with the windows before it.
    if (run.selected("windows on 4 threads"))
        run.guarded("unload after windows",
                    [&] { checkUnload(run, plugin, handler.get(), outcome); });
}

} // namespace qrhost

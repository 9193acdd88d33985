// The plug-in window from the host's side: a real window around the editor of any plug-in
// file, and pictures of our own plug-in's window rendered without a display.

#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "editor/midiremoteeditor.h"
#include "midi/midioutdevice.h"
#include "plugin/midiremoteeffect.h"
#include "platform/host_window.h"
#include "toolkit/offscreen.h"
#include "tools/host/commands.h"
#include "vst/audioeffect.h"

namespace qrhost {
namespace {

ERect editorRect(const LoadedPlugin& plugin) {
    ERect* rect = nullptr;
    if (!plugin.dispatch(effEditGetRect, 0, 0, &rect) || !rect) return ERect{};
    return *rect;
}

// "IDX=VALUE" into its two parts; UsageError otherwise.
std::pair<std::string, float> splitAssignment(const std::string& text) {
    const auto equals = text.find('=');
    const auto value =
        equals == std::string::npos ? std::nullopt : parseFloat(text.substr(equals + 1));
    if (!value) throw UsageError("expected IDX=VALUE, not \"" + text + "\"");
    return {text.substr(0, equals), *value};
}

void reportNewAutomation(LoadedPlugin& plugin, std::size_t& seen, std::ostream& out) {
    const auto calls = plugin.host().calls();
    for (; seen < calls.size(); ++seen) {
        const HostCall& call = calls[seen];
        if (call.opcode == audioMasterAutomate)
            out << "automate " << call.index << ' ' << formatFloat(call.opt) << std::endl;
        else if (call.opcode == audioMasterBeginEdit)
            out << "begin " << call.index << std::endl;
        else if (call.opcode == audioMasterEndEdit)
            out << "end " << call.index << std::endl;
    }
}

int commandWindow(const Arguments& arguments, Streams& io) {
    if (arguments.empty()) throw UsageError("window needs a plug-in file");
    double seconds = 0.0;
    std::vector<std::pair<std::string, float>> changes;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--seconds" && i + 1 < arguments.size()) {
            const auto value = parseFloat(arguments[++i]);
            if (!value || *value < 0) throw UsageError("--seconds needs a number of seconds");
            seconds = *value;
        } else {
            changes.push_back(splitAssignment(arguments[i]));
        }
    }
    auto plugin = LoadedPlugin::load(arguments[0]);
    if ((plugin->effect().flags & effFlagsHasEditor) == 0) {
        io.err << "the plug-in has no editor\n";
        return kExitCheckFailed;
    }
    for (const auto& [index, value] : changes)
        plugin->setParameter(parameterIndex(*plugin, index), value);

    ERect rect = editorRect(*plugin);
    auto window = platform::HostWindow::create("qrhost: " + plugin->identity().effectName,
                                               std::max(1, rect.right - rect.left),
                                               std::max(1, rect.bottom - rect.top));
    if (!window) {
        io.err << "no display to open a window on\n";
        return kExitError;
    }
    plugin->dispatch(effEditOpen, 0, 0, window->nativeHandle());
    rect = editorRect(*plugin);
    window->setClientSize(rect.right - rect.left, rect.bottom - rect.top);
    io.out << "window open: " << rect.right - rect.left << " x " << rect.bottom - rect.top
           << std::endl;

    // The host's part of the bargain: idle calls at a steady pace, and the window follows
    // the editor's size.
    const auto start = std::chrono::steady_clock::now();
    std::size_t seen = 0;
    while (window->processEvents()) {
        plugin->dispatch(effEditIdle);
        reportNewAutomation(*plugin, seen, io.out);
        const ERect now = editorRect(*plugin);
        if (now.bottom != rect.bottom || now.right != rect.right) {
            rect = now;
            window->setClientSize(rect.right - rect.left, rect.bottom - rect.top);
            io.out << "window size: " << rect.right - rect.left << " x " << rect.bottom - rect.top
                   << std::endl;
        }
        if (seconds > 0 &&
            std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    plugin->dispatch(effEditClose);
    io.out << "window closed" << std::endl;
    return kExitOk;
}

// Our own plug-in, built into the host, with its window open offscreen.
class OffscreenEditor {
  public:
    OffscreenEditor() {
        effect = createEffectInstance(&HostCallbacks::callback);
        if (!effect) throw HostError("the plug-in could not be created");
        record = effect->getAeffect();
        editor = dynamic_cast<MidiRemoteEditor*>(effect->getEditor());
        if (!editor) throw HostError("the plug-in has no window");
        record->dispatcher(record, effEditOpen, 0, 0, nullptr, 0.0f);
    }
    ~OffscreenEditor() { record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f); }
    OffscreenEditor(const OffscreenEditor&) = delete;
    OffscreenEditor& operator=(const OffscreenEditor&) = delete;

    AEffect* record = nullptr;
    AudioEffect* effect = nullptr;
    MidiRemoteEditor* editor = nullptr;

    // The MIDI port opens devices on its own thread; the picture shows the menu once it did.
    void settle() {
        static_cast<MidiRemoteEffect*>(effect)->midiPort().waitUntilSent(std::chrono::seconds(5));
        record->dispatcher(record, effEditIdle, 0, 0, nullptr, 0.0f);
    }

    bool writePng(const std::string& path) {
        settle();
        ERect* rect = nullptr;
        record->dispatcher(record, effEditGetRect, 0, 0, &rect, 0.0f);
        toolkit::OffscreenSurface surface(rect->right - rect->left, rect->bottom - rect->top);
        editor->getFrame()->render(surface.context());
        return surface.writePng(path.c_str());
    }
};

std::vector<int> numbersAfter(const std::string& step, std::size_t count) {
    std::vector<int> numbers;
    std::size_t position = step.find(':');
    while (position != std::string::npos && numbers.size() < count) {
        const auto next = step.find(',', position + 1);
        const auto value = parseInteger(step.substr(position + 1, next - position - 1));
        if (!value) break;
        numbers.push_back(static_cast<int>(*value));
        position = next;
    }
    if (numbers.size() != count) throw UsageError("cannot read the step \"" + step + "\"");
    return numbers;
}

int commandRender(const Arguments& arguments, Streams& io) {
    if (arguments.empty()) throw UsageError("render needs an output file");
    OffscreenEditor window;
    CFrame* frame = window.editor->getFrame();
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& step = arguments[i];
        if (step.rfind("click:", 0) == 0) {
            const auto at = numbersAfter(step, 2);
            frame->onMouseDown(CPoint(at[0], at[1]), kLButton);
            frame->onMouseUp(CPoint(at[0], at[1]), kLButton);
        } else if (step.rfind("drag:", 0) == 0) {
            const auto at = numbersAfter(step, 3);
            frame->onMouseDown(CPoint(at[0], at[1]), kLButton);
            frame->onMouseMoved(CPoint(at[0], at[1] - at[2]), kLButton);
            frame->onMouseUp(CPoint(at[0], at[1] - at[2]), kLButton);
        } else if (step.rfind("png:", 0) == 0) {
            if (!window.writePng(step.substr(4))) throw HostError("cannot write " + step.substr(4));
            io.out << "wrote " << step.substr(4) << '\n';
        } else {
            const auto [index, value] = splitAssignment(step);
            const auto number = parseInteger(index);
            if (!number) throw UsageError("not a parameter index: \"" + index + "\"");
            window.record->setParameter(window.record, static_cast<VstInt32>(*number), value);
        }
        frame = window.editor->getFrame();
    }
    if (!window.writePng(arguments[0])) throw HostError("cannot write " + arguments[0]);
    io.out << "wrote " << arguments[0] << '\n';
    return kExitOk;
}

} // namespace

const std::vector<Command>& editorCommands() {
    static const std::vector<Command> table = {
        {"window", "PLUGIN [--seconds S] [IDX=VALUE...]",
         "open the plug-in's editor in a window of its own (after setting parameters)",
         commandWindow},
        {"render", "OUT.png [STEP...]",
         "picture of this plug-in's window without a display; steps: IDX=VALUE, click:X,Y, "
         "drag:X,Y,UP, png:FILE",
         commandRender},
    };
    return table;
}

} // namespace qrhost

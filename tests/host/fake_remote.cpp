// A stand-in for our plug-in in the validator's own tests: the same identity, 74 parameters,
// Control Changes and window geometry, built the way the plug-in is meant to behave, with one
// fault at a time switched on, so that each check of the validator's families is seen to pass
// on the sound stand-in and to fail on the faulty one.
//
// The sound behaviour: each instance counts its own device list when it is made; choosing a
// device opens it by the name counted under that number, on a worker thread of the instance's
// own, never on the caller's; setParameter only stores the value in a slot per gain (the newest
// wins) and the worker sends what is new to the device; a refresh opens the chosen device again
// and sends all 48; a port whose device is gone is let go at once; closing sends what waits.
// The worker polls instead of being woken, so the audio thread asks nothing of the system.

#include "tests/host/fake_remote.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winmm.h"
#include "plugin/parameters.h"
#include "tests/host/fake_remote_window.h"

namespace fake_remote {
namespace {

using namespace std::chrono_literals;

constexpr VstInt32 kSizeWindow = 15;
constexpr VstInt32 kCanDo = 37;
constexpr int kWidth = 573;
constexpr int kHeightBeforeOpening = 424;
constexpr int kFullHeight = 394;
constexpr int kShrunkHeight = 27;
constexpr int kForce = 0x100; // a pending value the device gets even if it holds it
constexpr int kNoRequest = -2;

DWORD controlChange(int channel, int value) {
    return static_cast<DWORD>(value) << 16 | (24u + static_cast<DWORD>(channel % 8)) << 8 |
           (0xB1u + static_cast<DWORD>(channel / 8));
}

// One open MIDI output. Under the shared-port fault, instances choosing the same device share
// it, and the first to close closes it for all.
struct Port {
    HMIDIOUT handle = nullptr;
    std::string name;
    std::atomic<bool> closed{false};
    std::atomic<bool> gone{false};
    std::array<int, kNumGainChannels> lastTaken{};

    ~Port() { close(); }
    void close() {
        if (!closed.exchange(true) && handle) midiOutClose(handle);
    }
};

std::mutex sharedPortsLock;
std::map<std::string, std::shared_ptr<Port>> sharedPorts;

std::shared_ptr<Port> openByName(const std::string& name, Fault fault, int number) {
    if (name.empty()) return nullptr;
    std::unique_lock<std::mutex> shared(sharedPortsLock, std::defer_lock);
    if (fault == kSharedPort) {
        shared.lock();
        auto found = sharedPorts.find(name);
        if (found != sharedPorts.end() && !found->second->closed) return found->second;
    }
    UINT id = 0;
    bool found = false;
    if (fault == kSharedNumbers) {
        // Whatever the system lists under the number now.
        id = static_cast<UINT>(number);
        found = true;
    } else {
        const UINT count = midiOutGetNumDevs();
        for (UINT i = 0; i < count && !found; ++i) {
            MIDIOUTCAPSA caps{};
            if (midiOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                name == caps.szPname) {
                id = i;
                found = true;
            }
        }
    }
    HMIDIOUT handle = nullptr;
    if (!found || midiOutOpen(&handle, id, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return nullptr;
    auto port = std::make_shared<Port>();
    port->handle = handle;
    port->name = name;
    port->lastTaken.fill(-1);
    if (fault == kSharedPort) sharedPorts[name] = port;
    return port;
}

class Effect;

// The window: knobs of page one and the shrink button where our plug-in has them, no drawing.
class Editor : public WindowEvents {
  public:
    explicit Editor(Effect& effect) : effect(effect) {}
    bool open(void* parent);
    void close() {
        system.reset();
        isOpen = false;
    }
    void idle() {
        if (system) system->idle();
    }
    int height() const { return currentHeight; }

    void pressed(int x, int y) override;
    void moved(int x, int y) override;
    void released(int x, int y) override {
        moved(x, y);
        dragging = -1;
    }

  private:
    void resize(int height);

    Effect& effect;
    std::unique_ptr<SystemWindow> system;
    bool isOpen = false;
    int currentHeight = kHeightBeforeOpening;
    int dragging = -1;
    float dragStart = 0.0f;
    int startX = 0, startY = 0;
    std::array<int, kNumGainChannels> lastMoved{};
};

class Effect {
  public:
    Effect(audioMasterCallback host, Fault fault) : host(host), fault(fault), editor(*this) {
        record.magic = kEffectMagic;
        record.dispatcher = &Effect::dispatchEntry;
        record.setParameter = [](AEffect* e, VstInt32 i, float v) { self(e)->setParameter(i, v); };
        record.getParameter = [](AEffect* e, VstInt32 i) { return self(e)->getParameter(i); };
        record.processReplacing = &Effect::process;
        record.numPrograms = 1;
        record.numParams = ParameterIndex::kCount;
        record.numInputs = 2;
        record.numOutputs = 2;
        record.flags = effFlagsCanReplacing | effFlagsHasEditor;
        record.uniqueID = fourCharCode('Q', 'V', 'R', 'L');
        record.version = 1100;
        record.object = this;
        for (auto& value : values)
            value.store(0.0f);
        for (auto& slot : pending)
            slot.store(-1);
        // The instance's own list, as the system lists it now.
        const UINT count = midiOutGetNumDevs();
        for (UINT i = 0; i < count; ++i) {
            MIDIOUTCAPSA caps{};
            names.emplace_back(
                midiOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR ? caps.szPname : "");
        }
        if (fault != kBlocks) worker = std::thread([this] { work(); });
    }

    ~Effect() {
        stopping = true;
        if (worker.joinable()) worker.join();
        // Under the shared-port fault this closes it for every instance.
        if (port) port->close();
    }

    AEffect record{};
    audioMasterCallback host;
    const Fault fault;

    VstIntPtr callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
        return host ? host(&record, opcode, index, value, ptr, opt) : 0;
    }

    float getParameter(VstInt32 index) const {
        return isParameterIndex(index) ? values[static_cast<std::size_t>(index)].load() : 0.0f;
    }

    void setParameter(VstInt32 index, float value) {
        if (!isParameterIndex(index)) return;
        values[static_cast<std::size_t>(index)].store(value);
        if (fault == kBlocks) {
            std::lock_guard guard(blockingLock);
            applyNow(index, value);
            return;
        }
        if (index == ParameterIndex::kMidiDevice) {
            selectRequest.store(deviceNumber(value));
        } else if (index == ParameterIndex::kRefresh && value == 1.0f) {
            refreshRequest.store(true);
        } else if (isGainIndex(index)) {
            const int channel = index - ParameterIndex::kFirstGain;
            stamps[static_cast<std::size_t>(channel)].store(++stampCounter);
            pending[static_cast<std::size_t>(channel)].store(gainToMidiValue(value));
        }
    }

  private:
    static Effect* self(AEffect* effect) { return static_cast<Effect*>(effect->object); }

    static VstIntPtr VSTCALLBACK dispatchEntry(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                               VstIntPtr value, void* ptr, float opt) {
        return self(effect)->dispatch(opcode, index, value, ptr, opt);
    }

    static void VSTCALLBACK process(AEffect*, float** inputs, float** outputs, VstInt32 frames) {
        for (int c = 0; c < 2; ++c)
            if (frames > 0 && inputs && outputs && inputs[c] && outputs[c])
                std::memmove(outputs[c], inputs[c], static_cast<std::size_t>(frames) * 4);
    }

    int deviceNumber(float value) const {
        if (!std::isfinite(value) || value < 0.0f || value >= static_cast<float>(names.size()))
            return -1;
        return static_cast<int>(value);
    }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float) {
        auto text = [&](const std::string& content, std::size_t bound) {
            if (ptr) std::snprintf(static_cast<char*>(ptr), bound + 1, "%s", content.c_str());
            return VstIntPtr(1);
        };
        switch (opcode) {
        case effClose:
            editor.close();
            delete this;
            return 1;
        case effGetEffectName:
            return text("Quorvel Remote Control Demo", kVstMaxEffectNameLen);
        case effGetProductString:
            return text("Quorvel Remote Control Demo", kVstMaxProductStrLen);
        case effGetVendorString:
            return text("Brannock", kVstMaxVendorStrLen);
        case effGetVendorVersion:
            return 1100;
        case effGetVstVersion:
            return kVstVersion;
        case effGetPlugCategory:
            return kPlugCategEffect;
        case effGetProgramName:
        case effGetProgramNameIndexed:
            return text(programName, kVstMaxProgNameLen);
        case effSetProgramName:
            if (ptr) programName = std::string(static_cast<const char*>(ptr)).substr(0, 24);
            return 0;
        case effGetParamName:
            if (!isParameterIndex(index)) return 0;
            text("P" + std::to_string(index), kVstMaxParamStrLen);
            return 0;
        case effGetParamDisplay: {
            char number[32];
            std::snprintf(number, sizeof number, "%.3f", static_cast<double>(getParameter(index)));
            text(number, kVstMaxParamStrLen);
            return 0;
        }
        case effGetParamLabel:
            text("", kVstMaxParamStrLen);
            return 0;
        case effCanBeAutomated:
            return 1;
        case effEditGetRect:
            rect = ERect{0, 0, static_cast<VstInt16>(editor.height()), kWidth};
            if (ptr) *static_cast<ERect**>(ptr) = &rect;
            return 1;
        case effEditOpen:
            return editor.open(ptr) ? 1 : 0;
        case effEditClose:
            editor.close();
            return 0;
        case effEditIdle:
            editor.idle();
            return 0;
        default:
            (void)value;
            return 0;
        }
    }

    // Everything at once on the caller's thread, as a plug-in without a worker does it.
    void applyNow(VstInt32 index, float value) {
        if (index == ParameterIndex::kMidiDevice) {
            select(deviceNumber(value));
        } else if (index == ParameterIndex::kRefresh && value == 1.0f) {
            reopen();
            for (int channel = 0; channel < kNumGainChannels; ++channel)
                send(channel, gainToMidiValue(getParameter(ParameterIndex::kFirstGain + channel)));
        } else if (isGainIndex(index) && port) {
            send(index - ParameterIndex::kFirstGain, gainToMidiValue(value));
        }
    }

    void send(int channel, int value) {
        if (!port || port->closed) return;
        const MMRESULT result = midiOutShortMsg(port->handle, controlChange(channel, value));
        if (result == MMSYSERR_NOERROR) port->lastTaken[static_cast<std::size_t>(channel)] = value;
        if (result == MMSYSERR_NODRIVER) port->gone = true;
    }

    void select(int number) {
        chosenNumber = number;
        chosen = number >= 0 ? names[static_cast<std::size_t>(number)] : std::string();
        reopen();
    }

    void reopen() {
        if (port) port->close();
        port = openByName(chosen, fault, chosenNumber);
    }

    // The worker: device work first (a change made after choosing a device is for that
    // device), then what is new for the device, every millisecond.
    void work() {
        while (!stopping.load()) {
            if (const int number = selectRequest.exchange(kNoRequest); number != kNoRequest)
                select(number);
            if (refreshRequest.exchange(false)) refresh();
            sendPending(false);
            // A device that went away is let go at once (and tried again when asked).
            if (port && port->gone) {
                port->close();
                port.reset();
            }
            std::this_thread::sleep_for(1ms);
        }
        if (fault == kDropsOnClose) return;
        if (const int number = selectRequest.exchange(kNoRequest); number != kNoRequest)
            select(number);
        // What waits goes out first, within a bounded time.
        const auto deadline = std::chrono::steady_clock::now() + 500ms;
        while (sendPending(true) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
    }

    void refresh() {
        // The faulty ones trust the port they have.
        if (fault != kNoRetry && fault != kSharedPort) reopen();
        for (int channel = 0; channel < kNumGainChannels; ++channel) {
            stamps[static_cast<std::size_t>(channel)].store(++stampCounter);
            pending[static_cast<std::size_t>(channel)].store(
                gainToMidiValue(getParameter(ParameterIndex::kFirstGain + channel)) | kForce);
        }
    }

    // Sends the pending values in the order they were set; answers whether any is left.
    bool sendPending(bool closing) {
        std::vector<std::pair<std::uint64_t, int>> order;
        for (int channel = 0; channel < kNumGainChannels; ++channel)
            if (pending[static_cast<std::size_t>(channel)].load() >= 0)
                order.emplace_back(stamps[static_cast<std::size_t>(channel)].load(), channel);
        std::sort(order.begin(), order.end());
        bool left = false;
        for (const auto& [stamp, channel] : order) {
            auto& slot = pending[static_cast<std::size_t>(channel)];
            const int taken = slot.exchange(-1);
            if (taken < 0) continue;
            if (!port || port->closed) {
                // Kept for a port to come, unless the instance is closing.
                int none = -1;
                if (!closing) slot.compare_exchange_strong(none, taken);
                continue;
            }
            const int value = taken & 0x7F;
            if (!(taken & kForce) && port->lastTaken[static_cast<std::size_t>(channel)] == value)
                continue;
            const MMRESULT result = midiOutShortMsg(port->handle, controlChange(channel, value));
            if (result == MMSYSERR_NOERROR) {
                port->lastTaken[static_cast<std::size_t>(channel)] = value;
            } else if (result == MMSYSERR_NODRIVER) {
                port->gone = true;
            } else {
                // Not taken now: tried again, unless a newer value came meanwhile.
                int none = -1;
                slot.compare_exchange_strong(none, taken);
                left = true;
            }
        }
        return left;
    }

    std::array<std::atomic<float>, ParameterIndex::kCount> values;
    std::array<std::atomic<int>, kNumGainChannels> pending;
    std::array<std::atomic<std::uint64_t>, kNumGainChannels> stamps{};
    std::atomic<std::uint64_t> stampCounter{0};
    std::atomic<int> selectRequest{kNoRequest};
    std::atomic<bool> refreshRequest{false};
    std::atomic<bool> stopping{false};
    std::mutex blockingLock;
    std::vector<std::string> names;
    std::string chosen;
    int chosenNumber = -1;
    std::shared_ptr<Port> port;
    std::thread worker;
    std::string programName = "Default";
    ERect rect{};
    Editor editor;
};

bool Editor::open(void* parent) {
    system =
        SystemWindow::open(parent, kWidth, kFullHeight, *this, effect.fault == kLeavesXHandler);
    if (parent && !system) return false;
    isOpen = true;
    lastMoved.fill(0);
    resize(kFullHeight);
    return true;
}

void Editor::resize(int height) {
    currentHeight = height;
    if (system) system->resize(kWidth, height);
    if (effect.fault != kNoSizeRequest &&
        effect.callHost(kCanDo, 0, 0, const_cast<char*>("sizeWindow"), 0.0f) == 1)
        effect.callHost(kSizeWindow, kWidth, height, nullptr, 0.0f);
}

void Editor::pressed(int x, int y) {
    if (x >= 412 && x < 532 && y < 25) {
        resize(currentHeight == kShrunkHeight ? kFullHeight : kShrunkHeight);
        return;
    }
    // Knobs of page one: 30 pixels square on a grid of 70 x 122 from (25, 62).
    for (int slot = 0; slot < 24; ++slot) {
        const int left = 25 + 70 * (slot % 8), top = 62 + 122 * (slot / 8);
        if (x < left || x >= left + 30 || y < top || y >= top + 30) continue;
        dragging = slot;
        dragStart = effect.getParameter(ParameterIndex::kFirstGain + slot);
        startX = x;
        startY = y;
        return;
    }
}

void Editor::moved(int x, int y) {
    if (dragging < 0) return;
    const VstInt32 index = ParameterIndex::kFirstGain + dragging;
    const float value = std::clamp(
        dragStart + static_cast<float>((x - startX) - (y - startY)) / 200.0f, 0.0f, 1.0f);
    const int step = gainToMidiValue(value);
    // What a move must beat: the value the effect holds, whoever set it last.
    const int held = effect.fault == kStaleKnob ? lastMoved[static_cast<std::size_t>(dragging)]
                                                : gainToMidiValue(effect.getParameter(index));
    if (step == held) return;
    lastMoved[static_cast<std::size_t>(dragging)] = step;
    effect.setParameter(index, value);
    effect.callHost(audioMasterAutomate, index, 0, nullptr, value);
}

} // namespace

AEffect* create(audioMasterCallback host, Fault fault) {
    auto* effect = new Effect(host, fault);
    return &effect->record;
}

} // namespace fake_remote

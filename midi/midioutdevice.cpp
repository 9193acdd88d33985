#include "midi/midioutdevice.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/midi_outputs.h"
#include "platform/module.h"
#include "platform/thread_wakeup.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Action = ControlHandOver::DeviceAction;

// How long changes for a device that is being left may still take to reach it.
constexpr auto kLeaveLimit = 250ms;
// How long closing the plug-in waits for pending changes and then for the sender to end.
constexpr auto kCloseLimit = 1500ms;
constexpr auto kFinishLimit = 3s;
// A driver that answered "not ready" is asked again after this long.
constexpr auto kRetryInterval = 1ms;
// A pass that has run longer than a message takes on a MIDI cable is behind the changes: its
// remaining controllers go out with their newest values rather than those it collected.
constexpr auto kBehindAfter = 1ms;
// With nothing to do the sender sleeps until woken; this only bounds a lost wake.
constexpr auto kIdleWait = 250ms;
// A device chosen by number is opened only this long after the choice: a host restoring a
// project sets its parameters, the stale device number among them, and gives the state data
// right after, which names the project's device and replaces the choice.
constexpr auto kChoiceSettle = 50ms;

struct Chosen {
    platform::MidiOutput device;
    unsigned occurrence = 0; // among identical devices, which one
    bool counted = true;     // false: known by name only, from a saved project
};

} // namespace

struct MidiOutDevice::Shared {
    ControlHandOver handOver;
    platform::ThreadWakeup wakeup;
    platform::ThreadWakeup finishedWakeup; // the sender ended (for the destructor)
    std::atomic<std::uint32_t> statusGeneration{0};
    std::atomic<bool> portOpen{false};
    // A request to open the chosen device afresh is waiting, so another would only repeat it.
    std::atomic<bool> reopenWaiting{false};
    // A restored state is counting the devices to find its own: device choices wait for it.
    std::atomic<int> recallsPreparing{0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> finished{false};
    // What the sender has dealt with: the device generation it serves and the sequence number
    // below which every change of it has been handled.
    std::atomic<std::uint64_t> settled{0};
    std::atomic<std::uint32_t> servedGeneration{0}; // the device change last made

    // The list and the choice, shared by the sender and the window or host threads. Never
    // taken by the calls an audio thread makes, and never held across a driver call.
    mutable std::mutex lock;
    std::vector<platform::MidiOutput> devices;
    std::optional<Chosen> chosen;
    PortState state = PortState::kNone;

    // The sender thread's own.
    HMIDIOUT handle = nullptr;
    std::uint32_t generation = 0;
    std::array<int, kNumChannels> lastTaken{};

    void run();
    void switchDevice(const ControlHandOver::DeviceRequest& request);
    void skipDevice(const ControlHandOver::DeviceRequest& request);
    enum class Pass { kDone, kNotReady };
    Pass sendPass();
    void leave(Clock::time_point deadline);
    void closePort();
    void setState(PortState newState);
    void publishStatus() { statusGeneration.fetch_add(1); }
    unsigned occurrenceOf(std::size_t number) const;
    int numberOf(const Chosen& choice) const;
};

unsigned MidiOutDevice::Shared::occurrenceOf(std::size_t number) const {
    unsigned count = 0;
    for (std::size_t i = 0; i < number; ++i)
        if (platform::sameMidiOutput(devices[i], devices[number])) ++count;
    return count;
}

int MidiOutDevice::Shared::numberOf(const Chosen& choice) const {
    unsigned seen = 0;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const bool same = choice.counted ? platform::sameMidiOutput(devices[i], choice.device)
                                         : devices[i].name == choice.device.name;
        if (same && seen++ == choice.occurrence) return static_cast<int>(i);
    }
    return -1;
}

void MidiOutDevice::Shared::setState(PortState newState) {
    {
        std::lock_guard<std::mutex> guard(lock);
        state = newState;
    }
    portOpen.store(newState == PortState::kOpen);
    publishStatus();
}

void MidiOutDevice::Shared::closePort() {
    if (!handle) return;
    HMIDIOUT closing = handle;
    handle = nullptr;
    portOpen.store(false);
    midiOutClose(closing);
}

MidiOutDevice::Shared::Pass MidiOutDevice::Shared::sendPass() {
    ControlHandOver::Batch batch;
    std::uint32_t horizon = 0;
    const std::size_t count = handOver.collect(generation, batch, horizon);
    const Clock::time_point collectedAt = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        ControlHandOver::Change& change = batch[i];
        if (i > 0 && Clock::now() - collectedAt > kBehindAfter) handOver.catchUp(change);
        int& taken = lastTaken[static_cast<std::size_t>(change.controller)];
        // Without a port there is nowhere to send; a value the device holds needs no message.
        if (!handle || (!change.always && taken == change.value)) {
            handOver.markTaken(change);
            continue;
        }
        const MMRESULT result =
            midiOutShortMsg(handle, controlChangeMessage(change.controller, change.value));
        if (result == MIDIERR_NOTREADY) return Pass::kNotReady; // this and later ones wait
        if (result != MMSYSERR_NOERROR) {
            // The device is gone or broken: stop using it. Its changes go nowhere until the
            // user reconnects; the choice stays for that.
            closePort();
            setState(PortState::kNotConnected);
            continue;
        }
        taken = change.value;
        handOver.markTaken(change);
    }
    settled.store(static_cast<std::uint64_t>(generation) << 32 | horizon);
    return Pass::kDone;
}

// Sends what was handed over for the current device before it is left, for as long as the
// deadline allows a slow or stalled device.
void MidiOutDevice::Shared::leave(Clock::time_point deadline) {
    while (handle) {
        const Pass pass = sendPass();
        if (pass == Pass::kDone && !handOver.hasPending(generation)) return;
        if (Clock::now() >= deadline) return;
        if (pass == Pass::kNotReady) std::this_thread::sleep_for(kRetryInterval);
    }
}

void MidiOutDevice::Shared::switchDevice(const ControlHandOver::DeviceRequest& request) {
    if (request.action != Action::kSelect) reopenWaiting.store(false);
    leave(Clock::now() + kLeaveLimit);
    if (request.action == Action::kReopen && handle) {
        // The port is fine: later changes simply keep going to it.
        generation = request.generation;
        servedGeneration.store(generation);
        return;
    }
    closePort();
    lastTaken.fill(-1); // the first message to a newly opened port always goes out
    std::optional<Chosen> target;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (request.action == Action::kSelect) {
            if (request.number >= 0 && static_cast<std::size_t>(request.number) < devices.size())
                chosen = Chosen{devices[static_cast<std::size_t>(request.number)],
                                occurrenceOf(static_cast<std::size_t>(request.number)), true};
            else
                chosen.reset();
        }
        target = chosen;
        state = target ? PortState::kOpening : PortState::kNone;
    }
    publishStatus();
    generation = request.generation;
    if (target) {
        HMIDIOUT opened = nullptr;
        if (platform::openMidiOutput(target->device, target->occurrence, &opened) ==
            MMSYSERR_NOERROR)
            handle = opened;
        setState(handle ? PortState::kOpen : PortState::kNotConnected);
    }
    servedGeneration.store(generation);
}

// A choice that a restored state replaced before it was made: the old device gets what was
// meant for it and closes, and what was meant for the skipped device is dropped, since the
// state brings every value again.
void MidiOutDevice::Shared::skipDevice(const ControlHandOver::DeviceRequest& request) {
    leave(Clock::now() + kLeaveLimit);
    closePort();
    generation = request.generation;
    servedGeneration.store(generation);
    sendPass();
}

void MidiOutDevice::Shared::run() {
    std::optional<Clock::time_point> closeDeadline;
    std::uint32_t choiceSeen = 0;
    Clock::time_point choiceSeenAt{};
    for (;;) {
        const Pass pass = sendPass();
        ControlHandOver::DeviceRequest request;
        if (handOver.nextRequest(generation, request)) {
            if (request.action == Action::kSelect && !stopping.load()) {
                if (choiceSeen != request.generation) {
                    choiceSeen = request.generation;
                    choiceSeenAt = Clock::now();
                }
                if (handOver.waitingAfter(request.generation, Action::kRecall)) {
                    skipDevice(request);
                    continue;
                }
                const auto waited = Clock::now() - choiceSeenAt;
                if (recallsPreparing.load() > 0) {
                    wakeup.waitFor(kRetryInterval);
                    continue;
                }
                if (waited < kChoiceSettle) {
                    wakeup.waitFor(std::chrono::duration_cast<std::chrono::microseconds>(
                        kChoiceSettle - waited));
                    continue;
                }
            }
            switchDevice(request);
            continue;
        }
        const bool idle = pass == Pass::kDone && !handOver.hasPending(generation) &&
                          handOver.latestGeneration() == generation;
        if (stopping.load()) {
            if (!closeDeadline) closeDeadline = Clock::now() + kCloseLimit;
            if (idle || Clock::now() >= *closeDeadline) break;
        }
        if (!idle)
            wakeup.waitFor(kRetryInterval);
        else
            wakeup.waitFor(stopping.load() ? kRetryInterval : kIdleWait);
    }
    closePort();
    finished.store(true);
    finishedWakeup.wake();
}

MidiOutDevice::MidiOutDevice() : shared(std::make_shared<Shared>()) {
    shared->lastTaken.fill(-1);
    try {
        shared->devices = platform::countMidiOutputs();
    } catch (...) {
        // No list is a computer without devices: nothing can be chosen until a count works.
    }
    sender = std::thread([state = shared] { state->run(); });
}

MidiOutDevice::~MidiOutDevice() {
    shared->stopping.store(true);
    shared->wakeup.wake();
    const Clock::time_point deadline = Clock::now() + kFinishLimit;
    for (Clock::time_point now = Clock::now(); !shared->finished.load() && now < deadline;
         now = Clock::now())
        shared->finishedWakeup.waitFor(
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - now));
    if (shared->finished.load()) {
        sender.join();
        return;
    }
    // A driver call that never returns keeps the sender in this module's code: the module
    // must then stay loaded for as long as the process runs. The thread keeps what it uses.
    platform::pinModule();
    sender.detach();
}

std::uint32_t MidiOutDevice::statusGeneration() const {
    return shared->statusGeneration.load();
}

DWORD MidiOutDevice::controlChangeMessage(int channel, int value) {
    const DWORD status = 0xB1u + static_cast<DWORD>(channel / 8);
    const DWORD controller = 24u + static_cast<DWORD>(channel % 8);
    const DWORD data = static_cast<DWORD>(std::clamp(value, 0, 127));
    return data << 16 | controller << 8 | status;
}

MMRESULT MidiOutDevice::sendControlChange(int channel, int value, bool always) {
    if (channel < 0 || channel >= kNumChannels) return MMSYSERR_INVALPARAM;
    shared->handOver.post(channel, value, always);
    shared->wakeup.wake();
    return MMSYSERR_NOERROR;
}

void MidiOutDevice::selectDevice(std::int32_t number) {
    shared->handOver.requestDevice(Action::kSelect, number);
    shared->wakeup.wake();
}

void MidiOutDevice::reconnect() {
    if (isOpen() || shared->reopenWaiting.exchange(true)) return;
    shared->handOver.requestDevice(Action::kReopen, -1);
    shared->wakeup.wake();
}

bool MidiOutDevice::isOpen() const {
    return shared->portOpen.load();
}

UINT MidiOutDevice::getDeviceCount() const {
    std::lock_guard<std::mutex> guard(shared->lock);
    return static_cast<UINT>(shared->devices.size());
}

std::string MidiOutDevice::getDeviceName(UINT number) const {
    std::lock_guard<std::mutex> guard(shared->lock);
    return number < shared->devices.size() ? shared->devices[number].menuName : std::string();
}

std::vector<std::string> MidiOutDevice::menuNames() const {
    std::lock_guard<std::mutex> guard(shared->lock);
    std::vector<std::string> names;
    for (const auto& device : shared->devices)
        names.push_back(device.menuName);
    return names;
}

MidiOutDevice::Status MidiOutDevice::status() const {
    std::lock_guard<std::mutex> guard(shared->lock);
    Status result;
    result.state = shared->state;
    if (shared->chosen) {
        result.number = shared->numberOf(*shared->chosen);
        result.name = shared->chosen->device.name;
        result.menuName = shared->chosen->device.menuName;
    }
    return result;
}

std::string MidiOutDevice::chosenName() const {
    std::lock_guard<std::mutex> guard(shared->lock);
    // Only the newest request can still change the choice: a recall or reopen has already
    // set it, a choice by number sets it when the sender makes it, from the same list.
    ControlHandOver::DeviceRequest newest;
    const std::uint32_t latest = shared->handOver.latestGeneration();
    if (latest != 0 && shared->handOver.nextRequest(latest - 1, newest) &&
        newest.action == Action::kSelect) {
        const auto number = static_cast<std::size_t>(newest.number);
        return newest.number >= 0 && number < shared->devices.size() ? shared->devices[number].name
                                                                     : std::string();
    }
    return shared->chosen ? shared->chosen->device.name : std::string();
}

MidiOutDevice::Recount MidiOutDevice::recount() {
    Recount result;
    std::vector<platform::MidiOutput> counted;
    try {
        counted = platform::countMidiOutputs();
    } catch (...) {
        return result; // the last list stays
    }
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->devices = std::move(counted);
        if (shared->chosen) {
            result.number = shared->numberOf(*shared->chosen);
            if (result.number >= 0 && !shared->chosen->counted) {
                // Known by name until now: from here on by what the count saw.
                shared->chosen->device = shared->devices[static_cast<std::size_t>(result.number)];
                shared->chosen->counted = true;
            }
            const bool listed = result.number >= 0;
            const PortState state = shared->state;
            result.reopening = (listed && state == PortState::kNotConnected) ||
                               (!listed && state == PortState::kOpen);
        }
    }
    shared->publishStatus();
    if (result.reopening) {
        shared->reopenWaiting.store(true);
        shared->handOver.requestDevice(Action::kRecall, -1);
        shared->wakeup.wake();
    }
    return result;
}

int MidiOutDevice::recall(const std::string& name) {
    struct Preparing {
        std::atomic<int>& count;
        explicit Preparing(std::atomic<int>& count) : count(count) { count.fetch_add(1); }
        ~Preparing() { count.fetch_sub(1); }
    } preparing(shared->recallsPreparing);
    std::optional<std::vector<platform::MidiOutput>> counted;
    try {
        counted = platform::countMidiOutputs();
    } catch (...) {
        // The last list stays; the name is still chosen.
    }
    int number = -1;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (counted) shared->devices = std::move(*counted);
        Chosen choice;
        choice.device.name = name;
        choice.device.menuName = name.substr(0, 31);
        choice.counted = false;
        number = shared->numberOf(choice);
        if (number >= 0) {
            const auto position = static_cast<std::size_t>(number);
            choice = Chosen{shared->devices[position], shared->occurrenceOf(position), true};
        }
        shared->chosen = choice;
    }
    shared->reopenWaiting.store(true);
    shared->handOver.requestDevice(Action::kRecall, -1);
    shared->wakeup.wake();
    return number;
}

bool MidiOutDevice::waitForDeviceChanges(std::chrono::milliseconds timeout) const {
    const std::uint32_t generation = shared->handOver.latestGeneration();
    const Clock::time_point deadline = Clock::now() + timeout;
    while (static_cast<std::int32_t>(shared->servedGeneration.load() - generation) < 0) {
        if (Clock::now() >= deadline || shared->finished.load()) return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

bool MidiOutDevice::waitUntilSent(std::chrono::milliseconds timeout) const {
    const std::uint32_t generation = shared->handOver.latestGeneration();
    const std::uint32_t posted = shared->handOver.postedCount();
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const std::uint64_t settled = shared->settled.load();
        const auto settledGeneration = static_cast<std::uint32_t>(settled >> 32);
        const auto horizon = static_cast<std::uint32_t>(settled);
        // Settled past both the device change and the changes made before the call.
        if (static_cast<std::int32_t>(settledGeneration - generation) >= 0 &&
            static_cast<std::int32_t>(horizon - posted) >= 0)
            return true;
        if (Clock::now() >= deadline || shared->finished.load()) return false;
        shared->wakeup.wake();
        std::this_thread::sleep_for(100us);
    }
}

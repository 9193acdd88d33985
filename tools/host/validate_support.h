#pragma once
// What the validator's checks share: the run that prints and keeps their results, instances
// made by the plug-in's entry point with a host side that answers (and, where a check asks,
// remembers and echoes), audio runs over the process entries, and what our own plug-in sends
// for each gain.

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/shared_library.h"
#include "tools/host/host.h"
#include "tools/host/validate.h"
#include "tools/host/validate_probes.h"
#include "vst/aeffect.h"

namespace platform {
class HostWindow;
}

namespace qrhost {

using Clock = std::chrono::steady_clock;
using EntryFunction = AEffect*(VSTCALLBACK*)(audioMasterCallback);
using Message = MidiReceiverProbe::Message;

// Host callback opcodes the validator answers beyond those the plug-in framework names.
constexpr VstInt32 kAudioMasterSizeWindow = 15; // index: width, value: height
constexpr VstInt32 kAudioMasterCanDo = 37;      // ptr: the capability's text

constexpr double kAutomationRate = 48000.0;
constexpr VstInt32 kSubBlock = 32;
constexpr VstInt32 kAutomationBlock = 512;
constexpr VstInt32 kMaxChannels = 256;

double millisecondsSince(Clock::time_point start);
std::string fixed(double value, int decimals = 1);

// Runs named checks one after another: prints each result as it comes and keeps them all.
class CheckRun {
  public:
    CheckRun(const ValidateOptions& options, std::ostream& out) : options(options), out(out) {}

    // With --only=A,B: the checks whose names contain A or B; never those --skip names.
    bool selected(const std::string& name) const;
    // Runs one check; an exception from the plug-in or the host side is a failure of it.
    void guarded(const std::string& name, const std::function<void()>& check);
    void report(Outcome outcome, const std::string& figures);
    void verdict(bool passed, const std::string& figures) {
        report(passed ? Outcome::Pass : Outcome::Fail, figures);
    }
    int scaled(int full, int quick) const { return options.quick ? quick : full; }

    const ValidateOptions& options;
    std::ostream& out;
    std::vector<CheckResult> results;

  private:
    bool expectedToFail(const std::string& name) const;

    std::string current;
    bool reported = false;
};

// The plug-in file under test, loaded once, and what the validator knows about it.
struct PluginUnderTest {
    std::string path;
    platform::SharedLibrary library;
    EntryFunction entry = nullptr;
    bool ours = false; // our own plug-in: its parameters, MIDI and window are known here
    bool hasEditor = false;
};

// The host side of one instance, for checks that look at what the plug-in asked of its host:
// it keeps every call, answers "sizeWindow" as the check says, and can echo each automation
// report back through setParameter at once, as some hosts do.
class HostSide {
  public:
    bool echoAutomation = false;
    bool canSizeWindow = true;

    std::vector<HostCall> calls(VstInt32 opcode) const { return log.matching(opcode); }
    void clear() { log.clear(); }
    VstIntPtr answer(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                     float opt);

  private:
    HostCallLog log;
};

// The validator's host callback: an instance's HostSide where its record has one, otherwise
// answers without state, so that nothing the host does in a callback counts against the
// plug-in's audio path.
VstIntPtr VSTCALLBACK answerHost(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                 void* ptr, float opt);

// One effect made by the entry point; closed (effClose) when it goes. Without a HostSide the
// host answers without state, so that nothing the host does in a callback counts against the
// plug-in's audio path.
class Instance {
  public:
    explicit Instance(EntryFunction entry, HostSide* host = nullptr);
    ~Instance() { destroy(); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Closes the effect; a window still open goes first unless the host is careless on purpose.
    void destroy(bool closeWindowFirst = true);

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) const {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }
    void set(VstInt32 index, float value) const { record->setParameter(record, index, value); }
    float get(VstInt32 index) const { return record->getParameter(record, index); }

    bool openWindow(void* parent);
    void closeWindow();
    // The window's size as the plug-in reports it; false when it gives none.
    bool windowSize(int& width, int& height) const;
    void resume(double sampleRate, VstInt32 blockSize);
    void suspend();

    AEffect* record = nullptr;

  private:
    bool windowOpen = false;
    bool resumed = false;
};

// What a stretch of processing did to the test signal.
struct AudioStats {
    std::int64_t frames = 0;
    std::int64_t mismatches = 0;          // samples that differ from their input, bit for bit
    std::int64_t introducedNonFinite = 0; // NaN or infinity where the input had a finite value
    std::int64_t firstMismatch = -1;
    bool inputsIntact = true;
    PathCounts path;

    void add(const AudioStats& other);
    bool exact() const { return mismatches == 0 && introducedNonFinite == 0 && inputsIntact; }
};

std::string describeAudio(const AudioStats& stats);
// "N allocations, N frees, N lock waits, N system calls, N wakes".
std::string describePath(const PathCounts& path);

// Buffers for one precision, and one process call at a time over them.
template <typename Sample> class AudioRunner {
  public:
    using ProcessFunction = void(VSTCALLBACK*)(AEffect*, Sample**, Sample**, VstInt32);

    AudioRunner(const AEffect& effect, VstInt32 maxBlock);
    bool supported() const { return function != nullptr; }
    // Frames start..start+count of the test signal through one process call.
    AudioStats run(AEffect& effect, std::int64_t start, VstInt32 count, bool countPath = false);

  private:
    ProcessFunction function = nullptr;
    VstInt32 channels = 0;
    std::vector<std::vector<Sample>> inputs;
    std::vector<std::vector<Sample>> outputs;
    std::vector<Sample*> inputPointers;
    std::vector<Sample*> outputPointers;
};
extern template class AudioRunner<float>;
extern template class AudioRunner<double>;

// Our plug-in's Control Change for a gain channel (0..47) and 7-bit value.
Message controlChange(int channel, int midiValue);
// The channel a Control Change of ours is for, or -1.
int gainChannelOf(const Message& message);

// A gain automation step: parameter, value, and the Control Change our plug-in sends for it.
struct GainStep {
    VstInt32 index;
    float value;
    Message expected;
};
GainStep gainStep(std::uint64_t step);
// The steps a device has to be sent: those whose 7-bit value differs from the last one of the
// same gain (the first of each always).
std::vector<GainStep> distinctSteps(const std::vector<GainStep>& steps);
// A value half way between two 7-bit steps, so the step a device gets is unambiguous.
float gainValueFor(int midiValue);

std::string hexBytes(const Message& message);
// A message is well formed when it starts with a status byte and every other byte is data.
bool wellFormed(const Message& message);

// Messages kept per gain channel as a receiver gets them: the last value of each, so a check
// can wait until a device holds what the host holds.
class DeviceState {
  public:
    void add(const std::vector<Message>& messages);
    // Takes from `receiver` until `done` says so or `timeoutMs` has passed; answers `done`.
    bool collectUntil(MidiReceiverProbe& receiver, int timeoutMs,
                      const std::function<bool(const DeviceState&)>& done);
    // -1 where nothing came for the channel.
    int last(int channel) const { return lastValue[static_cast<std::size_t>(channel)]; }
    // Channels whose last value differs from `wanted` (7-bit values, -1: anything).
    int mismatches(const std::vector<int>& wanted) const;
    std::size_t received() const { return all.size(); }
    std::size_t malformed() const { return badMessages; }
    // Messages for the channel in the order they came.
    std::vector<int> history(int channel) const;

  private:
    std::vector<Message> all;
    std::vector<int> lastValue = std::vector<int>(48, -1);
    std::size_t badMessages = 0;
};

// The receiver's device number as a fresh count by this process's MIDI calls lists it; -1
// when its port is not among them (after a second's wait for it to show).
int deviceNumberOf(const MidiReceiverProbe& receiver);

// The MIDI lab of the family checks, opened when a check first asks for it (starting a JACK
// server is not free) and kept until the families are done.
class LabAccess {
  public:
    explicit LabAccess(std::ostream& out) : out(out) {}
    // Null when the system offers none; `whyNot` then says why.
    MidiLab* get(std::string& whyNot);

  private:
    std::ostream& out;
    std::unique_ptr<MidiLab> lab;
    bool tried = false;
    std::string labWhyNot;
};

// The lab for a check of our plug-in's MIDI; null after reporting the check skipped (another
// plug-in, whose MIDI output is unknown here, or no lab on this system).
MidiLab* labForOurPlugin(CheckRun& run, const PluginUnderTest& plugin, LabAccess& labs);

// The families of checks beyond validate.cpp's, run after its checks in this order.
void runInstanceChecks(CheckRun& run, PluginUnderTest& plugin, LabAccess& lab);
void runChurnChecks(CheckRun& run, PluginUnderTest& plugin, LabAccess& lab);
void runStallChecks(CheckRun& run, PluginUnderTest& plugin, LabAccess& lab);
void runWindowChecks(CheckRun& run, PluginUnderTest& plugin, LabAccess& lab);
// Last of all: windows on several threads, then unloading the plug-in.
void runWindowThreadChecks(CheckRun& run, PluginUnderTest& plugin);

} // namespace qrhost

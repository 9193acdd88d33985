#include "tools/host/validate_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>
#include <thread>

#include "midi/midioutdevice.h"
#include "plugin/parameters.h"
#include "tools/host/commands.h"

namespace qrhost {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string fixed(double value, int decimals) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

namespace {

bool listed(const std::string& list, const std::string& name, bool exact) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = list.find(',', from);
        const std::string part = list.substr(from, comma - from);
        if (!part.empty() && (exact ? name == part : name.find(part) != std::string::npos))
            return true;
        if (comma == std::string::npos) return false;
        from = comma + 1;
    }
}

} // namespace

bool CheckRun::selected(const std::string& name) const {
    return (options.only.empty() || listed(options.only, name, false)) &&
           !listed(options.skip, name, false);
}

bool CheckRun::expectedToFail(const std::string& name) const {
    return listed(options.expectFail, name, true);
}

void CheckRun::guarded(const std::string& name, const std::function<void()>& check) {
    if (!selected(name)) return;
    current = name;
    reported = false;
    try {
        check();
    } catch (const std::exception& error) {
        report(Outcome::Fail, std::string("stopped: ") + error.what());
    }
    if (!reported) report(Outcome::Fail, "no result");
}

void CheckRun::report(Outcome outcome, const std::string& figures) {
    const bool expected = expectedToFail(current);
    results.push_back({current, outcome, figures, expected});
    reported = true;
    const char* shown = expected && outcome == Outcome::Fail ? "XFAIL" : outcomeName(outcome);
    out << std::left << std::setw(5) << shown << std::right << ' ' << current << ": " << figures;
    if (expected && outcome == Outcome::Pass)
        out << " [listed as expected to fail: take it off the list]";
    out << std::endl;
}

// ---------------------------------------------------------------------------------------

VstIntPtr HostSide::answer(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                           void* ptr, float opt) {
    log.add({opcode, index, value, opt});
    switch (opcode) {
    case audioMasterAutomate:
        // Hosts that echo do it before the plug-in's call returns, on the same thread.
        if (echoAutomation && effect && effect->setParameter)
            effect->setParameter(effect, index, opt);
        return 0;
    case kAudioMasterCanDo:
        return ptr && std::strcmp(static_cast<const char*>(ptr), "sizeWindow") == 0 && canSizeWindow
                   ? 1
                   : 0;
    case kAudioMasterSizeWindow:
        return canSizeWindow ? 1 : 0;
    default:
        return HostCallbacks::plainAnswer(opcode);
    }
}

VstIntPtr VSTCALLBACK answerHost(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                 void* ptr, float opt) {
    if (effect && effect->user)
        return static_cast<HostSide*>(effect->user)->answer(effect, opcode, index, value, ptr, opt);
    return HostCallbacks::plainAnswer(opcode);
}

Instance::Instance(EntryFunction entry, HostSide* host) {
    record = entry(&answerHost);
    if (!record) throw HostError("the entry point created no effect");
    if (record->magic != kEffectMagic) {
        record = nullptr;
        throw HostError("the entry point returned a record without the VstP magic");
    }
    if (!record->dispatcher || !record->setParameter || !record->getParameter) {
        record = nullptr;
        throw HostError("the effect record lacks dispatcher or parameter entries");
    }
    // The record's `user` field is the host's: it finds the instance's host side.
    record->user = host;
    dispatch(effOpen);
}

void Instance::destroy(bool closeWindowFirst) {
    if (!record) return;
    if (windowOpen && closeWindowFirst) closeWindow();
    if (resumed) suspend();
    dispatch(effClose);
    record = nullptr;
}

bool Instance::openWindow(void* parent) {
    windowOpen = dispatch(effEditOpen, 0, 0, parent) != 0;
    return windowOpen;
}

void Instance::closeWindow() {
    dispatch(effEditClose);
    windowOpen = false;
}

bool Instance::windowSize(int& width, int& height) const {
    ERect* rect = nullptr;
    if (!dispatch(effEditGetRect, 0, 0, &rect) || !rect) return false;
    width = rect->right - rect->left;
    height = rect->bottom - rect->top;
    return width > 0 && height > 0;
}

void Instance::resume(double sampleRate, VstInt32 blockSize) {
    if (resumed) suspend();
    switchOn(*record, sampleRate, blockSize);
    resumed = true;
}

void Instance::suspend() {
    switchOff(*record);
    resumed = false;
}

// ---------------------------------------------------------------------------------------

void AudioStats::add(const AudioStats& other) {
    if (firstMismatch < 0 && other.firstMismatch >= 0) firstMismatch = frames + other.firstMismatch;
    frames += other.frames;
    mismatches += other.mismatches;
    introducedNonFinite += other.introducedNonFinite;
    inputsIntact = inputsIntact && other.inputsIntact;
    path.add(other.path);
}

std::string describeAudio(const AudioStats& stats) {
    std::string text = std::to_string(stats.frames) + " frames, ";
    if (stats.exact()) return text + "output equals input bit for bit";
    text += std::to_string(stats.mismatches) + " samples differ (first at frame " +
            std::to_string(stats.firstMismatch) + "), " +
            std::to_string(stats.introducedNonFinite) + " NaN/inf introduced";
    if (!stats.inputsIntact) text += ", inputs changed";
    return text;
}

std::string describePath(const PathCounts& path) {
    return std::to_string(path.allocations) + " allocations, " + std::to_string(path.frees) +
           " frees, " + std::to_string(path.lockWaits) + " lock waits, " +
           std::to_string(path.systemCalls) + " system calls, " + std::to_string(path.wakes) +
           " wakes of another thread (allowed)";
}

template <typename Sample>
AudioRunner<Sample>::AudioRunner(const AEffect& effect, VstInt32 maxBlock) {
    if (effect.numInputs < 0 || effect.numOutputs < 0 || effect.numInputs > kMaxChannels ||
        effect.numOutputs > kMaxChannels)
        throw HostError("the effect record gives impossible channel counts");
    if constexpr (std::is_same_v<Sample, double>) {
        if (effect.flags & effFlagsCanDoubleReplacing) function = effect.processDoubleReplacing;
    } else {
        if (effect.flags & effFlagsCanReplacing) function = effect.processReplacing;
    }
    channels = std::min(effect.numInputs, effect.numOutputs);
    const auto block = static_cast<std::size_t>(maxBlock);
    inputs.assign(static_cast<std::size_t>(effect.numInputs), std::vector<Sample>(block));
    outputs.assign(static_cast<std::size_t>(effect.numOutputs), std::vector<Sample>(block));
    inputPointers.assign(inputs.size() + 1, nullptr);
    outputPointers.assign(outputs.size() + 1, nullptr);
    for (std::size_t c = 0; c < inputs.size(); ++c)
        inputPointers[c] = inputs[c].data();
    for (std::size_t c = 0; c < outputs.size(); ++c)
        outputPointers[c] = outputs[c].data();
}

template <typename Sample>
AudioStats AudioRunner<Sample>::run(AEffect& effect, std::int64_t start, VstInt32 count,
                                    bool countPath) {
    static constexpr Sample kUntouched = static_cast<Sample>(-1234.5678);
    AudioStats stats;
    stats.frames = count;
    for (std::size_t c = 0; c < inputs.size(); ++c)
        for (VstInt32 i = 0; i < count; ++i)
            inputs[c][static_cast<std::size_t>(i)] =
                testSample<Sample>(static_cast<std::int32_t>(c), start + i);
    for (auto& channel : outputs)
        std::fill(channel.begin(), channel.end(), kUntouched);

    if (countPath) beginPathCounting();
    function(&effect, inputPointers.data(), outputPointers.data(), count);
    if (countPath) stats.path = endPathCounting();

    for (std::size_t c = 0; c < inputs.size(); ++c) {
        for (VstInt32 i = 0; i < count; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const Sample expected = testSample<Sample>(static_cast<std::int32_t>(c), start + i);
            if (std::memcmp(&inputs[c][at], &expected, sizeof(Sample)) != 0)
                stats.inputsIntact = false;
            if (static_cast<VstInt32>(c) >= channels) continue;
            const Sample got = outputs[c][at];
            if (std::memcmp(&got, &expected, sizeof(Sample)) != 0) {
                if (stats.firstMismatch < 0) stats.firstMismatch = i;
                ++stats.mismatches;
                if (std::isfinite(expected) && !std::isfinite(got)) ++stats.introducedNonFinite;
            }
        }
    }
    return stats;
}

template class AudioRunner<float>;
template class AudioRunner<double>;

// ---------------------------------------------------------------------------------------

Message controlChange(int channel, int midiValue) {
    const DWORD packed = MidiOutDevice::controlChangeMessage(channel, midiValue);
    return {static_cast<unsigned char>(packed), static_cast<unsigned char>(packed >> 8),
            static_cast<unsigned char>(packed >> 16)};
}

int gainChannelOf(const Message& message) {
    if (message.size() != 3 || message[0] < 0xB1 || message[0] > 0xB6 || message[1] < 24 ||
        message[1] > 31)
        return -1;
    return (message[0] - 0xB1) * 8 + (message[1] - 24);
}

float gainValueFor(int midiValue) {
    // The top step is the top of the range.
    return midiValue >= 127 ? 1.0f : (static_cast<float>(midiValue) + 0.5f) / 127.0f;
}

GainStep gainStep(std::uint64_t step) {
    const int channel = static_cast<int>(step % kNumGainChannels);
    const int midiValue = static_cast<int>((step * 53 + step / kNumGainChannels) % 128);
    const float value = gainValueFor(midiValue);
    return {ParameterIndex::kFirstGain + channel, value,
            controlChange(channel, gainToMidiValue(value))};
}

std::vector<GainStep> distinctSteps(const std::vector<GainStep>& steps) {
    std::vector<int> last(kNumGainChannels, -1);
    std::vector<GainStep> due;
    for (const GainStep& step : steps) {
        const auto channel = static_cast<std::size_t>(step.index - ParameterIndex::kFirstGain);
        const int value = gainToMidiValue(step.value);
        if (value == last[channel]) continue;
        last[channel] = value;
        due.push_back(step);
    }
    return due;
}

std::string hexBytes(const Message& message) {
    std::ostringstream text;
    for (std::size_t i = 0; i < message.size(); ++i)
        text << (i ? " " : "") << std::hex << std::setw(2) << std::setfill('0')
             << static_cast<int>(message[i]);
    return text.str();
}

bool wellFormed(const Message& message) {
    if (message.empty() || message[0] < 0x80) return false;
    return std::all_of(message.begin() + 1, message.end(),
                       [](unsigned char b) { return b < 0x80; });
}

void DeviceState::add(const std::vector<Message>& messages) {
    for (const Message& message : messages) {
        all.push_back(message);
        if (!wellFormed(message)) ++badMessages;
        const int channel = gainChannelOf(message);
        if (channel >= 0) lastValue[static_cast<std::size_t>(channel)] = message[2];
    }
}

bool DeviceState::collectUntil(MidiReceiverProbe& receiver, int timeoutMs,
                               const std::function<bool(const DeviceState&)>& done) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        add(receiver.take(std::numeric_limits<std::size_t>::max(), 20));
        if (done(*this)) return true;
        if (Clock::now() >= deadline) return false;
    }
}

int DeviceState::mismatches(const std::vector<int>& wanted) const {
    int wrong = 0;
    for (std::size_t c = 0; c < wanted.size() && c < lastValue.size(); ++c)
        if (wanted[c] >= 0 && lastValue[c] != wanted[c]) ++wrong;
    return wrong;
}

std::vector<int> DeviceState::history(int channel) const {
    std::vector<int> values;
    for (const Message& message : all)
        if (gainChannelOf(message) == channel) values.push_back(message[2]);
    return values;
}

MidiLab* LabAccess::get(std::string& whyNot) {
    if (!tried) {
        tried = true;
        lab = MidiLab::open(labWhyNot);
        out << "MIDI lab: " << (lab ? lab->description() : "none (" + labWhyNot + ")") << '\n';
    }
    whyNot = labWhyNot;
    return lab.get();
}

MidiLab* labForOurPlugin(CheckRun& run, const PluginUnderTest& plugin, LabAccess& labs) {
    if (!plugin.ours) {
        run.report(Outcome::Skip, "how this plug-in picks its MIDI output is unknown to the host");
        return nullptr;
    }
    std::string whyNot;
    MidiLab* lab = labs.get(whyNot);
    if (!lab) run.report(Outcome::Skip, "no MIDI lab: " + whyNot);
    return lab;
}

int deviceNumberOf(const MidiReceiverProbe& receiver) {
    const std::string name = receiver.portName().substr(0, MAXPNAMELEN - 1);
    // A port that was just made shows in the server's lists from its next cycle on.
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    do {
        for (const MidiDevice& device : midiOutputDevices())
            if (device.available && device.name == name) return static_cast<int>(device.number);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return -1;
}

} // namespace qrhost

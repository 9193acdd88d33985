#include "plugin/midiremoteeffect.h"

#include <cstring>
#include <new>
#include <string>

#include "editor/midiremoteeditor.h"
#include "midi/midioutdevice.h"
#include "vst/numeric.h"
#include "vst/vststrings.h"

namespace {

constexpr const char* kEffectName = "Quorvel Remote Control Demo";
constexpr const char* kVendor = "Brannock";
constexpr VstInt32 kVendorVersion = 1100;
constexpr VstInt32 kUniqueId = fourCharCode('Q', 'V', 'R', 'L');

constexpr std::uint64_t kProjectDeviceActive = std::uint64_t{1} << 63;
std::uint64_t projectDeviceWord(int savedNumber, int numberNow) {
    return kProjectDeviceActive | static_cast<std::uint64_t>(savedNumber & 0x7FFFFFFF) << 32 |
           static_cast<std::uint32_t>(numberNow);
}

template <typename Sample>
void passThrough(Sample** inputs, Sample** outputs, VstInt32 sampleFrames) {
    if (!inputs || !outputs || sampleFrames <= 0) return;
    const Sample* in1 = inputs[0];
    const Sample* in2 = inputs[1];
    Sample* out1 = outputs[0];
    Sample* out2 = outputs[1];
    if (!in1 || !in2 || !out1 || !out2) return;
    // Channel by channel with the library's widest copy, unless a host crosses the channels'
    // buffers: then the sample-by-sample order is what defines the result.
    if (out1 != in2 && out2 != in1) {
        const auto bytes = static_cast<std::size_t>(sampleFrames) * sizeof(Sample);
        if (out1 != in1) std::memmove(out1, in1, bytes);
        if (out2 != in2) std::memmove(out2, in2, bytes);
        return;
    }
    for (VstInt32 i = 0; i < sampleFrames; ++i) {
        out1[i] = in1[i];
        out2[i] = in2[i];
    }
}

} // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new (std::nothrow) MidiRemoteEffect(audioMaster);
}

MidiRemoteEffect::MidiRemoteEffect(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, ParameterIndex::kCount) {
    setUniqueID(kUniqueId);
    setNumInputs(2);
    setNumOutputs(2);
    canProcessReplacing(true);
    canDoubleReplacing(true);
    programsAreChunks(true);
    vst::boundedCopy(programName, "Default", kVstMaxProgNameLen);
    for (auto& value : parameterValues) value.store(0.0f, std::memory_order_relaxed);
    windowEditor = new MidiRemoteEditor(this);  // attaches itself with setEditor
    midiOut = std::make_unique<MidiOutDevice>();
}

MidiRemoteEffect::~MidiRemoteEffect() {
    // Sends what is pending and closes the port, before the editor goes with the base.
    midiOut.reset();
}

void MidiRemoteEffect::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    passThrough(inputs, outputs, sampleFrames);
}

void MidiRemoteEffect::processDoubleReplacing(double** inputs, double** outputs,
                                              VstInt32 sampleFrames) {
    passThrough(inputs, outputs, sampleFrames);
}

// Safe on any thread, the host's audio thread included: the value is stored, the window is told
// (or left a note), and the MIDI port is handed the change; nothing here waits or allocates.
void MidiRemoteEffect::setParameter(VstInt32 index, float value) {
    if (!isParameterIndex(index)) return;
    parameterValues[static_cast<std::size_t>(index)].store(value);
    if (windowEditor) windowEditor->setParameter(index, value);
    applyToMidi(index, value);
}

void MidiRemoteEffect::applyToMidi(VstInt32 index, float value) {
    using namespace ParameterIndex;
    if (index == kRefresh && value == 1.0f) {
        midiOut->reconnect();
        sendAllGains();
    } else if (isGainIndex(index)) {
        sendGain(index - kFirstGain, false);
    } else if (index == kMidiDevice) {
        chooseDevice(value);
    }
}

void MidiRemoteEffect::chooseDevice(float value) {
    // Anything that is not a finite device number in range closes the port.
    const int number = vst::truncateToInt32(value).value_or(-1);
    std::uint64_t project = projectDevice.load();
    while (project & kProjectDeviceActive) {
        const auto saved = static_cast<int>((project >> 32) & 0x7FFFFFFF);
        if (number == saved) {
            // The host restoring the project it just gave us: keep the project's device.
            const auto now = static_cast<float>(static_cast<std::int32_t>(project & 0xFFFFFFFFu));
            parameterValues[ParameterIndex::kMidiDevice].store(now);
            if (windowEditor) windowEditor->setParameter(ParameterIndex::kMidiDevice, now);
            return;
        }
        if (projectDevice.compare_exchange_weak(project, 0)) break;
    }
    midiOut->selectDevice(number);
}

// Hands over the gain the effect holds, not the caller's value: when two threads set the same
// gain at once, the last value handed over must be the one stored last. Whoever stores after
// this hand-over hands over again, so reading back until nothing moved is enough.
void MidiRemoteEffect::sendGain(int channel, bool always) {
    const auto& stored =
        parameterValues[static_cast<std::size_t>(ParameterIndex::kFirstGain + channel)];
    int value = gainToMidiValue(stored.load());
    for (;;) {
        midiOut->sendControlChange(channel, value, always);
        const int now = gainToMidiValue(stored.load());
        if (now == value) return;
        value = now;
    }
}

void MidiRemoteEffect::sendAllGains() {
    for (int channel = 0; channel < kNumGainChannels; ++channel) sendGain(channel, true);
}

void MidiRemoteEffect::showDeviceNumber(int number) {
    std::uint64_t project = projectDevice.load();
    while ((project & kProjectDeviceActive) &&
           !projectDevice.compare_exchange_weak(
               project, projectDeviceWord(static_cast<int>((project >> 32) & 0x7FFFFFFF), number))) {
    }
    const auto value = static_cast<float>(number);
    if (parameterValues[ParameterIndex::kMidiDevice].exchange(value) == value) return;
    if (windowEditor) windowEditor->setParameter(ParameterIndex::kMidiDevice, value);
    updateDisplay();
}

void MidiRemoteEffect::forgetProjectDeviceNumber() { projectDevice.store(0); }

void MidiRemoteEffect::recountDevices(bool thenRefresh) {
    const MidiOutDevice::Recount recount = midiOut->recount();
    if (recount.number >= 0) showDeviceNumber(recount.number);
    if (recount.reopening && !thenRefresh) sendAllGains();
}

VstInt32 MidiRemoteEffect::getChunk(void** data, bool /*isPreset*/) {
    if (!data) return 0;
    SavedState state;
    for (VstInt32 index = 0; index < ParameterIndex::kCount; ++index)
        state.values[static_cast<std::size_t>(index)] = savableValue(index, getParameter(index));
    // A device chosen a moment ago is the one to save, even if its port is not open yet.
    const std::string name = midiOut->chosenName();
    if (name.size() <= SavedState::kMaxNameLength)
        std::memcpy(state.deviceName.data(), name.c_str(), name.size() + 1);
    const std::size_t size = writeStateData(state, chunk);
    *data = size ? chunk.data() : nullptr;
    return static_cast<VstInt32>(size);
}

// Restores a project: the device first, by name, so that the gains restored after it go to
// that device and to no other.
VstInt32 MidiRemoteEffect::setChunk(void* data, VstInt32 byteSize, bool /*isPreset*/) {
    SavedState state;
    if (byteSize < 0 || !readStateData(data, static_cast<std::size_t>(byteSize), state)) return 0;
    using namespace ParameterIndex;
    // Parameter 0 names the device's number now; -1 while it is not listed or none was chosen.
    int deviceNumber = -1;
    projectDevice.store(0);
    if (state.deviceName[0] != '\0') {
        deviceNumber = midiOut->recall(state.deviceName.data());
        const auto saved = static_cast<int>(state.values[kMidiDevice]);
        if (saved >= 0) projectDevice.store(projectDeviceWord(saved, deviceNumber));
    } else {
        midiOut->selectDevice(-1);
    }
    for (VstInt32 index = kRefresh; index < kCount; ++index) {
        const float value = state.values[static_cast<std::size_t>(index)];
        parameterValues[static_cast<std::size_t>(index)].store(value);
        if (windowEditor) windowEditor->setParameter(index, value);
    }
    parameterValues[kMidiDevice].store(static_cast<float>(deviceNumber));
    if (windowEditor) windowEditor->setParameter(kMidiDevice, static_cast<float>(deviceNumber));
    sendAllGains();
    return 1;
}

float MidiRemoteEffect::getParameter(VstInt32 index) {
    if (!isParameterIndex(index)) return 0.0f;
    return parameterValues[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
}

void MidiRemoteEffect::setProgramName(char* name) {
    vst::boundedCopy(programName, name, kVstMaxProgNameLen);
}

void MidiRemoteEffect::getProgramName(char* name) {
    vst::boundedCopy(name, programName, kVstMaxProgNameLen);
}

void MidiRemoteEffect::getParameterDisplay(VstInt32 index, char* text) {
    if (!text) return;
    if (isGainIndex(index)) {
        char gainText[kGainTextSize];
        formatGainText(getParameter(index), gainText);
        vst::boundedCopy(text, gainText, kVstMaxParamStrLen);
    } else {
        float2string(getParameter(index), text, kVstMaxParamStrLen);
    }
}

void MidiRemoteEffect::getParameterName(VstInt32 index, char* text) {
    char name[kParameterNameSize];
    if (text && parameterName(index, name)) vst::boundedCopy(text, name, kVstMaxParamStrLen);
}

bool MidiRemoteEffect::getEffectName(char* name) {
    vst::boundedCopy(name, kEffectName, kVstMaxEffectNameLen);
    return true;
}

bool MidiRemoteEffect::getVendorString(char* text) {
    vst::boundedCopy(text, kVendor, kVstMaxVendorStrLen);
    return true;
}

bool MidiRemoteEffect::getProductString(char* text) {
    vst::boundedCopy(text, kEffectName, kVstMaxProductStrLen);
    return true;
}

VstInt32 MidiRemoteEffect::getVendorVersion() { return kVendorVersion; }

VstPlugCategory MidiRemoteEffect::getPlugCategory() { return kPlugCategEffect; }

#include "plugin/midiremoteeffect.h"

#include <cstring>
#include <new>

#include "editor/midiremoteeditor.h"
#include "midi/midioutdevice.h"
#include "vst/numeric.h"
#include "vst/vststrings.h"

namespace {

constexpr const char* kEffectName = "Quorvel Remote Control Demo";
constexpr const char* kVendor = "Brannock";
constexpr VstInt32 kVendorVersion = 1100;
constexpr VstInt32 kUniqueId = fourCharCode('Q', 'V', 'R', 'L');

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
    vst::boundedCopy(programName, "Default", kVstMaxProgNameLen);
    for (auto& value : parameterValues) value.store(0.0f, std::memory_order_relaxed);
    windowEditor = new MidiRemoteEditor(this);  // attaches itself with setEditor
    midiOut = std::make_unique<MidiOutDevice>();
}

MidiRemoteEffect::~MidiRemoteEffect() {
    midiOut->closeDevice();
    midiOut.reset();
}

void MidiRemoteEffect::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    passThrough(inputs, outputs, sampleFrames);
}

void MidiRemoteEffect::processDoubleReplacing(double** inputs, double** outputs,
                                              VstInt32 sampleFrames) {
    passThrough(inputs, outputs, sampleFrames);
}

void MidiRemoteEffect::setParameter(VstInt32 index, float value) {
    if (!isParameterIndex(index)) return;
    std::lock_guard<std::mutex> guard(changeLock);
    parameterValues[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
    if (windowEditor) windowEditor->setParameter(index, value);
    applyToMidi(index, value);
}

void MidiRemoteEffect::applyToMidi(VstInt32 index, float value) {
    using namespace ParameterIndex;
    if (index == kRefresh && value == 1.0f) {
        for (int channel = 0; channel < kNumGainChannels; ++channel)
            midiOut->sendControlChange(channel, gainToMidiValue(getParameter(kFirstGain + channel)));
    } else if (isGainIndex(index)) {
        midiOut->sendControlChange(index - kFirstGain, gainToMidiValue(value));
    } else if (index == kMidiDevice) {
        // Anything that is not a finite device number in range closes the port.
        const auto device = vst::truncateToInt32(value);
        if (device && *device >= 0 && static_cast<UINT>(*device) < midiOut->getDeviceCount())
            midiOut->openDevice(*device);
        else
            midiOut->closeDevice();
    }
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

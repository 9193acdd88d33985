#include "vst/audioeffect.h"

#include <cstring>

#include "vst/aeffeditor.h"
#include "vst/valuetext.h"
#include "vst/vststrings.h"

namespace {

constexpr VstInt32 kDefaultUniqueId = fourCharCode('N', 'o', 'E', 'f');
constexpr VstInt32 kIdentifyAnswer = fourCharCode('N', 'v', 'E', 'f');

// The record's entries: each finds the effect through `object`. Nothing may escape into the
// host, so every entry swallows what the effect might throw and answers neutrally.
AudioEffect* effectOf(AEffect* e) { return e ? static_cast<AudioEffect*>(e->object) : nullptr; }

VstIntPtr VSTCALLBACK dispatchEntry(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                    void* ptr, float opt) {
    AudioEffect* effect = effectOf(e);
    if (!effect) return 0;
    try {
        if (opcode == effClose) {
            effect->dispatcher(opcode, index, value, ptr, opt);
            delete effect;
            return 1;
        }
        return effect->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

void VSTCALLBACK processEntry(AEffect* e, float** inputs, float** outputs, VstInt32 frames) {
    if (AudioEffect* effect = effectOf(e)) try {
            effect->process(inputs, outputs, frames);
        } catch (...) {
        }
}

void VSTCALLBACK processReplacingEntry(AEffect* e, float** inputs, float** outputs,
                                       VstInt32 frames) {
    if (AudioEffect* effect = effectOf(e)) try {
            effect->processReplacing(inputs, outputs, frames);
        } catch (...) {
        }
}

void VSTCALLBACK processDoubleReplacingEntry(AEffect* e, double** inputs, double** outputs,
                                             VstInt32 frames) {
    if (AudioEffect* effect = effectOf(e)) try {
            effect->processDoubleReplacing(inputs, outputs, frames);
        } catch (...) {
        }
}

void VSTCALLBACK setParameterEntry(AEffect* e, VstInt32 index, float value) {
    if (AudioEffect* effect = effectOf(e)) try {
            effect->setParameter(index, value);
        } catch (...) {
        }
}

float VSTCALLBACK getParameterEntry(AEffect* e, VstInt32 index) {
    if (AudioEffect* effect = effectOf(e)) try {
            return effect->getParameter(index);
        } catch (...) {
        }
    return 0.0f;
}

// Opcodes whose ptr is a text buffer or record slot that the plug-in writes or reads.
bool needsPointer(VstInt32 opcode) {
    switch (opcode) {
    case effSetProgramName:
    case effGetProgramName:
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
    case effEditGetRect:
        return true;
    default:
        return false;
    }
}

} // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams) {
    std::memset(&cEffect, 0, sizeof cEffect);
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEntry;
    cEffect.process = processEntry;
    cEffect.setParameter = setParameterEntry;
    cEffect.getParameter = getParameterEntry;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = kDefaultUniqueId;
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingEntry;
    AudioEffect::canProcessReplacing(true);
    cEffect.processDoubleReplacing = processDoubleReplacingEntry;
}

AudioEffect::~AudioEffect() { delete editor; }

void AudioEffect::setFlag(VstInt32 flag, bool state) {
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    setFlag(effFlagsHasEditor, newEditor != nullptr);
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt) {
    // Careless hosts pass null buffers; such a request writes nothing.
    if (!ptr && needsPointer(opcode)) return 0;
    auto* text = static_cast<char*>(ptr);

    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 1;
    case effSetProgram:
        if (value >= 0 && value < numPrograms) setProgram(static_cast<VstInt32>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(text);
        return 0;
    case effGetProgramName:
        getProgramName(text);
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, text);
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, text);
        return 0;
    case effGetParamName:
        getParameterName(index, text);
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<VstInt32>(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect:
        return editor ? editor->getRect(static_cast<ERect**>(ptr)) : 0;
    case effEditOpen:
        return editor ? editor->open(ptr) : 0;
    case effEditClose:
        if (editor) editor->close();
        return 0;
    case effEditIdle:
        if (editor) editor->idle();
        return 0;
    case effIdentify:
        return kIdentifyAnswer;
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default:
        return 0;
    }
}

void AudioEffect::getProgramName(char* name) { vst::boundedCopy(name, "", kVstMaxProgNameLen); }

void AudioEffect::getParameterLabel(VstInt32, char* label) {
    vst::boundedCopy(label, "", kVstMaxParamStrLen);
}

void AudioEffect::getParameterDisplay(VstInt32, char* text) {
    vst::boundedCopy(text, "", kVstMaxParamStrLen);
}

void AudioEffect::getParameterName(VstInt32, char* text) {
    vst::boundedCopy(text, "", kVstMaxParamStrLen);
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                float opt) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

VstInt32 AudioEffect::getMasterVersion() {
    const VstIntPtr version = callHost(audioMasterVersion);
    return version != 0 ? static_cast<VstInt32>(version) : 1;
}

void AudioEffect::masterIdle() { callHost(audioMasterIdle); }

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen) {
    vst::formatDecibels(value, text, maxLen);
}

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen) {
    vst::formatFloat(value, text, maxLen);
}

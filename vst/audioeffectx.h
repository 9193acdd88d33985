#pragma once
// The extended effect base: opcodes 25 to 79, categories, capabilities and the edit-gesture
// host services.

#include "vst/audioeffect.h"

class AudioEffectX : public AudioEffect {
public:
    AudioEffectX(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
        : AudioEffect(audioMaster, numPrograms, numParams) {}

    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                         float opt) override;

    void resume() override;

    virtual bool canParameterBeAutomated(VstInt32 /*index*/) { return true; }
    virtual bool string2parameter(VstInt32 /*index*/, char* /*text*/) { return false; }
    virtual bool getProgramNameIndexed(VstInt32 /*category*/, VstInt32 /*index*/, char* /*text*/) {
        return false;
    }
    virtual VstPlugCategory getPlugCategory();
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual VstInt32 getVendorVersion() { return 0; }
    virtual VstInt32 canDo(char* /*text*/) { return 0; }
    virtual VstInt32 getGetTailSize() { return 0; }
    virtual VstInt32 getVstVersion() { return kVstVersion; }
    virtual VstInt32 getCurrentMidiProgram(VstInt32 /*channel*/, void* /*program*/) { return -1; }
    virtual bool getSpeakerArrangement(void** input, void** output);
    virtual VstInt32 setTotalSampleToProcess(VstInt32 value) { return value; }

    virtual void isSynth(bool state = true) { setFlag(effFlagsIsSynth, state); }
    virtual void noTail(bool state = true) { setFlag(effFlagsNoSoundInStop, state); }

    // Host services.
    virtual bool beginEdit(VstInt32 index);
    virtual bool endEdit(VstInt32 index);
    // Something the host shows changed other than through automation (a parameter's value or
    // text); the host reads it again.
    virtual bool updateDisplay();
    virtual void wantEvents(VstInt32 filter = 1);
    // Whether the host has a capability: 1 yes, -1 no, 0 when it does not say.
    virtual VstInt32 canHostDo(char* text);
    // Asks the host to fit the editor's window to a new size; true when it did.
    virtual bool sizeWindow(VstInt32 width, VstInt32 height);
};

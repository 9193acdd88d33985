#pragma once
// The plug-in's effect: identity toward the host, audio pass-through, and the 74 parameters
// whose changes drive the external gain device over MIDI.

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include "plugin/parameters.h"
#include "vst/audioeffectx.h"

class MidiOutDevice;
class MidiRemoteEditor;

class MidiRemoteEffect : public AudioEffectX {
public:
    explicit MidiRemoteEffect(audioMasterCallback audioMaster);
    ~MidiRemoteEffect() override;

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processDoubleReplacing(double** inputs, double** outputs,
                                VstInt32 sampleFrames) override;

    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstPlugCategory getPlugCategory() override;

    MidiOutDevice& midiPort() { return *midiOut; }
    MidiRemoteEditor* remoteEditor() { return windowEditor; }

private:
    void applyToMidi(VstInt32 index, float value);

    std::array<std::atomic<float>, ParameterIndex::kCount> parameterValues;
    char programName[kVstMaxProgNameLen + 1] = {};
    MidiRemoteEditor* windowEditor = nullptr;  // owned by the base through setEditor
    std::unique_ptr<MidiOutDevice> midiOut;
    // One change at a time from store to MIDI, so that what the device receives last is what
    // the effect holds, whichever threads the host sets parameters from.
    std::mutex changeLock;
};

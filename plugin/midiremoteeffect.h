#pragma once
// The plug-in's effect: identity toward the host, audio pass-through, and the 74 parameters
// whose changes drive the external gain device over MIDI.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "plugin/parameters.h"
#include "plugin/statedata.h"
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

    // The state a host saves with a project: the parameter values and the chosen device's name.
    VstInt32 getChunk(void** data, bool isPreset = false) override;
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset = false) override;

    // Counts the MIDI devices again (the window's menu and its "Refresh" button). Parameter 0
    // follows the chosen device to its new number, told to the host as a display change. A
    // chosen device that is back gets every gain, unless `thenRefresh` says a refresh follows.
    void recountDevices(bool thenRefresh = false);
    // A device chosen in the window: from now on numbers count this instance's list only.
    void forgetProjectDeviceNumber();

    MidiOutDevice& midiPort() { return *midiOut; }
    MidiRemoteEditor* remoteEditor() { return windowEditor; }

private:
    void applyToMidi(VstInt32 index, float value);
    void sendGain(int channel, bool always);
    void sendAllGains();
    // Parameter 0 now names `number` without choosing anything anew.
    void showDeviceNumber(int number);
    // A device number from the host: the project's device if it is the number the restored
    // project saved, else the device of that number in this instance's list.
    void chooseDevice(float value);

    std::array<std::atomic<float>, ParameterIndex::kCount> parameterValues;
    char programName[kVstMaxProgNameLen + 1] = {};
    MidiRemoteEditor* windowEditor = nullptr;  // owned by the base through setEditor
    std::unique_ptr<MidiOutDevice> midiOut;
    // Hosts that restore state data may then set parameter 0 again to the number the project
    // saved, which counted another list. Until another device is chosen, that number means the
    // project's device: (1 << 63) | saved number << 32 | its number now (-1: not listed); 0 off.
    std::atomic<std::uint64_t> projectDevice{0};
    // What getChunk hands the host; valid until the next getChunk.
    std::array<unsigned char, kMaxStateSize> chunk{};
};

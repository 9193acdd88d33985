// The editor's side of every value the effect stores: the matching control and dB label
// follow, also on the page that is not shown.

#include "editor/midiremoteeditor.h"
#include "midi/midioutdevice.h"
#include "platform/thread_identity.h"
#include "vst/audioeffect.h"

void MidiRemoteEditor::setParameter(VstInt32 index, float value) {
    if (platform::currentThread() != windowThread.load()) {
        // The toolkit's controls belong to the window thread. Leave a note; the window
        // thread reads the newest stored value at its next idle.
        if (isParameterIndex(index)) {
            pendingNotice[static_cast<std::size_t>(index)].store(true, std::memory_order_release);
            anyPendingNotice.store(true, std::memory_order_release);
        }
        return;
    }
    if (!frame) return;
    applyParameter(index, value);
}

void MidiRemoteEditor::applyParameter(VstInt32 index, float value) {
    using namespace ParameterIndex;
    if (index == kMidiDevice) {
        // The menu names the device whose port is open, which the port tells, not the number.
        showDeviceStatus();
        return;
    }
    if (index == kRefresh) {
        refreshButton->invalid();
        return;
    }
    if (isGainIndex(index)) {
        const int channel = index - kFirstGain;
        knobs[static_cast<std::size_t>(channel)]->setValue(effect->getParameter(index));
        updateGainLabel(channel, value);
    } else if (isLinkIndex(index)) {
        links[static_cast<std::size_t>(index - kFirstLink)]->setValue(effect->getParameter(index));
    } else if (index >= kCount && index <= 77) {
        return;  // the editor's own tags
    }
    frame->invalid();
}

void MidiRemoteEditor::applyPendingNotices() {
    if (!anyPendingNotice.exchange(false, std::memory_order_acq_rel)) return;
    for (VstInt32 index = 0; index < ParameterIndex::kCount; ++index) {
        if (pendingNotice[static_cast<std::size_t>(index)].exchange(false,
                                                                    std::memory_order_acq_rel))
            applyParameter(index, effect->getParameter(index));
    }
}

void MidiRemoteEditor::idle() {
    if (frame && platform::currentThread() == windowThread.load()) {
        applyPendingNotices();
        // Ports open and close on the MIDI port's own thread; the menu catches up here.
        if (midiPort().statusGeneration() != shownDeviceStatus) showDeviceStatus();
    }
    AEffGUIEditor::idle();
}

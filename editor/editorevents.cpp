// What the editor does when the user works its controls: gains with duplicate suppression
// and link pairing, link switches, the device menu, "Refresh", pages and the window size.

#include "editor/editorlayout.h"
#include "editor/midiremoteeditor.h"
#include "plugin/midiremoteeffect.h"
#include "vst/audioeffect.h"

using namespace editorlayout;

void MidiRemoteEditor::valueChanged(CControl* control) {
    if (!control) return;
    const std::int32_t tag = control->getTag();
    const float value = control->getValue();

    switch (tag) {
    case ParameterIndex::kMidiDevice:
        static_cast<MidiRemoteEffect*>(effect)->forgetProjectDeviceNumber();
        effect->setParameterAutomated(ParameterIndex::kMidiDevice, value);
        if (deviceMenu) deviceMenu->invalid();
        break;
    case ParameterIndex::kRefresh:
        // Devices switched on since the last count appear, and a chosen one comes back.
        if (value == 1.0f) recountFromWindow(true);
        // Not automated: a refresh is an action, not a state worth recording.
        effect->setParameter(ParameterIndex::kRefresh, value);
        break;
    case kPage1Tag:
        showPage(kPageOne);
        break;
    case kPage2Tag:
        showPage(kPageTwo);
        break;
    case kFrameTag:
        setExpanded(expanded == 1 ? 0 : 1);
        break;
    case kInfoTag:
        toggleInfoPage();
        break;
    default:
        break;
    }
    if (isLinkIndex(tag)) effect->setParameterAutomated(tag, value);
    if (isGainIndex(tag)) onGainChanged(tag, value);
}

void MidiRemoteEditor::controlBeginEdit(CControl* control) {
    if (control && control == deviceMenu) recountFromWindow();
}

void MidiRemoteEditor::recountFromWindow(bool thenRefresh) {
    static_cast<MidiRemoteEffect*>(effect)->recountDevices(thenRefresh);
    if (!frame) return;
    fillDeviceMenu();
    showDeviceStatus();
}

void MidiRemoteEditor::onGainChanged(VstInt32 tag, float value) {
    pendingValue = gainToMidiValue(value);
    // One change per 7-bit step: a drag produces many more mouse events than MIDI steps. The
    // step is compared with what the effect holds now, whoever set it (the host, this window,
    // opening the window, a linked partner), so a move onto any other step always goes out.
    if (pendingValue == gainToMidiValue(effect->getParameter(tag))) return;

    const VstInt32 link = ParameterIndex::kFirstLink + (tag - ParameterIndex::kFirstGain) / 2;
    if (effect->getParameter(link) != 1.0f) {
        effect->setParameterAutomated(tag, value);
        return;
    }

    const VstInt32 partner = (tag - ParameterIndex::kFirstGain) % 2 == 0 ? tag + 1 : tag - 1;
    const float partnerValue = effect->getParameter(partner);
    if (!(partnerValue >= 0.0f && partnerValue <= 1.0f)) return;
    effect->setParameterAutomated(tag, value);
    effect->setParameterAutomated(partner, value);
}

void MidiRemoteEditor::showPage(int page) {
    if (!frame) return;
    COnOffButton* shown = page == kPageOne ? page1Button : page2Button;
    COnOffButton* other = page == kPageOne ? page2Button : page1Button;
    shown->setValue(1.0f);
    shown->setMouseEnabled(false);
    other->setValue(0.0f);
    other->setMouseEnabled(true);
    if (currentPage == page) return;
    frame->removeView(getPageView(page == kPageOne ? kPageTwo : kPageOne), false);
    frame->addView(getPageView(page));
    frame->invalid();
    currentPage = page;
}

void MidiRemoteEditor::toggleInfoPage() {
    if (!frame) return;
    if (currentPage == kPageOne || currentPage == kPageTwo) {
        frame->removeView(getPageView(currentPage), false);
        frame->addView(infoView);
        frame->invalid();
        pageBeforeInfo = currentPage;
        currentPage = kInfoPage;
        setMenuMouse(false, false, false, false, false, true);
        return;
    }
    if (pageBeforeInfo != kPageOne && pageBeforeInfo != kPageTwo) return;
    const int back = pageBeforeInfo;
    frame->removeView(infoView, false);
    frame->addView(getPageView(back));
    frame->invalid();
    currentPage = back;
    pageBeforeInfo = kInfoPage;
    setMenuMouse(back != kPageOne, back != kPageTwo, true, true, true, true);
}

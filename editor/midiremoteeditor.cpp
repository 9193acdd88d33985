// The editor object and its window: construction, opening, closing and the window size.

#include "editor/midiremoteeditor.h"

#include <cstring>

#include "editor/editorlayout.h"
#include "midi/midioutdevice.h"
#include "plugin/midiremoteeffect.h"
#include "vst/audioeffect.h"

using namespace editorlayout;

MidiRemoteEditor::MidiRemoteEditor(AudioEffect* effect) : AEffGUIEditor(effect) {
    bmpMenu = new CBitmap("BackgroundMenu");
    bmpPage1 = new CBitmap("BackgroundPage1");
    bmpPage2 = new CBitmap("BackgroundPage2");
    bmpInfo = new CBitmap("BackgroundInfo");
    menuHeight = bmpMenu->getHeight();
    pageHeight = bmpPage1->getHeight();
    pageWidth = bmpPage1->getWidth();

    frameRect = CRect(0, 0, pageWidth, pageHeight + menuHeight);
    rect.top = 0;
    rect.left = 0;
    rect.bottom = static_cast<VstInt16>(pageHeight + menuHeight);
    rect.right = static_cast<VstInt16>(pageWidth);
    setKnobMode(kLinearMode);
    doIdleStuff();
}

MidiRemoteEditor::~MidiRemoteEditor() {
    // A host may destroy the effect with the window still open.
    if (frame) close();
    bmpInfo->forget();
    bmpPage2->forget();
    bmpPage1->forget();
    bmpMenu->forget();
}

// The device list is the effect's port's: one numbering for the menu, the host and the port.
MidiOutDevice& MidiRemoteEditor::midiPort() const {
    return static_cast<MidiRemoteEffect*>(effect)->midiPort();
}

int MidiRemoteEditor::getDeviceCount() const {
    return static_cast<int>(midiPort().getDeviceCount());
}

std::string MidiRemoteEditor::getDeviceName(int device) const {
    return device < 0 ? std::string() : midiPort().getDeviceName(static_cast<UINT>(device));
}

void MidiRemoteEditor::fillDeviceMenu() {
    deviceMenu->removeAllEntry();
    std::int32_t index = 0;
    for (const std::string& name : midiPort().menuNames())
        deviceMenu->addEntry(name.c_str(), index++, 0);
}

void MidiRemoteEditor::showDeviceStatus() {
    if (!frame) return;
    shownDeviceStatus = midiPort().statusGeneration();
    const MidiOutDevice::Status status = midiPort().status();
    if (status.state == MidiOutDevice::PortState::kOpen && status.number >= 0 &&
        status.number < deviceMenu->getNbEntries()) {
        deviceMenu->setValue(static_cast<float>(status.number));
    } else {
        deviceMenu->clearSelection();
        std::string text = kNoDeviceText;
        if (status.state == MidiOutDevice::PortState::kOpen)
            text = status.menuName; // open, though the last count did not list it
        else if (status.state == MidiOutDevice::PortState::kOpening)
            text = status.menuName + " (opening)";
        else if (status.state != MidiOutDevice::PortState::kNone && !status.name.empty())
            text = status.menuName + " (not connected)";
        deviceMenu->setTextWithoutEntry(text.c_str());
    }
    deviceMenu->invalid();
}

CViewContainer* MidiRemoteEditor::getPageView(int page) const {
    switch (page) {
    case kPageOne:
        return page1View;
    case kPageTwo:
        return page2View;
    case kInfoPage:
        return infoView;
    default:
        return nullptr;
    }
}

bool MidiRemoteEditor::open(void* parentWindow) {
    if (frame) return true;  // already open: hosts must close first
    AEffGUIEditor::open(parentWindow);
    windowThread.store(platform::currentThread());

    bmpKnob = new CBitmap("KnobHandle");
    bmpLink = new CBitmap("ButtonLinkHandle");
    bmpInfoButton = new CBitmap("ButtonInfoHandle");
    bmpRefresh = new CBitmap("ButtonRefreshHandle");
    bmpPage1Button = new CBitmap("ButtonPage_1_Handle");
    bmpPage2Button = new CBitmap("ButtonPage_2_Handle");
    bmpDeviceButton = new CBitmap("ButtonMidiDevHandle");
    bmpFrameButton = new CBitmap("ButtonFrameHandle");

    const CCoord linkWidth = bmpLink->getWidth();
    const CCoord linkHeight = bmpLink->getHeight() / 2;
    const CCoord refreshHeight = bmpRefresh->getHeight() / 2;
    const CCoord knobWidth = bmpKnob->getWidth();
    const CCoord knobHeight = bmpKnob->getHeight() / kKnobImages;

    labelColor = CColor(0, 0, 0, 255);
    placeOffset = CPoint(0, 0);

    frame = new CFrame(frameRect, parentWindow, this);

    placeRect = CRect(0, 0, pageWidth, menuHeight);
    menuView = new CViewContainer(placeRect, frame, bmpMenu);
    frame->addView(menuView);

    placeRect = CRect(0, menuHeight, pageWidth, pageHeight);
    page1View = new CViewContainer(placeRect, frame, bmpPage1);
    page2View = new CViewContainer(placeRect, frame, bmpPage2);
    infoView = new CViewContainer(placeRect, frame, bmpInfo);
    placeOffset = CPoint(0, menuHeight);
    page1View->setBackgroundOffset(placeOffset);
    page2View->setBackgroundOffset(placeOffset);
    infoView->setBackgroundOffset(placeOffset);
    frame->addView(page1View);
    currentPage = kPageOne;
    placeOffset = CPoint(0, 0);

    buildPages(knobWidth, knobHeight, linkWidth, linkHeight);
    buildMenuBar(refreshHeight);

    // The controls hold their own references now.
    bmpFrameButton->forget();
    bmpDeviceButton->forget();
    bmpPage2Button->forget();
    bmpPage1Button->forget();
    bmpRefresh->forget();
    bmpInfoButton->forget();
    bmpLink->forget();
    bmpKnob->forget();

    // Whatever waited for the window is read afresh below.
    for (auto& flag : pendingNotice) flag.store(false);
    anyPendingNotice.store(false);
    readValuesFromEffect();

    setExpanded(1);
    frame->setDirty(true);
    frame->invalid();
    doIdleStuff();
    return true;
}

void MidiRemoteEditor::buildPages(CCoord knobWidth, CCoord knobHeight, CCoord linkWidth,
                                  CCoord linkHeight) {
    for (int slot = 0; slot < kSlotsPerPage; ++slot) {
        const auto first = static_cast<std::size_t>(slot);
        const auto second = static_cast<std::size_t>(slot + kSlotsPerPage);
        placeRect = knobRect(slot, knobWidth, knobHeight);
        knobs[first] = new CAnimKnob(placeRect, this, ParameterIndex::kFirstGain + slot,
                                     kKnobImages, knobHeight, bmpKnob, placeOffset);
        page1View->addView(knobs[first]);
        knobs[second] =
            new CAnimKnob(placeRect, this, ParameterIndex::kFirstGain + slot + kSlotsPerPage,
                          kKnobImages, knobHeight, bmpKnob, placeOffset);
        page2View->addView(knobs[second]);

        placeRect = labelRect(slot);
        for (std::size_t channel : {first, second}) {
            auto* label = new CTextEdit(placeRect, this,
                                        kLabelTagBase + static_cast<std::int32_t>(channel),
                                        nullptr, nullptr, 0);
            label->setTransparency(true);
            label->setFontColor(labelColor);
            label->setMouseEnabled(false);
            gainLabels[channel] = label;
            (channel == first ? page1View : page2View)->addView(label);
        }
    }
    for (int linkSlot = 0; linkSlot < kLinkSlotsPerPage; ++linkSlot) {
        placeRect = linkRect(linkSlot, linkWidth, linkHeight);
        const auto first = static_cast<std::size_t>(linkSlot);
        const auto second = static_cast<std::size_t>(linkSlot + kLinkSlotsPerPage);
        links[first] = new COnOffButton(placeRect, this, ParameterIndex::kFirstLink + linkSlot,
                                        bmpLink, 0);
        page1View->addView(links[first]);
        links[second] = new COnOffButton(
            placeRect, this, ParameterIndex::kFirstLink + linkSlot + kLinkSlotsPerPage, bmpLink, 0);
        page2View->addView(links[second]);
    }
}

void MidiRemoteEditor::buildMenuBar(CCoord refreshHeight) {
    placeRect = kPage1ButtonRect;
    page1Button = new COnOffButton(placeRect, this, kPage1Tag, bmpPage1Button, 0);
    menuView->addView(page1Button);

    placeRect = kPage2ButtonRect;
    page2Button = new COnOffButton(placeRect, this, kPage2Tag, bmpPage2Button, 0);
    menuView->addView(page2Button);

    placeRect = kRefreshButtonRect;
    refreshButton = new CKickButton(placeRect, this, ParameterIndex::kRefresh, refreshHeight,
                                    bmpRefresh, placeOffset);
    menuView->addView(refreshButton);

    placeRect = kDeviceMenuRect;
    deviceMenu = new COptionMenu(placeRect, this, ParameterIndex::kMidiDevice, nullptr, nullptr, 0);
    deviceMenu->setTransparency(true);
    deviceMenu->setFontColor(labelColor);
    deviceMenu->setFont(kNormalFontSmall);
    fillDeviceMenu();
    menuView->addView(deviceMenu);

    placeRect = kFrameButtonRect;
    frameButton = new COnOffButton(placeRect, this, kFrameTag, bmpFrameButton, 0);
    menuView->addView(frameButton);

    placeRect = kInfoButtonRect;
    infoButton = new COnOffButton(placeRect, this, kInfoTag, bmpInfoButton, 0);
    menuView->addView(infoButton);
}

void MidiRemoteEditor::readValuesFromEffect() {
    for (int channel = 0; channel < kNumGainChannels; ++channel) {
        const float gain = effect->getParameter(ParameterIndex::kFirstGain + channel);
        knobs[static_cast<std::size_t>(channel)]->setValue(gain);
        updateGainLabel(channel, gain);
    }
    for (int pair = 0; pair < kNumLinks; ++pair)
        links[static_cast<std::size_t>(pair)]->setValue(
            effect->getParameter(ParameterIndex::kFirstLink + pair));
    page1Button->setValue(1.0f);
    page2Button->setValue(0.0f);
    frameButton->setValue(0.0f);
    infoButton->setValue(0.0f);
    showDeviceStatus();
}

void MidiRemoteEditor::close() {
    if (!frame) return;  // nothing is open
    // The pages not in the frame are the editor's to delete; the frame takes the rest.
    for (int page : {kPageOne, kPageTwo, kInfoPage}) {
        if (page == currentPage) continue;
        delete getPageView(page);
    }
    if (currentPage != kPageOne) page1View = nullptr;
    if (currentPage != kPageTwo) page2View = nullptr;
    if (currentPage != kInfoPage) infoView = nullptr;
    CFrame* closing = frame;
    frame = nullptr;
    windowThread.store(0);
    delete closing;
    AEffGUIEditor::close();
}

void MidiRemoteEditor::setMenuMouse(bool page1, bool page2, bool refresh, bool device,
                                    bool frameButtonOn, bool info) {
    page1Button->setMouseEnabled(page1);
    page2Button->setMouseEnabled(page2);
    refreshButton->setMouseEnabled(refresh);
    deviceMenu->setMouseEnabled(device);
    frameButton->setMouseEnabled(frameButtonOn);
    infoButton->setMouseEnabled(info);
}

void MidiRemoteEditor::setExpanded(int state) {
    if (!frame || (state != 0 && state != 1)) return;
    CCoord height = kShrunkHeight;
    if (state == 0) {
        setMenuMouse(false, false, false, false, true, false);
    } else {
        setMenuMouse(currentPage != kPageOne, currentPage == kPageOne, true, true, true, true);
        height = bmpPage1->getHeight();
    }
    const bool resized = rect.bottom != height;
    rect.bottom = static_cast<VstInt16>(height);
    // The host's window first, with the new size already in the rectangle hosts read back;
    // where the host resized its window, the frame's own resize leaves it alone.
    if (resized) requestHostResize(rect.right, height);
    frame->setSize(rect.right, height);
    frame->invalid();
    expanded = state;
}

void MidiRemoteEditor::updateGainLabel(int channel, float gain) {
    if (channel < 0 || channel >= kNumGainChannels) return;
    CTextEdit* label = gainLabels[static_cast<std::size_t>(channel)];
    if (!label) return;
    char text[kGainTextSize];
    formatGainText(gain, text);
    label->setText(text);
    label->invalid();
}

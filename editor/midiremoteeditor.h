#pragma once
// The plug-in's window: 48 gain knobs with their dB labels and 24 link switches on two pages,
// an information page, and a menu bar with page buttons, "Refresh", the MIDI device menu and
// the shrink button. The editor object lives as long as the effect; the window exists
// between open and close.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/thread_identity.h"
#include "plugin/parameters.h"
#include "toolkit/aeffguieditor.h"
#include "toolkit/controls.h"

class MidiOutDevice;

class MidiRemoteEditor : public AEffGUIEditor, public CControlListener {
public:
    // What the device menu says while no port is open and nothing is chosen.
    static constexpr const char* kNoDeviceText = "No MIDI output";

    explicit MidiRemoteEditor(AudioEffect* effect);
    ~MidiRemoteEditor() override;

    bool open(void* parentWindow) override;
    void close() override;
    void idle() override;
    // A value the effect has stored. On the window's thread the controls follow at once;
    // from any other thread the notice waits for the window thread's next idle.
    void setParameter(VstInt32 index, float value) override;

    void valueChanged(CControl* control) override;
    // Opening the device menu counts the devices again, so the menu lists what is there now.
    void controlBeginEdit(CControl* control) override;

    // 0 shrinks the window to its menu bar, 1 restores the full size; anything else is ignored.
    void setExpanded(int state);
    void updateGainLabel(int channel, float gain);

    // What the window shows, for hosts and tests.
    bool isWindowOpen() const { return frame != nullptr; }
    CFrame* getFrame() const { return frame; }
    int getCurrentPage() const { return currentPage; }
    int getPageBeforeInfo() const { return pageBeforeInfo; }
    bool isExpanded() const { return expanded == 1; }
    int getDeviceCount() const;
    std::string getDeviceName(int device) const;

    CAnimKnob* getKnob(int channel) const { return knobs[static_cast<std::size_t>(channel)]; }
    CTextEdit* getGainLabel(int channel) const {
        return gainLabels[static_cast<std::size_t>(channel)];
    }
    COnOffButton* getLink(int pair) const { return links[static_cast<std::size_t>(pair)]; }
    COnOffButton* getPage1Button() const { return page1Button; }
    COnOffButton* getPage2Button() const { return page2Button; }
    CKickButton* getRefreshButton() const { return refreshButton; }
    COptionMenu* getDeviceMenu() const { return deviceMenu; }
    COnOffButton* getFrameButton() const { return frameButton; }
    COnOffButton* getInfoButton() const { return infoButton; }
    CViewContainer* getMenuView() const { return menuView; }
    CViewContainer* getPageView(int page) const;

private:
    enum Page { kPageOne = 0, kPageTwo = 1, kInfoPage = 2 };

    void applyParameter(VstInt32 index, float value);
    void applyPendingNotices();
    void onGainChanged(VstInt32 tag, float value);
    void showPage(int page);
    void toggleInfoPage();
    void setMenuMouse(bool page1, bool page2, bool refresh, bool device, bool frameButtonOn,
                      bool info);
    void buildPages(CCoord knobWidth, CCoord knobHeight, CCoord linkWidth, CCoord linkHeight);
    void buildMenuBar(CCoord refreshHeight);
    void readValuesFromEffect();
    MidiOutDevice& midiPort() const;
    void fillDeviceMenu();
    // The menu names the device whose port is open, or says why none is.
    void showDeviceStatus();
    void recountFromWindow(bool thenRefresh = false);

    int pendingValue = 0; // the 7-bit step of the gain change being handled
    int expanded = 1;
    CCoord menuHeight = 0;
    CCoord pageHeight = 0;
    CCoord pageWidth = 0;
    int currentPage = kPageOne;
    int pageBeforeInfo = 3;  // no information page shown yet
    std::uint32_t shownDeviceStatus = 0;  // the port's status generation the menu shows
    CRect frameRect;
    CRect placeRect;
    CColor labelColor;
    CPoint placeOffset;
    CFrame* frame = nullptr;  // the window; owned while open

    CBitmap* bmpMenu = nullptr;
    CBitmap* bmpPage1 = nullptr;
    CBitmap* bmpPage2 = nullptr;
    CBitmap* bmpInfo = nullptr;
    CBitmap* bmpKnob = nullptr;
    CBitmap* bmpLink = nullptr;
    CBitmap* bmpRefresh = nullptr;
    CBitmap* bmpPage1Button = nullptr;
    CBitmap* bmpPage2Button = nullptr;
    CBitmap* bmpDeviceButton = nullptr;
    CBitmap* bmpFrameButton = nullptr;
    CBitmap* bmpInfoButton = nullptr;

    std::array<CAnimKnob*, kNumGainChannels> knobs{};
    std::array<CTextEdit*, kNumGainChannels> gainLabels{};
    std::array<COnOffButton*, kNumLinks> links{};
    COnOffButton* infoButton = nullptr;
    CKickButton* refreshButton = nullptr;
    COnOffButton* frameButton = nullptr;
    COptionMenu* deviceMenu = nullptr;
    COnOffButton* page1Button = nullptr;
    COnOffButton* page2Button = nullptr;
    CViewContainer* page1View = nullptr;
    CViewContainer* page2View = nullptr;
    CViewContainer* infoView = nullptr;
    CViewContainer* menuView = nullptr;

    // Host notices from threads other than the window's: one flag per parameter, applied
    // from the stored value at the window thread's next idle, so the newest value wins.
    std::atomic<platform::ThreadIdentity> windowThread{0};
    std::array<std::atomic<bool>, ParameterIndex::kCount> pendingNotice{};
    std::atomic<bool> anyPendingNotice{false};
};

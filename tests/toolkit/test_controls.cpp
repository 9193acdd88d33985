// Mouse behaviour of the controls, driven through the frame's mouse entry points.

#include "tests/toolkit/toolkit_fixture.h"

#include <algorithm>
#include <cmath>
#include <limits>

using tktest::ToolkitTest;
using Events = std::vector<std::string>;

namespace {

// Knob at window (20, 40)-(50, 70); its centre is (35, 55).
constexpr CPoint kKnobCentre(35, 55);

} // namespace

class Knob : public ToolkitTest {
  protected:
    Knob() {
        CBitmap* strip = tktest::makeStrip(30, 30, 41);
        knob = add(new CAnimKnob(CRect(20, 40, 50, 70), &listener, 6, 41, 30, strip));
        strip->forget();
    }
    CAnimKnob* knob;
};

TEST_F(Knob, ShowsImageOfValueTimesForty) {
    const std::pair<float, int> cases[] = {{0.0f, 0},   {0.5f, 20},   {1.0f, 40},
                                           {0.025f, 1}, {0.999f, 39}, {0.0249f, 0}};
    for (auto [value, image] : cases) {
        knob->setValue(value);
        EXPECT_EQ(knob->getFrameIndex(), image) << value;
    }
    knob->setValue(7.0f);
    EXPECT_EQ(knob->getValue(), 1.0f);
    knob->setValue(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(knob->getValue(), 0.0f);
}

TEST_F(Knob, DragUpOfTwoHundredPixelsCoversTheRange) {
    frame->onMouseDown(kKnobCentre, kLButton);
    frame->onMouseMoved(CPoint(35, 5), kLButton); // 50 px up
    EXPECT_FLOAT_EQ(knob->getValue(), 0.25f);
    frame->onMouseMoved(CPoint(35, -45), kLButton); // 100 px up in all
    EXPECT_FLOAT_EQ(knob->getValue(), 0.5f);
    frame->onMouseUp(CPoint(35, -145), kLButton); // the release point counts too
    EXPECT_FLOAT_EQ(knob->getValue(), 1.0f);
    EXPECT_EQ(takeLog(),
              (Events{"begin 6", "changed 6 0.25", "changed 6 0.50", "changed 6 1.00", "end 6"}));
    EXPECT_EQ(listener.values.back(), 1.0f);
}

TEST_F(Knob, DragRightIncreasesAndDownDecreases) {
    knob->setValue(0.5f);
    frame->onMouseDown(kKnobCentre, kLButton);
    frame->onMouseMoved(CPoint(35 + 40, 55), kLButton);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.7f);
    frame->onMouseMoved(CPoint(35 + 40, 55 + 100), kLButton);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.2f);
    frame->onMouseUp(CPoint(35 + 40, 55 + 100), kLButton);
}

TEST_F(Knob, DragPastTheEndTurnsBackAtOnce) {
    knob->setValue(0.5f);
    frame->onMouseDown(kKnobCentre, kLButton);
    frame->onMouseMoved(CPoint(35, 55 - 400), kLButton);
    EXPECT_EQ(knob->getValue(), 1.0f);
    frame->onMouseMoved(CPoint(35, 55 - 390), kLButton);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.95f);
    frame->onMouseUp(CPoint(35, 55 - 390), kLButton);
    // Moves that change nothing report nothing: one report for each actual change.
    frame->onMouseDown(kKnobCentre, kLButton);
    frame->onMouseMoved(CPoint(36, 54), kLButton); // dx - dy = 2, then back
    frame->onMouseMoved(CPoint(35, 55), kLButton);
    frame->onMouseMoved(CPoint(34, 54), kLButton); // dx - dy = 0
    frame->onMouseUp(CPoint(34, 54), kLButton);
    const Events events = takeLog();
    EXPECT_EQ(std::count(events.begin(), events.end(), "begin 6"), 2);
    EXPECT_EQ(std::count(events.begin(), events.end(), "end 6"), 2);
    EXPECT_EQ(listener.values.size(), 4u);
}

TEST_F(Knob, WheelStepsByOneHundredthInsideABracket) {
    EXPECT_TRUE(frame->onWheel(kKnobCentre, 1.0f, 0));
    EXPECT_FLOAT_EQ(knob->getValue(), 0.01f);
    knob->setValue(0.5f);
    frame->onWheel(kKnobCentre, -3.0f, 0);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.47f);
    EXPECT_EQ(takeLog(),
              (Events{"begin 6", "changed 6 0.01", "end 6", "begin 6", "changed 6 0.47", "end 6"}));
    // Every notch moves at least one 7-bit step, so no notch is lost to step suppression.
    knob->setValue(0.0f);
    int lastStep = 0;
    for (int notch = 0; notch < 100; ++notch) {
        frame->onWheel(kKnobCentre, 1.0f, 0);
        const int step = static_cast<int>(knob->getValue() * 127.0);
        EXPECT_GT(step, lastStep) << notch;
        lastStep = step;
    }
    EXPECT_EQ(knob->getValue(), 1.0f);
    takeLog();
    frame->onWheel(kKnobCentre, 1.0f, 0); // at the top: nothing to report
    EXPECT_EQ(takeLog(), (Events{"begin 6", "end 6"}));
}

TEST_F(Knob, WithoutMouseAccessIgnoresDragsAndWheel) {
    knob->setMouseEnabled(false);
    knob->setValue(0.3f);
    EXPECT_EQ(frame->onMouseDown(kKnobCentre, kLButton), kMouseIgnored);
    frame->onMouseMoved(CPoint(35, 0), kLButton);
    frame->onMouseUp(CPoint(35, 0), kLButton);
    EXPECT_FALSE(frame->onWheel(kKnobCentre, 2.0f, 0));
    EXPECT_FLOAT_EQ(knob->getValue(), 0.3f);
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(Knob, OnlyTheLeftButtonDragsAndTheListenerMayTakeModifierClicks) {
    EXPECT_EQ(frame->onMouseDown(kKnobCentre, kRButton), kMouseIgnored);
    struct Taker : tktest::RecordingListener {
        using RecordingListener::RecordingListener;
        std::int32_t controlModifierClicked(CControl*, long buttons) override {
            return (buttons & kControl) ? 1 : 0;
        }
    } taker(log);
    knob->setListener(&taker);
    EXPECT_EQ(frame->onMouseDown(kKnobCentre, kLButton | kControl), kMouseDone);
    frame->onMouseMoved(CPoint(35, 0), kLButton);
    frame->onMouseUp(CPoint(35, 0), kLButton);
    EXPECT_EQ(knob->getValue(), 0.0f);
    EXPECT_TRUE(takeLog().empty());
    // A modifier the listener declines leaves an ordinary drag.
    frame->onMouseDown(kKnobCentre, kLButton | kShift);
    frame->onMouseUp(CPoint(35, 35), kLButton);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.1f);
}

TEST_F(Knob, BracketClosesWhenTheDragIsCutOff) {
    auto* page = new CViewContainer(CRect(0, 100, 300, 200), frame);
    auto* pageKnob = new CAnimKnob(CRect(0, 0, 30, 30), &listener, 9, 41, 30, nullptr);
    page->addView(pageKnob);
    frame->addView(page);
    frame->onMouseDown(CPoint(10, 110), kLButton);
    frame->onMouseMoved(CPoint(10, 90), kLButton);
    // The page leaves the frame in the middle of the drag (kept alive, not forgotten).
    frame->removeView(page, false);
    frame->onMouseMoved(CPoint(10, 0), kLButton);
    frame->onMouseUp(CPoint(10, 0), kLButton);
    EXPECT_EQ(takeLog(), (Events{"begin 9", "changed 9 0.10", "end 9"}));
    EXPECT_TRUE(frame->addView(page));

    // The window closes in the middle of a drag.
    frame->onMouseDown(kKnobCentre, kLButton);
    delete frame;
    frame = nullptr;
    EXPECT_EQ(takeLog(), (Events{"begin 6", "end 6"}));
}

class OnOff : public ToolkitTest {
  protected:
    OnOff() {
        CBitmap* states = tktest::makeStrip(40, 20, 2);
        button = add(new COnOffButton(CRect(100, 10, 140, 30), &listener, 50, states, 0));
        states->forget();
    }
    COnOffButton* button;
};

TEST_F(OnOff, ClickTogglesThenRepaintsAndIdlesBeforeTheListenerHearsIt) {
    bool dirtyWhenHeard = false;
    listener.onChange = [&](CControl* control) {
        dirtyWhenHeard = frame->getDirtyRect().contains(control->getFrameRect());
    };
    ASSERT_TRUE(frame->getDirtyRect().isEmpty());
    EXPECT_EQ(frame->onMouseDown(CPoint(110, 20), kLButton), kMouseDone);
    frame->onMouseUp(CPoint(110, 20), kLButton);
    EXPECT_EQ(button->getValue(), 1.0f);
    EXPECT_TRUE(dirtyWhenHeard);
    EXPECT_EQ(takeLog(), (Events{"begin 50", "idle", "changed 50 1.00", "end 50"}));
    frame->onMouseDown(CPoint(139, 29), kLButton);
    EXPECT_EQ(button->getValue(), 0.0f);
    EXPECT_EQ(takeLog(), (Events{"begin 50", "idle", "changed 50 0.00", "end 50"}));
}

TEST_F(OnOff, AValueBetweenTheStatesTogglesOn) {
    button->setValue(0.5f);
    frame->onMouseDown(CPoint(110, 20), kLButton);
    EXPECT_EQ(button->getValue(), 1.0f);
}

TEST_F(OnOff, WithoutMouseAccessIgnoresClicks) {
    button->setMouseEnabled(false);
    EXPECT_EQ(frame->onMouseDown(CPoint(110, 20), kLButton), kMouseIgnored);
    EXPECT_FALSE(frame->onWheel(CPoint(110, 20), 1.0f, 0));
    EXPECT_EQ(button->getValue(), 0.0f);
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(OnOff, ListenerMayLockTheButtonAndSwapPagesDuringItsClick) {
    // As a page button does: it turns its own mouse access off and moves views around.
    auto* page = new CViewContainer(CRect(0, 100, 300, 200), frame);
    frame->addView(page);
    listener.onChange = [&](CControl* control) {
        control->setMouseEnabled(false);
        frame->removeView(page, false);
    };
    frame->onMouseDown(CPoint(110, 20), kLButton);
    EXPECT_EQ(takeLog(), (Events{"begin 50", "idle", "changed 50 1.00", "end 50"}));
    EXPECT_FALSE(frame->isChild(page));
    EXPECT_EQ(page->getNbReference(), 1);
    frame->onMouseDown(CPoint(110, 20), kLButton);
    EXPECT_TRUE(takeLog().empty());
    page->forget();
}

class Kick : public ToolkitTest {
  protected:
    Kick() {
        CBitmap* states = tktest::makeStrip(94, 25, 2);
        button = add(new CKickButton(CRect(138, 0, 232, 25), &listener, 1, 25, states));
        states->forget();
    }
    CKickButton* button;
};

TEST_F(Kick, ReleaseOverItReportsOneThenZero) {
    frame->onMouseDown(CPoint(150, 10), kLButton);
    EXPECT_TRUE(button->isPressed());
    EXPECT_EQ(takeLog(), (Events{"begin 1"}));
    frame->onMouseUp(CPoint(200, 20), kLButton);
    EXPECT_FALSE(button->isPressed());
    EXPECT_EQ(button->getValue(), 0.0f);
    EXPECT_EQ(takeLog(), (Events{"changed 1 1.00", "changed 1 0.00", "end 1"}));
}

TEST_F(Kick, ReleaseElsewhereReportsOnlyZero) {
    frame->onMouseDown(CPoint(150, 10), kLButton);
    frame->onMouseMoved(CPoint(150, 40), kLButton);
    EXPECT_FALSE(button->isPressed());
    frame->onMouseUp(CPoint(150, 40), kLButton);
    EXPECT_EQ(takeLog(), (Events{"begin 1", "changed 1 0.00", "end 1"}));
    // Out and back in again before the release counts as over it.
    frame->onMouseDown(CPoint(150, 10), kLButton);
    frame->onMouseMoved(CPoint(300, 10), kLButton);
    frame->onMouseMoved(CPoint(151, 11), kLButton);
    EXPECT_TRUE(button->isPressed());
    frame->onMouseUp(CPoint(151, 11), kLButton);
    EXPECT_EQ(takeLog(), (Events{"begin 1", "changed 1 1.00", "changed 1 0.00", "end 1"}));
}

TEST_F(Kick, WithoutMouseAccessIgnoresClicks) {
    button->setMouseEnabled(false);
    frame->onMouseDown(CPoint(150, 10), kLButton);
    frame->onMouseUp(CPoint(150, 10), kLButton);
    EXPECT_FALSE(button->isPressed());
    EXPECT_TRUE(takeLog().empty());
}

class Menu : public ToolkitTest {
  protected:
    Menu() {
        menu = add(new COptionMenu(CRect(234, 0, 410, 25), &listener, 0, nullptr, nullptr, 0));
        menu->addEntry("Port A", 0);
        menu->addEntry("Port B", 1);
        menu->addEntry("Port C", 2);
        frame->setPopupChooser([this](const COptionMenu& shown) {
            ++popups;
            EXPECT_EQ(&shown, menu);
            return choice;
        });
    }
    COptionMenu* menu;
    int choice = -1;
    int popups = 0;
};

TEST_F(Menu, ValueIsTheEntryIndexAndMissingEntriesAreIgnored) {
    EXPECT_EQ(menu->getNbEntries(), 3);
    EXPECT_STREQ(menu->getEntry(1), "Port B");
    EXPECT_EQ(menu->getCurrentIndex(), -1);
    menu->setValue(2.7f);
    EXPECT_EQ(menu->getCurrentIndex(), 2);
    EXPECT_EQ(menu->getValue(), 2.0f);
    for (float ignored :
         {3.0f, 3.5f, -1.0f, -2.0f, 1e30f, -1e30f, std::numeric_limits<float>::quiet_NaN(),
          std::numeric_limits<float>::infinity()}) {
        menu->setValue(ignored);
        EXPECT_EQ(menu->getCurrentIndex(), 2) << ignored;
    }
    menu->setValue(-0.5f); // truncates to the first entry
    EXPECT_EQ(menu->getCurrentIndex(), 0);

    COptionMenu empty(CRect(0, 0, 10, 10), &listener, 0);
    empty.setValue(0.0f);
    EXPECT_EQ(empty.getCurrentIndex(), -1);
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(Menu, AChoiceIsReportedInsideTheBracketAndDismissingReportsNothing) {
    choice = 1;
    EXPECT_EQ(frame->onMouseDown(CPoint(300, 10), kLButton), kMouseDone);
    EXPECT_EQ(menu->getCurrentIndex(), 1);
    EXPECT_EQ(takeLog(), (Events{"begin 0", "changed 0 1.00", "end 0"}));
    for (int dismissal : {-1, 3, 99}) {
        choice = dismissal;
        frame->onMouseDown(CPoint(300, 10), kLButton);
        EXPECT_EQ(menu->getCurrentIndex(), 1);
        EXPECT_EQ(takeLog(), (Events{"begin 0", "end 0"}));
    }
    // Titles and disabled entries cannot be chosen.
    menu->addEntry("Title", -1, COptionMenu::kTitleEntry);
    choice = 3;
    frame->onMouseDown(CPoint(300, 10), kLButton);
    EXPECT_EQ(menu->getCurrentIndex(), 1);
}

TEST_F(Menu, WithoutMouseAccessNoPopupOpens) {
    menu->setMouseEnabled(false);
    choice = 2;
    frame->onMouseDown(CPoint(300, 10), kLButton);
    EXPECT_EQ(popups, 0);
    EXPECT_EQ(menu->getCurrentIndex(), -1);
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(Menu, EntryNamesAreBoundedAndInsertionKeepsTheShownEntry) {
    menu->setValue(1.0f);
    menu->addEntry("First", 0);
    EXPECT_STREQ(menu->getEntry(0), "First");
    EXPECT_EQ(menu->getCurrentIndex(), 2);
    EXPECT_STREQ(menu->getEntry(menu->getCurrentIndex()), "Port B");
    const std::string longName(400, 'x');
    menu->addEntry(longName.c_str());
    EXPECT_EQ(std::string(menu->getEntry(4)).size(), COptionMenu::kMaxEntryLength);
}

TEST_F(ToolkitTest, TextDisplayIsBoundedAndDeafWithoutMouseAccess) {
    auto* label = add(new CTextEdit(CRect(23, 70, 58, 90), &listener, 100, nullptr, nullptr, 0));
    EXPECT_STREQ(label->getText(), "");
    label->setText("30 dB");
    EXPECT_STREQ(label->getText(), "30 dB");
    const std::string longText(1000, 'y');
    label->setText(longText.c_str());
    EXPECT_EQ(std::string(label->getText()).size(), CTextEdit::kMaxTextLength);
    label->setText(nullptr);
    EXPECT_STREQ(label->getText(), "");
    EXPECT_EQ(label->getFont().size, 12);
    EXPECT_EQ(label->getHoriAlign(), kCenterText);

    label->setMouseEnabled(false);
    EXPECT_EQ(frame->onMouseDown(CPoint(30, 80), kLButton), kMouseIgnored);
    EXPECT_FALSE(frame->onWheel(CPoint(30, 80), 1.0f, 0));
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(ToolkitTest, CircularKnobModesFollowThePointersAngle) {
    tktest::RecordingEditor circular(log, kCircularMode);
    CFrame circularFrame(CRect(0, 0, 100, 100), nullptr, &circular);
    // Centre (50, 50).
    auto* knob = new CAnimKnob(CRect(35, 35, 65, 65), &listener, 2, 41, 30, nullptr);
    circularFrame.addView(knob);
    circularFrame.onMouseDown(CPoint(50, 36), kLButton); // straight up: the middle
    EXPECT_FLOAT_EQ(knob->getValue(), 0.5f);
    circularFrame.onMouseMoved(CPoint(90, 50), kLButton); // right: 235 of 290 degrees
    EXPECT_NEAR(knob->getValue(), 235.0 / 290.0, 1e-6);
    circularFrame.onMouseMoved(CPoint(50, 90), kLButton); // the gap at the bottom
    EXPECT_NEAR(knob->getValue(), 235.0 / 290.0, 1e-6);
    circularFrame.onMouseUp(CPoint(50, 90), kLButton);
    EXPECT_EQ(takeLog().front(), "begin 2");

    tktest::RecordingEditor relative(log, kRelativCircularMode);
    CFrame relativeFrame(CRect(0, 0, 100, 100), nullptr, &relative);
    auto* turned = new CAnimKnob(CRect(35, 35, 65, 65), &listener, 3, 41, 30, nullptr);
    relativeFrame.addView(turned);
    turned->setValue(0.5f);
    relativeFrame.onMouseDown(CPoint(64, 50), kLButton); // a press alone changes nothing
    EXPECT_EQ(turned->getValue(), 0.5f);
    relativeFrame.onMouseMoved(CPoint(50, 10), kLButton); // a quarter turn back
    EXPECT_NEAR(turned->getValue(), 0.5 - 90.0 / 290.0, 1e-6);
    relativeFrame.onMouseUp(CPoint(50, 10), kLButton);
}

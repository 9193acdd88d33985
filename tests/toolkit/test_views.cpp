// Ownership, containers, the frame's dirty region and the editor binding.

#include "tests/toolkit/toolkit_fixture.h"

#include "vst/audioeffectx.h"

#include <utility>

using tktest::ToolkitTest;
using Events = std::vector<std::string>;

namespace {

// A view that says when it is destroyed.
class Probe : public CView {
  public:
    Probe(const CRect& size, bool& destroyed) : CView(size), destroyed(destroyed) {}
    ~Probe() override { destroyed = true; }

  private:
    bool& destroyed;
};

} // namespace

TEST(Geometry, RectanglesAreHalfOpenAndMoveAsWholes) {
    CRect rect(25, 32, 55, 62);
    EXPECT_TRUE(rect.pointInside(CPoint(25, 32)));
    EXPECT_TRUE(rect.pointInside(CPoint(54, 61)));
    EXPECT_FALSE(rect.pointInside(CPoint(55, 40)));
    EXPECT_FALSE(rect.pointInside(CPoint(30, 62)));
    // The label placement of a knob: reshape, then move.
    rect.bottom = rect.top + 20;
    rect.right = rect.left + 35;
    rect.offset(-2, 38);
    EXPECT_EQ(rect, CRect(23, 70, 58, 90));
    rect.moveTo(0, 0);
    EXPECT_EQ(rect, CRect(0, 0, 35, 20));
    EXPECT_EQ(CRect(0, 0, 10, 10).intersect(CRect(20, 20, 30, 30)), CRect());
    EXPECT_EQ(CRect().unite(CRect(1, 2, 3, 4)), CRect(1, 2, 3, 4));
}

TEST(Bitmaps, AreSharedByReferenceAndFreedByTheLastOwner) {
    CBitmap* strip = tktest::makeStrip(30, 30, 41);
    {
        auto* first = new CAnimKnob(CRect(0, 0, 30, 30), nullptr, 2, 41, 30, strip);
        auto* second = new COnOffButton(CRect(0, 0, 30, 30), nullptr, 50, strip);
        EXPECT_EQ(strip->getNbReference(), 3);
        strip->remember(); // keep it observable after the controls are gone
        CViewContainer page(CRect(0, 0, 100, 100), nullptr, strip);
        EXPECT_EQ(strip->getNbReference(), 5);
        page.addView(first);
        page.addView(second);
    }
    EXPECT_EQ(strip->getNbReference(), 2);
    strip->forget();
    strip->forget();
}

TEST(Bitmaps, UnknownNamesGiveAnEmptyBitmapAndEmbeddedOnesDecode) {
    CBitmap missing("ButtonMidiDevHandle");
    EXPECT_EQ(missing.getWidth(), 0);
    EXPECT_EQ(missing.getHeight(), 0);
    EXPECT_FALSE(missing.isLoaded());
    CBitmap none(nullptr);
    EXPECT_FALSE(none.isLoaded());

    CBitmap knob("KnobHandle");
    if (!knob.isLoaded()) GTEST_SKIP() << "no embedded bitmaps in this build";
    EXPECT_EQ(knob.getWidth(), 30);
    EXPECT_EQ(knob.getHeight(), 1230);
    CBitmap sameKnob("knobhandle");
    EXPECT_EQ(sameKnob.getHeight(), 1230);
    CBitmap page("BackgroundPage1");
    EXPECT_EQ(page.getWidth(), 573);
    EXPECT_EQ(page.getHeight(), 394);
}

TEST(Containers, RemoveWithoutForgetKeepsTheViewForTheCaller) {
    bool pageGone = false, childGone = false;
    auto* frame = new CFrame(CRect(0, 0, 573, 424), nullptr, nullptr);
    auto* page = new CViewContainer(CRect(0, 30, 573, 394), frame);
    auto* child = new Probe(CRect(0, 0, 10, 10), childGone);
    page->addView(child);
    EXPECT_EQ(child->getFrame(), nullptr); // the page is not in the frame yet
    frame->addView(page);
    EXPECT_EQ(child->getFrame(), frame);
    EXPECT_EQ(child->getFrameRect(), CRect(0, 30, 10, 40));

    EXPECT_TRUE(frame->removeView(page, false));
    EXPECT_FALSE(frame->removeView(page, false)); // not a child any more
    EXPECT_EQ(page->getNbReference(), 1);
    EXPECT_EQ(page->getParentView(), nullptr);
    EXPECT_TRUE(frame->addView(page));
    EXPECT_FALSE(frame->addView(page)); // already held
    EXPECT_EQ(frame->getNbViews(), 1);

    // A view the frame does not hold survives the frame; deleting it takes its children.
    frame->removeView(page, false);
    delete frame;
    EXPECT_FALSE(pageGone);
    EXPECT_FALSE(childGone);
    delete page;
    EXPECT_TRUE(childGone);
}

TEST(Containers, ForgetOnRemovalAndOnDestructionFreesTheChildren) {
    bool a = false, b = false, c = false;
    auto* frame = new CFrame(CRect(0, 0, 100, 100), nullptr, nullptr);
    auto* page = new CViewContainer(CRect(0, 0, 100, 100), frame);
    frame->addView(page);
    auto* first = new Probe(CRect(0, 0, 10, 10), a);
    page->addView(first);
    page->addView(new Probe(CRect(0, 0, 10, 10), b));
    frame->addView(new Probe(CRect(0, 0, 10, 10), c));
    first->remember();
    page->removeView(first, true);
    EXPECT_FALSE(a);
    first->forget();
    EXPECT_TRUE(a);
    delete frame;
    EXPECT_TRUE(b);
    EXPECT_TRUE(c);

    // A view deleted while in a container leaves it first.
    bool d = false;
    CViewContainer holder(CRect(0, 0, 10, 10), nullptr);
    auto* loose = new Probe(CRect(0, 0, 5, 5), d);
    holder.addView(loose);
    delete loose;
    EXPECT_EQ(holder.getNbViews(), 0);
}

TEST_F(ToolkitTest, EventsReachChildrenInTheirContainersCoordinates) {
    auto* page = new CViewContainer(CRect(0, 30, 300, 200), frame);
    frame->addView(page);
    // View rectangle (25, 32)-(55, 62) is window rows 62 to 91.
    auto* knob = new CAnimKnob(CRect(25, 32, 55, 62), &listener, 2, 41, 30, nullptr);
    page->addView(knob);
    EXPECT_EQ(frame->onMouseDown(CPoint(30, 61), kLButton), kMouseIgnored);
    EXPECT_EQ(frame->onMouseDown(CPoint(55, 70), kLButton), kMouseIgnored);
    EXPECT_EQ(frame->onMouseDown(CPoint(30, 62), kLButton), kMouseTracking);
    EXPECT_TRUE(frame->isTrackingMouse());
    frame->onMouseUp(CPoint(30, 22), kLButton);
    EXPECT_FALSE(frame->isTrackingMouse());
    EXPECT_FLOAT_EQ(knob->getValue(), 0.2f);
    EXPECT_TRUE(frame->onWheel(CPoint(54, 91), 1.0f, 0));
    EXPECT_FALSE(frame->onWheel(CPoint(54, 92), 1.0f, 0));
    // An invisible view or a container without mouse access passes nothing on.
    page->setMouseEnabled(false);
    EXPECT_EQ(frame->onMouseDown(CPoint(30, 62), kLButton), kMouseIgnored);
    page->setMouseEnabled(true);
    knob->setVisible(false);
    EXPECT_EQ(frame->onMouseDown(CPoint(30, 62), kLButton), kMouseIgnored);
}

TEST_F(ToolkitTest, InvalidationCollectsTheDirtyRegionOfShownViewsOnly) {
    auto* page = new CViewContainer(CRect(0, 30, 300, 200), frame);
    auto* knob = new CAnimKnob(CRect(25, 32, 55, 62), &listener, 2, 41, 30, nullptr);
    page->addView(knob);
    knob->invalid(); // the page is not shown
    EXPECT_TRUE(frame->getDirtyRect().isEmpty());
    frame->addView(page);
    knob->invalid();
    EXPECT_EQ(frame->getDirtyRect(), CRect(25, 62, 55, 92));
    frame->invalidRect(CRect(290, 190, 400, 400)); // cut to the frame
    EXPECT_EQ(frame->getDirtyRect(), CRect(25, 62, 300, 200));

    EXPECT_TRUE(frame->setSize(300, 27));
    EXPECT_EQ(frame->getViewSize(), CRect(0, 0, 300, 27));
    frame->invalid();
    EXPECT_EQ(frame->getDirtyRect(), CRect(0, 0, 300, 27));
    EXPECT_FALSE(frame->setSize(-1, 10));
    frame->setSize(300, 200);
    frame->setDirty(true);
    EXPECT_EQ(frame->getDirtyRect(), CRect(0, 0, 300, 200));
}

TEST_F(ToolkitTest, OffscreenFramesHaveNoWindowAndDismissPopupsWithoutAChooser) {
    EXPECT_EQ(frame->getPlatformWindow(), nullptr);
    frame->idle(); // nothing to do, and nothing goes wrong
    auto* menu = new COptionMenu(CRect(0, 0, 100, 20), &listener, 0);
    menu->addEntry("Only");
    frame->addView(menu);
    frame->onMouseDown(CPoint(5, 5), kLButton);
    EXPECT_EQ(menu->getCurrentIndex(), -1);
    EXPECT_EQ(takeLog(), (Events{"begin 0", "end 0"}));
}

// ---------------------------------------------------------------------------------------
// The editor binding

namespace {

std::vector<std::pair<VstInt32, VstInt32>>* hostCalls = nullptr;

VstIntPtr VSTCALLBACK recordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*,
                                    float) {
    if (hostCalls) hostCalls->emplace_back(opcode, index);
    return opcode == audioMasterVersion ? 2400 : 1;
}

class PassThrough : public AudioEffectX {
  public:
    PassThrough() : AudioEffectX(recordingHost, 1, 74) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

class BindingEditor : public AEffGUIEditor {
  public:
    using AEffGUIEditor::AEffGUIEditor;
    using AEffGUIEditor::rect;
};

class Binding : public ::testing::Test {
  protected:
    Binding() {
        hostCalls = &calls;
        editor = new BindingEditor(&effect);
    }
    ~Binding() override { hostCalls = nullptr; }

    std::vector<std::pair<VstInt32, VstInt32>> calls;
    PassThrough effect; // owns and deletes the editor
    BindingEditor* editor;
};

} // namespace

TEST_F(Binding, AttachesToTheEffectAndReportsItsRectangle) {
    EXPECT_EQ(effect.getEditor(), editor);
    editor->rect = ERect{0, 0, 424, 573};
    ERect* reported = nullptr;
    EXPECT_TRUE(editor->getRect(&reported));
    ASSERT_EQ(reported, &editor->rect);
    EXPECT_EQ(reported->bottom, 424);
    EXPECT_TRUE(editor->setKnobMode(kLinearMode));
    EXPECT_EQ(editor->getKnobMode(), kLinearMode);
}

TEST_F(Binding, GesturesOfItsFramesReachTheHostAndIdleCallsTheHost) {
    CFrame frame(CRect(0, 0, 100, 100), nullptr, editor);
    auto* knob = new CAnimKnob(CRect(0, 0, 30, 30), nullptr, 6, 41, 30, nullptr);
    frame.addView(knob);
    frame.onMouseDown(CPoint(10, 10), kLButton);
    frame.onMouseUp(CPoint(10, 0), kLButton);
    editor->doIdleStuff();
    const std::vector<std::pair<VstInt32, VstInt32>> expected = {
        {audioMasterBeginEdit, 6}, {audioMasterEndEdit, 6}, {audioMasterIdle, 0}};
    EXPECT_EQ(calls, expected);
}

TEST_F(Binding, AFrameMayOutliveItsEditor) {
    auto* frame = new CFrame(CRect(0, 0, 100, 100), nullptr, nullptr);
    {
        tktest::Log log;
        tktest::RecordingEditor shortLived(log);
        delete frame;
        frame = new CFrame(CRect(0, 0, 100, 100), nullptr, &shortLived);
        EXPECT_EQ(frame->getEditor(), &shortLived);
    }
    EXPECT_EQ(frame->getEditor(), nullptr);
    auto* button = new COnOffButton(CRect(0, 0, 10, 10), nullptr, 50, nullptr);
    frame->addView(button);
    frame->onMouseDown(CPoint(5, 5), kLButton); // no editor to tell: still toggles
    EXPECT_EQ(button->getValue(), 1.0f);
    delete frame;
}

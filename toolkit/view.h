#pragma once
// Views, containers and the frame. A view's size rectangle is in the coordinates of the
// container that holds it; mouse events reach a view in those same coordinates.

#include "toolkit/baseobject.h"
#include "toolkit/bitmap.h"
#include "toolkit/drawcontext.h"
#include "toolkit/geometry.h"
#include "toolkit/platformwindow.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

using toolkit::kAlt;
using toolkit::kControl;
using toolkit::kLButton;
using toolkit::kMButton;
using toolkit::kRButton;
using toolkit::kShift;

class CFrame;
class CViewContainer;
class COptionMenu;

// How a knob follows a drag (see CAnimKnob); an editor interface answers one from
// getKnobMode, and any other answer counts as linear.
enum CKnobMode : std::int32_t { kCircularMode = 0, kRelativCircularMode = 1, kLinearMode = 2 };

// What a view answers to a mouse-down.
enum CMouseResult {
    kMouseIgnored = 0, // not handled
    kMouseDone,        // handled; the gesture is complete
    kMouseTracking,    // handled; send the moves and the release of this gesture here
};

// The editor side a frame talks to: edit gestures, idle and the knob mode.
class VSTGUIEditorInterface {
  public:
    VSTGUIEditorInterface() = default;
    VSTGUIEditorInterface(const VSTGUIEditorInterface&) = delete;
    VSTGUIEditorInterface& operator=(const VSTGUIEditorInterface&) = delete;

    virtual void doIdleStuff() {}
    virtual std::int32_t getKnobMode() const { return kCircularMode; }
    virtual bool beginEdit(std::int32_t /*index*/) { return false; }
    virtual bool endEdit(std::int32_t /*index*/) { return false; }
    virtual ~VSTGUIEditorInterface();

  protected:
    // Lets every frame made for this editor process its window's events and paint.
    void idleFrames();

  private:
    friend class CFrame;
    std::vector<CFrame*> frames;
};

class CView : public CBaseObject {
  public:
    explicit CView(const CRect& size);
    ~CView() override;

    virtual void draw(toolkit::DrawContext& /*context*/) {}

    virtual CMouseResult onMouseDown(CPoint /*where*/, long /*buttons*/) { return kMouseIgnored; }
    virtual void onMouseMoved(CPoint /*where*/, long /*buttons*/) {}
    virtual void onMouseUp(CPoint /*where*/, long /*buttons*/) {}
    // A gesture this view was tracking ends without a release.
    virtual void onMouseCancel() {}
    virtual bool onWheel(CPoint /*where*/, float /*distance*/, long /*buttons*/) { return false; }

    const CRect& getViewSize() const { return size; }
    virtual void setViewSize(const CRect& newSize);
    CCoord getWidth() const { return size.getWidth(); }
    CCoord getHeight() const { return size.getHeight(); }

    // A view without mouse access keeps its look but ignores clicks and the wheel.
    virtual void setMouseEnabled(bool enabled) { mouseEnabled = enabled; }
    bool getMouseEnabled() const { return mouseEnabled; }
    void setVisible(bool state);
    bool isVisible() const { return visible; }

    // Asks the frame to repaint this view's area; nothing while the view is not in a frame.
    virtual void invalid();
    virtual void setDirty(bool state = true) { dirty = state; }
    bool isDirty() const { return dirty; }

    CViewContainer* getParentView() const { return parent; }
    // The frame this view is shown in, or null while it (or a container above it) is
    // detached.
    CFrame* getFrame() const;
    // The view's rectangle in frame (window) coordinates.
    CRect getFrameRect() const;

    virtual CFrame* asFrame() { return nullptr; }
    virtual CViewContainer* asContainer() { return nullptr; }

  protected:
    friend class CViewContainer;

    CRect size;
    CViewContainer* parent = nullptr;
    bool mouseEnabled = true;
    bool visible = true;
    bool dirty = false;
};

class CViewContainer : public CView {
  public:
    // `frame` names the frame the container is made for; it is attached by addView.
    CViewContainer(const CRect& size, CFrame* frame, CBitmap* background = nullptr);
    // Releases (forgets) every child still held.
    ~CViewContainer() override;

    // Takes over the caller's reference to `view`.
    bool addView(CView* view);
    // Detaches `view`; with `withForget` it also drops the container's reference, otherwise
    // the caller owns that reference from now on.
    bool removeView(CView* view, bool withForget = false);
    void removeAll(bool withForget = true);
    bool isChild(const CView* view) const;
    int getNbViews() const { return static_cast<int>(children.size()); }
    CView* getView(int index) const;

    void setBackground(CBitmap* bitmap);
    CBitmap* getBackground() const { return background; }
    // Bitmap pixel (x + offset.x, y + offset.y) is drawn at the container's pixel (x, y).
    void setBackgroundOffset(CPoint offset) { backgroundOffset = offset; }
    CPoint getBackgroundOffset() const { return backgroundOffset; }
    // Painted under the background bitmap; transparent by default.
    void setBackgroundColor(const CColor& color) { backgroundColor = color; }

    void draw(toolkit::DrawContext& context) override;
    CMouseResult onMouseDown(CPoint where, long buttons) override;
    void onMouseMoved(CPoint where, long buttons) override;
    void onMouseUp(CPoint where, long buttons) override;
    void onMouseCancel() override;
    bool onWheel(CPoint where, float distance, long buttons) override;

    CViewContainer* asContainer() override { return this; }

  protected:
    CFrame* frameHint = nullptr;

  private:
    friend class CView;

    CView* childAt(CPoint local) const;
    void detach(CView* view);

    std::vector<CView*> children;
    CBitmap* background = nullptr;
    CPoint backgroundOffset;
    CColor backgroundColor = kTransparentCColor;
    CView* tracking = nullptr; // child that took the current mouse gesture
};

// The root container: the window of an editor. With a parent window handle it makes a
// platform window through the backend; with none it is offscreen only and paints when
// render() is called.
class CFrame : public CViewContainer, public toolkit::IPlatformFrame {
  public:
    CFrame(const CRect& size, void* systemWindow, VSTGUIEditorInterface* editor);
    ~CFrame() override;

    VSTGUIEditorInterface* getEditor() const { return editor; }
    void* getSystemWindow() const { return systemWindow; }
    toolkit::IPlatformWindow* getPlatformWindow() const { return window.get(); }

    // Resizes the frame and its window; the top-left corner stays at (0, 0).
    bool setSize(CCoord width, CCoord height);

    void invalid() override;
    // Adds `rect` (frame coordinates) to the region waiting to be painted.
    void invalidRect(const CRect& rect);
    const CRect& getDirtyRect() const { return dirtyRect; }
    void setDirty(bool state = true) override;

    // Mouse entry points in window coordinates, called by the platform window or a test.
    CMouseResult onMouseDown(CPoint where, long buttons) override;
    void onMouseMoved(CPoint where, long buttons) override;
    void onMouseUp(CPoint where, long buttons) override;
    void onMouseCancel() override;
    bool onWheel(CPoint where, float distance, long buttons) override;
    bool isTrackingMouse() const { return trackingMouse; }

    // Paints the whole frame into `context` and clears the dirty region.
    void render(toolkit::DrawContext& context);
    // Paints `area` (frame coordinates) only.
    void renderRect(toolkit::DrawContext& context, const CRect& area);

    // Window work from the editor's idle: pending events and paints. Inside an event of
    // this frame it only paints, so controls may call idle from their own events.
    void idle();

    // Popup menus: a chooser set here answers instead of the platform window (tests,
    // offscreen use); without either, every popup is dismissed.
    using PopupChooser = std::function<int(const COptionMenu& menu)>;
    void setPopupChooser(PopupChooser chooser) { popupChooser = std::move(chooser); }
    // Shows the entries of `menu` and answers the chosen position or -1.
    int popupMenu(const COptionMenu& menu);

    CFrame* asFrame() override { return this; }

    // toolkit::IPlatformFrame
    void platformPaint(toolkit::DrawContext& context, const CRect& area) override;
    bool platformMouseDown(CPoint where, long buttons) override;
    void platformMouseMoved(CPoint where, long buttons) override;
    void platformMouseUp(CPoint where, long buttons) override;
    bool platformWheel(CPoint where, float distance, long buttons) override;
    void platformMouseCancel() override;

  private:
    friend class VSTGUIEditorInterface;

    class EventScope;

    VSTGUIEditorInterface* editor;
    void* systemWindow;
    std::unique_ptr<toolkit::IPlatformWindow> window;
    CRect dirtyRect;
    PopupChooser popupChooser;
    int eventDepth = 0;
    bool trackingMouse = false;
};

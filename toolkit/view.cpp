#include "toolkit/view.h"

#include "toolkit/controls.h"

#include <algorithm>

// ---------------------------------------------------------------------------------------
// VSTGUIEditorInterface

VSTGUIEditorInterface::~VSTGUIEditorInterface() {
    // A frame that outlives its editor must not call into it any more.
    for (CFrame* frame : frames)
        frame->editor = nullptr;
}

void VSTGUIEditorInterface::idleFrames() {
    // A frame may be deleted by an event it processes; look each one up again.
    const std::vector<CFrame*> snapshot = frames;
    for (CFrame* frame : snapshot) {
        if (std::find(frames.begin(), frames.end(), frame) != frames.end()) frame->idle();
    }
}

// ---------------------------------------------------------------------------------------
// CView

CView::CView(const CRect& size) : size(size) {}

CView::~CView() {
    if (parent) parent->detach(this);
}

void CView::setViewSize(const CRect& newSize) {
    invalid();
    size = newSize;
    invalid();
}

void CView::setVisible(bool state) {
    if (visible == state) return;
    if (!state) invalid();
    visible = state;
    if (state) invalid();
}

void CView::invalid() {
    if (CFrame* frame = getFrame()) frame->invalidRect(getFrameRect());
}

CFrame* CView::getFrame() const {
    const CView* view = this;
    while (view->parent)
        view = view->parent;
    return const_cast<CView*>(view)->asFrame();
}

CRect CView::getFrameRect() const {
    CRect rect = size;
    for (const CViewContainer* p = parent; p; p = p->parent)
        rect.offset(p->size.left, p->size.top);
    return rect;
}

// ---------------------------------------------------------------------------------------
// CViewContainer

CViewContainer::CViewContainer(const CRect& size, CFrame* frame, CBitmap* background)
    : CView(size), frameHint(frame) {
    setBackground(background);
}

CViewContainer::~CViewContainer() {
    removeAll(true);
    setBackground(nullptr);
}

bool CViewContainer::addView(CView* view) {
    if (!view || view == this || view->parent) return false;
    children.push_back(view);
    view->parent = this;
    return true;
}

bool CViewContainer::removeView(CView* view, bool withForget) {
    if (!isChild(view)) return false;
    view->invalid();
    detach(view);
    if (withForget) view->forget();
    return true;
}

void CViewContainer::removeAll(bool withForget) {
    while (!children.empty()) {
        CView* view = children.back();
        detach(view);
        if (withForget) view->forget();
    }
}

bool CViewContainer::isChild(const CView* view) const {
    return view && std::find(children.begin(), children.end(), view) != children.end();
}

CView* CViewContainer::getView(int index) const {
    if (index < 0 || index >= getNbViews()) return nullptr;
    return children[static_cast<std::size_t>(index)];
}

void CViewContainer::detach(CView* view) {
    auto it = std::find(children.begin(), children.end(), view);
    if (it == children.end()) return;
    children.erase(it);
    view->parent = nullptr;
    if (tracking == view) {
        // The gesture cannot reach the view any more; let it close what it opened.
        tracking = nullptr;
        view->onMouseCancel();
    }
}

void CViewContainer::setBackground(CBitmap* bitmap) {
    if (bitmap == background) return;
    if (bitmap) bitmap->remember();
    if (background) background->forget();
    background = bitmap;
}

CView* CViewContainer::childAt(CPoint local) const {
    // The last added view lies on top.
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if ((*it)->isVisible() && (*it)->getViewSize().pointInside(local)) return *it;
    }
    return nullptr;
}

void CViewContainer::draw(toolkit::DrawContext& context) {
    toolkit::DrawContext::StateGuard guard(context);
    CRect clip = context.toSurface(size);
    clip.intersect(context.getClipRect());
    if (clip.isEmpty()) return;
    context.setClipRect(clip);
    const CPoint origin = context.getOffset();
    context.setOffset(CPoint(origin.x + size.left, origin.y + size.top));

    const CRect local(0, 0, size.getWidth(), size.getHeight());
    if (backgroundColor.alpha != 0) context.fillRect(local, backgroundColor);
    if (background && background->isLoaded())
        context.drawBitmap(*background, local, backgroundOffset);

    for (CView* child : children) {
        if (!child->isVisible()) continue;
        CRect childClip = context.toSurface(child->getViewSize());
        childClip.intersect(clip);
        if (childClip.isEmpty()) continue;
        toolkit::DrawContext::StateGuard childGuard(context);
        context.setClipRect(childClip);
        child->draw(context);
        child->setDirty(false);
    }
}

CMouseResult CViewContainer::onMouseDown(CPoint where, long buttons) {
    const CPoint local(where.x - size.left, where.y - size.top);
    CView* child = childAt(local);
    if (!child || !child->getMouseEnabled()) return kMouseIgnored;

    // The listener may remove the child during its own event; keep it alive until then.
    child->remember();
    const CMouseResult result = child->onMouseDown(local, buttons);
    if (result == kMouseTracking) {
        if (isChild(child))
            tracking = child;
        else
            child->onMouseCancel();
    }
    child->forget();
    return result;
}

void CViewContainer::onMouseMoved(CPoint where, long buttons) {
    if (!tracking) return;
    CView* child = tracking;
    child->remember();
    child->onMouseMoved(CPoint(where.x - size.left, where.y - size.top), buttons);
    child->forget();
}

void CViewContainer::onMouseUp(CPoint where, long buttons) {
    if (!tracking) return;
    CView* child = tracking;
    tracking = nullptr;
    child->remember();
    child->onMouseUp(CPoint(where.x - size.left, where.y - size.top), buttons);
    child->forget();
}

void CViewContainer::onMouseCancel() {
    if (!tracking) return;
    CView* child = tracking;
    tracking = nullptr;
    child->remember();
    child->onMouseCancel();
    child->forget();
}

bool CViewContainer::onWheel(CPoint where, float distance, long buttons) {
    const CPoint local(where.x - size.left, where.y - size.top);
    CView* child = childAt(local);
    if (!child || !child->getMouseEnabled()) return false;
    child->remember();
    const bool handled = child->onWheel(local, distance, buttons);
    child->forget();
    return handled;
}

// ---------------------------------------------------------------------------------------
// CFrame

class CFrame::EventScope {
  public:
    explicit EventScope(CFrame& frame) : frame(frame) { ++frame.eventDepth; }
    ~EventScope() { --frame.eventDepth; }
    EventScope(const EventScope&) = delete;
    EventScope& operator=(const EventScope&) = delete;

  private:
    CFrame& frame;
};

CFrame::CFrame(const CRect& size, void* systemWindow, VSTGUIEditorInterface* editor)
    : CViewContainer(CRect(0, 0, std::max(0, size.getWidth()), std::max(0, size.getHeight())),
                     nullptr),
      editor(editor), systemWindow(systemWindow) {
    frameHint = this;
    if (editor) editor->frames.push_back(this);
    if (systemWindow)
        window = toolkit::createPlatformWindow(systemWindow, this->size.getWidth(),
                                               this->size.getHeight(), *this);
}

CFrame::~CFrame() {
    onMouseCancel();
    // Children go while this is still a whole frame, so their teardown may use it.
    removeAll(true);
    window.reset();
    if (editor) {
        auto& list = editor->frames;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

bool CFrame::setSize(CCoord width, CCoord height) {
    if (width < 0 || height < 0) return false;
    size = CRect(0, 0, width, height);
    dirtyRect.intersect(size);
    if (window) window->setSize(width, height);
    return true;
}

void CFrame::invalid() {
    invalidRect(size);
}

void CFrame::invalidRect(const CRect& rect) {
    CRect area = rect;
    area.intersect(size);
    if (area.isEmpty()) return;
    dirtyRect.unite(area);
    if (window) window->invalidRect(area);
}

void CFrame::setDirty(bool state) {
    CView::setDirty(state);
    if (state) invalid();
}

CMouseResult CFrame::onMouseDown(CPoint where, long buttons) {
    EventScope scope(*this);
    // A second button pressed during a drag belongs to that drag.
    if (trackingMouse) return kMouseIgnored;
    const CMouseResult result = CViewContainer::onMouseDown(where, buttons);
    if (result == kMouseTracking) {
        trackingMouse = true;
        if (window) window->beginMouseCapture();
    }
    return result;
}

void CFrame::onMouseMoved(CPoint where, long buttons) {
    EventScope scope(*this);
    if (trackingMouse) CViewContainer::onMouseMoved(where, buttons);
}

void CFrame::onMouseUp(CPoint where, long buttons) {
    EventScope scope(*this);
    if (!trackingMouse) return;
    trackingMouse = false;
    if (window) window->endMouseCapture();
    CViewContainer::onMouseUp(where, buttons);
}

void CFrame::onMouseCancel() {
    EventScope scope(*this);
    if (!trackingMouse) return;
    trackingMouse = false;
    if (window) window->endMouseCapture();
    CViewContainer::onMouseCancel();
}

bool CFrame::onWheel(CPoint where, float distance, long buttons) {
    EventScope scope(*this);
    return CViewContainer::onWheel(where, distance, buttons);
}

void CFrame::render(toolkit::DrawContext& context) {
    renderRect(context, size);
}

void CFrame::renderRect(toolkit::DrawContext& context, const CRect& area) {
    CRect paintArea = area;
    paintArea.intersect(size);
    if (!paintArea.isEmpty()) {
        toolkit::DrawContext::StateGuard guard(context);
        context.setOffset(CPoint(0, 0));
        context.setClipRect(paintArea);
        draw(context);
    }
    if (paintArea.contains(dirtyRect)) dirtyRect = CRect();
    CView::setDirty(false);
}

void CFrame::idle() {
    if (!window) return;
    if (eventDepth > 0) {
        window->flushPaint();
        return;
    }
    EventScope scope(*this);
    window->processEvents();
}

int CFrame::popupMenu(const COptionMenu& menu) {
    if (popupChooser) return popupChooser(menu);
    if (window)
        return window->popupMenu(menu.getFrameRect(), menu.getEntries(), menu.getCurrentIndex());
    return -1;
}

void CFrame::platformPaint(toolkit::DrawContext& context, const CRect& area) {
    renderRect(context, area);
}

bool CFrame::platformMouseDown(CPoint where, long buttons) {
    return onMouseDown(where, buttons) != kMouseIgnored;
}

void CFrame::platformMouseMoved(CPoint where, long buttons) {
    onMouseMoved(where, buttons);
}

void CFrame::platformMouseUp(CPoint where, long buttons) {
    onMouseUp(where, buttons);
}

bool CFrame::platformWheel(CPoint where, float distance, long buttons) {
    return onWheel(where, distance, buttons);
}

void CFrame::platformMouseCancel() {
    onMouseCancel();
}

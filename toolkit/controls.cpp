#include "toolkit/controls.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

bool hasModifier(long buttons) {
    return (buttons & (kShift | kControl | kAlt)) != 0;
}

// The part of a state image that fits both the control and one image of the bitmap.
CRect imageRect(const CRect& size, CCoord imageHeight) {
    CRect dest = size;
    if (imageHeight > 0 && dest.getHeight() > imageHeight) dest.setHeight(imageHeight);
    return dest;
}

} // namespace

// ---------------------------------------------------------------------------------------
// CControl

CControl::CControl(const CRect& size, CControlListener* listener, std::int32_t tag,
                   CBitmap* background)
    : CView(size), tag(tag), listener(listener) {
    setBackground(background);
}

CControl::~CControl() {
    // Whatever happens to a control mid-gesture, the host sees the bracket closed.
    if (editDepth > 0 && editTarget) editTarget->endEdit(tag);
    setBackground(nullptr);
}

void CControl::setValue(float newValue) {
    if (std::isnan(newValue)) newValue = vmin;
    value = std::clamp(newValue, std::min(vmin, vmax), std::max(vmin, vmax));
}

void CControl::setBackground(CBitmap* bitmap) {
    if (bitmap == background) return;
    if (bitmap) bitmap->remember();
    if (background) background->forget();
    background = bitmap;
}

VSTGUIEditorInterface* CControl::getEditor() const {
    CFrame* frame = getFrame();
    return frame ? frame->getEditor() : nullptr;
}

void CControl::beginEdit() {
    if (editDepth++ > 0) return;
    editTarget = getEditor();
    if (editTarget) editTarget->beginEdit(tag);
    if (listener) listener->controlBeginEdit(this);
}

void CControl::endEdit() {
    if (editDepth == 0 || --editDepth > 0) return;
    if (listener) listener->controlEndEdit(this);
    if (editTarget) editTarget->endEdit(tag);
    editTarget = nullptr;
}

void CControl::onMouseCancel() {
    while (editDepth > 0)
        endEdit();
}

void CControl::notifyValueChanged() {
    if (listener) listener->valueChanged(this);
}

bool CControl::offerModifierClick(long buttons) {
    return hasModifier(buttons) && listener && listener->controlModifierClicked(this, buttons) != 0;
}

// ---------------------------------------------------------------------------------------
// CAnimKnob

CAnimKnob::CAnimKnob(const CRect& size, CControlListener* listener, std::int32_t tag,
                     std::int32_t subPixmaps, CCoord heightOfOneImage, CBitmap* background,
                     CPoint offset)
    : CControl(size, listener, tag, background), subPixmaps(std::max<std::int32_t>(1, subPixmaps)),
      heightOfOneImage(heightOfOneImage), offset(offset) {}

std::int32_t CAnimKnob::getFrameIndex() const {
    const double range = static_cast<double>(vmax) - vmin;
    if (subPixmaps <= 1 || !(range > 0.0)) return 0;
    const double position = (static_cast<double>(value) - vmin) / range;
    const double index = std::floor(position * (subPixmaps - 1));
    return static_cast<std::int32_t>(std::clamp(index, 0.0, double(subPixmaps - 1)));
}

void CAnimKnob::draw(toolkit::DrawContext& context) {
    if (!background || !background->isLoaded()) return;
    const CPoint source(offset.x, offset.y + getFrameIndex() * heightOfOneImage);
    context.drawBitmap(*background, imageRect(size, heightOfOneImage), source);
}

CMouseResult CAnimKnob::onMouseDown(CPoint where, long buttons) {
    if (!mouseEnabled || !(buttons & kLButton)) return kMouseIgnored;
    if (offerModifierClick(buttons)) return kMouseDone;
    VSTGUIEditorInterface* editor = getEditor();
    dragMode = editor ? editor->getKnobMode() : kLinearMode;
    beginEdit();
    lastPoint = where;
    lastAngle = angleOf(where);
    dragValue = value;
    if (dragMode == kCircularMode) followAngle(where);
    return kMouseTracking;
}

double CAnimKnob::angleOf(CPoint where) const {
    const double dx = where.x - (size.left + size.right) / 2.0;
    const double dy = where.y - (size.top + size.bottom) / 2.0;
    if (dx == 0.0 && dy == 0.0) return std::nan("");
    return std::atan2(dx, -dy) * 180.0 / 3.14159265358979323846;
}

void CAnimKnob::followAngle(CPoint where) {
    const double angle = angleOf(where);
    if (std::isnan(angle)) return;
    const double range = static_cast<double>(vmax) - vmin;
    if (dragMode == kCircularMode) {
        if (angle < kStartAngle || angle > kStartAngle + kRangeAngle) return;
        changeTo(vmin + (angle - kStartAngle) / kRangeAngle * range);
        return;
    }
    double turn = angle - (std::isnan(lastAngle) ? angle : lastAngle);
    if (turn > 180.0) turn -= 360.0;
    if (turn < -180.0) turn += 360.0;
    lastAngle = angle;
    changeTo(dragValue + turn / kRangeAngle * range);
}

void CAnimKnob::onMouseMoved(CPoint where, long /*buttons*/) {
    if (!isEditing()) return;
    if (dragMode == kCircularMode || dragMode == kRelativCircularMode) {
        followAngle(where);
        return;
    }
    const int travel = (where.x - lastPoint.x) - (where.y - lastPoint.y);
    lastPoint = where;
    if (travel == 0) return;
    changeTo(dragValue + travel * (static_cast<double>(vmax) - vmin) / kDragPixels);
}

void CAnimKnob::onMouseUp(CPoint where, long buttons) {
    if (!isEditing()) return;
    onMouseMoved(where, buttons);
    endEdit();
}

bool CAnimKnob::onWheel(CPoint /*where*/, float distance, long /*buttons*/) {
    if (!mouseEnabled) return false;
    if (distance == 0.0f || std::isnan(distance)) return true;
    beginEdit();
    dragValue = value;
    // Rounded to a millionth so that notches from a round value land on round values and
    // the ends are reached in whole notches despite float steps.
    const double next = value + static_cast<double>(distance) * kWheelStep * (vmax - vmin);
    changeTo(std::round(next * 1e6) / 1e6);
    endEdit();
    return true;
}

void CAnimKnob::changeTo(double newValue) {
    dragValue = std::clamp(newValue, static_cast<double>(std::min(vmin, vmax)),
                           static_cast<double>(std::max(vmin, vmax)));
    const auto next = static_cast<float>(dragValue);
    if (next == value) return;
    setValue(next);
    invalid();
    notifyValueChanged();
}

// ---------------------------------------------------------------------------------------
// COnOffButton

COnOffButton::COnOffButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                           CBitmap* background, std::int32_t style)
    : CControl(size, listener, tag, background), style(style) {}

void COnOffButton::draw(toolkit::DrawContext& context) {
    if (!background || !background->isLoaded()) return;
    const CCoord half = background->getHeight() / 2;
    const CPoint source(0, value >= vmax ? half : 0);
    context.drawBitmap(*background, imageRect(size, half), source);
}

CMouseResult COnOffButton::onMouseDown(CPoint /*where*/, long buttons) {
    if (!mouseEnabled || !(buttons & kLButton)) return kMouseIgnored;
    if (offerModifierClick(buttons)) return kMouseDone;
    beginEdit();
    setValue(value >= vmax ? vmin : vmax);
    invalid();
    // The new look is on screen before the listener starts what may take a while.
    if (VSTGUIEditorInterface* editor = getEditor()) editor->doIdleStuff();
    notifyValueChanged();
    endEdit();
    return kMouseDone;
}

// ---------------------------------------------------------------------------------------
// CKickButton

CKickButton::CKickButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CCoord heightOfOneImage, CBitmap* background, CPoint offset)
    : CControl(size, listener, tag, background), heightOfOneImage(heightOfOneImage),
      offset(offset) {}

void CKickButton::draw(toolkit::DrawContext& context) {
    if (!background || !background->isLoaded()) return;
    const CPoint source(offset.x, offset.y + (pressed ? heightOfOneImage : 0));
    context.drawBitmap(*background, imageRect(size, heightOfOneImage), source);
}

CMouseResult CKickButton::onMouseDown(CPoint /*where*/, long buttons) {
    if (!mouseEnabled || !(buttons & kLButton)) return kMouseIgnored;
    if (offerModifierClick(buttons)) return kMouseDone;
    beginEdit();
    pressed = true;
    invalid();
    return kMouseTracking;
}

void CKickButton::onMouseMoved(CPoint where, long /*buttons*/) {
    if (!isEditing()) return;
    const bool over = size.pointInside(where);
    if (over == pressed) return;
    pressed = over;
    invalid();
}

void CKickButton::onMouseUp(CPoint where, long /*buttons*/) {
    if (!isEditing()) return;
    pressed = false;
    invalid();
    if (size.pointInside(where)) {
        setValue(vmax);
        notifyValueChanged();
    }
    setValue(vmin);
    notifyValueChanged();
    endEdit();
}

void CKickButton::onMouseCancel() {
    if (pressed) {
        pressed = false;
        invalid();
    }
    CControl::onMouseCancel();
}

// ---------------------------------------------------------------------------------------
// CParamDisplay

CParamDisplay::CParamDisplay(const CRect& size, CControlListener* listener, std::int32_t tag,
                             CBitmap* background, std::int32_t style)
    : CControl(size, listener, tag, background), style(style) {}

void CParamDisplay::drawBack(toolkit::DrawContext& context) {
    if (transparent) return;
    context.fillRect(size, backColor);
    if (background && background->isLoaded()) context.drawBitmap(*background, size, CPoint());
}

void CParamDisplay::drawString(toolkit::DrawContext& context, const char* text) {
    if (text && *text) context.drawText(text, size, font, fontColor, horiAlign);
}

// ---------------------------------------------------------------------------------------
// COptionMenu

COptionMenu::COptionMenu(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CBitmap* background, CBitmap* bgWhenClick, std::int32_t style)
    : CParamDisplay(size, listener, tag, background, style), bgWhenClick(bgWhenClick) {
    if (bgWhenClick) bgWhenClick->remember();
}

COptionMenu::~COptionMenu() {
    if (bgWhenClick) bgWhenClick->forget();
}

bool COptionMenu::addEntry(const char* name, std::int32_t index, std::int32_t flags) {
    toolkit::PopupEntry entry;
    if (name) entry.title.assign(name, strnlen(name, kMaxEntryLength));
    entry.flags = flags;
    const auto count = getNbEntries();
    if (index < 0 || index >= count) {
        entries.push_back(std::move(entry));
    } else {
        entries.insert(entries.begin() + index, std::move(entry));
        // The entry on show stays the same entry.
        if (current >= index) ++current;
    }
    vmax = static_cast<float>(getNbEntries() - 1);
    if (current >= 0) value = static_cast<float>(current);
    return true;
}

bool COptionMenu::removeAllEntry() {
    entries.clear();
    current = -1;
    value = 0.0f;
    vmax = 1.0f;
    return true;
}

const char* COptionMenu::getEntry(std::int32_t index) const {
    if (index < 0 || index >= getNbEntries()) return nullptr;
    return entries[static_cast<std::size_t>(index)].title.c_str();
}

std::int32_t COptionMenu::getEntryFlags(std::int32_t index) const {
    if (index < 0 || index >= getNbEntries()) return 0;
    return entries[static_cast<std::size_t>(index)].flags;
}

void COptionMenu::setValue(float newValue) {
    // Checked as a float first: a huge value must not reach the integer conversion.
    if (!(newValue > -1.0f) || newValue >= static_cast<float>(getNbEntries())) return;
    current = static_cast<std::int32_t>(newValue);
    value = static_cast<float>(current);
}

void COptionMenu::clearSelection() {
    current = -1;
    value = 0.0f;
}

void COptionMenu::setTextWithoutEntry(const char* text) {
    textWithoutEntry.assign(text ? text : "", text ? strnlen(text, kMaxEntryLength) : 0);
}

const char* COptionMenu::getShownText() const {
    if (current >= 0 && current < getNbEntries()) return getEntry(current);
    return textWithoutEntry.c_str();
}

void COptionMenu::draw(toolkit::DrawContext& context) {
    drawBack(context);
    drawString(context, getShownText());
}

CMouseResult COptionMenu::onMouseDown(CPoint /*where*/, long buttons) {
    if (!mouseEnabled || !(buttons & kLButton)) return kMouseIgnored;
    if (offerModifierClick(buttons)) return kMouseDone;
    CFrame* frame = getFrame();
    if (!frame) return kMouseIgnored;
    beginEdit();
    const int chosen = frame->popupMenu(*this);
    const bool selectable =
        chosen >= 0 && chosen < getNbEntries() &&
        (getEntryFlags(chosen) & (kDisabledEntry | kTitleEntry | kSeparatorEntry)) == 0;
    if (selectable) {
        setValue(static_cast<float>(chosen));
        invalid();
        notifyValueChanged();
    }
    endEdit();
    return kMouseDone;
}

// ---------------------------------------------------------------------------------------
// CTextEdit

CTextEdit::CTextEdit(const CRect& size, CControlListener* listener, std::int32_t tag,
                     const char* text, CBitmap* background, std::int32_t style)
    : CParamDisplay(size, listener, tag, background, style) {
    setText(text);
}

void CTextEdit::setText(const char* newText) {
    if (!newText)
        text.clear();
    else
        text.assign(newText, strnlen(newText, kMaxTextLength));
    setDirty(true);
}

void CTextEdit::draw(toolkit::DrawContext& context) {
    drawBack(context);
    drawString(context, text.c_str());
}

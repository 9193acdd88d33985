#pragma once
// Controls: a value with a tag reported to a listener, and the bitmap controls built on it.
// Every mouse gesture that can change a value is bracketed by beginEdit and endEdit of the
// control's tag on the frame's editor interface.

#include "toolkit/view.h"

#include <cstdint>
#include <string>
#include <vector>

class CControl;

class CControlListener {
  public:
    virtual ~CControlListener() = default;
    // Called after the control's value changed through the user.
    virtual void valueChanged(CControl* control) = 0;
    // A click with a modifier key; a non-zero answer consumes the click.
    virtual std::int32_t controlModifierClicked(CControl* /*control*/, long /*buttons*/) {
        return 0;
    }
    virtual void controlBeginEdit(CControl* /*control*/) {}
    virtual void controlEndEdit(CControl* /*control*/) {}
};

class CControl : public CView {
  public:
    CControl(const CRect& size, CControlListener* listener = nullptr, std::int32_t tag = 0,
             CBitmap* background = nullptr);
    ~CControl() override;

    // Clamped to [min, max]; NaN becomes min.
    virtual void setValue(float newValue);
    float getValue() const { return value; }
    void setMin(float newMin) { vmin = newMin; }
    float getMin() const { return vmin; }
    void setMax(float newMax) { vmax = newMax; }
    float getMax() const { return vmax; }

    void setTag(std::int32_t newTag) { tag = newTag; }
    std::int32_t getTag() const { return tag; }
    void setListener(CControlListener* newListener) { listener = newListener; }
    CControlListener* getListener() const { return listener; }

    void setBackground(CBitmap* bitmap);
    CBitmap* getBackground() const { return background; }

    // The gesture bracket: the frame's editor interface hears beginEdit/endEdit(tag), the
    // listener controlBeginEdit/controlEndEdit. Nested calls are counted; only the
    // outermost pair reaches them.
    void beginEdit();
    void endEdit();
    bool isEditing() const { return editDepth > 0; }

    // A tracked gesture that is cut off still closes its bracket.
    void onMouseCancel() override;

  protected:
    // Tells the listener about the current value.
    void notifyValueChanged();
    // Offers a click with a modifier key to the listener; true when it took it.
    bool offerModifierClick(long buttons);
    VSTGUIEditorInterface* getEditor() const;

    float value = 0.0f;
    float vmin = 0.0f;
    float vmax = 1.0f;
    std::int32_t tag;
    CControlListener* listener;
    CBitmap* background = nullptr;
    int editDepth = 0;
    // The editor a begun bracket went to, so that the matching end reaches the same one
    // even if the control left its frame meanwhile.
    VSTGUIEditorInterface* editTarget = nullptr;
};

// A knob drawn from a vertical strip of sub-images: image floor(value x (subPixmaps - 1)).
// The editor interface's knob mode picks how a drag moves it:
//   linear: the value changes by (dx - dy) / 200 of the range (right and up increase);
//   circular: the value follows the pointer's angle around the centre, from kStartAngle
//     (value min) clockwise over kRangeAngle (value max); the gap at the bottom changes nothing;
//   relative circular: the value turns with the pointer's angle from where the drag started.
// A wheel notch changes the value by kWheelStep of the range.
class CAnimKnob : public CControl {
  public:
    static constexpr float kDragPixels = 200.0f;
    static constexpr float kWheelStep = 0.01f;
    // Degrees from straight up, clockwise.
    static constexpr double kStartAngle = -145.0;
    static constexpr double kRangeAngle = 290.0;

    CAnimKnob(const CRect& size, CControlListener* listener, std::int32_t tag,
              std::int32_t subPixmaps, CCoord heightOfOneImage, CBitmap* background,
              CPoint offset = CPoint(0, 0));

    // The sub-image shown for the current value.
    std::int32_t getFrameIndex() const;

    void draw(toolkit::DrawContext& context) override;
    CMouseResult onMouseDown(CPoint where, long buttons) override;
    void onMouseMoved(CPoint where, long buttons) override;
    void onMouseUp(CPoint where, long buttons) override;
    bool onWheel(CPoint where, float distance, long buttons) override;

  private:
    void changeTo(double newValue);
    // Degrees of `where` around the centre, or NaN at the centre itself.
    double angleOf(CPoint where) const;
    void followAngle(CPoint where);

    std::int32_t subPixmaps;
    CCoord heightOfOneImage;
    CPoint offset;
    CPoint lastPoint;
    double lastAngle = 0.0;
    double dragValue = 0.0;
    std::int32_t dragMode = kLinearMode;
};

// A switch: each click toggles between min and max. Upper half of the bitmap for min,
// lower half for max.
class COnOffButton : public CControl {
  public:
    COnOffButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                 CBitmap* background, std::int32_t style = 0);

    void draw(toolkit::DrawContext& context) override;
    CMouseResult onMouseDown(CPoint where, long buttons) override;
    // Kept as given; a switch draws and behaves the same in every style.
    std::int32_t getStyle() const { return style; }

  private:
    std::int32_t style;
};

// A push button: shows its second image while pressed; released over it, it reports max
// and then min, released elsewhere only min.
class CKickButton : public CControl {
  public:
    CKickButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                CCoord heightOfOneImage, CBitmap* background, CPoint offset = CPoint(0, 0));

    bool isPressed() const { return pressed; }

    void draw(toolkit::DrawContext& context) override;
    CMouseResult onMouseDown(CPoint where, long buttons) override;
    void onMouseMoved(CPoint where, long buttons) override;
    void onMouseUp(CPoint where, long buttons) override;
    void onMouseCancel() override;

  private:
    CCoord heightOfOneImage;
    CPoint offset;
    bool pressed = false;
};

// Text shown in a rectangle: font, colours, transparency and alignment shared by the
// option menu and the text display.
class CParamDisplay : public CControl {
  public:
    CParamDisplay(const CRect& size, CControlListener* listener, std::int32_t tag,
                  CBitmap* background, std::int32_t style = 0);

    void setFont(const CFontDesc& newFont) { font = newFont; }
    const CFontDesc& getFont() const { return font; }
    void setFontColor(const CColor& color) { fontColor = color; }
    const CColor& getFontColor() const { return fontColor; }
    void setBackColor(const CColor& color) { backColor = color; }
    const CColor& getBackColor() const { return backColor; }
    // Transparent: neither background colour nor bitmap is painted, only the text.
    void setTransparency(bool state) { transparent = state; }
    bool getTransparency() const { return transparent; }
    void setHoriAlign(CHoriTxtAlign align) { horiAlign = align; }
    CHoriTxtAlign getHoriAlign() const { return horiAlign; }
    std::int32_t getStyle() const { return style; }

  protected:
    void drawBack(toolkit::DrawContext& context);
    void drawString(toolkit::DrawContext& context, const char* text);

    std::int32_t style;
    CFontDesc font = kNormalFont;
    CColor fontColor = kWhiteCColor;
    CColor backColor = kBlackCColor;
    bool transparent = false;
    CHoriTxtAlign horiAlign = kCenterText;
};

// A menu of named entries; its value is the position of the chosen entry. A click opens
// the entries as a popup through the frame.
class COptionMenu : public CParamDisplay {
  public:
    enum EntryFlags : std::int32_t {
        kDisabledEntry = 1 << 0,
        kTitleEntry = 1 << 1,
        kCheckedEntry = 1 << 2,
        kSeparatorEntry = 1 << 3,
    };

    COptionMenu(const CRect& size, CControlListener* listener, std::int32_t tag,
                CBitmap* background = nullptr, CBitmap* bgWhenClick = nullptr,
                std::int32_t style = 0);
    ~COptionMenu() override;

    // Inserts at position `index`, or appends when index is negative or past the end.
    // Names are bounded to kMaxEntryLength characters.
    bool addEntry(const char* name, std::int32_t index = -1, std::int32_t flags = 0);
    bool removeAllEntry();
    std::int32_t getNbEntries() const { return static_cast<std::int32_t>(entries.size()); }
    // Null outside the entries.
    const char* getEntry(std::int32_t index) const;
    std::int32_t getEntryFlags(std::int32_t index) const;
    // The entry shown, or -1 before a value selected one.
    std::int32_t getCurrentIndex() const { return current; }
    const std::vector<toolkit::PopupEntry>& getEntries() const { return entries; }

    // Selects entry (int)newValue; a value whose entry does not exist is ignored.
    void setValue(float newValue) override;
    // No entry on show; the menu then shows `text` (empty by default).
    void clearSelection();
    void setTextWithoutEntry(const char* text);
    const std::string& getTextWithoutEntry() const { return textWithoutEntry; }
    // What the menu shows now: the current entry's name or the text without entry.
    const char* getShownText() const;

    void draw(toolkit::DrawContext& context) override;
    CMouseResult onMouseDown(CPoint where, long buttons) override;

    static constexpr std::size_t kMaxEntryLength = 255;

  private:
    std::vector<toolkit::PopupEntry> entries;
    std::int32_t current = -1;
    std::string textWithoutEntry;
    CBitmap* bgWhenClick = nullptr;
};

// A text display. Clicks never edit it; with mouse access off they are not even seen.
class CTextEdit : public CParamDisplay {
  public:
    static constexpr std::size_t kMaxTextLength = 255;

    CTextEdit(const CRect& size, CControlListener* listener, std::int32_t tag,
              const char* text = nullptr, CBitmap* background = nullptr, std::int32_t style = 0);

    // Keeps at most kMaxTextLength characters; null clears the text.
    void setText(const char* newText);
    const char* getText() const { return text.c_str(); }

    void draw(toolkit::DrawContext& context) override;

  private:
    std::string text;
};

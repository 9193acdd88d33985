#pragma once
// The one drawing interface over every surface (offscreen image, X11 window, Win32 window).
// Views draw in local coordinates: the context adds its offset and clips every operation to
// its clip rectangle, which is kept in surface coordinates.

#include "toolkit/geometry.h"

class CBitmap;

enum CHoriTxtAlign { kLeftText = 0, kCenterText, kRightText };
enum CTxtFace { kNormalFace = 0, kBoldFace = 1, kItalicFace = 2 };

struct CFontDesc {
    const char* name;
    int size;  // pixels
    int style; // CTxtFace bits
};

// The toolkit's predefined fonts: the default of text displays and its smaller sibling.
// Backends without Arial substitute its metric twin.
inline constexpr CFontDesc kNormalFont{"Arial", 12, kNormalFace};
inline constexpr CFontDesc kNormalFontSmall{"Arial", 11, kNormalFace};

namespace toolkit {

class DrawContext {
  public:
    virtual ~DrawContext() = default;

    virtual void fillRect(const CRect& rect, const CColor& color) = 0;
    // Draws the part of the bitmap that starts at `source` and has the size of `dest` into
    // `dest`, blended over what is there; pixels beyond the bitmap are left alone.
    virtual void drawBitmap(const CBitmap& bitmap, const CRect& dest, CPoint source,
                            float alpha = 1.0f) = 0;
    // Draws one line of 8-bit Latin-1 text, vertically centred in the rectangle and clipped
    // to it.
    virtual void drawText(const char* text, const CRect& rect, const CFontDesc& font,
                          const CColor& color, CHoriTxtAlign align = kCenterText) = 0;
    // The surface's own extent in surface coordinates.
    virtual CRect getSurfaceRect() const = 0;

    CPoint getOffset() const { return offset; }
    void setOffset(CPoint newOffset) { offset = newOffset; }
    const CRect& getClipRect() const { return clip; }
    void setClipRect(const CRect& surfaceRect) {
        clip = surfaceRect;
        clip.intersect(getSurfaceRect());
    }
    // Converts a local rectangle to surface coordinates.
    CRect toSurface(CRect local) const { return local.offset(offset.x, offset.y); }

    // Restores offset and clip when it goes out of scope.
    class StateGuard {
      public:
        explicit StateGuard(DrawContext& context)
            : context(context), offset(context.offset), clip(context.clip) {}
        ~StateGuard() {
            context.offset = offset;
            context.clip = clip;
        }
        StateGuard(const StateGuard&) = delete;
        StateGuard& operator=(const StateGuard&) = delete;

      private:
        DrawContext& context;
        CPoint offset;
        CRect clip;
    };

  protected:
    // Backends call this once their surface size is known.
    void resetState() {
        offset = {};
        clip = getSurfaceRect();
    }

  private:
    CPoint offset;
    CRect clip;
};

} // namespace toolkit

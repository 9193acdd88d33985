#pragma once
// The drawing interface over a cairo context: offscreen images, and X11 windows through
// cairo's Xlib surfaces.

#include "toolkit/drawcontext.h"

#include <cairo.h>

namespace toolkit {

class CairoDrawContext : public DrawContext {
  public:
    // Draws with `cairo` (not owned) on a surface of the given size.
    CairoDrawContext(cairo_t* cairo, CCoord width, CCoord height);

    // The surface was resized or replaced; resets offset and clip.
    void reset(cairo_t* cairo, CCoord width, CCoord height);
    cairo_t* getCairo() const { return cairo; }

    void fillRect(const CRect& rect, const CColor& color) override;
    void drawBitmap(const CBitmap& bitmap, const CRect& dest, CPoint source,
                    float alpha = 1.0f) override;
    void drawText(const char* text, const CRect& rect, const CFontDesc& font, const CColor& color,
                  CHoriTxtAlign align = kCenterText) override;
    CRect getSurfaceRect() const override { return CRect(0, 0, width, height); }

  private:
    cairo_t* cairo;
    CCoord width;
    CCoord height;
};

// The family cairo is asked for: Arial is drawn with its metric twin.
const char* cairoFontFamily(const char* name);

} // namespace toolkit

#pragma once
// A drawing surface in memory: for tests and for pictures of a window without any display.

#include "toolkit/drawcontext.h"

#include <cstdint>
#include <memory>

namespace toolkit {

class OffscreenSurface {
  public:
    // A fully transparent surface; sizes below 1 become 1.
    OffscreenSurface(CCoord width, CCoord height);
    ~OffscreenSurface();
    OffscreenSurface(const OffscreenSurface&) = delete;
    OffscreenSurface& operator=(const OffscreenSurface&) = delete;

    DrawContext& context();
    CCoord getWidth() const;
    CCoord getHeight() const;
    // Premultiplied ARGB of one pixel (0 outside the surface). Completes pending drawing.
    std::uint32_t pixel(CCoord x, CCoord y) const;
    // Fills the whole surface with one colour.
    void clear(const CColor& color);
    bool writePng(const char* path) const;

    class Impl;

  private:
    std::unique_ptr<Impl> impl;
};

} // namespace toolkit

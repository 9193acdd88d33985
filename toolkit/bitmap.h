#pragma once
// A decoded picture: premultiplied ARGB pixels, one 32-bit word per pixel in native byte
// order (0xAARRGGBB), rows top to bottom without padding.

#include "toolkit/baseobject.h"
#include "toolkit/geometry.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CBitmap : public CBaseObject {
  public:
    // Loads the embedded PNG of that resource name; a name that finds nothing, or bytes
    // that do not decode, give an empty 0 x 0 bitmap.
    explicit CBitmap(const char* resourceName);
    // A fully transparent bitmap of that size.
    CBitmap(CCoord width, CCoord height);
    // Decodes PNG bytes held by the caller; empty on failure.
    static CBitmap* fromPng(const void* data, std::size_t size);

    CCoord getWidth() const { return width; }
    CCoord getHeight() const { return height; }
    bool isLoaded() const { return width > 0 && height > 0; }

    const std::uint32_t* getPixels() const { return pixels.data(); }
    std::uint32_t* getPixels() { return pixels.data(); }
    // Outside the bitmap: 0 (transparent) on reading, ignored on writing.
    std::uint32_t getPixel(CCoord x, CCoord y) const;
    void setPixel(CCoord x, CCoord y, std::uint32_t premultipliedArgb);
    void fill(const CColor& color);

  private:
    CBitmap() = default;
    void decode(const void* data, std::size_t size);

    CCoord width = 0;
    CCoord height = 0;
    std::vector<std::uint32_t> pixels;
};

// Drawing with cairo: the draw context, PNG decoding and the offscreen surface.
#include "toolkit/bitmap.h"
#include "toolkit/cairocontext.h"
#include "toolkit/offscreen.h"
#include "toolkit/platformwindow.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <strings.h>
#include <utility>

namespace toolkit {

namespace {

void setColor(cairo_t* cairo, const CColor& color, double alpha = 1.0) {
    cairo_set_source_rgba(cairo, color.red / 255.0, color.green / 255.0, color.blue / 255.0,
                          alpha * color.alpha / 255.0);
}

void clipTo(cairo_t* cairo, const CRect& rect) {
    cairo_rectangle(cairo, rect.left, rect.top, rect.getWidth(), rect.getHeight());
    cairo_clip(cairo);
}

struct PngSource {
    const unsigned char* data;
    std::size_t size;
    std::size_t position = 0;
};

cairo_status_t readPng(void* closure, unsigned char* out, unsigned int length) {
    auto* source = static_cast<PngSource*>(closure);
    if (source->size - source->position < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, source->data + source->position, length);
    source->position += length;
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

const char* cairoFontFamily(const char* name) {
    if (!name || !*name || strcasecmp(name, "Arial") == 0) return "Liberation Sans";
    return name;
}

// ---------------------------------------------------------------------------------------
// CairoDrawContext

CairoDrawContext::CairoDrawContext(cairo_t* cairo, CCoord width, CCoord height)
    : cairo(cairo), width(width), height(height) {
    resetState();
}

void CairoDrawContext::reset(cairo_t* newCairo, CCoord newWidth, CCoord newHeight) {
    cairo = newCairo;
    width = newWidth;
    height = newHeight;
    resetState();
}

void CairoDrawContext::fillRect(const CRect& rect, const CColor& color) {
    CRect area = toSurface(rect);
    area.intersect(getClipRect());
    if (area.isEmpty() || color.alpha == 0) return;
    cairo_save(cairo);
    cairo_rectangle(cairo, area.left, area.top, area.getWidth(), area.getHeight());
    setColor(cairo, color);
    cairo_fill(cairo);
    cairo_restore(cairo);
}

void CairoDrawContext::drawBitmap(const CBitmap& bitmap, const CRect& dest, CPoint source,
                                  float alpha) {
    if (!bitmap.isLoaded() || !(alpha > 0.0f)) return;
    // The source rectangle, cut to the bitmap; the destination follows the cut.
    CRect from(source.x, source.y, source.x + dest.getWidth(), source.y + dest.getHeight());
    CRect available = from;
    available.intersect(CRect(0, 0, bitmap.getWidth(), bitmap.getHeight()));
    if (available.isEmpty()) return;
    CRect to = toSurface(dest);
    to.left += available.left - from.left;
    to.top += available.top - from.top;
    to.right = to.left + available.getWidth();
    to.bottom = to.top + available.getHeight();
    CRect visible = to;
    visible.intersect(getClipRect());
    if (visible.isEmpty()) return;

    // Cairo only reads a source surface, so wrapping the const pixels is safe.
    cairo_surface_t* image = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(bitmap.getPixels())),
        CAIRO_FORMAT_ARGB32, bitmap.getWidth(), bitmap.getHeight(), bitmap.getWidth() * 4);
    if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) {
        cairo_save(cairo);
        clipTo(cairo, visible);
        cairo_set_source_surface(cairo, image, to.left - available.left, to.top - available.top);
        cairo_pattern_set_filter(cairo_get_source(cairo), CAIRO_FILTER_NEAREST);
        if (alpha >= 1.0f)
            cairo_paint(cairo);
        else
            cairo_paint_with_alpha(cairo, alpha);
        cairo_restore(cairo);
    }
    cairo_surface_destroy(image);
}

void CairoDrawContext::drawText(const char* text, const CRect& rect, const CFontDesc& font,
                                const CColor& color, CHoriTxtAlign align) {
    const std::string utf8 = latin1ToUtf8(text);
    if (utf8.empty() || color.alpha == 0) return;
    const CRect box = toSurface(rect);
    CRect visible = box;
    visible.intersect(getClipRect());
    if (visible.isEmpty()) return;

    cairo_save(cairo);
    clipTo(cairo, visible);
    cairo_select_font_face(
        cairo, cairoFontFamily(font.name),
        (font.style & kItalicFace) ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
        (font.style & kBoldFace) ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cairo, font.size > 0 ? font.size : kNormalFont.size);
    cairo_font_extents_t fontExtents;
    cairo_font_extents(cairo, &fontExtents);
    cairo_text_extents_t textExtents;
    cairo_text_extents(cairo, utf8.c_str(), &textExtents);

    double x = box.left + 1.0;
    if (align == kCenterText)
        x = box.left + (box.getWidth() - textExtents.x_advance) / 2.0;
    else if (align == kRightText)
        x = box.right - 1.0 - textExtents.x_advance;
    const double y = box.top +
                     (box.getHeight() - (fontExtents.ascent + fontExtents.descent)) / 2.0 +
                     fontExtents.ascent;
    cairo_move_to(cairo, static_cast<int>(x + 0.5), static_cast<int>(y + 0.5));
    setColor(cairo, color);
    cairo_show_text(cairo, utf8.c_str());
    cairo_restore(cairo);
}

// ---------------------------------------------------------------------------------------
// PNG decoding

bool decodePng(const void* data, std::size_t size, PixelImage& out) {
    if (!data || size == 0) return false;
    PngSource source{static_cast<const unsigned char*>(data), size};
    cairo_surface_t* decoded = cairo_image_surface_create_from_png_stream(readPng, &source);
    bool ok = cairo_surface_status(decoded) == CAIRO_STATUS_SUCCESS;
    const int width = ok ? cairo_image_surface_get_width(decoded) : 0;
    const int height = ok ? cairo_image_surface_get_height(decoded) : 0;
    ok = ok && width > 0 && height > 0;

    // Whatever format cairo chose, redraw it as premultiplied ARGB.
    cairo_surface_t* argb =
        ok ? cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height) : nullptr;
    if (argb && cairo_surface_status(argb) == CAIRO_STATUS_SUCCESS) {
        cairo_t* cairo = cairo_create(argb);
        cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cairo, decoded, 0, 0);
        cairo_paint(cairo);
        cairo_destroy(cairo);
        cairo_surface_flush(argb);

        PixelImage image;
        image.width = width;
        image.height = height;
        image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        const unsigned char* rows = cairo_image_surface_get_data(argb);
        const int stride = cairo_image_surface_get_stride(argb);
        for (int y = 0; y < height; ++y)
            std::memcpy(&image.pixels[static_cast<std::size_t>(y) * width],
                        rows + static_cast<std::ptrdiff_t>(y) * stride,
                        static_cast<std::size_t>(width) * 4);
        out = std::move(image);
    } else {
        ok = false;
    }
    if (argb) cairo_surface_destroy(argb);
    cairo_surface_destroy(decoded);
    return ok;
}

// ---------------------------------------------------------------------------------------
// OffscreenSurface

class OffscreenSurface::Impl {
  public:
    Impl(CCoord width, CCoord height)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
          cairo(cairo_create(surface)), context(cairo, width, height) {}
    ~Impl() {
        cairo_destroy(cairo);
        cairo_surface_destroy(surface);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    cairo_surface_t* surface;
    cairo_t* cairo;
    CairoDrawContext context;
};

OffscreenSurface::OffscreenSurface(CCoord width, CCoord height)
    : impl(std::make_unique<Impl>(std::max(1, width), std::max(1, height))) {}

OffscreenSurface::~OffscreenSurface() = default;

DrawContext& OffscreenSurface::context() {
    return impl->context;
}

CCoord OffscreenSurface::getWidth() const {
    return cairo_image_surface_get_width(impl->surface);
}

CCoord OffscreenSurface::getHeight() const {
    return cairo_image_surface_get_height(impl->surface);
}

std::uint32_t OffscreenSurface::pixel(CCoord x, CCoord y) const {
    if (x < 0 || y < 0 || x >= getWidth() || y >= getHeight()) return 0;
    cairo_surface_flush(impl->surface);
    const unsigned char* data = cairo_image_surface_get_data(impl->surface);
    if (!data) return 0;
    std::uint32_t value;
    std::memcpy(&value,
                data +
                    static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(impl->surface) +
                    static_cast<std::ptrdiff_t>(x) * 4,
                sizeof value);
    return value;
}

void OffscreenSurface::clear(const CColor& color) {
    cairo_save(impl->cairo);
    cairo_reset_clip(impl->cairo);
    cairo_set_operator(impl->cairo, CAIRO_OPERATOR_SOURCE);
    setColor(impl->cairo, color);
    cairo_paint(impl->cairo);
    cairo_restore(impl->cairo);
}

bool OffscreenSurface::writePng(const char* path) const {
    if (!path) return false;
    cairo_surface_flush(impl->surface);
    return cairo_surface_write_to_png(impl->surface, path) == CAIRO_STATUS_SUCCESS;
}

} // namespace toolkit

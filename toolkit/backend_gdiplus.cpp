// Windows: GDI+ drawing (draw context, PNG decoding, offscreen surfaces) and the Win32 child
// window a frame lives in.
//
// GDI+ must be started before use and shut down after its last object is gone, and never from
// DllMain. GDI+ counts its own startups, so every user holds its own GdiplusSession (a window,
// an offscreen surface, one PNG decoding) and no process-wide state of ours is needed: GDI+
// stays up while any of them lives.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include "platform/module.h"
#include "toolkit/bitmap.h"
#include "toolkit/controls.h"
#include "toolkit/offscreen.h"
#include "toolkit/platformwindow.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace toolkit {

namespace {

namespace gp = Gdiplus;
namespace flat = Gdiplus::DllExports;

// ---------------------------------------------------------------------------------------
// GDI+ lifetime and handles

class GdiplusSession {
  public:
    GdiplusSession() {
        gp::GdiplusStartupInput input;
        started = gp::GdiplusStartup(&token, &input, nullptr) == gp::Ok;
    }
    ~GdiplusSession() {
        if (started) gp::GdiplusShutdown(token);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    bool ok() const { return started; }

  private:
    ULONG_PTR token = 0;
    bool started = false;
};

template <auto Delete> struct Deleter {
    template <typename T> void operator()(T* object) const { Delete(object); }
};
using GraphicsPtr = std::unique_ptr<gp::GpGraphics, Deleter<flat::GdipDeleteGraphics>>;
using BitmapPtr = std::unique_ptr<gp::GpBitmap, Deleter<flat::GdipDisposeImage>>;
using BrushPtr = std::unique_ptr<gp::GpSolidFill, Deleter<flat::GdipDeleteBrush>>;
using FontPtr = std::unique_ptr<gp::GpFont, Deleter<flat::GdipDeleteFont>>;
using FamilyPtr = std::unique_ptr<gp::GpFontFamily, Deleter<flat::GdipDeleteFontFamily>>;
using FormatPtr = std::unique_ptr<gp::GpStringFormat, Deleter<flat::GdipDeleteStringFormat>>;
using AttributesPtr =
    std::unique_ptr<gp::GpImageAttributes, Deleter<flat::GdipDisposeImageAttributes>>;

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};

// GDI+ colours are straight (not premultiplied) ARGB.
gp::ARGB toArgb(const CColor& color) {
    return (gp::ARGB(color.alpha) << 24) | (gp::ARGB(color.red) << 16) |
           (gp::ARGB(color.green) << 8) | gp::ARGB(color.blue);
}

// Latin-1 code points are the first 256 of Unicode.
std::wstring latin1ToWide(const char* text) {
    std::wstring out;
    if (!text) return out;
    for (const char* p = text; *p; ++p)
        out.push_back(static_cast<unsigned char>(*p));
    return out;
}

// A GDI+ bitmap over pixels we own (premultiplied ARGB, rows without padding): GDI+ reads and
// writes them in place, so no copies are made in either direction.
BitmapPtr wrapPixels(const std::uint32_t* pixels, CCoord width, CCoord height) {
    gp::GpBitmap* bitmap = nullptr;
    if (flat::GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppPARGB,
                                        reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(pixels)),
                                        &bitmap) != gp::Ok)
        return nullptr;
    return BitmapPtr(bitmap);
}

// The same settings on every surface: exact pixel copies at 1:1 and grey-scale text that
// also looks right on transparent offscreen pictures.
void prepareGraphics(gp::GpGraphics* graphics) {
    flat::GdipSetPageUnit(graphics, gp::UnitPixel);
    flat::GdipSetCompositingMode(graphics, gp::CompositingModeSourceOver);
    flat::GdipSetSmoothingMode(graphics, gp::SmoothingModeNone);
    flat::GdipSetInterpolationMode(graphics, gp::InterpolationModeNearestNeighbor);
    flat::GdipSetPixelOffsetMode(graphics, gp::PixelOffsetModeHalf);
    flat::GdipSetTextRenderingHint(graphics, gp::TextRenderingHintAntiAliasGridFit);
}

GraphicsPtr graphicsFor(gp::GpBitmap* bitmap) {
    gp::GpGraphics* graphics = nullptr;
    if (!bitmap || flat::GdipGetImageGraphicsContext(bitmap, &graphics) != gp::Ok) return nullptr;
    prepareGraphics(graphics);
    return GraphicsPtr(graphics);
}

FamilyPtr findFamily(const wchar_t* name) {
    gp::GpFontFamily* family = nullptr;
    if (flat::GdipCreateFontFamilyFromName(name, nullptr, &family) != gp::Ok) return nullptr;
    return FamilyPtr(family);
}

// The PNG chunk layout, walked up to IEND: GDI+ would also decode other formats and may
// accept a picture that is cut short, which PNG bytes from a resource never are.
bool looksLikeCompletePng(const unsigned char* data, std::size_t size) {
    static constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < sizeof signature || std::memcmp(data, signature, sizeof signature) != 0)
        return false;
    std::size_t position = sizeof signature;
    while (size - position >= 12) {
        const std::size_t length = (std::size_t(data[position]) << 24) |
                                   (std::size_t(data[position + 1]) << 16) |
                                   (std::size_t(data[position + 2]) << 8) | data[position + 3];
        if (length > size - position - 12) return false;
        if (std::memcmp(data + position + 4, "IEND", 4) == 0) return true;
        position += 12 + length;
    }
    return false;
}

bool findPngEncoder(CLSID& clsid) {
    UINT count = 0;
    UINT bytes = 0;
    if (flat::GdipGetImageEncodersSize(&count, &bytes) != gp::Ok || count == 0 || bytes == 0)
        return false;
    // ImageCodecInfo records followed by the strings they point to, in one block.
    std::vector<unsigned char> block(bytes);
    auto* codecs = reinterpret_cast<gp::ImageCodecInfo*>(block.data());
    if (flat::GdipGetImageEncoders(count, bytes, codecs) != gp::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && std::wcscmp(codecs[i].MimeType, L"image/png") == 0) {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// The draw context

class GdiplusDrawContext : public DrawContext {
  public:
    GdiplusDrawContext() { resetState(); }

    // Draws with `graphics` (not owned; may be null: then nothing is drawn) on a surface of
    // the given size; resets offset and clip.
    void reset(gp::GpGraphics* newGraphics, CCoord newWidth, CCoord newHeight) {
        graphics = newGraphics;
        width = newWidth;
        height = newHeight;
        resetState();
    }

    void fillRect(const CRect& rect, const CColor& color) override;
    void drawBitmap(const CBitmap& bitmap, const CRect& dest, CPoint source,
                    float alpha = 1.0f) override;
    void drawText(const char* text, const CRect& rect, const CFontDesc& font, const CColor& color,
                  CHoriTxtAlign align = kCenterText) override;
    CRect getSurfaceRect() const override { return CRect(0, 0, width, height); }

  private:
    struct Font {
        std::string name;
        int size;
        int style;
        FontPtr font;
        float ascent; // pixels
        float descent;
    };
    const Font* fontFor(const CFontDesc& desc);

    gp::GpGraphics* graphics = nullptr;
    CCoord width = 0;
    CCoord height = 0;
    std::vector<Font> fonts; // the few fonts in use, made once
    FormatPtr format;
};

void GdiplusDrawContext::fillRect(const CRect& rect, const CColor& color) {
    CRect area = toSurface(rect);
    area.intersect(getClipRect());
    if (!graphics || area.isEmpty() || color.alpha == 0) return;
    gp::GpSolidFill* brush = nullptr;
    if (flat::GdipCreateSolidFill(toArgb(color), &brush) != gp::Ok) return;
    const BrushPtr owner(brush);
    flat::GdipFillRectangleI(graphics, brush, area.left, area.top, area.getWidth(),
                             area.getHeight());
}

void GdiplusDrawContext::drawBitmap(const CBitmap& bitmap, const CRect& dest, CPoint source,
                                    float alpha) {
    if (!graphics || !bitmap.isLoaded() || !(alpha > 0.0f)) return;
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

    // Only the visible part is drawn, so no clip region is needed for pictures.
    const BitmapPtr image = wrapPixels(bitmap.getPixels(), bitmap.getWidth(), bitmap.getHeight());
    if (!image) return;
    AttributesPtr attributes;
    if (alpha < 1.0f) {
        gp::GpImageAttributes* created = nullptr;
        if (flat::GdipCreateImageAttributes(&created) != gp::Ok) return;
        attributes.reset(created);
        gp::ColorMatrix matrix{};
        for (int i = 0; i < 5; ++i)
            matrix.m[i][i] = 1.0f;
        matrix.m[3][3] = alpha;
        flat::GdipSetImageAttributesColorMatrix(created, gp::ColorAdjustTypeDefault, TRUE, &matrix,
                                                nullptr, gp::ColorMatrixFlagsDefault);
    }
    flat::GdipDrawImageRectRectI(
        graphics, image.get(), visible.left, visible.top, visible.getWidth(), visible.getHeight(),
        available.left + (visible.left - to.left), available.top + (visible.top - to.top),
        visible.getWidth(), visible.getHeight(), gp::UnitPixel, attributes.get(), nullptr, nullptr);
}

const GdiplusDrawContext::Font* GdiplusDrawContext::fontFor(const CFontDesc& desc) {
    const std::string name = desc.name && *desc.name ? desc.name : "Arial";
    const int size = desc.size > 0 ? desc.size : kNormalFont.size;
    const int style = desc.style & (kBoldFace | kItalicFace);
    for (const Font& font : fonts)
        if (font.size == size && font.style == style && font.name == name) return &font;

    // Where Arial is missing (Wine without the core fonts), its metric twin stands in.
    FamilyPtr family = findFamily(latin1ToWide(name.c_str()).c_str());
    if (!family) family = findFamily(L"Liberation Sans");
    if (!family) family = findFamily(L"Arial");
    if (!family) return nullptr;
    const int gdiStyle = ((style & kBoldFace) ? gp::FontStyleBold : gp::FontStyleRegular) |
                         ((style & kItalicFace) ? gp::FontStyleItalic : gp::FontStyleRegular);
    gp::GpFont* created = nullptr;
    if (flat::GdipCreateFont(family.get(), static_cast<gp::REAL>(size), gdiStyle, gp::UnitPixel,
                             &created) != gp::Ok)
        return nullptr;
    UINT16 em = 0, ascent = 0, descent = 0;
    flat::GdipGetEmHeight(family.get(), gdiStyle, &em);
    flat::GdipGetCellAscent(family.get(), gdiStyle, &ascent);
    flat::GdipGetCellDescent(family.get(), gdiStyle, &descent);
    const float scale = em > 0 ? static_cast<float>(size) / em : 0.0f;
    fonts.push_back(Font{name, size, style, FontPtr(created), ascent * scale, descent * scale});
    return &fonts.back();
}

void GdiplusDrawContext::drawText(const char* text, const CRect& rect, const CFontDesc& font,
                                  const CColor& color, CHoriTxtAlign align) {
    const std::wstring wide = latin1ToWide(text);
    if (!graphics || wide.empty() || color.alpha == 0) return;
    const CRect box = toSurface(rect);
    CRect visible = box;
    visible.intersect(getClipRect());
    if (visible.isEmpty()) return;
    const Font* face = fontFor(font);
    if (!face) return;
    if (!format) {
        // Typographic layout: no padding around the text, so it starts where it is put.
        gp::GpStringFormat* typographic = nullptr;
        gp::GpStringFormat* copy = nullptr;
        if (flat::GdipStringFormatGetGenericTypographic(&typographic) != gp::Ok ||
            flat::GdipCloneStringFormat(typographic, &copy) != gp::Ok)
            return;
        format.reset(copy);
        flat::GdipSetStringFormatFlags(copy, gp::StringFormatFlagsNoWrap |
                                                 gp::StringFormatFlagsNoClip |
                                                 gp::StringFormatFlagsMeasureTrailingSpaces);
        flat::GdipSetStringFormatLineAlign(copy, gp::StringAlignmentNear);
    }
    gp::GpSolidFill* brush = nullptr;
    if (flat::GdipCreateSolidFill(toArgb(color), &brush) != gp::Ok) return;
    const BrushPtr brushOwner(brush);

    // One pixel off the side the text is aligned to; the line's ascent plus descent centred
    // vertically, with the baseline on a whole pixel.
    float left = static_cast<float>(box.left);
    float right = static_cast<float>(box.right);
    gp::StringAlignment horizontal = gp::StringAlignmentCenter;
    if (align == kLeftText) {
        left += 1.0f;
        horizontal = gp::StringAlignmentNear;
    } else if (align == kRightText) {
        right -= 1.0f;
        horizontal = gp::StringAlignmentFar;
    }
    flat::GdipSetStringFormatAlign(format.get(), horizontal);
    const float lineHeight = face->ascent + face->descent;
    const float baseline =
        std::floor(box.top + (box.getHeight() - lineHeight) / 2.0f + face->ascent + 0.5f);
    const gp::RectF layout(left, baseline - face->ascent, std::max(right - left, 1.0f),
                           std::max(lineHeight, 1.0f) * 2.0f);

    flat::GdipSetClipRectI(graphics, visible.left, visible.top, visible.getWidth(),
                           visible.getHeight(), gp::CombineModeReplace);
    flat::GdipDrawString(graphics, wide.c_str(), static_cast<INT>(wide.size()), face->font.get(),
                         &layout, format.get(), brush);
    flat::GdipResetClip(graphics);
}

} // namespace

// ---------------------------------------------------------------------------------------
// PNG decoding

bool decodePng(const void* data, std::size_t size, PixelImage& out) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (!bytes || size > 0x7FFFFFFF || !looksLikeCompletePng(bytes, size)) return false;
    const GdiplusSession session;
    if (!session.ok()) return false;
    // The stream holds its own copy of the bytes; it must outlive the bitmap made from it.
    const std::unique_ptr<IStream, ComRelease> stream(
        SHCreateMemStream(bytes, static_cast<UINT>(size)));
    if (!stream) return false;
    gp::GpBitmap* decoded = nullptr;
    if (flat::GdipCreateBitmapFromStream(stream.get(), &decoded) != gp::Ok) return false;
    const BitmapPtr bitmap(decoded);
    UINT width = 0, height = 0;
    if (flat::GdipGetImageWidth(decoded, &width) != gp::Ok ||
        flat::GdipGetImageHeight(decoded, &height) != gp::Ok || width == 0 || height == 0 ||
        width > 0x7FFF || height > 0x7FFF)
        return false;

    // Whatever the file's format, read it as premultiplied ARGB: CBitmap's own layout.
    const gp::GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    gp::BitmapData locked{};
    if (flat::GdipBitmapLockBits(decoded, &all, gp::ImageLockModeRead, PixelFormat32bppPARGB,
                                 &locked) != gp::Ok)
        return false;
    PixelImage image;
    image.width = static_cast<CCoord>(width);
    image.height = static_cast<CCoord>(height);
    image.pixels.resize(std::size_t(width) * height);
    for (UINT y = 0; y < height; ++y)
        std::memcpy(&image.pixels[std::size_t(y) * width],
                    static_cast<const unsigned char*>(locked.Scan0) +
                        static_cast<std::ptrdiff_t>(y) * locked.Stride,
                    std::size_t(width) * 4);
    flat::GdipBitmapUnlockBits(decoded, &locked);
    out = std::move(image);
    return true;
}

// ---------------------------------------------------------------------------------------
// OffscreenSurface: a GDI+ bitmap over pixels of ours, read back directly.

class OffscreenSurface::Impl {
  public:
    Impl(CCoord width, CCoord height)
        : width(width), height(height), pixels(std::size_t(width) * std::size_t(height), 0u) {
        if (session.ok()) bitmap = wrapPixels(pixels.data(), width, height);
        graphics = graphicsFor(bitmap.get());
        context.reset(graphics.get(), width, height);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Drawing GDI+ may still hold back reaches the pixels.
    void flush() const {
        if (graphics) flat::GdipFlush(graphics.get(), gp::FlushIntentionSync);
    }

    // Declared first: GDI+ stays up until the objects below are gone.
    GdiplusSession session;
    CCoord width;
    CCoord height;
    std::vector<std::uint32_t> pixels;
    BitmapPtr bitmap;
    GraphicsPtr graphics;
    GdiplusDrawContext context;
};

OffscreenSurface::OffscreenSurface(CCoord width, CCoord height)
    : impl(std::make_unique<Impl>(std::max(1, width), std::max(1, height))) {}

OffscreenSurface::~OffscreenSurface() = default;

DrawContext& OffscreenSurface::context() {
    return impl->context;
}

CCoord OffscreenSurface::getWidth() const {
    return impl->width;
}

CCoord OffscreenSurface::getHeight() const {
    return impl->height;
}

std::uint32_t OffscreenSurface::pixel(CCoord x, CCoord y) const {
    if (x < 0 || y < 0 || x >= impl->width || y >= impl->height) return 0;
    impl->flush();
    return impl->pixels[std::size_t(y) * std::size_t(impl->width) + std::size_t(x)];
}

void OffscreenSurface::clear(const CColor& color) {
    impl->flush();
    const std::uint32_t alpha = color.alpha;
    const auto premultiply = [alpha](std::uint32_t channel) {
        return (channel * alpha + 127) / 255;
    };
    const std::uint32_t value = (alpha << 24) | (premultiply(color.red) << 16) |
                                (premultiply(color.green) << 8) | premultiply(color.blue);
    std::fill(impl->pixels.begin(), impl->pixels.end(), value);
}

bool OffscreenSurface::writePng(const char* path) const {
    if (!path || !*path || !impl->bitmap) return false;
    // Narrow file names are in the system's code page, as everywhere in Windows.
    const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) return false;
    std::wstring widePath(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, widePath.data(), length);
    CLSID png;
    if (!findPngEncoder(png)) return false;
    impl->flush();
    return flat::GdipSaveImageToFile(impl->bitmap.get(), widePath.c_str(), &png, nullptr) == gp::Ok;
}

// ---------------------------------------------------------------------------------------
// The Win32 child window

namespace {

// The plug-in's own module (a test program's executable when no library recorded one):
// window classes are registered per module.
HINSTANCE ownModule() {
    if (void* handle = platform::moduleHandle()) return static_cast<HINSTANCE>(handle);
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ownModule), &module);
    return module;
}

long buttonsFrom(WPARAM keys) {
    long buttons = 0;
    if (keys & MK_LBUTTON) buttons |= kLButton;
    if (keys & MK_MBUTTON) buttons |= kMButton;
    if (keys & MK_RBUTTON) buttons |= kRButton;
    if (keys & MK_SHIFT) buttons |= kShift;
    if (keys & MK_CONTROL) buttons |= kControl;
    if (GetKeyState(VK_MENU) < 0) buttons |= kAlt;
    return buttons;
}

// Client coordinates of a mouse message; negative outside the window during a capture.
CPoint pointFrom(LPARAM position) {
    return CPoint(static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position)));
}

// A 32-bit DIB section the frame paints into through GDI+, copied to the window afterwards.
class BackBuffer {
  public:
    BackBuffer() = default;
    ~BackBuffer() { release(); }
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;

    // Makes the buffer the given size; false when that is impossible.
    bool fit(CCoord newWidth, CCoord newHeight) {
        if (graphics && newWidth == width && newHeight == height) return true;
        release();
        dc = CreateCompatibleDC(nullptr);
        if (!dc) return false;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = newWidth;
        info.bmiHeader.biHeight = -newHeight; // top-down rows, as GDI+ expects
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!dib || !bits) {
            release();
            return false;
        }
        previous = SelectObject(dc, dib);
        bitmap = wrapPixels(static_cast<const std::uint32_t*>(bits), newWidth, newHeight);
        graphics = graphicsFor(bitmap.get());
        if (!graphics) {
            release();
            return false;
        }
        width = newWidth;
        height = newHeight;
        context.reset(graphics.get(), width, height);
        return true;
    }

    // Finishes GDI+'s drawing and copies `area` to the window's device context.
    void copyTo(HDC target, const CRect& area) {
        flat::GdipFlush(graphics.get(), gp::FlushIntentionSync);
        GdiFlush();
        BitBlt(target, area.left, area.top, area.getWidth(), area.getHeight(), dc, area.left,
               area.top, SRCCOPY);
    }

    DrawContext& drawContext() { return context; }

  private:
    void release() {
        context.reset(nullptr, 0, 0);
        graphics.reset();
        bitmap.reset();
        if (dc && previous) SelectObject(dc, previous);
        if (dib) DeleteObject(dib);
        if (dc) DeleteDC(dc);
        dc = nullptr;
        dib = nullptr;
        previous = nullptr;
        width = height = 0;
    }

    HDC dc = nullptr;
    HBITMAP dib = nullptr;
    HGDIOBJ previous = nullptr;
    BitmapPtr bitmap;
    GraphicsPtr graphics;
    GdiplusDrawContext context;
    CCoord width = 0;
    CCoord height = 0;
};

// Ends a paint however the painting leaves.
class PaintScope {
  public:
    explicit PaintScope(HWND window) : window(window), dc(BeginPaint(window, &paint)) {}
    ~PaintScope() { EndPaint(window, &paint); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC deviceContext() const { return dc; }
    CRect area() const {
        return CRect(paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right,
                     paint.rcPaint.bottom);
    }

  private:
    HWND window;
    PAINTSTRUCT paint{};
    HDC dc;
};

class Win32Window final : public IPlatformWindow {
  public:
    explicit Win32Window(IPlatformFrame& frame)
        : frame(frame), instance(ownModule()),
          className(L"QrToolkitFrame-" +
                    std::to_wstring(reinterpret_cast<std::uintptr_t>(instance))) {}

    ~Win32Window() override {
        if (hwnd) {
            // No callbacks into a frame that is going away.
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            DestroyWindow(hwnd);
            hwnd = nullptr;
        }
        // Windows refuses while windows of the class remain, so the last window's
        // destruction is the one that unregisters it.
        UnregisterClassW(className.c_str(), instance);
    }

    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    bool open(HWND parent, CCoord width, CCoord height) {
        if (!session.ok()) return false;
        // A window of the same class on another thread may just have unregistered it: one
        // more registration settles that.
        for (int attempt = 0; attempt < 2 && !hwnd; ++attempt) {
            if (!registerClass()) return false;
            CreateWindowExW(0, className.c_str(), L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0,
                            0, std::max(0, width), std::max(0, height), parent, nullptr, instance,
                            this);
        }
        return hwnd != nullptr;
    }

    void* getNativeHandle() const override { return hwnd; }

    void setSize(CCoord width, CCoord height) override {
        if (!hwnd) return;
        RECT old{};
        GetClientRect(hwnd, &old);
        const int dx = width - old.right;
        const int dy = height - old.bottom;
        if (dx == 0 && dy == 0) return;
        SetWindowPos(hwnd, nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        // Enclosing windows that fit the old size exactly were made for us (a host's
        // editor window, its container inside): they follow. Anything larger is the host's
        // business, and the walk ends at the first top-level window.
        const HWND desktop = GetDesktopWindow();
        for (HWND window = GetAncestor(hwnd, GA_PARENT); window && window != desktop;
             window = GetAncestor(window, GA_PARENT)) {
            RECT client{};
            GetClientRect(window, &client);
            if (client.right != old.right || client.bottom != old.bottom || IsZoomed(window)) break;
            RECT outer{};
            GetWindowRect(window, &outer);
            SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + dx,
                         outer.bottom - outer.top + dy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)) break;
        }
    }

    void invalidRect(const CRect& rect) override {
        if (!hwnd || rect.isEmpty()) return;
        const RECT area{rect.left, rect.top, rect.right, rect.bottom};
        InvalidateRect(hwnd, &area, FALSE);
    }

    // Input reaches the window through the host's own message loop; what is left is to
    // paint what waits.
    void processEvents() override { flushPaint(); }

    void flushPaint() override {
        if (hwnd) UpdateWindow(hwnd);
    }

    int popupMenu(const CRect& anchor, const std::vector<PopupEntry>& entries,
                  int currentIndex) override {
        if (!hwnd || entries.empty()) return -1;
        const HMENU menu = CreatePopupMenu();
        if (!menu) return -1;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::int32_t flags = entries[i].flags;
            const auto id = static_cast<UINT_PTR>(i + 1); // 0 is "nothing chosen"
            if (flags & COptionMenu::kSeparatorEntry) {
                AppendMenuW(menu, MF_SEPARATOR, id, nullptr);
                continue;
            }
            UINT style = MF_STRING;
            if (flags & COptionMenu::kDisabledEntry) style |= MF_GRAYED;
            if (flags & COptionMenu::kTitleEntry) style |= MF_DISABLED;
            if ((flags & COptionMenu::kCheckedEntry) || static_cast<int>(i) == currentIndex)
                style |= MF_CHECKED;
            std::wstring title;
            for (wchar_t c : latin1ToWide(entries[i].title.c_str())) {
                title.push_back(c);
                if (c == L'&') title.push_back(c); // a lone '&' would underline the next letter
            }
            AppendMenuW(menu, style, id, title.c_str());
        }
        POINT below{anchor.left, anchor.bottom};
        ClientToScreen(hwnd, &below);
        const UINT chosen = static_cast<UINT>(TrackPopupMenu(
            menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON,
            below.x, below.y, 0, hwnd, nullptr));
        DestroyMenu(menu);
        return chosen >= 1 && chosen <= entries.size() ? static_cast<int>(chosen) - 1 : -1;
    }

    void beginMouseCapture() override {
        if (!hwnd) return;
        capturing = true;
        SetCapture(hwnd);
    }

    void endMouseCapture() override {
        capturing = false;
        if (hwnd && GetCapture() == hwnd) {
            releasing = true;
            ReleaseCapture();
            releasing = false;
        }
    }

  private:
    bool registerClass() {
        WNDCLASSEXW existing{};
        existing.cbSize = sizeof existing;
        if (GetClassInfoExW(instance, className.c_str(), &existing)) return true;
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Win32Window::windowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.lpszClassName = className.c_str();
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* self = static_cast<Win32Window*>(
                reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
            self->hwnd = window;
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self) return DefWindowProcW(window, message, wParam, lParam);
        try {
            return self->handle(message, wParam, lParam);
        } catch (...) {
            // Nothing may unwind into the system's dispatcher; the event is dropped.
            return 0;
        }
    }

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_ERASEBKGND:
            return 1; // every pixel is painted from the back buffer
        case WM_PAINT:
            paint();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_RBUTTONDOWN:
            frame.platformMouseDown(pointFrom(lParam), buttonsFrom(wParam));
            return 0;
        case WM_MOUSEMOVE:
            frame.platformMouseMoved(pointFrom(lParam), buttonsFrom(wParam));
            return 0;
        case WM_LBUTTONUP:
            frame.platformMouseUp(pointFrom(lParam), buttonsFrom(wParam) | kLButton);
            return 0;
        case WM_MBUTTONUP:
            frame.platformMouseUp(pointFrom(lParam), buttonsFrom(wParam) | kMButton);
            return 0;
        case WM_RBUTTONUP:
            frame.platformMouseUp(pointFrom(lParam), buttonsFrom(wParam) | kRButton);
            return 0;
        case WM_CAPTURECHANGED:
            // Someone else took the mouse in the middle of a drag.
            if (capturing && !releasing && reinterpret_cast<HWND>(lParam) != hwnd) {
                capturing = false;
                frame.platformMouseCancel();
            }
            return 0;
        case WM_MOUSEWHEEL: {
            POINT where{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            ScreenToClient(hwnd, &where);
            const float notches = static_cast<short>(HIWORD(wParam)) / float(WHEEL_DELTA);
            if (frame.platformWheel(CPoint(where.x, where.y), notches, buttonsFrom(LOWORD(wParam))))
                return 0;
            break; // unused: the parent may scroll
        }
        case WM_DESTROY:
            // The host destroyed its window under ours: a drag cannot go on.
            if (capturing) {
                capturing = false;
                frame.platformMouseCancel();
            }
            break;
        case WM_NCDESTROY: {
            const HWND window = hwnd;
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            hwnd = nullptr;
            return DefWindowProcW(window, message, wParam, lParam);
        }
        default:
            break;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    void paint() {
        const PaintScope scope(hwnd);
        RECT client{};
        GetClientRect(hwnd, &client);
        CRect area = scope.area();
        area.intersect(CRect(0, 0, client.right, client.bottom));
        if (area.isEmpty() || !scope.deviceContext() ||
            !buffer.fit(std::max<CCoord>(1, client.right), std::max<CCoord>(1, client.bottom)))
            return;
        // What the frame leaves uncovered shows black rather than an older picture.
        DrawContext& context = buffer.drawContext();
        context.fillRect(area, kBlackCColor);
        frame.platformPaint(context, area);
        buffer.copyTo(scope.deviceContext(), area);
    }

    GdiplusSession session; // first: outlives the back buffer's GDI+ objects
    IPlatformFrame& frame;
    HINSTANCE instance;
    std::wstring className;
    HWND hwnd = nullptr;
    BackBuffer buffer;
    bool capturing = false;
    bool releasing = false;
};

} // namespace

std::unique_ptr<IPlatformWindow> createPlatformWindow(void* parent, CCoord width, CCoord height,
                                                      IPlatformFrame& frame) {
    const auto parentWindow = static_cast<HWND>(parent);
    if (!parentWindow || !IsWindow(parentWindow)) return nullptr;
    try {
        auto window = std::make_unique<Win32Window>(frame);
        if (!window->open(parentWindow, width, height)) return nullptr;
        return window;
    } catch (...) {
        return nullptr;
    }
}

} // namespace toolkit

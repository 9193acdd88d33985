#include "toolkit/bitmap.h"

#include "toolkit/platformwindow.h"

#include <utility>

CBitmap::CBitmap(const char* resourceName) {
    if (!resourceName) return;
    const std::vector<unsigned char> bytes = toolkit::loadResource(resourceName);
    if (!bytes.empty()) decode(bytes.data(), bytes.size());
}

CBitmap::CBitmap(CCoord width, CCoord height) {
    if (width <= 0 || height <= 0) return;
    this->width = width;
    this->height = height;
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
}

CBitmap* CBitmap::fromPng(const void* data, std::size_t size) {
    auto* bitmap = new CBitmap();
    if (data && size > 0) bitmap->decode(data, size);
    return bitmap;
}

void CBitmap::decode(const void* data, std::size_t size) {
    toolkit::PixelImage image;
    if (!toolkit::decodePng(data, size, image)) return;
    // A decoder that disagrees with itself about the size yields nothing rather than a
    // bitmap whose pixels run short.
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() !=
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height))
        return;
    width = image.width;
    height = image.height;
    pixels = std::move(image.pixels);
}

std::uint32_t CBitmap::getPixel(CCoord x, CCoord y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
}

void CBitmap::setPixel(CCoord x, CCoord y, std::uint32_t premultipliedArgb) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
           static_cast<std::size_t>(x)] = premultipliedArgb;
}

void CBitmap::fill(const CColor& color) {
    auto premultiply = [&](std::uint8_t channel) -> std::uint32_t {
        return (static_cast<std::uint32_t>(channel) * color.alpha + 127u) / 255u;
    };
    const std::uint32_t argb = (static_cast<std::uint32_t>(color.alpha) << 24) |
                               (premultiply(color.red) << 16) | (premultiply(color.green) << 8) |
                               premultiply(color.blue);
    for (auto& p : pixels)
        p = argb;
}

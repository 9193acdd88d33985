#pragma once
// Points, rectangles and colours in integer pixel coordinates. A rectangle is half open:
// it holds the pixels left <= x < right and top <= y < bottom.

#include <algorithm>
#include <cstdint>

using CCoord = int;

struct CPoint {
    CCoord x = 0;
    CCoord y = 0;

    constexpr CPoint() = default;
    constexpr CPoint(CCoord x, CCoord y) : x(x), y(y) {}

    CPoint& offset(CCoord dx, CCoord dy) {
        x += dx;
        y += dy;
        return *this;
    }
    constexpr bool operator==(const CPoint&) const = default;
};

struct CRect {
    CCoord left = 0;
    CCoord top = 0;
    CCoord right = 0;
    CCoord bottom = 0;

    constexpr CRect() = default;
    constexpr CRect(CCoord left, CCoord top, CCoord right, CCoord bottom)
        : left(left), top(top), right(right), bottom(bottom) {}
    // A rectangle from its top-left corner and its size.
    constexpr CRect(CPoint origin, CPoint size)
        : left(origin.x), top(origin.y), right(origin.x + size.x), bottom(origin.y + size.y) {}

    constexpr CCoord getWidth() const { return right - left; }
    constexpr CCoord getHeight() const { return bottom - top; }
    CRect& setWidth(CCoord width) {
        right = left + width;
        return *this;
    }
    CRect& setHeight(CCoord height) {
        bottom = top + height;
        return *this;
    }
    constexpr CPoint getTopLeft() const { return {left, top}; }

    CRect& offset(CCoord dx, CCoord dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
        return *this;
    }
    // Moves the top-left corner to (x, y), keeping the size.
    CRect& moveTo(CCoord x, CCoord y) { return offset(x - left, y - top); }

    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    constexpr bool pointInside(CPoint p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    constexpr bool rectOverlap(const CRect& other) const {
        return !isEmpty() && !other.isEmpty() && left < other.right && other.left < right &&
               top < other.bottom && other.top < bottom;
    }
    // Keeps the common part; an empty result is (0, 0, 0, 0).
    CRect& intersect(const CRect& other) {
        left = std::max(left, other.left);
        top = std::max(top, other.top);
        right = std::min(right, other.right);
        bottom = std::min(bottom, other.bottom);
        if (isEmpty()) *this = CRect();
        return *this;
    }
    // Grows to the bounding box of both; an empty rectangle adds nothing.
    CRect& unite(const CRect& other) {
        if (other.isEmpty()) return *this;
        if (isEmpty()) return *this = other;
        left = std::min(left, other.left);
        top = std::min(top, other.top);
        right = std::max(right, other.right);
        bottom = std::max(bottom, other.bottom);
        return *this;
    }
    constexpr bool contains(const CRect& other) const {
        return other.isEmpty() || (left <= other.left && top <= other.top && right >= other.right &&
                                   bottom >= other.bottom);
    }
    constexpr bool operator==(const CRect&) const = default;
};

struct CColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t alpha = 255;

    constexpr CColor() = default;
    constexpr CColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                     std::uint8_t alpha = 255)
        : red(red), green(green), blue(blue), alpha(alpha) {}
    constexpr bool operator==(const CColor&) const = default;
};

inline constexpr CColor kBlackCColor{0, 0, 0, 255};
inline constexpr CColor kWhiteCColor{255, 255, 255, 255};
inline constexpr CColor kTransparentCColor{0, 0, 0, 0};

#pragma once
// Tags and geometry of the editor's controls. Page controls are placed on a grid of
// 8 columns x 3 rows of channel cells; rectangles are in the coordinates of the view that
// holds them (a page view starts at window row 30, under the menu bar).

#include <cstdint>

#include "plugin/parameters.h"
#include "toolkit/geometry.h"

namespace editorlayout {

// Tags 0 to 73 are parameter indexes; these belong to the editor alone.
enum : std::int32_t {
    kPage1Tag = 74,
    kPage2Tag = 75,
    kFrameTag = 76,
    kInfoTag = 77,
    kLabelTagBase = 100,  // dB labels of channels 1 to 48: 100 to 147
};

constexpr int kSlotsPerPage = 24;
constexpr int kLinkSlotsPerPage = 12;
constexpr int kColumns = 8;
constexpr int kLinkColumns = 4;
constexpr int kKnobImages = 41;
constexpr int kShrunkHeight = 27;

constexpr CCoord kCellWidth = 70;
constexpr CCoord kRowHeight = 122;
constexpr CCoord kKnobLeft = 25;
constexpr CCoord kKnobTop = 32;
constexpr CCoord kLabelWidth = 35;
constexpr CCoord kLabelHeight = 20;
constexpr CPoint kLabelShift{-2, 38};  // label's corner relative to its knob's
constexpr CCoord kLinkLeft = 26;
constexpr CCoord kLinkTop = 96;
constexpr CCoord kLinkPitch = 140;

inline CRect knobRect(int slot, CCoord knobWidth, CCoord knobHeight) {
    const CCoord left = kKnobLeft + kCellWidth * (slot % kColumns);
    const CCoord top = kKnobTop + kRowHeight * (slot / kColumns);
    return CRect(left, top, left + knobWidth, top + knobHeight);
}

inline CRect labelRect(int slot) {
    const CRect knob = knobRect(slot, 0, 0);
    const CCoord left = knob.left + kLabelShift.x;
    const CCoord top = knob.top + kLabelShift.y;
    return CRect(left, top, left + kLabelWidth, top + kLabelHeight);
}

inline CRect linkRect(int linkSlot, CCoord linkWidth, CCoord linkHeight) {
    const CCoord left = kLinkLeft + kLinkPitch * (linkSlot % kLinkColumns);
    const CCoord top = kLinkTop + kRowHeight * (linkSlot / kLinkColumns);
    return CRect(left, top, left + linkWidth, top + linkHeight);
}

// The menu bar's slots, matching the menu-bar picture.
inline const CRect kPage1ButtonRect{0, 0, 67, 25};
inline const CRect kPage2ButtonRect{69, 0, 136, 25};
inline const CRect kRefreshButtonRect{138, 0, 232, 25};
inline const CRect kDeviceMenuRect{234, 0, 410, 25};
inline const CRect kFrameButtonRect{412, 0, 532, 25};
inline const CRect kInfoButtonRect{534, 0, 573, 25};

} // namespace editorlayout

#!/usr/bin/python3
"""Composes the bitmaps into a picture of the whole window, placed as the editor places them.

    /usr/bin/python3 resources/preview.py OUT.png [page1|page2|info|shrunk]

A check on the artwork, independent of the plug-in: knobs must sit on the knob pictures of the
page, link bars across their pairs, buttons in their menu-bar slots. The result is written
outside this directory (every PNG here is embedded in the plug-in).
"""

import math
import os
import sys

import cairo

HERE = os.path.dirname(os.path.abspath(__file__))
MENU_H = 30


def load(name):
    return cairo.ImageSurface.create_from_png(os.path.join(HERE, name + ".png"))


def blit(cr, bmp, x, y, w, h, src_x=0, src_y=0):
    """Draws the w x h part of `bmp` at (src_x, src_y) to (x, y), as the toolkit does."""
    cr.save()
    cr.rectangle(x, y, w, h)
    cr.clip()
    cr.set_source_surface(bmp, x - src_x, y - src_y)
    cr.paint()
    cr.restore()


def label(cr, text, left, top, w, h, size, colour=(0, 0, 0)):
    cr.select_font_face("Liberation Sans", cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_NORMAL)
    cr.set_font_size(size)
    ext = cr.text_extents(text)
    fext = cr.font_extents()
    x = left + (w - ext.x_advance) / 2.0
    y = top + (h + fext[0] - fext[1]) / 2.0
    cr.set_source_rgb(*colour)
    cr.move_to(round(x), round(y))
    cr.show_text(text)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "/tmp/window_preview.png"
    page = sys.argv[2] if len(sys.argv) > 2 else "page1"
    height = 27 if page == "shrunk" else 394
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, 573, height)
    cr = cairo.Context(surface)
    cr.set_source_rgb(1, 0, 1)  # anything uncovered shows up magenta
    cr.paint()

    if page != "shrunk":
        background = {"page1": "BackgroundPage1", "page2": "BackgroundPage2"}.get(
            page, "BackgroundInfo"
        )
        blit(cr, load(background), 0, MENU_H, 573, 394 - MENU_H, 0, MENU_H)
    if page in ("page1", "page2"):
        knob, link = load("KnobHandle"), load("ButtonLinkHandle")
        first = 1 if page == "page1" else 25
        for slot in range(24):
            col, row = slot % 8, slot // 8
            value = [0.0, 0.5, 1.0, 0.25, 0.75, 0.1, 0.9, 0.6][(slot + row) % 8]
            frame = math.floor(value * 40)
            left, top = 25 + 70 * col, MENU_H + 32 + 122 * row
            blit(cr, knob, left, top, 30, 30, 0, 30 * frame)
            label(cr, "%d dB" % (frame + 10), left - 2, top + 38, 35, 20, 12)
        for j in range(12):
            col, row = j % 4, j // 4
            on = (j + first) % 3 == 0
            left, top = 26 + 140 * col, MENU_H + 96 + 122 * row
            blit(cr, link, left, top, 104, 18, 0, 18 if on else 0)

    blit(cr, load("BackgroundMenu"), 0, 0, 573, min(MENU_H, height))
    states = {
        "ButtonPage_1_Handle": (0, 67, page == "page1"),
        "ButtonPage_2_Handle": (69, 67, page == "page2"),
        "ButtonRefreshHandle": (138, 94, False),
        "ButtonFrameHandle": (412, 120, page == "shrunk"),
        "ButtonInfoHandle": (534, 37, page == "info"),
    }
    for name, (left, w, on) in states.items():
        blit(cr, load(name), left, 0, w, 25, 0, 25 if on else 0)
    label(cr, "Midi Through Port-0", 234, 0, 176, 25, 11)
    surface.write_to_png(out)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Draws the plug-in window's eleven PNG bitmaps into this directory.

Run with Debian's python3-cairo (`/usr/bin/python3 resources/make_bitmaps.py`); text uses
Liberation Sans (fonts-liberation). With --check it writes nothing and fails when a committed
PNG differs from what it would draw. The output is byte-for-byte the same on every run: the PNG
files are written by our own encoder below (always 8-bit RGBA, fixed zlib level, no time
stamps), so regenerating only shows up in version control when a picture really changed.
"""

import math
import os
import struct
import sys
import zlib

import cairo

HERE = os.path.dirname(os.path.abspath(__file__))

WIDTH = 573
MENU_H = 30
PAGE_H = 394
SLOT_H = 25

# Grey levels of the design (0..255).
PAGE = 178
SLOT = 94
CAPTION = 191
CAPTION_DOWN = 51
RED = (0.90, 0.12, 0.08)

# Menu-bar slots as inclusive x ranges; the controls of the bar sit exactly on them.
SLOTS = [(0, 66), (69, 135), (138, 231), (234, 409), (412, 531), (534, 572)]

# Page grid: cells 70 wide, knob centres, band rows of each of the three rows.
ROW_PITCH = 122
KNOB_CX0, KNOB_CY0 = 40, 77
H_LINES_Y = (147, 269)
H_LINES_X = (16, 556)
LONG_V_X = (146, 286, 426)
LONG_V_Y = (30, 388)
SHORT_V_X = (76, 216, 356, 496)
SHORT_V_Y = ((30, 119), (152, 241), (274, 363))

KNOB_FRAMES = 41
KNOB_SIZE = 30
KNOB_SWEEP = 145.0  # degrees either side of straight up

FONT = "Liberation Sans"


def g(level, alpha=1.0):
    v = level / 255.0
    return (v, v, v, alpha)


def new_surface(w, h):
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    cr = cairo.Context(surface)
    opts = cairo.FontOptions()
    opts.set_antialias(cairo.ANTIALIAS_GRAY)
    opts.set_hint_style(cairo.HINT_STYLE_SLIGHT)
    opts.set_hint_metrics(cairo.HINT_METRICS_OFF)
    cr.set_font_options(opts)
    return surface, cr


MISMATCHED = []
CHECK_ONLY = False


def write_png(surface, name):
    """Writes the surface as an 8-bit RGBA PNG (colour type 6), independent of its content.

    With --check nothing is written; a committed file that differs is only recorded.
    """
    surface.flush()
    w, h, stride = surface.get_width(), surface.get_height(), surface.get_stride()
    data = bytes(surface.get_data())
    little = sys.byteorder == "little"
    raw = bytearray()
    for y in range(h):
        raw.append(0)  # filter type: none; zlib does the work
        row = data[y * stride : y * stride + 4 * w]
        for x in range(0, 4 * w, 4):
            if little:
                b, gg, r, a = row[x], row[x + 1], row[x + 2], row[x + 3]
            else:
                a, r, gg, b = row[x], row[x + 1], row[x + 2], row[x + 3]
            if a == 0:
                raw += b"\0\0\0\0"
            elif a == 255:
                raw += bytes((r, gg, b, 255))
            else:  # cairo keeps premultiplied colour; PNG wants it straight
                raw += bytes(
                    (
                        min(255, (r * 255 + a // 2) // a),
                        min(255, (gg * 255 + a // 2) // a),
                        min(255, (b * 255 + a // 2) // a),
                        a,
                    )
                )

    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    path = os.path.join(HERE, name + ".png")
    if CHECK_ONLY:
        try:
            with open(path, "rb") as f:
                same = f.read() == png
        except OSError:
            same = False
        if not same:
            MISMATCHED.append(name)
        return
    with open(path, "wb") as f:
        f.write(png)


# ---------------------------------------------------------------------------------------------
# Drawing helpers


def fill_rect(cr, x, y, w, h, colour):
    cr.set_source_rgba(*colour)
    cr.rectangle(x, y, w, h)
    cr.fill()


def hline(cr, x0, x1, y, colour):
    """A crisp one-pixel line over the inclusive pixel range x0..x1 of row y."""
    fill_rect(cr, x0, y, x1 - x0 + 1, 1, colour)


def vline(cr, x, y0, y1, colour):
    fill_rect(cr, x, y0, 1, y1 - y0 + 1, colour)


def vgradient(cr, x, y, w, h, stops):
    grad = cairo.LinearGradient(0, y, 0, y + h)
    for offset, colour in stops:
        grad.add_color_stop_rgba(offset, *colour)
    cr.set_source(grad)
    cr.rectangle(x, y, w, h)
    cr.fill()


def rounded_rect(cr, x, y, w, h, r):
    cr.new_sub_path()
    cr.arc(x + w - r, y + r, r, -math.pi / 2, 0)
    cr.arc(x + w - r, y + h - r, r, 0, math.pi / 2)
    cr.arc(x + r, y + h - r, r, math.pi / 2, math.pi)
    cr.arc(x + r, y + r, r, math.pi, 3 * math.pi / 2)
    cr.close_path()


def set_font(cr, size, bold=False, italic=False):
    cr.select_font_face(
        FONT,
        cairo.FONT_SLANT_ITALIC if italic else cairo.FONT_SLANT_NORMAL,
        cairo.FONT_WEIGHT_BOLD if bold else cairo.FONT_WEIGHT_NORMAL,
    )
    cr.set_font_size(size)


def text_at(cr, text, x, baseline, colour):
    cr.set_source_rgba(*colour)
    cr.move_to(x, baseline)
    cr.show_text(text)


def ink_left_at(cr, text, left, baseline, colour):
    """Places the text so that its ink starts at pixel column `left`."""
    xb = cr.text_extents(text).x_bearing
    text_at(cr, text, round(left - xb), baseline, colour)


def centred_x(cr, text, centre):
    ext = cr.text_extents(text)
    return round(centre - (ext.x_bearing + ext.width / 2.0))


def text_centred(cr, text, centre_x, baseline, colour):
    text_at(cr, text, centred_x(cr, text, centre_x), baseline, colour)


def cap_baseline(cr, top, bottom):
    """Baseline that centres capital letters vertically between pixel rows top..bottom."""
    ext = cr.text_extents("H")
    cap = -ext.y_bearing
    return round((top + bottom + 1) / 2.0 + cap / 2.0)


def embossed_text(cr, text, cx, baseline, colour, shade, shade_dy):
    """Caption with a one-pixel shade above or below: engraved or raised lettering."""
    x = centred_x(cr, text, cx)
    text_at(cr, text, x, baseline + shade_dy, shade)
    text_at(cr, text, x, baseline, colour)


# ---------------------------------------------------------------------------------------------
# Menu bar


def draw_slot(cr, x0, x1, top=0, height=SLOT_H):
    """A dark bevelled slot over the inclusive columns x0..x1 and `height` rows from `top`."""
    w = x1 - x0 + 1
    y1 = top + height - 1
    vgradient(cr, x0, top, w, height, [(0.0, g(104)), (0.5, g(95)), (1.0, g(86))])
    # Outer edge: dark all round; inner bevel: light top/left, shaded bottom/right.
    hline(cr, x0, x1, top, g(52))
    hline(cr, x0, x1, y1, g(40))
    vline(cr, x0, top, y1, g(48))
    vline(cr, x1, top, y1, g(44))
    hline(cr, x0 + 1, x1 - 1, top + 1, g(134))
    vline(cr, x0 + 1, top + 2, y1 - 1, g(118))
    hline(cr, x0 + 2, x1 - 1, y1 - 1, g(74))
    vline(cr, x1 - 1, top + 2, y1 - 2, g(80))


def draw_menu_ground(cr, slots):
    # The gaps between slots and the strip below them: light grey easing into the page.
    vgradient(cr, 0, 0, WIDTH, SLOT_H, [(0.0, g(196)), (1.0, g(184))])
    vgradient(
        cr,
        0,
        SLOT_H,
        WIDTH,
        MENU_H - SLOT_H,
        [(0.0, g(212)), (0.45, g(194)), (1.0, g(PAGE))],
    )
    for x0, x1 in slots:
        draw_slot(cr, x0, x1)


def draw_menu_marks(cr):
    # The device slot is a drop-down menu: a small light triangle at its right end.
    x0, x1 = SLOTS[3]
    cx, cy = x1 - 11, 12.5
    cr.set_source_rgba(*g(30, 0.8))
    cr.move_to(cx - 4, cy - 1)
    cr.line_to(cx + 4, cy - 1)
    cr.line_to(cx, cy + 4)
    cr.close_path()
    cr.fill()
    cr.set_source_rgba(*g(CAPTION))
    cr.move_to(cx - 4, cy - 2)
    cr.line_to(cx + 4, cy - 2)
    cr.line_to(cx, cy + 3)
    cr.close_path()
    cr.fill()


def draw_menu_bar(cr):
    draw_menu_ground(cr, SLOTS)
    draw_menu_marks(cr)


def make_background_menu():
    surface, cr = new_surface(WIDTH, MENU_H)
    draw_menu_bar(cr)
    write_png(surface, "BackgroundMenu")


# ---------------------------------------------------------------------------------------------
# Pages


def knob_angle(frame):
    """Pointer angle of a knob frame in degrees clockwise from straight up."""
    return -KNOB_SWEEP + 2.0 * KNOB_SWEEP * frame / (KNOB_FRAMES - 1)


def polar(cx, cy, r, degrees):
    a = math.radians(degrees)
    return cx + r * math.sin(a), cy - r * math.cos(a)


def draw_knob_body(cr, cx, cy):
    """The dark knob itself: a skirt with a black rim around a softly domed cap."""
    # Skirt with a black rim.
    cr.arc(cx, cy, 13.6, 0, 2 * math.pi)
    cr.set_source_rgba(*g(10))
    cr.fill()
    skirt = cairo.LinearGradient(cx - 10, cy - 12, cx + 10, cy + 12)
    skirt.add_color_stop_rgba(0.0, *g(96))
    skirt.add_color_stop_rgba(0.5, *g(52))
    skirt.add_color_stop_rgba(1.0, *g(26))
    cr.arc(cx, cy, 12.6, 0, 2 * math.pi)
    cr.set_source(skirt)
    cr.fill()
    # Cap: a little lighter at the top, with a rim that catches the light.
    cr.arc(cx, cy, 9.4, 0, 2 * math.pi)
    cr.set_source_rgba(*g(18))
    cr.fill()
    cap = cairo.LinearGradient(cx, cy - 9, cx, cy + 9)
    cap.add_color_stop_rgba(0.0, *g(74))
    cap.add_color_stop_rgba(1.0, *g(34))
    cr.arc(cx, cy, 8.6, 0, 2 * math.pi)
    cr.set_source(cap)
    cr.fill()
    gloss = cairo.RadialGradient(cx - 2.5, cy - 4.5, 0.5, cx - 2.5, cy - 4.5, 7.5)
    gloss.add_color_stop_rgba(0.0, 1, 1, 1, 0.22)
    gloss.add_color_stop_rgba(1.0, 1, 1, 1, 0.0)
    cr.arc(cx, cy, 8.6, 0, 2 * math.pi)
    cr.set_source(gloss)
    cr.fill()


def draw_knob_pointer(cr, cx, cy, degrees):
    x0, y0 = polar(cx, cy, 4.2, degrees)
    x1, y1 = polar(cx, cy, 12.0, degrees)
    cr.set_line_cap(cairo.LINE_CAP_ROUND)
    cr.set_line_width(3.2)
    cr.set_source_rgba(0, 0, 0, 0.55)
    cr.move_to(x0, y0)
    cr.line_to(x1, y1)
    cr.stroke()
    cr.set_line_width(2.0)
    cr.set_source_rgba(*RED, 1.0)
    cr.move_to(x0, y0)
    cr.line_to(x1, y1)
    cr.stroke()


def draw_knob_seat(cr, cx, cy):
    """What the page shows around a knob: scale, shadow and the knob at rest."""
    # Scale: eleven ticks, one per 4 dB, the ends and the middle longer.
    cr.set_line_cap(cairo.LINE_CAP_BUTT)
    for i in range(11):
        deg = -KNOB_SWEEP + 2 * KNOB_SWEEP * i / 10
        major = i in (0, 5, 10)
        x0, y0 = polar(cx, cy, 16.6, deg)
        x1, y1 = polar(cx, cy, 20.8 if major else 19.0, deg)
        cr.set_line_width(1.4 if major else 1.0)
        cr.set_source_rgba(0, 0, 0, 1.0 if major else 0.8)
        cr.move_to(x0, y0)
        cr.line_to(x1, y1)
        cr.stroke()
    # Soft shadow under the knob, falling a little downwards.
    shadow = cairo.RadialGradient(cx, cy + 1.2, 12.5, cx, cy + 1.2, 16.0)
    shadow.add_color_stop_rgba(0.0, 0, 0, 0, 0.45)
    shadow.add_color_stop_rgba(1.0, 0, 0, 0, 0.0)
    cr.arc(cx, cy + 1.2, 16.0, 0, 2 * math.pi)
    cr.set_source(shadow)
    cr.fill()
    draw_knob_body(cr, cx, cy)


def draw_label_well(cr, cx, top):
    """A shallow recessed field behind the dB readout whose 20-row rectangle starts at `top`.

    Wider than the readout's 35 columns so that a larger system font still sits inside it.
    """
    x0, y0, x1, y1 = cx - 22, top + 1, cx + 22, top + 17
    fill_rect(cr, x0, y0, x1 - x0 + 1, y1 - y0 + 1, g(168))
    hline(cr, x0, x1, y0, g(128))
    vline(cr, x0, y0, y1, g(140))
    hline(cr, x0 + 1, x1, y1 + 1, g(204))
    vline(cr, x1 + 1, y0 + 1, y1 + 1, g(198))


def draw_page(cr, first_channel):
    draw_menu_bar(cr)  # hidden under the real menu bar; keeps the picture whole
    fill_rect(cr, 0, MENU_H, WIDTH, PAGE_H - MENU_H, g(PAGE))

    # Engraved grid: a light line beside every black one.
    light = g(206)
    for y in H_LINES_Y:
        hline(cr, H_LINES_X[0], H_LINES_X[1], y + 1, light)
    for x in LONG_V_X:
        vline(cr, x + 1, LONG_V_Y[0], LONG_V_Y[1], light)
    for x in SHORT_V_X:
        for y0, y1 in SHORT_V_Y:
            vline(cr, x + 1, y0, y1, light)
    for y in H_LINES_Y:
        hline(cr, H_LINES_X[0], H_LINES_X[1], y, g(0))
    for x in LONG_V_X:
        vline(cr, x, LONG_V_Y[0], LONG_V_Y[1], g(0))
    for x in SHORT_V_X:
        for y0, y1 in SHORT_V_Y:
            vline(cr, x, y0, y1, g(0))

    for slot in range(24):
        col, row = slot % 8, slot // 8
        cx = KNOB_CX0 + 70 * col
        cy = KNOB_CY0 + ROW_PITCH * row
        set_font(cr, 13, bold=True)
        text = "Ch %02d" % (first_channel + slot)
        baseline = 50 + ROW_PITCH * row
        embossed_text(cr, text, cx + 0.5, baseline, g(0), g(208), 1)
        draw_knob_seat(cr, cx, cy)
        draw_label_well(cr, cx, 100 + ROW_PITCH * row)


def make_background_page(name, first_channel):
    surface, cr = new_surface(WIDTH, PAGE_H)
    draw_page(cr, first_channel)
    write_png(surface, name)


def draw_emblem(cr, cx, cy):
    """The information page's emblem: one of the product's knobs, large, on a full dB scale."""
    zoom = 3.4
    for step in range(41):
        deg = knob_angle(step)
        major = step % 10 == 0
        x0, y0 = polar(cx, cy, 52.5, deg)
        x1, y1 = polar(cx, cy, 62.0 if major else 57.0, deg)
        cr.set_line_width(2.0 if major else 1.0)
        cr.set_source_rgba(0, 0, 0, 1.0 if major else 0.75)
        cr.move_to(x0, y0)
        cr.line_to(x1, y1)
        cr.stroke()
        if major:
            set_font(cr, 12)
            text = str(10 + step)
            ext = cr.text_extents(text)
            tx, ty = polar(cx, cy, 74.0, deg)
            text_at(cr, text, round(tx - ext.x_bearing - ext.width / 2), round(ty + 4.5), g(0))
    set_font(cr, 12, bold=True)
    text_centred(cr, "dB", cx, cy + 76, g(0))
    cr.save()
    cr.translate(cx, cy)
    cr.scale(zoom, zoom)
    shadow = cairo.RadialGradient(0, 0.6, 12.5, 0, 0.6, 15.5)
    shadow.add_color_stop_rgba(0.0, 0, 0, 0, 0.5)
    shadow.add_color_stop_rgba(1.0, 0, 0, 0, 0.0)
    cr.arc(0, 0.6, 15.5, 0, 2 * math.pi)
    cr.set_source(shadow)
    cr.fill()
    draw_knob_body(cr, 0, 0)
    cr.restore()
    # The pointer at 38 dB, drawn at full resolution rather than magnified.
    deg = knob_angle(28)
    x0, y0 = polar(cx, cy, 16.0, deg)
    x1, y1 = polar(cx, cy, 41.0, deg)
    cr.set_line_cap(cairo.LINE_CAP_ROUND)
    cr.set_line_width(6.0)
    cr.set_source_rgba(0, 0, 0, 0.5)
    cr.move_to(x0, y0)
    cr.line_to(x1, y1)
    cr.stroke()
    cr.set_line_width(4.0)
    cr.set_source_rgba(*RED, 1.0)
    cr.move_to(x0, y0)
    cr.line_to(x1, y1)
    cr.stroke()


def make_background_info():
    surface, cr = new_surface(WIDTH, PAGE_H)
    fill_rect(cr, 0, 0, WIDTH, PAGE_H, g(PAGE))
    # Only the slot of the information button, in the corner where that button sits.
    draw_slot(cr, *SLOTS[5])

    set_font(cr, 23, bold=True)
    title = "Quorvel Remote Control Demo"
    ink_left_at(cr, title, 26, 70, g(0))
    x_after = 26 + cr.text_extents(title).x_advance
    set_font(cr, 23, bold=False)
    ink_left_at(cr, "v1.1", round(x_after + 10), 70, g(0))

    hline(cr, 26, 546, 84, g(0))
    hline(cr, 26, 546, 85, g(206))

    draw_emblem(cr, 440, 222)

    hline(cr, 26, 546, 342, g(0))
    hline(cr, 26, 546, 343, g(206))

    set_font(cr, 14)
    ink_left_at(cr, "Programming & GUI", 33, 113, g(0))
    set_font(cr, 14, bold=True)
    ink_left_at(cr, "Brannock", 54, 142, g(0))

    set_font(cr, 10, italic=True)
    ink_left_at(cr, "VST plug-in interface technology, version 2.4", 25, 361, g(0))
    write_png(surface, "BackgroundInfo")


# ---------------------------------------------------------------------------------------------
# Controls


def make_knob_handle():
    surface, cr = new_surface(KNOB_SIZE, KNOB_SIZE * KNOB_FRAMES)
    for frame in range(KNOB_FRAMES):
        cx, cy = KNOB_SIZE / 2.0, KNOB_SIZE * frame + KNOB_SIZE / 2.0
        cr.save()
        cr.rectangle(0, KNOB_SIZE * frame, KNOB_SIZE, KNOB_SIZE)
        cr.clip()
        draw_knob_body(cr, cx, cy)
        draw_knob_pointer(cr, cx, cy, knob_angle(frame))
        cr.restore()
    write_png(surface, "KnobHandle")


def make_link_handle():
    w, h = 104, 18
    surface, cr = new_surface(w, 2 * h)
    # Off: a raised bar.
    rounded_rect(cr, 0.5, 0.5, w - 1, h - 1, 3)
    grad = cairo.LinearGradient(0, 0, 0, h)
    grad.add_color_stop_rgba(0.0, *g(132))
    grad.add_color_stop_rgba(0.5, *g(100))
    grad.add_color_stop_rgba(1.0, *g(78))
    cr.set_source(grad)
    cr.fill_preserve()
    cr.set_source_rgba(*g(0))
    cr.set_line_width(1)
    cr.stroke()
    hline(cr, 3, w - 4, 1, g(176))
    hline(cr, 3, w - 4, h - 2, g(66))
    # An unlit legend, engraved, so the bar reads as a switch before it is pressed.
    set_font(cr, 12, bold=True)
    baseline = cap_baseline(cr, 0, h - 1)
    embossed_text(cr, "Link", w / 2.0, baseline, g(72), g(150, 0.6), 1)
    # On: pressed in, darker, with a lit red caption.
    top = h
    rounded_rect(cr, 0.5, top + 0.5, w - 1, h - 1, 3)
    grad = cairo.LinearGradient(0, top, 0, top + h)
    grad.add_color_stop_rgba(0.0, *g(34))
    grad.add_color_stop_rgba(1.0, *g(62))
    cr.set_source(grad)
    cr.fill_preserve()
    cr.set_source_rgba(*g(0))
    cr.set_line_width(1)
    cr.stroke()
    hline(cr, 3, w - 4, top + 1, g(14))
    hline(cr, 3, w - 4, top + h - 2, g(82))
    set_font(cr, 12, bold=True)
    baseline = cap_baseline(cr, top, top + h - 1)
    x = centred_x(cr, "Link", w / 2.0)
    cr.set_source_rgba(1.0, 0.15, 0.1, 0.35)  # glow
    for dx, dy in ((-1, 0), (1, 0), (0, -1), (0, 1)):
        cr.move_to(x + dx, baseline + dy)
        cr.show_text("Link")
    text_at(cr, "Link", x, baseline, (*RED, 1.0))
    write_png(surface, "ButtonLinkHandle")


def draw_lit_face(cr, w, top, inset=2):
    """The selected or pressed look of a menu-bar button: the slot lit from within."""
    x0, y0 = inset, top + inset
    fw, fh = w - 2 * inset, SLOT_H - 2 * inset
    grad = cairo.LinearGradient(0, y0, 0, y0 + fh)
    grad.add_color_stop_rgba(0.0, 1, 1, 1, 0.50)
    grad.add_color_stop_rgba(1.0, 1, 1, 1, 0.70)
    cr.set_source(grad)
    cr.rectangle(x0, y0, fw, fh)
    cr.fill()
    hline(cr, x0, x0 + fw - 1, y0, g(40, 0.55))
    vline(cr, x0, y0 + 1, y0 + fh - 1, g(40, 0.35))


def two_state_button(name, w, captions, lit):
    """A menu-bar button: upper half value 0, lower half value 1, on a transparent ground."""
    surface, cr = new_surface(w, 2 * SLOT_H)
    for state in (0, 1):
        top = state * SLOT_H
        set_font(cr, 13, bold=True)
        baseline = cap_baseline(cr, top, top + SLOT_H - 1)
        if lit[state]:
            draw_lit_face(cr, w, top)
            embossed_text(
                cr, captions[state], w / 2.0, baseline, g(CAPTION_DOWN), g(255, 0.45), 1
            )
        else:
            embossed_text(cr, captions[state], w / 2.0, baseline, g(CAPTION), g(0, 0.7), -1)
    write_png(surface, name)


def main():
    global CHECK_ONLY
    CHECK_ONLY = "--check" in sys.argv[1:]
    make_background_menu()
    make_background_page("BackgroundPage1", 1)
    make_background_page("BackgroundPage2", 25)
    make_background_info()
    make_knob_handle()
    make_link_handle()
    two_state_button("ButtonRefreshHandle", 94, ("Refresh", "Refresh"), (False, True))
    two_state_button("ButtonPage_1_Handle", 67, ("1-24", "1-24"), (False, True))
    two_state_button("ButtonPage_2_Handle", 67, ("25-48", "25-48"), (False, True))
    two_state_button("ButtonFrameHandle", 120, ("Minimize!", "Maximize!"), (False, False))
    two_state_button("ButtonInfoHandle", 37, ("Info", "Info"), (False, True))
    if MISMATCHED:
        print("not as generated: " + ", ".join(n + ".png" for n in MISMATCHED))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

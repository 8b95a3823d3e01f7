#!/usr/bin/env python3
"""Generate the SVG artwork of the intro screen and the capture screen.

Usage:
    python3 tools/make_capture_artwork.py [--out-dir DIR] [--list]

Writes into resources/images/ of the checkout this script is in, unless --out-dir
says otherwise; --list prints the names it would write and writes nothing.

The pictures are drawn for QSvgRenderer (SVG Tiny 1.2): plain paths, rects,
circles, lines, linear gradients and text in "Inter", no filters, masks or CSS.
Every document's width/height equal its viewBox size, which is the picture's
natural size in points.

Files written:
    UIButtonBarCamera.svg          shutter button glyph            30 x 24
    cameraalign.svg                guide button glyph              24 x 24
    flash on.svg, flash off.svg    flash switch pill               68 x 31.5
    PLCameraToggle.svg             front/rear camera switch        60 x 31
    PLCameraTogglePressed.svg      the same, pressed               60 x 31
    crosshair.svg                  alignment crosshair            121 x 121
    Information Screen.svg         intro instruction card         300 x 380
    AnimationA00.svg ... A43.svg   31 frames of the intro film     77 x 121
"""

import argparse
import math
import os
import sys

# ---------------------------------------------------------------------------
# Palette (shared with Default.svg and the other icons)

WHITE = "#ffffff"
TEXT = "#f2f4f6"
TEXT_BODY = "#e3e7eb"
TEXT_DIM = "#8d97a1"
RED = "#ff4f5a"
CYAN = "#3cc8ee"
AMBER = "#ffd54a"
BLACK = "#000000"

# A single family name: QSvgRenderer (Qt 6.4) takes the whole attribute as one
# name, so "Inter, sans-serif" would fall back to the default font.
FONT = "Inter"

# ---------------------------------------------------------------------------
# Small SVG writer


def num(value):
    """A coordinate as short text: at most two decimals, no trailing zeros."""
    text = f"{value:.2f}".rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def attrs(**kwargs):
    """Attributes from keyword arguments; '_' becomes '-', None is left out."""
    parts = []
    for key, value in kwargs.items():
        if value is None:
            continue
        name = key.rstrip("_").replace("_", "-")
        if isinstance(value, float) or isinstance(value, int):
            value = num(value)
        parts.append(f'{name}="{value}"')
    return " ".join(parts)


def el(tag, **kwargs):
    return f"<{tag} {attrs(**kwargs)}/>"


def text_el(x, y, content, size, fill=TEXT, weight=None, anchor=None, opacity=None, id_=None):
    return (f"<text {attrs(id=id_, x=x, y=y, font_family=FONT, font_size=size, font_weight=weight, text_anchor=anchor, fill=fill, fill_opacity=opacity)}>"
            f"{content}</text>")


def document(width, height, body, comment=None):
    w, h = num(width), num(height)
    lines = [f'<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" '
             f'width="{w}" height="{h}" viewBox="0 0 {w} {h}">']
    if comment:
        lines.append(f"  <!-- {comment} -->")
    lines += ["  " + item for item in body]
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def polar(cx, cy, radius, degrees):
    a = math.radians(degrees)
    return cx + radius * math.cos(a), cy + radius * math.sin(a)


def lerp(a, b, t):
    return a + (b - a) * t


def clamp01(t):
    return max(0.0, min(1.0, t))


def smooth(t):
    """Ease in and out (smoothstep) of t clamped to 0..1."""
    t = clamp01(t)
    return t * t * (3 - 2 * t)


def pill(width, height, fill_opacity, stroke_opacity):
    """The rounded translucent button background, its stroke inside the bounds."""
    inset = 0.5
    return el("rect", x=inset, y=inset, width=width - 2 * inset, height=height - 2 * inset,
              rx=(height - 2 * inset) / 2, ry=(height - 2 * inset) / 2,
              fill=BLACK, fill_opacity=fill_opacity, stroke=WHITE, stroke_opacity=stroke_opacity,
              stroke_width=1)


# ---------------------------------------------------------------------------
# Capture-screen icons

SHUTTER_GLYPH_SIZE = (30, 24)


def shutter_camera():
    """A solid camera body with a lens cut out of it (even-odd fill)."""
    body = ("M4.5 6 H10 L11.8 2.9 Q12.1 2.5 12.7 2.5 H17.3 Q17.9 2.5 18.2 2.9 L20 6 H25.5 "
            "A3 3 0 0 1 28.5 9 V19.5 A3 3 0 0 1 25.5 22.5 H4.5 A3 3 0 0 1 1.5 19.5 V9 "
            "A3 3 0 0 1 4.5 6 Z")
    lens_hole = "M15 7.7 A6.4 6.4 0 1 1 15 20.5 A6.4 6.4 0 1 1 15 7.7 Z"
    flash_hole = "M24.4 8.4 A1.1 1.1 0 1 1 24.4 10.6 A1.1 1.1 0 1 1 24.4 8.4 Z"
    return document(*SHUTTER_GLYPH_SIZE, [
        el("path", d=f"{body} {lens_hole} {flash_hole}", fill=WHITE, fill_rule="evenodd"),
        el("circle", cx=15, cy=14.1, r=4, fill=WHITE),
    ], "shutter button glyph: a camera")


GUIDE_GLYPH_SIZE = 24
GUIDE_FRAME = (2.8, 2.8, 18.4)  # x, y, side


def guide_button():
    """A framed 3 x 3 grid."""
    x, y, side = GUIDE_FRAME
    third = side / 3
    grid = " ".join(f"M{num(x + i * third)} {num(y + 0.8)} V{num(y + side - 0.8)} "
                    f"M{num(x + 0.8)} {num(y + i * third)} H{num(x + side - 0.8)}" for i in (1, 2))
    return document(GUIDE_GLYPH_SIZE, GUIDE_GLYPH_SIZE, [
        el("rect", x=x, y=y, width=side, height=side, rx=2.5, ry=2.5, fill="none", stroke=WHITE, stroke_width=1.6),
        el("path", d=grid, fill="none", stroke=WHITE, stroke_opacity=0.85, stroke_width=1.1),
    ], "guide button: crosshair / grid / none")


FLASH_SIZE = (68, 31.5)
FLASH_BOLT = "M19.6 6.2 L11.4 17.3 H16.4 L14.6 25.3 L23 14 H18 Z"
FLASH_LABEL_X = 44  # centre of the word


def flash_switch(on):
    width, height = FLASH_SIZE
    body = [pill(width, height, 0.5, 0.3)]
    if on:
        body.append(el("path", d=FLASH_BOLT, fill=AMBER, stroke=AMBER, stroke_width=0.8, stroke_linejoin="round"))
        body.append(text_el(FLASH_LABEL_X, 21.2, "On", 15, fill=TEXT, weight=600, anchor="middle"))
    else:
        body.append(el("path", d=FLASH_BOLT, fill=WHITE, fill_opacity=0.5, stroke=WHITE, stroke_opacity=0.5,
                       stroke_width=0.8, stroke_linejoin="round"))
        slash = "M11 8 L24.5 24"
        body.append(el("path", d=slash, fill="none", stroke=BLACK, stroke_opacity=0.7, stroke_width=4,
                       stroke_linecap="round"))
        body.append(el("path", d=slash, fill="none", stroke=WHITE, stroke_width=1.6, stroke_linecap="round"))
        body.append(text_el(FLASH_LABEL_X, 21.2, "Off", 15, fill="#c4cbd2", weight=600, anchor="middle"))
    return document(width, height, body, f"flash switch, {'on' if on else 'off'}")


TOGGLE_SIZE = (60, 31)
TOGGLE_CENTRE = (30, 16.4)  # centre of the lens circle


def arc_arrow(cx, cy, radius, start, end, colour, opacity):
    """A clockwise arc from start to end (degrees) with an arrowhead at its end."""
    x0, y0 = polar(cx, cy, radius, start)
    x1, y1 = polar(cx, cy, radius, end)
    large = 1 if (end - start) % 360 > 180 else 0
    arc = el("path", d=f"M{num(x0)} {num(y0)} A{num(radius)} {num(radius)} 0 {large} 1 {num(x1)} {num(y1)}",
             fill="none", stroke=colour, stroke_opacity=opacity, stroke_width=1.4, stroke_linecap="round")
    # Arrowhead: tip ahead along the tangent, wings either side of the end point.
    tangent = math.radians(end + 90)
    tx, ty = math.cos(tangent), math.sin(tangent)
    nx, ny = math.cos(math.radians(end)), math.sin(math.radians(end))
    tip = (x1 + 2.6 * tx, y1 + 2.6 * ty)
    wing_a = (x1 + 2.1 * nx - 0.4 * tx, y1 + 2.1 * ny - 0.4 * ty)
    wing_b = (x1 - 2.1 * nx - 0.4 * tx, y1 - 2.1 * ny - 0.4 * ty)
    head = el("path", d=f"M{num(tip[0])} {num(tip[1])} L{num(wing_a[0])} {num(wing_a[1])} "
                        f"L{num(wing_b[0])} {num(wing_b[1])} Z", fill=colour, fill_opacity=opacity)
    return [arc, head]


def camera_toggle(pressed):
    width, height = TOGGLE_SIZE
    cx, cy = TOGGLE_CENTRE
    glyph = "#c4cbd2" if pressed else WHITE
    body = [pill(width, height, 0.8 if pressed else 0.45, 0.6 if pressed else 0.3)]
    if pressed:
        # A soft inner rim: the button looks pushed in.
        body.append(el("rect", x=2, y=2, width=width - 4, height=height - 4, rx=(height - 4) / 2,
                       ry=(height - 4) / 2, fill="none", stroke=WHITE, stroke_opacity=0.12, stroke_width=2))
    left, right, top, bottom = cx - 11.5, cx + 11.5, cy - 6.2, cy + 7.4
    outline = (f"M{num(left + 2.5)} {num(top)} H{num(cx - 4.6)} L{num(cx - 3.2)} {num(top - 2.4)} "
               f"H{num(cx + 3.2)} L{num(cx + 4.6)} {num(top)} H{num(right - 2.5)} "
               f"A2.5 2.5 0 0 1 {num(right)} {num(top + 2.5)} V{num(bottom - 2.5)} "
               f"A2.5 2.5 0 0 1 {num(right - 2.5)} {num(bottom)} H{num(left + 2.5)} "
               f"A2.5 2.5 0 0 1 {num(left)} {num(bottom - 2.5)} V{num(top + 2.5)} "
               f"A2.5 2.5 0 0 1 {num(left + 2.5)} {num(top)} Z")
    body.append(el("path", d=outline, fill="none", stroke=glyph, stroke_width=1.5, stroke_linejoin="round"))
    lens_y = cy + 0.9
    body += arc_arrow(cx, lens_y, 3.9, 200, 330, glyph, 1)
    body += arc_arrow(cx, lens_y, 3.9, 20, 150, glyph, 1)
    return document(width, height, body, "front/rear camera switch" + (", pressed" if pressed else ""))


CROSSHAIR_SIZE = 121          # odd, so the 1-point lines fall on whole pixels
CROSSHAIR_INNER = 11          # gap from the centre to where the arms start
CROSSHAIR_OUTER = 56          # where the arms end
CROSSHAIR_RING = 5


def crosshair():
    c = CROSSHAIR_SIZE / 2
    arms = []
    for sx, sy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
        arms.append(f"M{num(c + sx * CROSSHAIR_INNER)} {num(c + sy * CROSSHAIR_INNER)} "
                    f"L{num(c + sx * CROSSHAIR_OUTER)} {num(c + sy * CROSSHAIR_OUTER)}")
    arms = " ".join(arms)
    halo = dict(fill="none", stroke=BLACK, stroke_opacity=0.55, stroke_width=3)
    line = dict(fill="none", stroke=WHITE, stroke_width=1)
    return document(CROSSHAIR_SIZE, CROSSHAIR_SIZE, [
        el("path", d=arms, stroke_linecap="round", **halo),
        el("circle", cx=c, cy=c, r=CROSSHAIR_RING, **halo),
        el("path", d=arms, **line),
        el("circle", cx=c, cy=c, r=CROSSHAIR_RING, **line),
    ], "alignment crosshair: white 1-pt lines on a dark halo")


# ---------------------------------------------------------------------------
# The intro card

CARD_SIZE = (300, 380)
CARD_RADIUS = 16
# Where the program lays the animation over the card (card coordinates).
ANIM_X, ANIM_Y, ANIM_W, ANIM_H = 206, 111, 77, 121
PANEL_MARGIN = 2.5            # the frame sits just outside the animation
PANEL_RADIUS = 5

TITLE = "Taking a 3-D photo"
TITLE_BASELINE = 42
RULE_Y = 54
CAPTION = "Seen from above"
CAPTION_BASELINE = 100        # above the panel, centred on it

STEP_SIZE = 13
STEP_LEADING = 18
STEP_GAP = 12                 # extra space between two steps
STEP_TEXT_X = 44
BADGE_X = 27
FIRST_STEP_BASELINE = 92
# Lines are broken by hand to fit: beside the panel a line may reach x = 196
# (152 points), below the panel x = 280 (236 points). Measured in Inter 13.
STEPS = [
    ["Hold the camera level", "and take the left", "photograph."],
    ["Step about 6 cm to the", "right, keeping the", "camera level and", "pointed the same way."],
    ["Line up the translucent", "ghost of the first shot with the scene",
     "and take the right photograph."],
    ["Drag the right image into register,", "then view the result with red\u2013cyan",
     "glasses."],
]


def step_badge(number, baseline):
    cy = baseline - 4.6
    return [
        el("circle", cx=BADGE_X, cy=cy, r=9, fill=CYAN, fill_opacity=0.16, stroke=CYAN, stroke_width=1.2),
        text_el(BADGE_X, cy + 4, str(number), 11.5, fill=TEXT, weight=700, anchor="middle"),
    ]


def information_screen():
    width, height = CARD_SIZE
    body = [
        "<defs>",
        '  <linearGradient id="rule" x1="0" y1="0" x2="1" y2="0">',
        f'    <stop offset="0" stop-color="{RED}" stop-opacity="0"/>',
        f'    <stop offset="0.5" stop-color="{TEXT}" stop-opacity="0.55"/>',
        f'    <stop offset="1" stop-color="{CYAN}" stop-opacity="0"/>',
        "  </linearGradient>",
        "</defs>",
        el("rect", x=0.5, y=0.5, width=width - 1, height=height - 1, rx=CARD_RADIUS, ry=CARD_RADIUS,
           fill="#161b20", fill_opacity=0.88, stroke=WHITE, stroke_opacity=0.16, stroke_width=1),
        text_el(width / 2, TITLE_BASELINE, TITLE, 20, fill=TEXT, weight=600, anchor="middle", id_="title"),
        el("rect", x=width / 2 - 70, y=RULE_Y, width=140, height=1, fill="url(#rule)"),
        "<!-- the animation (77 x 121) is laid over this panel; keep it free of text -->",
        el("rect", x=ANIM_X - PANEL_MARGIN, y=ANIM_Y - PANEL_MARGIN, width=ANIM_W + 2 * PANEL_MARGIN,
           height=ANIM_H + 2 * PANEL_MARGIN, rx=PANEL_RADIUS, ry=PANEL_RADIUS,
           fill="#07090b", fill_opacity=0.9, stroke=WHITE, stroke_opacity=0.22, stroke_width=1),
        text_el(ANIM_X + ANIM_W / 2, CAPTION_BASELINE, CAPTION, 12, fill=TEXT_DIM, anchor="middle", id_="caption"),
    ]
    baseline = FIRST_STEP_BASELINE
    for number, lines in enumerate(STEPS, start=1):
        body += step_badge(number, baseline)
        for index, line in enumerate(lines):
            body.append(text_el(STEP_TEXT_X, baseline, line, STEP_SIZE, fill=TEXT_BODY,
                                id_=f"step{number}-line{index + 1}"))
            baseline += STEP_LEADING
        baseline += STEP_GAP
    return document(width, height, body, "intro card: how to take a stereo pair")


# ---------------------------------------------------------------------------
# The intro animation: a photographer seen from above takes a stereo pair.
#
# The program shows 58 positions over 7 s; position n shows frame An, or the
# latest frame before it that exists.  Frame numbers are therefore positions.

ANIM_SIZE = (ANIM_W, ANIM_H)
FRAMES = [0] + list(range(5, 13)) + list(range(18, 32)) + list(range(36, 44))

RAISE_FRAMES = (4, 10)        # the camera comes up over A05..A10 (A04 = idle)
FIRST_FLASH = 11
FIRST_TAKEN = 12
STEP_FRAMES = (17, 30)        # the sideways step over A18..A30 (A17 = still left)
AIM_FRAMES = (35, 41)         # composing the second shot over A36..A41
SECOND_FLASH = 42
BOTH_TAKEN = 43

# Drawn to scale, about 2 points to the centimetre: the camera is 13 cm wide
# and the sideways step is 6 cm, so the photographer is seen close up from
# above, the top of the head entering at the bottom edge.
LEFT_X, RIGHT_X = 30, 42      # the camera's two positions, 6 cm apart
CAMERA_UP_Y, CAMERA_DOWN_Y = 70, 80
CAMERA_W, CAMERA_H = 26, 11
LENS_W, LENS_H = 10, 5
HEAD_Y, HEAD_R = 122, 15      # cropped by the bottom edge on purpose
CONE_FAR_Y, CONE_HALF_WIDTH = 24, 22
DIMENSION_Y = 89
SCENE_GROUND_Y = 50
THUMB_Y, THUMB_W, THUMB_H = 3.5, 20, 15
THUMB_LEFT_X, THUMB_RIGHT_X = 3.5, ANIM_W - 3.5 - 20
LENS_TIP_UP = CAMERA_UP_Y - CAMERA_H / 2 - LENS_H

JACKET = "#4d5b69"
JACKET_EDGE = "#cdd4db"
HAIR = "#7a5a43"
SKIN = "#e2b993"


def progress(frame, span):
    first, last = span
    return smooth((frame - first) / (last - first))


def animation_state(frame):
    """Everything that moves, as numbers for one frame."""
    raise_t = progress(frame, RAISE_FRAMES)
    step_t = progress(frame, STEP_FRAMES)
    aim_t = progress(frame, AIM_FRAMES)
    first_done = frame >= FIRST_TAKEN
    return {
        "x": lerp(LEFT_X, RIGHT_X, step_t),
        "raise": raise_t,
        "step": step_t,
        # the view of the camera being composed: fades in as the camera comes up,
        # faint while stepping, bright again while aiming the second shot
        "cone": (raise_t if not first_done else
                 0.35 + 0.65 * aim_t if frame < BOTH_TAKEN else 0.0),
        "focus": (clamp01((frame - 7) / 3) if frame < FIRST_TAKEN else
                  aim_t if frame < BOTH_TAKEN else 0.0),
        "flash": 1.0 if frame in (FIRST_FLASH, SECOND_FLASH) else 0.0,
        "left_taken": first_done,
        "right_taken": frame >= BOTH_TAKEN,
        "label": clamp01((step_t - 0.35) / 0.4),
    }


def scene():
    """A tree and a house in the distance (drawn upright, like icons)."""
    g = SCENE_GROUND_Y
    return [
        el("path", d=f"M6 {g} H71", stroke=WHITE, stroke_opacity=0.3, stroke_width=1),
        el("rect", x=19, y=g - 8, width=3, height=8, fill="#8a6a50"),
        el("circle", cx=20.5, cy=g - 14, r=8, fill="#3f9a62", stroke="#8fe0aa", stroke_width=1),
        el("rect", x=43, y=g - 12, width=16, height=12, fill="#2b3238", stroke=TEXT_BODY, stroke_width=1),
        el("path", d=f"M41 {g - 11.5} L51 {g - 21} L61 {g - 11.5} Z", fill="#c95a50", stroke="#f0a196",
           stroke_width=1, stroke_linejoin="round"),
        el("rect", x=49, y=g - 6.5, width=4, height=6.5, fill=TEXT_BODY, fill_opacity=0.8),
    ]


def view_cone(x, apex_y, colour, opacity, dashed=False):
    if opacity <= 0:
        return []
    far_l, far_r = x - CONE_HALF_WIDTH, x + CONE_HALF_WIDTH
    return [
        el("path", d=f"M{num(x)} {num(apex_y)} L{num(far_l)} {CONE_FAR_Y} H{num(far_r)} Z",
           fill=colour, fill_opacity=0.13 * opacity),
        el("path", d=f"M{num(far_l)} {CONE_FAR_Y} L{num(x)} {num(apex_y)} L{num(far_r)} {CONE_FAR_Y}",
           fill="none", stroke=colour, stroke_opacity=0.75 * opacity, stroke_width=1,
           stroke_dasharray="2.5 2" if dashed else None, stroke_linejoin="round"),
    ]


def focus_brackets(x, t):
    """Four corner marks closing in on the middle of the view."""
    if t <= 0:
        return []
    half_w, half_h = lerp(24, 15, t), lerp(17, 12, t)
    cy, arm = SCENE_GROUND_Y - 10, 4
    d = []
    for sx in (-1, 1):
        for sy in (-1, 1):
            px, py = x + sx * half_w, cy + sy * half_h
            d.append(f"M{num(px)} {num(py - sy * arm)} V{num(py)} H{num(px - sx * arm)}")
    return [el("path", d=" ".join(d), fill="none", stroke=AMBER, stroke_opacity=min(1.0, 0.3 + t),
               stroke_width=1.2, stroke_linecap="round")]


def camera_top(x, y, scale, style=None):
    """The camera seen from above: a body with the lens pointing up the page."""
    w, h = CAMERA_W * scale, CAMERA_H * scale
    lens_w, lens_h = LENS_W * scale, LENS_H * scale
    body = dict(fill="#1c2126", stroke=WHITE, stroke_width=1) if style is None else style
    lens = dict(fill="#9aa3ad", stroke=WHITE, stroke_width=0.8) if style is None else style
    parts = [
        el("rect", x=x - lens_w / 2, y=y - h / 2 - lens_h, width=lens_w, height=lens_h + 0.5, rx=1, ry=1,
           **lens),
        el("rect", x=x - w / 2, y=y - h / 2, width=w, height=h, rx=2, ry=2, **body),
    ]
    if style is None:  # the shutter release on the top plate
        parts.append(el("circle", cx=x + 8 * scale, cy=y - 1.5 * scale, r=1.7 * scale, fill="#9aa3ad"))
    return parts


def photographer(x, raise_t):
    """Head, forearms and hands from above, holding the camera."""
    cam_y = lerp(CAMERA_DOWN_Y, CAMERA_UP_Y, raise_t)
    scale = lerp(0.86, 1.0, raise_t)       # nearer the viewer when raised
    hand_dx = CAMERA_W / 2 * scale
    arms = " ".join(f"M{num(x + s * 32)} {ANIM_H + 4} "
                    f"Q{num(x + s * 24)} {num(cam_y + 22)} {num(x + s * (hand_dx + 1))} {num(cam_y + 4)}"
                    for s in (-1, 1))
    parts = [el("ellipse", cx=x + s * (HEAD_R - 1), cy=HEAD_Y - 8, rx=2.4, ry=3.6, fill=SKIN) for s in (-1, 1)]
    parts += [
        el("circle", cx=x, cy=HEAD_Y, r=HEAD_R, fill=HAIR, stroke=JACKET_EDGE, stroke_width=1),
        el("path", d=arms, fill="none", stroke=JACKET_EDGE, stroke_width=8, stroke_linecap="round"),
        el("path", d=arms, fill="none", stroke=JACKET, stroke_width=6, stroke_linecap="round"),
    ]
    parts += camera_top(x, cam_y, scale)
    for s in (-1, 1):   # a hand round each end of the camera
        parts.append(el("rect", x=x + s * hand_dx - 3.2, y=cam_y - 3.5 * scale, width=6.4,
                        height=9 * scale, rx=3, ry=3, fill=SKIN, stroke="#a9825f", stroke_width=0.6))
    return parts, cam_y - (CAMERA_H / 2 + LENS_H) * scale  # drawing, y of the lens tip


def ghost_camera(x, opacity):
    """Where the camera was for the left shot (dashed outline)."""
    if opacity <= 0:
        return []
    style = dict(fill="none", stroke=WHITE, stroke_opacity=0.45 * opacity, stroke_width=0.8,
                 stroke_dasharray="2 1.6")
    return camera_top(x, CAMERA_UP_Y, 1.0, style)


def flash_burst(x, y):
    rays = " ".join("M{0} {1} L{2} {3}".format(*map(num, polar(x, y, 4.5, a) + polar(x, y, 9, a)))
                    for a in range(0, 360, 45))
    return [
        el("circle", cx=x, cy=y, r=7, fill=WHITE, fill_opacity=0.25),
        el("circle", cx=x, cy=y, r=3.4, fill=WHITE),
        el("path", d=rays, stroke=WHITE, stroke_width=1.4, stroke_linecap="round"),
    ]


def dimension(x0, x1, label_opacity):
    """A measuring arrow from the first camera position to the current one."""
    if x1 - x0 < 0.5:
        return []
    y = DIMENSION_Y
    colour = TEXT_BODY
    parts = [el("path", d=f"M{num(x0)} {y - 3.5} V{y + 3.5} M{num(x1)} {y - 3.5} V{y + 3.5}",
                stroke=colour, stroke_width=1)]
    head = min(3.0, (x1 - x0) / 2)
    parts.append(el("path", d=f"M{num(x0 + 0.5)} {y} H{num(x1 - 0.5)}", stroke=colour, stroke_width=1))
    parts.append(el("path", d=f"M{num(x0 + 0.5)} {y} L{num(x0 + 0.5 + head)} {num(y - head * 0.6)} "
                              f"V{num(y + head * 0.6)} Z M{num(x1 - 0.5)} {y} "
                              f"L{num(x1 - 0.5 - head)} {num(y - head * 0.6)} V{num(y + head * 0.6)} Z",
                    fill=colour))
    if label_opacity > 0:
        parts.append(text_el((x0 + x1) / 2, y + 11, "6 cm", 9, fill=TEXT, weight=600, anchor="middle",
                             opacity=label_opacity))
    return parts


def thumbnail(x, letter, colour):
    """A small photograph marked L or R, tinted like its anaglyph channel."""
    return [
        el("rect", x=x, y=THUMB_Y, width=THUMB_W, height=THUMB_H, rx=2, ry=2, fill=colour,
           fill_opacity=0.28, stroke=colour, stroke_width=1.2),
        text_el(x + THUMB_W / 2, THUMB_Y + 11.2, letter, 10, fill=WHITE, weight=700, anchor="middle"),
    ]


def three_d_mark():
    """'3-D' in red and cyan, a little apart, the way glasses would split it."""
    cx, baseline = ANIM_W / 2, THUMB_Y + 11.5
    return [
        text_el(cx - 0.9, baseline, "3-D", 11, fill=RED, weight=700, anchor="middle"),
        text_el(cx + 0.9, baseline, "3-D", 11, fill=CYAN, weight=700, anchor="middle", opacity=0.9),
    ]


def animation_frame(frame):
    s = animation_state(frame)
    x = s["x"]
    body = []
    if s["left_taken"]:
        body += view_cone(LEFT_X, LENS_TIP_UP, RED, 1.0, dashed=not s["right_taken"])
    if s["right_taken"]:
        body += view_cone(RIGHT_X, LENS_TIP_UP, CYAN, 1.0)
    body += scene()
    figure, lens_y = photographer(x, s["raise"])
    body += view_cone(x, lens_y, WHITE, s["cone"])
    body += focus_brackets(x, s["focus"])
    body += ghost_camera(LEFT_X, s["step"])
    body += figure
    body += dimension(LEFT_X, x, s["label"])
    if s["left_taken"]:
        body += thumbnail(THUMB_LEFT_X, "L", RED)
    if s["right_taken"]:
        body += thumbnail(THUMB_RIGHT_X, "R", CYAN)
        body += three_d_mark()
    if s["flash"]:
        body += flash_burst(x, lens_y)
    return document(*ANIM_SIZE, body, f"intro animation, frame {frame:02d}")


# ---------------------------------------------------------------------------


def artwork():
    """(file name, SVG text) for everything this script draws."""
    files = [
        ("UIButtonBarCamera.svg", shutter_camera()),
        ("cameraalign.svg", guide_button()),
        ("flash on.svg", flash_switch(True)),
        ("flash off.svg", flash_switch(False)),
        ("PLCameraToggle.svg", camera_toggle(False)),
        ("PLCameraTogglePressed.svg", camera_toggle(True)),
        ("crosshair.svg", crosshair()),
        ("Information Screen.svg", information_screen()),
    ]
    files += [(f"AnimationA{frame:02d}.svg", animation_frame(frame)) for frame in FRAMES]
    return files


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out-dir", default=os.path.join(here, os.pardir, "resources", "images"),
                        help="where to write the SVG files (default: resources/images)")
    parser.add_argument("--list", action="store_true", help="print the file names only")
    args = parser.parse_args(argv)
    files = artwork()
    if args.list:
        print("\n".join(name for name, _ in files))
        return 0
    os.makedirs(args.out_dir, exist_ok=True)
    for name, svg in files:
        with open(os.path.join(args.out_dir, name), "w", encoding="utf-8", newline="\n") as out:
            out.write(svg)
    print(f"wrote {len(files)} files to {os.path.normpath(args.out_dir)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

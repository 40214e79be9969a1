#!/usr/bin/env python3
"""Draws the editor's pictures. The build embeds the files in the module.

    python3 tools/pictures/make_pictures.py
    python3 tools/pictures/make_pictures.py --references DIR

The first form writes src/editor/pictures/{background,about,about_button}.jpg
and knob.bmp at the layout's size, and the same pictures drawn at twice the
size, from the same drawing code, as *-2x.jpg and knob-2x.bmp (the editor
uses those on high-resolution screens). Needs python3-pil and
fonts-dejavu-core.

The second form draws nothing new: it composes the editor from the committed
picture files, the way the editor does at a display scale, and writes what a
window must show (see REFERENCES and compose()). The editor's tests compare
their windows with these.

Geometry the editor relies on (client pixels of the 250 x 199 window):
  faders at x 4 and 209, 32 wide; knob tops 77 (position 0) to 143
  (position 66), knob bottoms down to 167; the About button at 224, 6, 22 x 22.
"""
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = os.path.join(ROOT, "src", "editor", "pictures")
FONTS = "/usr/share/fonts/truetype/dejavu"

SUPERSAMPLE = 4  # everything is drawn this much larger and scaled down
R = 1  # the set being drawn: 1 (the layout's pixels) or 2 (twice as many each way)
S = SUPERSAMPLE * R  # drawing pixels per layout pixel


def use_set(r):
    global R, S
    R = r
    S = SUPERSAMPLE * r

W, H = 250, 200
FADERS = (4, 209)
FADER_W = 32
KNOB_H = 24
TOP0 = 77
TRAVEL = 66

INK = (226, 230, 236)
DIM = (140, 150, 162)
ACCENT = (240, 150, 40)
ACCENT_SOFT = (190, 112, 30)


def font(name, px):
    return ImageFont.truetype(os.path.join(FONTS, name), px * S)


def s(v):
    return int(round(v * S))


def box(x0, y0, x1, y1):
    return [s(x0), s(y0), s(x1) - 1, s(y1) - 1]


def vgradient(w, h, top, bottom):
    img = Image.new("RGB", (w, h))
    d = ImageDraw.Draw(img)
    for y in range(h):
        t = y / max(1, h - 1)
        d.line([(0, y), (w, y)], fill=tuple(int(a + (b - a) * t) for a, b in zip(top, bottom)))
    return img


def brushed(img, strength=6, seed=7):
    """Fine horizontal streaks, like brushed metal."""
    import random
    rnd = random.Random(seed)
    d = ImageDraw.Draw(img)
    w, h = img.size
    for y in range(0, h, 2):
        v = rnd.randint(-strength, strength)
        px = img.getpixel((w // 2, y))
        d.line([(0, y), (w, y)], fill=tuple(max(0, min(255, c + v)) for c in px))
    return img


def text(d, xy, msg, fnt, fill, anchor="la"):
    d.text((s(xy[0]), s(xy[1])), msg, font=fnt, fill=fill, anchor=anchor)


def panel_base():
    img = vgradient(W * S, H * S, (52, 56, 63), (28, 30, 35))
    return brushed(img)


def draw_fader_track(d, left, label, label_anchor, marks_side):
    cx = left + FADER_W / 2
    top = TOP0 + KNOB_H / 2  # knob centre at position 0
    bottom = TOP0 + TRAVEL + KNOB_H / 2  # ... and at position 66
    # Recessed well the knob rides in.
    d.rounded_rectangle(box(left + 1, TOP0 - 4, left + FADER_W - 1, TOP0 + TRAVEL + KNOB_H + 4),
                        radius=s(4), fill=(22, 24, 28), outline=(70, 75, 84), width=S)
    # The slot.
    d.rounded_rectangle(box(cx - 2, top - 6, cx + 2, bottom + 6), radius=s(2), fill=(6, 6, 8),
                        outline=(0, 0, 0), width=S)
    # Scale: a mark every tenth of the travel, longer at 0, 50 and 100 %.
    small = font("DejaVuSansCondensed.ttf", 7)
    for i in range(11):
        y = top + TRAVEL * i / 10
        major = i in (0, 5, 10)
        length = 7 if major else 4
        colour = INK if major else DIM
        if marks_side == "right":
            x0 = left + FADER_W + 2
            d.line([s(x0), s(y), s(x0 + length), s(y)], fill=colour, width=S)
            if major:
                text(d, (x0 + length + 2, y), str(i * 10), small, DIM, "lm")
        else:
            x1 = left - 2
            d.line([s(x1 - length), s(y), s(x1), s(y)], fill=colour, width=S)
            if major:
                text(d, (x1 - length - 2, y), str(i * 10), small, DIM, "rm")
    lab = font("DejaVuSansCondensed-Bold.ttf", 9)
    text(d, (label_anchor[0], 62), label, lab, INK, label_anchor[1])


def draw_loop_display(img, d):
    # A little screen in the middle: a recorded wave and the looped part.
    x0, y0, x1, y1 = 70, 86, 180, 150
    d.rounded_rectangle(box(x0, y0, x1, y1), radius=s(5), fill=(12, 16, 20), outline=(80, 86, 96), width=S)
    import math
    pts = []
    for i in range(0, (x1 - x0 - 10) * S):
        t = i / S
        env = 0.55 + 0.45 * math.sin(t / 17.0)
        v = math.sin(t / 2.3) * math.sin(t / 9.1 + 1.0) * env
        pts.append((s(x0 + 5) + i, s((y0 + y1) / 2) + v * s(18)))
    loop_end = s(x0 + 5 + 40)
    d.rectangle([s(x0 + 5), s(y0 + 5), loop_end, s(y1 - 5)], fill=(40, 28, 12))
    d.line([p for p in pts if p[0] >= loop_end], fill=(90, 110, 125), width=S)
    d.line([p for p in pts if p[0] <= loop_end], fill=ACCENT, width=S)
    d.line([loop_end, s(y0 + 4), loop_end, s(y1 - 4)], fill=ACCENT_SOFT, width=S)
    # Loop arrow over the looped part.
    ax0, ax1, ay = x0 + 8, x0 + 42, y0 + 11
    d.arc([s(ax0), s(ay - 4), s(ax1), s(ay + 10)], 180, 360, fill=ACCENT, width=S)
    d.polygon([(s(ax1 - 3), s(ay + 3)), (s(ax1 + 3), s(ay + 3)), (s(ax1), s(ay + 8))], fill=ACCENT)


def make_background():
    img = panel_base()
    d = ImageDraw.Draw(img)
    # Header strip with the name.
    d.rectangle(box(0, 0, W, 40), fill=(24, 26, 30))
    d.line([0, s(40), s(W), s(40)], fill=ACCENT, width=S)
    title = font("DejaVuSans-Bold.ttf", 20)
    text(d, (12, 20), "Vantorel", title, INK, "lm")
    sub = font("DejaVuSansCondensed.ttf", 8)
    text(d, (114, 15), "BUFFER LOOPER", sub, ACCENT, "lm")
    text(d, (114, 26), "by Kestrom", sub, DIM, "lm")
    draw_fader_track(d, FADERS[0], "Buff Size", (4, "ls"), "right")
    draw_fader_track(d, FADERS[1], "Volume", (241, "rs"), "left")
    draw_loop_display(img, d)
    cap = font("DejaVuSansCondensed.ttf", 7)
    text(d, (125, 160), "notes set the loop's read speed", cap, DIM, "mm")
    text(d, (125, 170), "CC1 Buff Size  \u00b7  CC7 Volume", cap, DIM, "mm")

    return img.resize((W * R, H * R), Image.LANCZOS)


def make_about():
    img = vgradient(W * S, H * S, (30, 33, 39), (16, 17, 20))
    d = ImageDraw.Draw(img)
    d.rectangle(box(0, 0, W, 34), fill=(24, 26, 30))
    d.line([0, s(34), s(W), s(34)], fill=ACCENT, width=S)
    title = font("DejaVuSans-Bold.ttf", 15)
    text(d, (10, 17), "About Vantorel", title, INK, "lm")
    body = font("DejaVuSansCondensed.ttf", 8)
    bold = font("DejaVuSansCondensed-Bold.ttf", 8)
    y = 44
    lines = [
        (bold, INK, "A buffer looper."),
        (body, INK, "While Buff Size is at 100 % it records the input"),
        (body, INK, "(mixed to mono) and passes it through. Pull it"),
        (body, INK, "down and the start of the recording plays in a"),
        (body, INK, "loop whose length follows Buff Size. Volume turns"),
        (body, INK, "the output down (at 100 % it is silent)."),
        (None, None, ""),
        (bold, ACCENT, "MIDI"),
        (body, INK, "Notes set the read speed (note 60 plays the"),
        (body, INK, "recording as it was; each octave doubles it)."),
        (body, INK, "Pitch bend scales the speed."),
        (body, INK, "CC1: Buff Size        CC7: Volume"),
    ]
    for fnt, colour, msg in lines:
        if fnt:
            text(d, (12, y), msg, fnt, colour, "lm")
        y += 10.5
    d.line([s(10), s(178), s(W - 10), s(178)], fill=(70, 75, 84), width=S)
    foot = font("DejaVuSansCondensed.ttf", 8)
    text(d, (12, 188), "Kestrom", bold, INK, "lm")
    text(d, (W - 12, 188), "Vantorel version 1", foot, DIM, "rm")
    return img.resize((W * R, H * R), Image.LANCZOS)


def make_button():
    n = 22
    img = Image.new("RGB", (n * S, n * S), (24, 26, 30))
    d = ImageDraw.Draw(img)
    d.ellipse(box(1.5, 1.5, n - 1.5, n - 1.5), fill=(58, 62, 70), outline=ACCENT, width=int(1.5 * S))
    f = font("DejaVuSerif-Bold.ttf", 13)
    text(d, (n / 2, n / 2 + 0.5), "i", f, INK, "mm")
    return img.resize((n * R, n * R), Image.LANCZOS)


KEY = (255, 0, 255)


def make_knob():
    w, h = FADER_W, KNOB_H
    cap = vgradient(w * S, h * S, (214, 218, 224), (120, 126, 136))
    # Ridges across the cap for grip, darker near the edges.
    d = ImageDraw.Draw(cap)
    for i, y in enumerate((5, 8, 16, 19)):
        d.line([s(3), s(y), s(w - 3), s(y)], fill=(96, 100, 108), width=S)
        d.line([s(3), s(y + 1), s(w - 3), s(y + 1)], fill=(236, 238, 242), width=S)
    # The centre line shows the value.
    d.rectangle(box(2, 11, w - 2, 13), fill=ACCENT)
    d.rounded_rectangle([0, 0, w * S - 1, h * S - 1], radius=s(4), outline=(40, 42, 48), width=S)
    mask = Image.new("L", (w * S, h * S), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, w * S - 1, h * S - 1], radius=s(4), fill=255)
    w, h = w * R, h * R
    cap = cap.resize((w, h), Image.LANCZOS)
    mask = mask.resize((w, h), Image.LANCZOS)
    # Transparency is all or nothing: a pixel is either the cap or the key.
    out = Image.new("RGB", (w, h), KEY)
    for y in range(h):
        for x in range(w):
            if mask.getpixel((x, y)) >= 128:
                c = cap.getpixel((x, y))
                if c == KEY:  # never happens with these colours; keep the key unique anyway
                    c = (254, 0, 254)
                out.putpixel((x, y), c)
    assert out.getpixel((0, h - 1)) == KEY, "the bottom-left pixel must be the key colour"
    return out


# ---------------------------------------------------------------------------
# The editor at a display scale, composed from the committed files the way
# the editor composes it (src/toolkit: Scale, Form, PictureControl), in whole
# numbers only, so that a window must show exactly these pixels.

# (display scale, par01 position, par02 position, About shown)
REFERENCES = [
    (1.5, 33, 66, False),
    (2, 33, 66, False),
    (3, 33, 66, False),
    (1.5, 30, 0, True),
    (3, 30, 0, True),
]


def reference_name(scale, p1, p2, about):
    return "editor-{:g}-{}-{}{}.png".format(scale, p1, p2, "-about" if about else "")


def to_pixels(c, scale):
    """A layout coordinate or length in window pixels: nearest, halves up."""
    return math.floor(c * scale + 0.5)


def taps(src, dst):
    """Each output pixel's first input pixel and whole-number weights along
    one axis, and the sum of the weights. Shrinking, an output pixel
    averages the input it covers, each input pixel weighted by how much of
    it is covered; growing, it mixes the two nearest input pixels by
    distance, and the edges repeat."""
    if dst == src:
        return [(i, [1]) for i in range(dst)], 1
    out = []
    if dst < src:
        for i in range(dst):
            lo, hi = i * src, (i + 1) * src
            j = j0 = lo // dst
            weights = []
            while j * dst < hi:
                weights.append(min(hi, (j + 1) * dst) - max(lo, j * dst))
                j += 1
            out.append((j0, weights))
        return out, src
    for i in range(dst):
        # The output pixel's centre, in input pixels from the first input
        # pixel's centre, counted in 1 / (2 dst).
        at = (2 * i + 1) * src - dst
        j0, frac = divmod(at, 2 * dst) if at > 0 else (0, 0)
        if j0 >= src - 1:
            j0, frac = src - 1, 0
        out.append((j0, [2 * dst - frac, frac] if frac else [2 * dst]))
    return out, 2 * dst


def resample(img, size, key=None):
    """img at size. With a key colour, key pixels are holes: an output pixel
    is a hole where less than half of what it covers is picture, else the
    average of the picture it covers."""
    sw, sh = img.size
    dw, dh = size
    xt, xn = taps(sw, dw)
    yt, yn = taps(sh, dh)
    pixels = list(img.getdata())
    if key is None:
        planes = [[p[c] for p in pixels] for c in range(3)]
    else:
        alpha = [0 if p == key else 1 for p in pixels]
        planes = [[p[c] * a for p, a in zip(pixels, alpha)] for c in range(3)] + [alpha]
    out = []
    for plane in planes:
        rows = []
        for y in range(sh):
            row = plane[y * sw:(y + 1) * sw]
            rows.append([sum(w * row[j0 + k] for k, w in enumerate(ws)) for j0, ws in xt])
        sums = []
        for j0, ws in yt:
            acc = [0] * dw
            for k, w in enumerate(ws):
                acc = [a + w * v for a, v in zip(acc, rows[j0 + k])]
            sums.extend(acc)
        out.append(sums)
    n = xn * yn
    result = Image.new("RGB", size)
    if key is None:
        result.putdata([tuple((v + n // 2) // n for v in px) for px in zip(*out)])
        return result
    data = []
    for r, g, b, a in zip(*out):
        if 2 * a < n:
            data.append(key)
            continue
        c = ((r + a // 2) // a, (g + a // 2) // a, (b + a // 2) // a)
        data.append(c if c != key else (c[0], c[1], c[2] ^ 1))
    result.putdata(data)
    return result


def compose(scale, p1, p2, about, pictures):
    """What the editor window shows at scale with the knobs at positions p1
    and p2 and the About view shown or not. pictures: name -> (1x, 2x)."""
    def px(n):
        return n if scale == 1 else to_pixels(n, scale)

    frame = Image.new("RGB", (px(W), px(H - 1)), (0, 0, 0))
    # The layout, bottom of the z-order first: picture, left, top, width,
    # height, key-colour transparency.
    layout = [
        ("background", 0, 0, W, H - 1, False),
        ("knob", FADERS[0], TOP0 + p1, FADER_W, KNOB_H, True),
        ("knob", FADERS[1], TOP0 + p2, FADER_W, KNOB_H, True),
        ("about", 0 if about else 401, 0, 400, 250, False),
        ("about_button", 224, 6, 22, 22, False),
    ]
    for name, left, top, width, height, keyed in layout:
        one, two = pictures[name]
        key = one.getpixel((0, one.size[1] - 1)) if keyed else None
        pic = one
        if scale != 1:
            want = (px(one.size[0]), px(one.size[1]))
            pic = two if two.size == want else resample(two, want, key)
        x0, y0 = px(left), px(top)
        clip = (max(x0, 0), max(y0, 0), min(x0 + px(width), x0 + pic.size[0], frame.size[0]),
                min(y0 + px(height), y0 + pic.size[1], frame.size[1]))
        if clip[2] <= clip[0] or clip[3] <= clip[1]:
            continue
        part = pic.crop((clip[0] - x0, clip[1] - y0, clip[2] - x0, clip[3] - y0))
        mask = None
        if keyed:
            mask = Image.new("L", part.size)
            mask.putdata([0 if p == key else 255 for p in part.getdata()])
        frame.paste(part, clip[:2], mask)
    return frame


def write_references(folder):
    def load(name, suffix):
        ext = ".bmp" if name == "knob" else ".jpg"
        with Image.open(os.path.join(OUT, name + suffix + ext)) as img:
            return img.convert("RGB")

    names = ("background", "knob", "about", "about_button")
    pictures = {name: (load(name, ""), load(name, "-2x")) for name in names}
    os.makedirs(folder, exist_ok=True)
    for scale, p1, p2, about in REFERENCES:
        # The factor as a host sends it: a 32-bit float.
        f = struct.unpack("f", struct.pack("f", scale))[0]
        path = os.path.join(folder, reference_name(scale, p1, p2, about))
        compose(f, p1, p2, about, pictures).save(path + ".tmp", "PNG")
        os.replace(path + ".tmp", path)


def draw_set(r):
    use_set(r)
    suffix = "" if r == 1 else "-{}x".format(r)
    jpeg = dict(quality=93, subsampling=0, progressive=False, optimize=False)
    if r != 1:
        # Still baseline JFIF, a little smaller: the 32-bit module carries
        # both sets and stays within 512 KiB.
        jpeg = dict(quality=90, subsampling=0, progressive=False, optimize=True)
    make_background().save(os.path.join(OUT, "background" + suffix + ".jpg"), "JPEG", **jpeg)
    make_about().save(os.path.join(OUT, "about" + suffix + ".jpg"), "JPEG", **jpeg)
    make_button().save(os.path.join(OUT, "about_button" + suffix + ".jpg"), "JPEG", **jpeg)
    make_knob().save(os.path.join(OUT, "knob" + suffix + ".bmp"), "BMP")


def main(argv):
    if len(argv) == 3 and argv[1] == "--references":
        write_references(argv[2])
        return 0
    if len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    os.makedirs(OUT, exist_ok=True)
    draw_set(1)
    draw_set(2)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

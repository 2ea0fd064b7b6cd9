"""The main window as a user sees it, measured on a screenshot of the real program under a
window manager: the classic group frames with the caption on the border line and a white
interior, flat light grey button faces with a raised edge, the check boxes' backgrounds, a
bold "Start Encoding", nothing clipped, and message box titles shown in full. Then the same at
twice the pixel density, where the window is 800 x 734 and the splash picture is drawn sharp.

Usage: look-check.py BIN_DIR [SCREENSHOT_DIR]"""

import collections
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import check, check_title_in_full, run_checks, wait_for  # noqa: E402

WHITE = (255, 255, 255)
BUTTON_FACE = (224, 224, 224)
# The window colour of the desktop's palette; with no desktop theme, Qt's own.
SYSTEM_WINDOW = (239, 239, 239)
EDGE_DARK = (128, 128, 128)
EDGE_SHADOW = (64, 64, 64)
BLACK = (0, 0, 0)


def read_layout():
    """The window's layout in twips, as the window's unit test reads it too: (name, kind, frame,
    left, top, width, height) a control."""
    table = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui",
                         "window-layout.txt")
    rows = []
    with open(table, encoding="utf-8") as lines:
        for line in lines:
            if not line.strip() or line.startswith("#"):
                continue
            name, kind, frame, *numbers = line.split()
            rows.append((name, kind, None if frame == "-" else frame, *map(int, numbers)))
    return rows


LAYOUT = read_layout()


def pixels(twips, scale):
    return round(twips / 15) * scale


def layout(scale):
    """Each control's kind, frame and rectangle in the window's device pixels."""
    controls = {}
    for name, kind, frame, left, top, width, height in LAYOUT:
        x, y = pixels(left, scale), pixels(top, scale)
        if frame:
            x, y = x + controls[frame][2][0], y + controls[frame][2][1]
        controls[name] = (kind, frame, (x, y, pixels(width, scale), pixels(height, scale)))
    return controls


def luminance(colour):
    r, g, b = colour
    return 0.299 * r + 0.587 * g + 0.114 * b


def is_red(colour):
    r, g, b = colour
    return r > 120 and g < 110 and b < 110 and r - g > 60


def points(rect, inset=0):
    x, y, w, h = rect
    for yy in range(y + inset, y + h - inset):
        for xx in range(x + inset, x + w - inset):
            yield xx, yy


def dominant(image, rect, inset=0):
    return collections.Counter(image.pixel(x, y) for x, y in points(rect, inset)).most_common(1)[0][0]


def ink(image, rect, inset, threshold=112):
    return {(x, y) for x, y in points(rect, inset) if luminance(image.pixel(x, y)) < threshold}


def stroke_width(marks):
    """Twice the area over the outline: the width of a long thin stroke, whatever the letters."""
    outline = sum(1 for x, y in marks
                  for n in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)) if n not in marks)
    return 2 * len(marks) / outline


def check_frame(image, name, rect, children, scale):
    x, y, w, h = rect
    probe = x + w - 6 * scale
    # The border's top line: the first row from the top that is drawn in the frame's grey.
    border = next((yy for yy in range(y, y + 20 * scale) if image.pixel(probe, yy) == EDGE_DARK),
                  None)
    check(border is not None, "%s: no top border line" % name)
    check(border - y <= 10 * scale,
          "%s: the top border is %d px below the frame's top, not on the caption" % (name, border - y))
    row = [image.pixel(xx, border) == EDGE_DARK for xx in range(x + 1, x + w - 1)]
    gaps, start = [], None
    for i, on_line in enumerate(row + [True]):
        if not on_line and start is None:
            start = i
        if on_line and start is not None:
            gaps.append((x + 1 + start, x + 1 + i))
            start = None
    check(len(gaps) == 1, "%s: the border line is broken %d times, not once" % (name, len(gaps)))
    gap_left, gap_right = gaps[0]
    check(3 * scale <= gap_left - x <= 14 * scale,
          "%s: the caption starts %d px from the frame's edge" % (name, gap_left - x))
    red = [(xx, yy) for xx in range(x, x + w) for yy in range(y, border + 8 * scale)
           if is_red(image.pixel(xx, yy))]
    check(red, "%s: no dark red caption" % name)
    check(all(gap_left <= xx < gap_right for xx, _ in red),
          "%s: the caption's letters stand outside the break in the border" % name)
    check(min(yy for _, yy in red) < border < max(yy for _, yy in red),
          "%s: the caption does not stand on the border line" % name)
    check(image.pixel(x, border + 8 * scale) == EDGE_DARK, "%s: no left border" % name)
    for child, (_, _, (cx, cy, cw, ch)) in children.items():
        check(cy > border + scale, "%s: %s sits on the border line" % (name, child))
    # White everywhere inside that no control covers.
    inside = (x + 2 * scale, border + 2 * scale, w - 4 * scale, y + h - border - 4 * scale)
    caption = (gap_left, y, gap_right - gap_left, max(yy for _, yy in red) - y + 2)
    covered = [c[2] for c in children.values()] + [caption]
    stray = [(xx, yy) for xx, yy in points(inside)
             if not any(cx <= xx < cx + cw and cy <= yy < cy + ch for cx, cy, cw, ch in covered)
             and image.pixel(xx, yy) != WHITE]
    check(not stray, "%s: the interior is not white at %s: %s" %
          (name, stray[:1], image.pixel(*stray[0]) if stray else ""))


def visible_part(rect, controls, name):
    """The rectangle less what a control to its right covers ("Sampling Frequency:" reaches a
    pixel under its list)."""
    x, y, w, h = rect
    right = x + w
    for other, (kind, _, (ox, oy, ow, oh)) in controls.items():
        if other != name and kind != "frame" and x < ox < right and oy < y + h and y < oy + oh:
            right = ox
    return (x, y, right - x, h)


def check_unclipped(image, name, rect, scale):
    """Text cut off by its control leaves ink in the control's last column or row."""
    x, y, w, h = rect
    marks = ink(image, rect, 0, threshold=160)
    check(marks, "%s shows no text" % name)
    check(not any(xx == x + w - 1 for xx, _ in marks), "%s: its text is cut off on the right" % name)
    check(not any(yy == y + h - 1 for _, yy in marks), "%s: its text is cut off at the bottom" % name)


def check_raised_edge(image, name, rect):
    """The classic raised edge, outside in: white then the face on the lit sides, shadow then
    dark grey on the shaded sides."""
    x, y, w, h = rect
    mx, my = x + w // 2, y + h // 2
    found = {
        "left": (image.pixel(x, my), image.pixel(x + 1, my)),
        "top": (image.pixel(mx, y), image.pixel(mx, y + 1)),
        "right": (image.pixel(x + w - 1, my), image.pixel(x + w - 2, my)),
        "bottom": (image.pixel(mx, y + h - 1), image.pixel(mx, y + h - 2)),
    }
    expected = {"left": (WHITE, BUTTON_FACE), "top": (WHITE, BUTTON_FACE),
                "right": (EDGE_SHADOW, EDGE_DARK), "bottom": (EDGE_SHADOW, EDGE_DARK)}
    for side in expected:
        check(found[side] == expected[side], "%s: the %s edge is %s, not %s" %
              (name, side, found[side], expected[side]))


def check_window(image, scale):
    controls = layout(scale)
    check((image.width, image.height) == (400 * scale, 367 * scale),
          "the window is %dx%d" % (image.width, image.height))
    check(dominant(image, (0, 0, 6 * scale, 367 * scale)) == WHITE, "the window is not white")
    for name, (kind, frame, rect) in controls.items():
        if kind == "frame":
            children = {n: c for n, c in controls.items() if c[1] == name}
            check_frame(image, name, rect, children, scale)
        elif kind == "label":
            check(dominant(image, rect) == WHITE, "%s is not on white" % name)
            check_unclipped(image, name, visible_part(rect, controls, name), scale)
        elif kind == "display":
            x, y, w, h = rect
            check(dominant(image, rect) == BUTTON_FACE, "%s is not light grey" % name)
            check(image.pixel(x, y + h // 2) == BLACK and image.pixel(x + w // 2, y) == BLACK,
                  "%s has no single-line border" % name)
        elif kind == "button":
            check(dominant(image, rect, 4 * scale) == BUTTON_FACE,
                  "%s: the face is %s" % (name, dominant(image, rect, 4 * scale)))
            check_raised_edge(image, name, rect)
            x, y, w, h = rect
            # Inside the edges and the focus frame.
            check_unclipped(image, name, (x + 5 * scale, y + 5 * scale, w - 10 * scale,
                                          h - 10 * scale), scale)
        elif kind == "check":
            expected = SYSTEM_WINDOW if name == "chkDeInterlace" else WHITE
            check(dominant(image, rect) == expected,
                  "%s is on %s, not %s" % (name, dominant(image, rect), expected))
            check_unclipped(image, name, rect, scale)
        elif kind == "list":
            x, y, w, h = rect
            field = (x + 3 * scale, y + 3 * scale, w - 22 * scale, h - 6 * scale)
            check(dominant(image, field) == WHITE, "%s: the field is not white" % name)
    bold = stroke_width(ink(image, controls["cmdEncode"][2], 5 * scale))
    regular = min(stroke_width(ink(image, controls[n][2], 5 * scale))
                  for n in ("cmdInput", "cmdOutput"))
    check(bold >= 1.3 * regular,
          "Start Encoding is not bold: strokes %.2f px against %.2f px" % (bold, regular))
    return bold, regular


def painted(image):
    whites = sum(1 for x, y in points((0, 0, image.width, image.height), 0)
                 if image.pixel(x, y) == WHITE)
    return image if whites > image.width * image.height // 3 else None


def check_sharp_splash(image):
    """Drawn at twice the density, edges fall inside pairs of device pixels too; a picture
    drawn for one density and enlarged changes only between pairs."""
    inside, between = 0, 0
    for y in range(image.height):
        for x in range(2, image.width - 3):
            if abs(luminance(image.pixel(x, y)) - luminance(image.pixel(x + 1, y))) > 100:
                if x % 2 == 0:
                    inside += 1
                else:
                    between += 1
    check(inside > 200 and inside > 0.25 * (inside + between),
          "the splash picture is enlarged, not drawn sharp (%d of %d edges within pixel pairs)"
          % (inside, inside + between))


def run(desktop, bin_dir, scale, shots):
    program = desktop.start(os.path.join(bin_dir, "quillora"), QT_SCALE_FACTOR=str(scale))
    main = wait_for(lambda: next(iter(desktop.windows(program.pid)), None))
    check(main and desktop.title(main) == "Quillora", "the main window did not appear")
    splash = wait_for(lambda: next((w for w in desktop.windows(program.pid) if w != main), None),
                      timeout=5)
    check(splash, "no splash window")
    check(desktop.rect(splash)[2:] == (301 * scale, 152 * scale),
          "the splash window is %dx%d" % desktop.rect(splash)[2:])
    # Once painted, the picture is mostly its white background.
    splash_image = wait_for(lambda: painted(desktop.grab(desktop.rect(splash))), timeout=2)
    check(splash_image, "the splash window shows no picture")
    if scale == 2:
        check_sharp_splash(splash_image)
    check(wait_for(lambda: len(desktop.windows(program.pid)) == 1, timeout=10),
          "the splash window did not close")
    time.sleep(0.3)
    window = desktop.grab(desktop.rect(main))
    if shots:
        suffix = "" if scale == 1 else "@%dx" % scale
        window.save_png(os.path.join(shots, "window%s.png" % suffix))
        splash_image.save_png(os.path.join(shots, "splash%s.png" % suffix))
    bold, regular = check_window(window, scale)
    print("scale %d: classic frames, faces and backgrounds; strokes %.2f px bold, %.2f px regular"
          % (scale, bold, regular))

    # With nothing chosen, Start Encoding reports it; a close request asks first.
    desktop.keys(main, "alt+e")
    box = desktop.find("Error", pid=program.pid)
    check_title_in_full(desktop, box, "Error")
    desktop.activate(box)
    desktop.keys(box, "Return")
    check(desktop.gone(box), "Error stayed open")
    desktop.request_close(main)
    box = desktop.find("Confirm", pid=program.pid)
    if shots and scale == 1:
        x, y, w, h = desktop.rect(main)
        left, right, top, bottom = desktop.frame_extents(main)
        desktop.grab((x - left - 20, y - top - 20, w + left + right + 40,
                      h + top + bottom + 40)).save_png(os.path.join(shots, "confirm.png"))
    check_title_in_full(desktop, box, "Confirm")
    desktop.activate(box)
    desktop.keys(box, "Escape")
    check(desktop.gone(box), "Confirm stayed open")
    check(program.poll() is None, "answering No ended the program")

    # A box takes its answer the moment it holds the keyboard: one Return, sent with no pause.
    desktop.keys(main, "alt+e")
    box = desktop.find("Error", pid=program.pid)
    check(wait_for(lambda: desktop.focused() == box.id, timeout=10, interval=0.005),
          "the Error box did not get the keyboard")
    subprocess.run(["xdotool", "key", "Return"], check=True)
    check(desktop.gone(box, timeout=5), "Return sent as the box got the keyboard was lost")
    program.kill()
    program.wait()


def main():
    bin_dir = sys.argv[1]
    shots = sys.argv[2] if len(sys.argv) > 2 else None

    def checks(desktop):
        run(desktop, bin_dir, 1, shots)
        run(desktop, bin_dir, 2, shots)
    return run_checks(checks, "the classic look, at one and at two device pixels per pixel")


if __name__ == "__main__":
    sys.exit(main())

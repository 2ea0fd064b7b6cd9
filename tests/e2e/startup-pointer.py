"""The pointer during start-up, as the screen shows it: the hourglass over the main window and
over the splash window while the splash is up, and the ordinary arrow once it has closed. The
pictures are compared with the cursor theme's own "watch" and "left_ptr" images.

Usage: startup-pointer.py BIN_DIR"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import check, run_checks, wait_for  # noqa: E402

THEME = "Adwaita"
SIZE = 24
IMAGE_CHUNK = 0xFFFD0002


def theme_pictures(name):
    """Every image of one size in the theme's cursor file (an animated cursor has several),
    as (hot spot, size, ARGB pixels) like the screen reports them."""
    path = os.path.join("/usr/share/icons", THEME, "cursors", name)
    check(os.path.exists(path), "the %s cursor theme has no %r cursor" % (THEME, name))
    with open(path, "rb") as f:
        data = f.read()
    magic, _, _, count = struct.unpack_from("<4sIII", data, 0)
    check(magic == b"Xcur", "%s is no cursor file" % path)
    pictures = []
    for i in range(count):
        kind, nominal, position = struct.unpack_from("<III", data, 16 + 12 * i)
        if kind != IMAGE_CHUNK or nominal != SIZE:
            continue
        _, _, _, _, width, height, xhot, yhot, _ = struct.unpack_from("<9I", data, position)
        pixels = struct.unpack_from("<%dI" % (width * height), data, position + 36)
        pictures.append(((xhot, yhot), (width, height), pixels))
    check(pictures, "the %r cursor has no %d pixel images" % (name, SIZE))
    return pictures


def pointer_over(desktop, x, y, shape, what):
    name, pictures = shape
    desktop.move_pointer(x, y)
    shown = wait_for(lambda: desktop.pointer_picture() in pictures, timeout=0.6, interval=0.02)
    hot, size, _ = desktop.pointer_picture()
    check(shown, "the pointer over %s is not the %s (hot spot %s, %dx%d)" %
          (what, name, hot, *size))


def run(desktop, bin_dir):
    hourglass = ("hourglass", theme_pictures("watch"))
    arrow = ("arrow", theme_pictures("left_ptr"))
    program = desktop.start(os.path.join(bin_dir, "quillora"), XCURSOR_THEME=THEME,
                            XCURSOR_SIZE=str(SIZE))
    main = wait_for(lambda: next(iter(desktop.windows(program.pid)), None))
    check(main, "the main window did not appear")
    splash = wait_for(lambda: next((w for w in desktop.windows(program.pid) if w != main), None),
                      timeout=5)
    check(splash, "no splash window")
    mx, my, mw, mh = desktop.rect(main)
    sx, sy, sw, sh = desktop.rect(splash)
    # Over the main window beside the splash (the encode button), then over the splash.
    pointer_over(desktop, mx + 20, my + mh - 15, hourglass, "the main window")
    pointer_over(desktop, sx + sw // 2, sy + sh // 2, hourglass, "the splash window")
    pointer_over(desktop, mx + mw - 20, my + 40, hourglass, "the main window's display field")
    check(len(desktop.windows(program.pid)) == 2, "the splash closed during the checks")

    check(wait_for(lambda: len(desktop.windows(program.pid)) == 1, timeout=10),
          "the splash window did not close")
    pointer_over(desktop, mx + 20, my + mh - 15, arrow, "the main window after start-up")
    pointer_over(desktop, sx + sw // 2, sy + sh // 2, arrow, "where the splash stood")
    program.kill()
    program.wait()


if __name__ == "__main__":
    sys.exit(run_checks(lambda desktop: run(desktop, sys.argv[1]),
                        "the hourglass over both windows during the splash, the arrow after it"))

"""The real program on a user's desktop: an X display with a window manager, the program's
windows found by their titles, the screen read back as pixels and the pointer's picture.

Runs inside on-desktop.sh, which provides the X display and a session bus."""

import os
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

from Xlib import X, Xatom, display
from Xlib.ext import xfixes  # noqa: F401 (adds the pointer picture requests)
from Xlib.protocol import event


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run_checks(checks, passed):
    """Runs checks(desktop) on a desktop of its own and reports as a test does: PASS and 0, or
    FAIL with the reason and 1."""
    desktop = Desktop()
    try:
        checks(desktop)
    except Failure as failure:
        print("FAIL:", failure)
        return 1
    finally:
        desktop.close()
    print("PASS:", passed)
    return 0


class Image:
    """Pixels as the screen shows them, rows of 32-bit BGRX values."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def pixel(self, x, y):
        i = (y * self.width + x) * 4
        return (self.data[i + 2], self.data[i + 1], self.data[i])

    def crop(self, x, y, width, height):
        rows = [self.data[((y + r) * self.width + x) * 4:((y + r) * self.width + x + width) * 4]
                for r in range(height)]
        return Image(width, height, b"".join(rows))

    def save_png(self, path):
        raw = bytearray()
        for y in range(self.height):
            raw.append(0)
            row = self.data[y * self.width * 4:(y + 1) * self.width * 4]
            for i in range(0, len(row), 4):
                raw += bytes((row[i + 2], row[i + 1], row[i]))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 6)))
            f.write(chunk(b"IEND", b""))


def wait_for(what, timeout=20.0, interval=0.05):
    """Polls what() until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = what()
        if result:
            return result
        if time.monotonic() > deadline:
            return result
        time.sleep(interval)


class Desktop:
    def __init__(self):
        self.display = display.Display()
        self.root = self.display.screen().root
        self.atom = lambda name: self.display.intern_atom(name)
        self.window_manager = subprocess.Popen(["openbox", "--sm-disable"],
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        check(wait_for(lambda: self.root.get_full_property(
            self.atom("_NET_SUPPORTING_WM_CHECK"), Xatom.WINDOW)), "openbox did not start")
        self.display.xfixes_query_version()
        self.programs = []
        self.runtime = tempfile.mkdtemp(prefix="quillora-desktop-")

    def close(self):
        for program in self.programs:
            if program.poll() is None:
                program.kill()
                program.wait()
        self.window_manager.terminate()
        self.window_manager.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)

    def start(self, program, cwd=None, **environment):
        """Starts a program as a user would: on this display, with no test platform set."""
        env = dict(os.environ)
        env.pop("QT_QPA_PLATFORM", None)
        env["XDG_RUNTIME_DIR"] = os.path.join(self.runtime, "run-%d" % len(self.programs))
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        env.update(environment)
        process = subprocess.Popen([os.path.abspath(program)], cwd=cwd or self.runtime, env=env)
        self.programs.append(process)
        return process

    # Windows

    def windows(self, pid=None):
        """The windows the window manager manages, oldest first, with their titles."""
        listed = self.root.get_full_property(self.atom("_NET_CLIENT_LIST"), Xatom.WINDOW)
        result = []
        for wid in (listed.value if listed else []):
            window = self.display.create_resource_object("window", wid)
            try:
                if window.get_attributes().map_state != X.IsViewable:
                    continue
                if pid is not None:
                    owner = window.get_full_property(self.atom("_NET_WM_PID"), Xatom.CARDINAL)
                    if not owner or owner.value[0] != pid:
                        continue
                result.append(window)
            except Exception:  # the window went away meanwhile
                continue
        return result

    def title(self, window):
        name = window.get_full_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"))
        return name.value.decode("utf-8") if name else ""

    def find(self, title, timeout=20.0, pid=None):
        """The visible window titled exactly title, waiting for it."""
        def look():
            matches = [w for w in self.windows(pid) if self.title(w) == title]
            return matches[-1] if matches else None
        window = wait_for(look, timeout)
        check(window, "no window titled %r appeared" % title)
        return window

    def gone(self, window, timeout=20.0):
        """Waits until this very window is no longer shown, and says whether it went. A title is
        no test of that: the next box may share it, and open before a second look."""
        return wait_for(lambda: all(w.id != window.id for w in self.windows()), timeout)

    def rect(self, window):
        """The window's client area in screen coordinates."""
        geometry = window.get_geometry()
        origin = window.translate_coords(self.root, 0, 0)
        return (-origin.x, -origin.y, geometry.width, geometry.height)

    def frame_extents(self, window):
        extents = window.get_full_property(self.atom("_NET_FRAME_EXTENTS"), Xatom.CARDINAL)
        return tuple(extents.value) if extents else (0, 0, 0, 0)

    def request_close(self, window):
        """What the title bar's close box does."""
        message = event.ClientMessage(window=window, client_type=self.atom("WM_PROTOCOLS"),
                                      data=(32, [self.atom("WM_DELETE_WINDOW"), X.CurrentTime,
                                                 0, 0, 0]))
        window.send_event(message)
        self.display.flush()

    def make_window(self, title, width, height):
        """A plain window of our own, which the window manager frames like any other."""
        window = self.root.create_window(100, 100, width, height, 0,
                                         self.display.screen().root_depth,
                                         background_pixel=self.display.screen().white_pixel)
        self.set_title(window, title)
        window.map()
        self.display.flush()
        return window

    def set_title(self, window, title):
        window.change_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"), 8,
                               title.encode("utf-8"))
        window.change_property(Xatom.WM_NAME, Xatom.STRING, 8, title.encode("latin-1"))
        self.display.flush()

    def activate(self, window):
        message = event.ClientMessage(window=window, client_type=self.atom("_NET_ACTIVE_WINDOW"),
                                      data=(32, [2, X.CurrentTime, 0, 0, 0]))
        self.root.send_event(message, event_mask=X.SubstructureRedirectMask |
                             X.SubstructureNotifyMask)
        self.display.flush()

    def active(self):
        active = self.root.get_full_property(self.atom("_NET_ACTIVE_WINDOW"), Xatom.WINDOW)
        return active.value[0] if active else 0

    def focused(self):
        """The window that holds the keyboard."""
        return self.display.get_input_focus().focus.id

    # Input

    def keys(self, window, *keys):
        subprocess.run(["xdotool", "windowfocus", "--sync", str(window.id)], check=True)
        subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], check=True)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "10", text], check=True)

    def move_pointer(self, x, y):
        self.root.warp_pointer(x, y)
        self.display.sync()

    def pointer_picture(self):
        """The pointer's hot spot and its pixels as the screen shows it now."""
        picture = self.display.xfixes_get_cursor_image(self.root)
        return ((picture.xhot, picture.yhot), (picture.width, picture.height),
                tuple(picture.cursor_image))

    # Screen

    def shot(self, path, margin=12):
        """The screen around every window shown, frames and all, as a PNG."""
        boxes = []
        for window in self.windows():
            x, y, w, h = self.rect(window)
            left, right, top, bottom = self.frame_extents(window)
            boxes.append((x - left, y - top, x + w + right, y + h + bottom))
        screen = self.root.get_geometry()
        x0 = max(0, min(b[0] for b in boxes) - margin)
        y0 = max(0, min(b[1] for b in boxes) - margin)
        x1 = min(screen.width, max(b[2] for b in boxes) + margin)
        y1 = min(screen.height, max(b[3] for b in boxes) + margin)
        self.grab((x0, y0, x1 - x0, y1 - y0)).save_png(path)

    def grab(self, rect):
        x, y, width, height = rect
        reply = self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF)
        return Image(width, height, reply.data)


def title_bar(desktop, window):
    x, y, w, _ = desktop.rect(window)
    left, right, top, _ = desktop.frame_extents(window)
    return desktop.grab((x - left, y - top, w + left + right, top - 1))


def check_title_in_full(desktop, window, title):
    """The box's title bar shows the title as a wide window's title bar shows it."""
    if desktop.active() != window.id:
        desktop.activate(window)
    wait_for(lambda: desktop.active() == window.id, timeout=5)
    time.sleep(0.2)
    shown = title_bar(desktop, window)
    reference = desktop.make_window(title, 600, 80)
    try:
        wait_for(lambda: desktop.frame_extents(reference)[2] > 0 and
                 desktop.active() == reference.id, timeout=5)
        time.sleep(0.3)
        with_title = title_bar(desktop, reference)
        desktop.set_title(reference, " ")
        time.sleep(0.3)
        without = title_bar(desktop, reference)
    finally:
        reference.destroy()
        desktop.display.flush()
    letters = [(x, y) for y in range(with_title.height) for x in range(with_title.width)
               if max(abs(a - b) for a, b in zip(with_title.pixel(x, y), without.pixel(x, y))) > 96]
    check(letters, "the reference window shows no title")
    x0 = min(x for x, _ in letters)
    height = min(shown.height, with_title.height)
    letters = [(x - x0, y) for x, y in letters if y < height]
    width = max(x for x, _ in letters) + 1
    for offset in range(0, shown.width - width):
        if all(max(abs(a - b) for a, b in zip(shown.pixel(offset + x, y),
                                                with_title.pixel(x0 + x, y))) <= 40
               for x, y in letters):
            return
    raise Failure("the title bar of %r does not show its title in full" % title)

"""What a screen reader reads of the real program, through AT-SPI: every control by the name
of its caption, with its role, its description (the unit) and its text, the two display fields
with the chosen paths, and the message boxes with their messages; and the same tree after a
whole conversion, although the screen reader tried to change the window during it.

Usage: accessibility.py BIN_DIR [SCREENSHOT_DIR]
With a screenshot folder it also takes the README's pictures, from a longer clip."""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import check, check_title_in_full, run_checks, wait_for  # noqa: E402

import gi  # noqa: E402
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402

# What the main window reads as, in reading order: role, name, description, text (None where
# the object has no text). The display fields' and the file name's texts are filled in.
MAIN_WINDOW = [
    ("frame", "Quillora", "", None),
    ("panel", "Source Video:", "", None),
    ("push button", "Input File", "", None),
    ("label", "Source video", "", "{source}"),
    ("push button", "Output Folder", "", None),
    ("label", "Output folder", "", "{folder}"),
    ("label", "Output File Name:", "", None),
    ("text", "Output File Name:", "", "{name}"),
    ("panel", "Video Encoding Options", "", None),
    ("label", "Video Window:", "", None),
    ("combo box", "Video Window:", "Pixels", "240x180"),
    ("label", "Pixels", "", None),
    ("label", "Video Bitrate:", "", None),
    ("combo box", "Video Bitrate:", "Kbps", "468"),
    ("label", "Kbps", "", None),
    ("check box", "De - Interlace", "", None),
    ("panel", "Audio Encoding Options", "", None),
    ("label", "Sampling Frequency:", "", None),
    ("combo box", "Sampling Frequency:", "Hz", "22050"),
    ("label", "Hz", "", None),
    ("label", "Audio Bitrate:", "", None),
    ("combo box", "Audio Bitrate:", "Kbps", "48"),
    ("label", "Kbps", "", None),
    ("label", "Channels:", "", None),
    ("combo box", "Channels:", "", "Mono"),
    ("check box", "Disable Audio", "", None),
    ("push button", "Start Encoding", "", None),
]


def text_of(accessible):
    try:
        return accessible.queryText().getText(0, -1)
    except NotImplementedError:
        return None


def read(accessible):
    """What a screen reader finds showing, depth first, as (role, name, description, text,
    focusable, labelled by)."""
    states = accessible.getState()
    if not states.contains(pyatspi.STATE_SHOWING):
        return []
    labels = sorted(relation.getTarget(i).name for relation in accessible.getRelationSet()
                    if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
                    for i in range(relation.getNTargets()))
    found = [(accessible.getRoleName(), accessible.name, accessible.description,
              text_of(accessible), states.contains(pyatspi.STATE_FOCUSABLE), tuple(labels))]
    for i in range(accessible.childCount):
        found += read(accessible.getChildAtIndex(i))
    return found


class Announcements:
    """Text changes as the program announces them to screen readers."""

    def __init__(self):
        self.heard = []
        pyatspi.Registry.registerEventListener(self.hear, "object:text-changed:insert")

    def hear(self, event):
        self.heard.append((event.source.name, event.any_data))

    def wait(self, name, text, timeout=5.0):
        context = GLib.MainContext.default()
        deadline = time.monotonic() + timeout
        while (name, text) not in self.heard and time.monotonic() < deadline:
            while context.iteration(False):
                pass
            time.sleep(0.02)
        check((name, text) in self.heard,
              "%r was not announced for %r; heard %s" % (text, name, self.heard))


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            # Read what the program shows now, not what an earlier look kept.
            app.set_cache_mask(Atspi.Cache.NONE)
            return app
    return None


def top_levels(app, role=None):
    return [app.getChildAtIndex(i) for i in range(app.childCount)
            if app.getChildAtIndex(i) is not None and
            (role is None or app.getChildAtIndex(i).getRoleName() == role)]


def main_window(app):
    frames = top_levels(app, "frame")
    check(len(frames) == 1, "%d main windows" % len(frames))
    return read(frames[0])


def check_main_window(tree, source, folder, name):
    expected = [(role, label, description,
                 text.format(source=source, folder=folder, name=name) if text else text)
                for role, label, description, text in MAIN_WINDOW]
    found = [entry[:4] for entry in tree]
    for i, (want, got) in enumerate(zip(expected, found)):
        check(want == got, "object %d reads as %s, not %s" % (i, got, want))
    check(len(found) == len(expected),
          "%d objects showing, not %d: %s" % (len(found), len(expected), found[len(expected):]))
    for role, label, _, _, focusable, labelled_by in tree:
        if focusable:
            check(label, "a focusable %s has no name" % role)
        if role in ("text", "combo box"):
            check(label in labelled_by, "%s is not labelled by its caption" % label)


def check_alert(app, title, message):
    alerts = wait_for(lambda: [a for a in top_levels(app, "alert") if a.name == title])
    check(alerts, "no %r alert with %r" % (title, message))
    alert = alerts[0]
    check(alert.description == message,
          "the %r alert's description is %r" % (title, alert.description))
    labels = [entry for entry in read(alert) if entry[0] == "label"]
    check(any(entry[1] == message for entry in labels),
          "the %r alert shows no %r label" % (title, message))


def find(root, role, name):
    """The object of that role and name under root, depth first."""
    if root.getRoleName() == role and root.name == name:
        return root
    for i in range(root.childCount):
        found = find(root.getChildAtIndex(i), role, name)
        if found:
            return found
    return None


def do(root, role, name, action):
    """Does a control's action as a screen reader's user does."""
    control = find(root, role, name)
    check(control, "no %s %r" % (role, name))
    actions = control.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    check(action in names, "%r has no %s action: %s" % (name, action, names))
    actions.doAction(names.index(action))


def press(root, name):
    do(root, "push button", name, "Press")


def set_file_name(root, text):
    find(root, "text", "Output File Name:").queryEditableText().setTextContents(text)


def change_the_window(root):
    """What a screen reader's user may try while the encoder's message is read, before the
    metadata step reads the window: each is refused, so that the metadata step names the
    file that was encoded."""
    set_file_name(root, "Changed.flv")
    do(root, "check box", "Disable Audio", "Toggle")
    press(root, "Input File")


def answer(desktop, pid, title, message, app, shot=None, meanwhile=None):
    box = desktop.find(title, pid=pid, timeout=60)
    if shot:
        time.sleep(0.3)
        shot()
    check_alert(app, title, message)
    if meanwhile:
        meanwhile()
    check_title_in_full(desktop, box, title)
    desktop.activate(box)
    desktop.keys(box, "Return")
    check(desktop.gone(box), "%r with %r stayed open" % (title, message))


def run(desktop, bin_dir, work, shots):
    def shot(name):
        return (lambda: desktop.shot(os.path.join(shots, name + ".png"))) if shots else None

    source = os.path.join(work, "Clip one.avi")
    folder = os.path.join(work, "Out folder")
    os.makedirs(folder)
    subprocess.run(["/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                    "testsrc=size=%s:rate=25" % ("640x480" if shots else "160x120"),
                    "-f", "lavfi", "-i", "sine", "-t", "240" if shots else "1",
                    "-c:v", "mpeg4", "-c:a", "pcm_s16le", source], check=True)

    pyatspi.Registry.getDesktop(0)  # starts the accessibility bus, as a desktop session does
    announcements = Announcements()
    program = desktop.start(os.path.join(bin_dir, "quillora"), cwd=work,
                            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    app = wait_for(lambda: application(program.pid))
    check(app, "the program is not on the accessibility bus")
    main = wait_for(lambda: next(iter(desktop.windows(program.pid)), None))
    check(wait_for(lambda: len(desktop.windows(program.pid)) == 1, timeout=10),
          "the splash window did not close")
    check(wait_for(lambda: len(top_levels(app)) == 1, timeout=5),
          "the splash window is still read: %s" % [a.getRoleName() for a in top_levels(app)])

    check_main_window(main_window(app), "", "", "")

    desktop.keys(main, "alt+i")
    desktop.find("Open Video File to Encode", pid=program.pid)
    desktop.type(source)
    if shots:
        time.sleep(0.5)
        shot("open-dialog")()
    subprocess.run(["xdotool", "key", "Return"], check=True)
    check(wait_for(lambda: len(desktop.windows(program.pid)) == 1), "the file chooser stayed open")
    announcements.wait("Source video", source)
    desktop.keys(main, "alt+o")
    desktop.find("Select Your Output Folder", pid=program.pid)
    desktop.type(folder)
    subprocess.run(["xdotool", "key", "Return"], check=True)
    check(wait_for(lambda: len(desktop.windows(program.pid)) == 1), "the folder chooser stayed open")
    time.sleep(0.3)
    chosen = main_window(app)
    check_main_window(chosen, source, folder + "/", "Clip one.flv")
    if shots:
        shot("quillora-window")()

    frame = top_levels(app, "frame")[0]
    press(frame, "Start Encoding")
    if shots:
        desktop.find("Quillora - Encoding", timeout=30)
        time.sleep(1)
        shot("encoding-progress")()
    answer(desktop, program.pid, "Message", "FLV ENCODED!", app,
           meanwhile=lambda: change_the_window(frame))
    answer(desktop, program.pid, "Message", "METADATA INJECTED!", app, shot("metadata-injected"))
    check(os.path.getsize(os.path.join(folder, "Clip one.flv")) > 0, "no FLV")
    check(not os.path.exists(os.path.join(folder, "Changed.flv")), "Changed.flv was written")

    check(wait_for(lambda: len(top_levels(app)) == 1, timeout=5), "a message box is still read")
    check(len(desktop.windows(program.pid)) == 1, "a window opened during the run")
    after = main_window(app)
    check(after == chosen, "the tree changed with the conversion: %s" %
          [(a, b) for a, b in zip(chosen, after) if a != b])
    check(not find(frame, "check box", "Disable Audio").getState().contains(
        pyatspi.STATE_CHECKED), "Disable Audio was ticked during the run")
    # Once the run is over, the screen reader's edit is taken.
    set_file_name(frame, "Changed.flv")
    check(wait_for(lambda: text_of(find(frame, "text", "Output File Name:")) == "Changed.flv",
                   timeout=5), "the file name cannot be edited after the run")
    program.kill()
    program.wait()


def checks(desktop):
    with tempfile.TemporaryDirectory(prefix="quillora-a11y-") as work:
        run(desktop, sys.argv[1], work, sys.argv[2] if len(sys.argv) > 2 else None)


if __name__ == "__main__":
    sys.exit(run_checks(checks, "every control read by its caption, the paths and messages "
                                "read, the same after a conversion"))

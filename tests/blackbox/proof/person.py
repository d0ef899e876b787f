"""A person at the window: real mouse and keyboard input through an X server.

Wine's X11 driver reads input from the X server and queues it as hardware
input, in the same queue and behind the same posted messages as a person's
clicks and keys. Input sent as window messages from another process skips that
queue (a sent message is handled inside any look at it), so it never shows how
long a person waits. Here the window is shown on a virtual display (Xvfb) and
xdotool types and clicks on it.

    display = Display(build)          # Xvfb and a Wine prefix for it
    app = Wirepad(build, display=display)
    person = Person(app, display)
    person.click(INSERT_GET)          # mouse down and up in the button's middle
    person.keys("alt+p")              # a mnemonic
    display.stop()
"""

import os
import subprocess
import time

from wirepad import Failure, check

SCRIPT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "script"))


class Display:
    """An Xvfb display of its own and the Wine prefix (X11 driver, windows
    drawn and placed by Wine itself) that programs shown on it use."""

    def __init__(self, build, size="1280x1024x24"):
        self.prefix = os.path.join(build, "wineprefix-input")
        subprocess.run([os.path.join(SCRIPT, "wine-prefix"), self.prefix, "x11"], check=True, timeout=300)
        self.server = None
        for number in range(90, 140):
            if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
                continue
            name = f":{number}"
            server = subprocess.Popen(["Xvfb", name, "-screen", "0", size, "-nolisten", "tcp"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and server.poll() is None:
                if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                    self.server, self.name = server, name
                    break
                time.sleep(0.05)
            if self.server:
                break
            if server.poll() is None:
                server.kill()
            server.wait()
        check(self.server is not None, "no virtual display could be started")
        self.env = dict(os.environ, DISPLAY=self.name, WINEPREFIX=self.prefix)
        # One Wine server for the display's prefix while it is up.
        subprocess.run(["wineserver", "-p60"], env=self.env, timeout=30)

    def xdotool(self, *args, timeout=10):
        out = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, timeout=timeout)
        if out.returncode != 0:
            raise Failure(f"xdotool {' '.join(args)}: {out.stderr.decode(errors='replace').strip()}")

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
        if self.server.poll() is None:
            self.server.terminate()
        try:
            self.server.wait(10)
        except subprocess.TimeoutExpired:
            self.server.kill()


class Person:
    """Clicks and keys on one Wirepad window shown on `display`. Each input
    returns the moment (time.monotonic()) it was in the X server: when
    xdotool, which flushes every event as it sends it, has ended. xdotool's
    own start (some 20 ms) is not the window's time and is left out."""

    def __init__(self, app, display):
        self.app = app
        self.display = display

    def point_at(self, control):
        """Moves the mouse to the middle of the control, as a person would
        before pressing it."""
        left, top, right, bottom = self.app.rect(control)
        self.display.xdotool("mousemove", str((left + right) // 2), str((top + bottom) // 2))

    def click(self, control):
        """A click: button down and up at once (xdotool's own click waits
        100 ms between them)."""
        self.point_at(control)
        self.display.xdotool("mousedown", "1", "mouseup", "1")
        return time.monotonic()

    def keys(self, *keys):
        """Keys in X's names, each a chord pressed and released: "alt+p", "Tab", "x"."""
        self.display.xdotool("key", "--delay", "0", *keys)
        return time.monotonic()

    def type(self, text):
        """Characters typed at the focused control."""
        self.display.xdotool("type", "--delay", "0", text)
        return time.monotonic()

    def press_at(self, x, y):
        """The mouse to (x, y) on the screen and its left button down there,
        as a person starts to drag; the moment it was in the X server."""
        self.display.xdotool("mousemove", str(x), str(y), "mousedown", "1")
        return time.monotonic()

    def move_in_steps(self, x, y, dx, dy, steps, pause=0.02):
        """The mouse from (x, y) on by (dx, dy) `steps` times, `pause` seconds
        apart, as a hand moves it (with a button held, a drag); one xdotool,
        so that its start costs once. The moment the last step was in the X
        server."""
        moves = []
        for i in range(1, steps + 1):
            moves += ["sleep", str(pause), "mousemove", str(x + dx * i), str(y + dy * i)]
        self.display.xdotool(*moves, timeout=10 + steps * pause)
        return time.monotonic()

    def release(self):
        """The left button up where the mouse is; the moment it was in the X server."""
        self.display.xdotool("mouseup", "1")
        return time.monotonic()

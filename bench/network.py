#!/usr/bin/env python3
"""Network figures for Wirepad: receive throughput, request and reply, datagrams,
memory, how soon a person's clicks and keys take effect during floods, whether
a drag of the window and its system menu end when the person lets go, how
the received-text box keeps up with connections opened and closed without
pause, and how soon one connection is answered while another sends without
ever reading; each beside references measured in the same run (the bare receive loop
bench_floor.exe, socat, python3 -m http.server, the idle window). Several runs;
medians.

    python3 bench/network.py [--runs N] [--build DIR] [--before EXE]
                             [--workloads LIST] [--displays LIST]
    python3 bench/network.py --self-test [--build DIR]

--displays null,x11 (the default) measures the receive, request, datagram,
churn and fairness workloads twice: with Wine's null display driver, and with the window
shown on a virtual X display (Xvfb, the X11 driver), as a user's window runs;
each against the floor measured under the same conditions.

Builds nothing: run `cmake --build --preset release --target wirepad bench_floor
wpdrive` first; needs socat, wrk, Xvfb and xdotool on the host. Writes a Markdown fragment to <build>/../bench-network.md (build/ of the
source tree for the release preset). Everything talks over 127.0.0.1 on ports
bound to 0 and read back; every wait has a deadline."""

import argparse
import bisect
import math
import os
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # leave no caches in the source tree
sys.path.insert(0, os.path.join(ROOT, "tests", "blackbox", "proof"))

import wirepad as wp  # noqa: E402  (the black-box helpers: the program under Wine, peers, ports)
from person import Display, Person  # noqa: E402  (real input through an X server)

BURST = 16 * 1024 * 1024
DATAGRAMS = 10_000
WRK_SECONDS = 3
CONCURRENCY = (1, 64)
FLOOD_DATAGRAMS = 200_000
CLICK_SECONDS = 6
CLICK_BUDGET_MS = 50
# Real input: trials under each flood and in the first second after it stops,
# clicks and keys in turn; how long one may take before it counts as not taken.
INPUT_TRIALS = 10
INPUT_AFTER_SECONDS = 1.0
INPUT_TIMEOUT = 5.0
INPUT_BEFORE_TIMEOUT = 2.0  # the earlier build: two misses in a row end the phase
INPUT_BUDGET_MEDIAN_MS = 30
INPUT_BUDGET_SLOWEST_MS = 100
HTTP_BUDGET = 0.9      # request and reply, times the floor
DATAGRAM_BUDGET = 0.8  # datagrams, times the floor
BURST_BUDGET = 0.9     # the 16 MiB burst, times the floor's speed
CONNECT_BURST = 200    # clients connecting at the same instant
# A drag of the caption and the system menu, under each flood: how far and in
# how many steps the mouse drags, how long a loop of the window system's own
# may take to follow or to end before it counts as stuck, and how long after a
# flood a stuck menu gets to close on the Escape still queued for it.
DRAG_STEP = (8, 6)
DRAG_STEPS = 10
DRAG_FURTHER_STEPS = 5
LOOP_TIMEOUT = 2.0
LOOP_AFTER_FLOOD_TIMEOUT = 3.0
LOOP_BUDGET_MS = 100
GUI_INMOVESIZE, GUI_INMENUMODE, GUI_SYSTEMMENUMODE, GUI_POPUPMENUMODE = 2, 4, 8, 16
WM_CANCELMODE, WM_LBUTTONUP = 0x1F, 0x202
WS_VISIBLE = 0x10000000
# Connection churn: one client opening, asking and closing without pause; the
# received-text box sampled every 20 ms and cleared once it holds this much.
CHURN_SECONDS = 5
CHURN_SAMPLE_SECONDS = 0.02
CHURN_CLEAR_CHARACTERS = 10_000
CHURN_LAG_BUDGET_MS = 100
# Fairness: a greedy client writes requests without pause and never reads
# (a small receive buffer, so that the program's send buffer fills soon),
# while a polite client asks one request at a time; then the greedy client
# stops, shuts its sending side and reads what came until the program has
# been quiet for a while or closed.
FAIR_ALONE_SECONDS = 1.0
FAIR_SECONDS = 5.0
FAIR_LEAD_SECONDS = 0.3      # the greedy client writing before the polite one is timed
FAIR_PAUSE_SECONDS = 0.01    # between the polite client's requests
FAIR_REQUEST_TIMEOUT = 5.0   # a polite request not answered by then counts as failed
FAIR_REQUESTS_PER_WRITE = 8
FAIR_GREEDY_RCVBUF = 16 * 1024
FAIR_QUIET_SECONDS = 1.0
FAIR_READ_SECONDS = 20.0
FAIR_BUDGET_MS = 100
GREEDY_REQUEST = b"GET / HTTP/1.0\r\n\r\n"
WORKLOADS = ("burst", "http", "udp", "clicks", "input", "churn", "fairness")
DISPLAYS = ("null", "x11")
DISPLAY_NAMES = {"null": "null display driver", "x11": "X display (Xvfb, X11 driver)"}
LOOP_PHASES = ("idle", "udp", "tcp", "http")
INPUT_PHASES = ("idle", "udp", "after udp", "tcp", "after tcp", "http", "after http")
INPUT_PHASE_NAMES = {
    "idle": "idle window",
    "udp": "UDP flood (6-byte datagrams, one sender as fast as it can)",
    "after udp": "first second after the UDP flood",
    "tcp": "one TCP client streaming 64 KiB writes",
    "after tcp": "first second after the TCP stream",
    "http": "HTTP at 64 connections (wrk), HTML reply",
    "after http": "first second after the HTTP load",
}


# --- processes ------------------------------------------------------------------

def wait_listening(port, timeout=30.0):
    ok = wp.wait_for(lambda: any(s == "LISTEN" for s, _, _ in wp.sockets("tcp", port)), timeout, 0.05)
    wp.check(ok, f"nothing listens on port {port}")


def wait_bound_udp(port, timeout=30.0):
    ok = wp.wait_for(lambda: udp_queue(port) is not None, timeout, 0.05)
    wp.check(ok, f"no UDP socket on port {port}")


class Floor:
    """bench_floor.exe under Wine: a TCP listener (and a UDP socket) with the
    bare receive loop; in the display's prefix, with its X11 driver, when given."""

    def __init__(self, build, tcp_port, udp_port=0, reply="", display=None):
        self.exe = os.path.join(build, "bench", "floor", "bench_floor.exe")
        env = dict(os.environ, WIREPAD_BUILD_DIR=build)
        if display:
            # Under the same conditions as the window it is measured beside.
            env.update(WINEPREFIX=display.prefix, WIREPAD_WINE_MODE="x11", DISPLAY=display.name)
        # The last argument bounds its life should this script lose it.
        self.process = subprocess.Popen(
            [wp.WINE_EXEC, self.exe, str(tcp_port), str(udp_port), wp.escape(reply), "600"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_listening(tcp_port)
        if udp_port:
            wait_bound_udp(udp_port)
        self.pid = wp.wait_for(lambda: wp.find_wine_pid("bench_floor.exe", str(tcp_port)), 10)

    def peak_kib(self):
        return wp.status_kib(self.pid, "VmHWM")

    def stop(self):
        if self.pid:
            try:
                os.kill(self.pid, signal.SIGTERM)
            except OSError:
                pass
        if self.process.poll() is None:
            self.process.kill()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            pass


class Program:
    """Wirepad with one TCP or UDP listener on `port` (and the HTML reply when
    asked), shown on `display` (person.Display) or under the null driver."""

    def __init__(self, build, port, tcp=True, html_reply=False, exe=None, display=None):
        self.app = wp.Wirepad(build, exe=exe, display=display)
        try:
            self.app.add_listener(tcp, port)
            if tcp:
                wait_listening(port)
            else:
                wait_bound_udp(port)
            if html_reply:
                wp.check(self.app.text(wp.REPLY_TEXT) == "", "the reply box is not empty")
                self.app.click(wp.INSERT_HTML_REPLY)
            self.reply = self.app.text(wp.REPLY_TEXT)
        except Exception:
            self.app.stop()
            raise

    def peak_kib(self):
        return wp.status_kib(self.app.pid, "VmHWM")

    def stop(self):
        self.app.stop()


class Process:
    """A Linux reference (socat, http.server) listening on `port`."""

    def __init__(self, args, port, cwd=None):
        self.process = subprocess.Popen(args, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_listening(port)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(5)


# --- measurements ----------------------------------------------------------------

def burst(port, timeout=180.0):
    """Seconds from connecting to the listener's close: the client sends the burst,
    shuts its sending side and waits until the program has read everything and
    closed (recv gives 0). None if that did not happen within the timeout."""
    payload = (b"0123456789abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n" * (BURST // 64 + 1))[:BURST]
    deadline = time.monotonic() + timeout
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        view = memoryview(payload)
        while view:
            s.settimeout(max(0.01, deadline - time.monotonic()))
            sent = s.send(view[:1 << 20])
            view = view[sent:]
        s.shutdown(socket.SHUT_WR)
        while time.monotonic() < deadline:
            s.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                if not s.recv(65536):
                    return time.monotonic() - start
            except socket.timeout:
                break
            except ConnectionResetError:
                return time.monotonic() - start
    return None


def wrk(port, connections):
    """Requests per second from wrk (keep-alive where the server allows it), and its error note."""
    threads = min(connections, 4)
    out = subprocess.run(["wrk", f"-t{threads}", f"-c{connections}", f"-d{WRK_SECONDS}s", "--timeout", "5s",
                          f"http://127.0.0.1:{port}/"],
                         capture_output=True, text=True, timeout=WRK_SECONDS + 60).stdout
    rps, errors = None, ""
    for line in out.splitlines():
        line = line.strip()
        if line.startswith("Requests/sec:"):
            rps = float(line.split()[1])
        elif line.startswith(("Socket errors", "Non-2xx")):
            errors += line + "; "
    return rps, errors


def connect_burst(port, count=CONNECT_BURST, timeout=30.0):
    """Clients connecting at the same instant, each sending a request and
    reading until the reply's end (the HTML reply's Content-Length); how many
    were answered in full."""
    answered = [False] * count
    gate = threading.Barrier(count, timeout=timeout)

    def client(n):
        try:
            gate.wait()
            with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
                s.sendall(b"GET /%d HTTP/1.0\r\n\r\n" % n)
                data = b""
                while b"\r\n\r\n" not in data or len(data.split(b"\r\n\r\n", 1)[1]) < body_length(data):
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
                answered[n] = b"\r\n\r\n" in data and len(data.split(b"\r\n\r\n", 1)[1]) >= body_length(data)
        except (OSError, threading.BrokenBarrierError):
            pass

    threads = [threading.Thread(target=client, args=(n,)) for n in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout + 30)
    return sum(answered)


def body_length(head):
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            return int(line.split(b":", 1)[1])
    return 0


def udp_queue(port):
    """(bytes waiting, datagrams dropped) for the UDP socket on 127.0.0.1:port, from /proc/net/udp."""
    want = f"0100007F:{port:04X}"
    try:
        with open("/proc/net/udp") as f:
            next(f)
            for line in f:
                fields = line.split()
                if fields[1] == want:
                    return int(fields[4].split(":")[1], 16), int(fields[-1])
    except OSError:
        pass
    return None


def datagram_flood(port, shown=None, timeout=120.0):
    """Sends the datagrams paced to the receiver (never more than 64 KiB waiting),
    then waits until the socket's queue is empty and, for the program, until its
    window has shown them (`shown` answers after the window handled what came
    before). Returns (datagrams per second, datagrams received)."""
    deadline = time.monotonic() + timeout
    _, dropped_before = udp_queue(port)
    start = time.monotonic()
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        for i in range(DATAGRAMS):
            if i % 50 == 0:
                while time.monotonic() < deadline and (udp_queue(port) or (0, 0))[0] > 65536:
                    time.sleep(0.0005)
            s.sendto(b"d%05d" % i, ("127.0.0.1", port))
    while time.monotonic() < deadline and (udp_queue(port) or (0, 0))[0] > 0:
        time.sleep(0.001)
    if shown:
        shown()
    elapsed = time.monotonic() - start
    _, dropped = udp_queue(port)
    received = DATAGRAMS - (dropped - dropped_before)
    return received / elapsed, received


def clicks_during_floods(app, tcp_port, udp_port):
    """Clicks (a button press sent to the window, as wpdrive sends it) every
    20 ms while a UDP flood (another process sending as fast as it can) and a
    TCP burst (16 MiB, unpaced) run at once; the milliseconds the window took
    for each click."""
    flood = subprocess.Popen([sys.executable, "-c", (
        "import socket\n"
        "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
        f"for i in range({FLOOD_DATAGRAMS}):\n"
        f"    s.sendto(b'flood %06d' % i, ('127.0.0.1', {udp_port}))\n")])
    result = {}
    sender = threading.Thread(target=lambda: result.setdefault("burst", burst(tcp_port, timeout=60)))
    sender.start()
    times = []
    start = time.monotonic()
    try:
        while time.monotonic() - start < CLICK_SECONDS and (flood.poll() is None or sender.is_alive()):
            times.append(app.click(wp.CLEAR_SEND, timeout=30))
            time.sleep(0.02)
    finally:
        if flood.poll() is None:
            flood.kill()
        flood.wait()
        sender.join(90)
    return times


def input_trials(app, person, count, timeout, until=None):
    """Clicks on Insert GET and Alt+P (Insert POST's mnemonic) in turn, each
    timed from the moment it was in the X server until the send box shows its request.
    Milliseconds for each, None for one that took no effect within `timeout`.
    Stops at `until` (time.monotonic()) and after two misses in a row."""
    times, misses = [], 0
    for i in range(count):
        if until is not None and time.monotonic() >= until:
            break
        app.set(wp.SEND_TEXT, "")
        if i % 2 == 0:
            start, want = person.click(wp.INSERT_GET), "GET "
        else:
            start, want = person.keys("alt+p"), "POST "
        shown = wp.wait_for(lambda: app.text(wp.SEND_TEXT).startswith(want), timeout, 0.002)
        times.append((time.monotonic() - start) * 1000 if shown else None)
        misses = 0 if shown else misses + 1
        if misses >= 2:
            break
        time.sleep(0.05)
    return times


def remove_one(app, person, timeout):
    """Alt+R on the selected (last) listener row: milliseconds until the row
    is gone, or None."""
    rows = len(app.rows())
    start = person.keys("alt+r")
    gone = wp.wait_for(lambda: len(app.rows()) == rows - 1, timeout, 0.002)
    return (time.monotonic() - start) * 1000 if gone else None


def flood_commands(tcp_port, udp_port):
    """The three floods by name: a UDP sender, a TCP stream, wrk at 64 connections."""
    return (
        ("udp", [sys.executable, "-c", (
            "import socket, time\n"
            "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
            "end = time.monotonic() + 120\n"
            "while time.monotonic() < end:\n"
            f"    s.sendto(b'flood!', ('127.0.0.1', {udp_port}))\n")]),
        ("tcp", [sys.executable, "-c", (
            "import socket, time\n"
            f"s = socket.create_connection(('127.0.0.1', {tcp_port}))\n"
            "data = b'0123456789abcdef' * 4096\n"
            "end = time.monotonic() + 120\n"
            "while time.monotonic() < end:\n"
            "    s.sendall(data)\n")]),
        ("http", ["wrk", "-t4", "-c64", "-d120s", "--timeout", "5s", f"http://127.0.0.1:{tcp_port}/"]))


def start_flood(command):
    return subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_flood(flood):
    if flood.poll() is None:
        flood.kill()
    flood.wait()


class Gui:
    """What the window system says of the window's thread, through wpdrive:
    which of its own loops runs, how many menus are up, where the window is."""

    def __init__(self, answer):
        fields = (answer or "").split()
        self.known = len(fields) == 6
        values = [int(v) for v in fields] if self.known else [0] * 6
        self.flags, self.menus = values[0], values[1]
        self.rect = tuple(values[2:])

    @property
    def moving(self):
        return bool(self.flags & GUI_INMOVESIZE)

    @property
    def in_menu(self):
        return bool(self.flags & (GUI_INMENUMODE | GUI_SYSTEMMENUMODE | GUI_POPUPMENUMODE))


def gui(app):
    return Gui(app.ask("gui", 10))


def wait_gui(app, predicate, timeout):
    """Polls the window system until predicate(Gui) holds: (Gui, ms waited) or (Gui, None)."""
    start = time.monotonic()
    state = gui(app)
    while not (state.known and predicate(state)):
        if time.monotonic() - start >= timeout:
            return state, None
        time.sleep(0.002)
        state = gui(app)
    return state, (time.monotonic() - start) * 1000


def drag_caption(app, person, direction):
    """A person drags the window by its caption (Wine draws the caption
    itself under the display's prefix, and runs its own move loop): the mouse
    goes down on it, moves in steps, and is released; then it moves on further.
    What the window did: followed (ms from the last step until the window was
    where the mouse took it, or None), placed (ms from the release until it was
    there and out of the move loop, or None), ended (the further moves left it
    where it was), and a note of any clean-up."""
    out = {"followed": None, "placed": None, "ended": False, "note": ""}
    x, y, hit = (int(v) for v in (app.ask("caption", 10) or "0 0 -1").split())
    if hit != 2:  # HTCAPTION
        out["note"] = f"the caption's point answered hit test {hit}"
        return out
    start = gui(app).rect
    dx, dy = DRAG_STEP[0] * direction, DRAG_STEP[1] * direction
    want = (start[0] + dx * DRAG_STEPS, start[1] + dy * DRAG_STEPS)
    at = lambda g: g.rect[:2] == want
    person.press_at(x, y)
    person.move_in_steps(x, y, dx, dy, DRAG_STEPS)
    _, out["followed"] = wait_gui(app, at, LOOP_TIMEOUT)
    released = person.release()
    state, _ = wait_gui(app, lambda g: at(g) and not g.moving, LOOP_TIMEOUT)
    if at(state) and not state.moving:
        out["placed"] = (time.monotonic() - released) * 1000
    elif state.known and not state.moving:
        out["note"] = f"out of the move loop with the window at {state.rect[:2]}, not at {want}"
    if state.known and not state.moving:
        # The move is over: the mouse moving on must leave the window alone.
        placed = state.rect
        person.move_in_steps(x + dx * DRAG_STEPS, y + dy * DRAG_STEPS, dx, dy, DRAG_FURTHER_STEPS)
        time.sleep(0.3)
        state = gui(app)
        out["ended"] = state.rect == placed and not state.moving
        if not out["ended"]:
            out["note"] = (out["note"] + "; " if out["note"] else "") + "the window moved after the release"
    if gui(app).moving:
        # Still in the move loop: a posted release ends it, behind what waits.
        app.ask(f"post {WM_LBUTTONUP} 0 0", 10)
        _, ms = wait_gui(app, lambda g: not g.moving, LOOP_TIMEOUT)
        out["note"] = (out["note"] + "; " if out["note"] else "") + (
            "still moving after the release: ended by a posted WM_LBUTTONUP" if ms is not None
            else "still moving after the release, even after a posted WM_LBUTTONUP")
    return out


def await_loop(app, predicate, flood, notes, what):
    """Waits for predicate(Gui) under the flood; when it does not come within
    LOOP_TIMEOUT, stops the flood, since the key that ends the loop waits
    behind it, and waits once more. The ms it took under the flood, or None
    (with a note of what happened after)."""
    state, ms = wait_gui(app, predicate, LOOP_TIMEOUT)
    if ms is not None:
        return ms
    if flood is None or flood.poll() is not None:
        notes.append(f"{what} not within {LOOP_TIMEOUT:.0f} s")
        return None
    stop_flood(flood)
    stopped = time.monotonic()
    state, ms = wait_gui(app, predicate, LOOP_AFTER_FLOOD_TIMEOUT)
    notes.append(f"{what} not under the flood" + (
        f", {(time.monotonic() - stopped) * 1000:.0f} ms after it stopped" if ms is not None
        else f", nor within {LOOP_AFTER_FLOOD_TIMEOUT:.0f} s after it stopped"))
    return None


def system_menu(app, person, flood=None):
    """The system menu opened with Alt+Space and closed with Escape, under
    `flood` (a running process, stopped here when the menu does not close
    under it: the Escape waits behind it). What happened: opened (ms), gone
    (ms from Escape until its popup was gone, under the flood; None if it was
    not), mode_ended (ms from the last Escape until its loop ended; None if it
    did not under the flood), second (a second Escape was pressed, as a person
    does when the first one only closed the popup), and a note of what it took
    when it did not close. Ends the menu with a posted WM_CANCELMODE only once
    no Escape waits for it any more: one left queued would reach the window,
    which Escape closes."""
    out = {"opened": None, "gone": None, "mode_ended": None, "second": False, "note": ""}
    notes = []
    opened_at = person.keys("alt+space")
    state, _ = wait_gui(app, lambda g: g.menus > 0 and g.in_menu, LOOP_TIMEOUT)
    if state.menus > 0 and state.in_menu:
        out["opened"] = (time.monotonic() - opened_at) * 1000
        pressed = person.keys("Escape")
        gone = await_loop(app, lambda g: g.menus == 0, flood, notes, "popup gone")
        if gone is not None:
            out["gone"] = (time.monotonic() - pressed) * 1000
        if gui(app).menus == 0:
            state, _ = wait_gui(app, lambda g: not g.in_menu, 0.1)
            if state.in_menu:
                out["second"] = True
                pressed = person.keys("Escape")
                ended = await_loop(app, lambda g: not g.in_menu, flood, notes, "loop ended after a second Escape")
                if ended is not None and gone is not None:
                    out["mode_ended"] = (time.monotonic() - pressed) * 1000
            elif gone is not None:
                out["mode_ended"] = (time.monotonic() - pressed) * 1000
    else:
        notes.append("did not open" + (" under the flood" if flood else "")
                     + f" (thread flags {state.flags}, {state.menus} menus shown)")
        if flood is not None:
            stop_flood(flood)
            # The keys may still open the menu now that the flood is over.
            wait_gui(app, lambda g: g.menus > 0, 0.5)
    state = gui(app)
    if state.in_menu or state.menus:
        app.ask(f"post {WM_CANCELMODE} 0 0", 10)
        state, _ = wait_gui(app, lambda g: not g.in_menu and g.menus == 0, LOOP_TIMEOUT)
        notes.append("ended by a posted WM_CANCELMODE" if not state.in_menu and state.menus == 0
                     else "still open even after a posted WM_CANCELMODE")
    out["note"] = "; ".join(notes)
    return out


def still_running(app):
    """Whether the program still runs a little after the last input: the
    process alive, its window answering and still shown; and, when not, what
    was seen."""
    time.sleep(0.2)
    if app.process.poll() is not None:
        return False, "the program ended"
    if app.ask("alive", 10) != "ok":
        return False, "the window did not answer"
    style = app.ask("style 0", 10)
    if not style or not int(style) & WS_VISIBLE:
        return False, "the window was gone from the screen (its process still running)"
    return True, ""


class InputSession:
    """The window a person works on, with a TCP listener answering with the
    HTML reply and a UDP listener; started again (on fresh ports) should one
    of the workloads end it."""

    def __init__(self, build, display, exe):
        self.build, self.display, self.exe = build, display, exe
        self.app = None
        self.start()

    def start(self):
        if self.app:
            self.app.stop()
        self.tcp_port, self.udp_port = wp.free_port(), wp.free_port()
        self.app = wp.Wirepad(self.build, exe=self.exe, display=self.display)
        self.person = Person(self.app, self.display)
        self.app.add_listener(True, self.tcp_port)
        self.app.add_listener(False, self.udp_port)
        wait_listening(self.tcp_port)
        wait_bound_udp(self.udp_port)
        self.app.click(wp.INSERT_HTML_REPLY)
        # The first click also makes the window the one keys go to.
        input_trials(self.app, self.person, 2, 10.0)

    def flood(self, name):
        return start_flood(dict(flood_commands(self.tcp_port, self.udp_port))[name])

    def stop(self):
        if self.app:
            self.app.stop()


def system_loops(session, name, direction):
    """The caption dragged and the system menu opened and closed, on the idle
    window or under flood `name`; whether the program still runs after each.
    Ends the window's loops itself when they do not end, and starts the window
    again when it ended."""
    flood = None if name == "idle" else session.flood(name)
    try:
        if flood:
            time.sleep(0.5)
        drag = drag_caption(session.app, session.person, direction)
        drag["alive"], why = still_running(session.app)
        drag["note"] = "; ".join(n for n in (drag["note"], why) if n)
        menu = {"opened": None, "gone": None, "mode_ended": None, "second": False,
                "note": "not tried: the window had ended", "alive": False}
        if drag["alive"]:
            menu = system_menu(session.app, session.person, flood)
            menu["alive"], why = still_running(session.app)
            menu["note"] = "; ".join(n for n in (menu["note"], why) if n)
    finally:
        if flood:
            stop_flood(flood)
    if not (drag["alive"] and menu["alive"]):
        session.start()
    else:
        session.app.click(wp.CLEAR_RECV, timeout=120)
    return {"drag": drag, "menu": menu}


def input_floods(build, display, exe, timeout):
    """A person's input on a window shown on `display`: idle, under each flood
    and in the first second after it stops; under each flood, removing a
    listener (which sweeps the notifications queued for it off the whole
    queue); and, on the idle window and under each flood again, a drag of the
    caption and the system menu. ({phase: [ms or None, ...]}, {flood: ms or
    None}, {phase: {"drag": {...}, "menu": {...}}})."""
    phases, removals, loops = {}, {}, {}
    session = InputSession(build, display, exe)
    try:
        app, person = session.app, session.person
        phases["idle"] = input_trials(app, person, INPUT_TRIALS, timeout)
        # Each drag goes the other way from the one before: the window stays on the screen.
        loops["idle"] = system_loops(session, "idle", 1)
        for n, name in enumerate(("udp", "tcp", "http")):
            app, person = session.app, session.person
            flood = session.flood(name)
            try:
                # A listener of no use to the flood, selected, to be removed.
                app.add_listener(False, wp.free_port())
                app.select(len(app.rows()) - 1)
                time.sleep(0.5)
                phases[name] = input_trials(app, person, INPUT_TRIALS, timeout)
                removals[name] = remove_one(app, person, timeout)
            finally:
                stop_flood(flood)
            phases["after " + name] = input_trials(app, person, INPUT_TRIALS, timeout,
                                                   until=time.monotonic() + INPUT_AFTER_SECONDS)
            # Whatever the flood left queued is gone before the next one.
            app.click(wp.CLEAR_RECV, timeout=120)
            loops[name] = system_loops(session, name, -1 if n % 2 == 0 else 1)
    finally:
        session.stop()
    return phases, removals, loops


def churn(app, port, seconds=CHURN_SECONDS):
    """One client opens a connection, sends `GET /N HTTP/1.0` with N counting
    up, reads the whole reply and closes, again and again without pause, while
    the received-text box is sampled every 20 ms through wpdrive: whether it
    is hidden (WS_VISIBLE cleared, as suspending its redraw does), and the
    highest N it shows. The box is cleared whenever it holds
    CHURN_CLEAR_CHARACTERS. Returns the samples [(t0, shown before, t1, shown
    after, highest N)] with times from time.monotonic(), the moment each
    request was done {N: t}, and how many were answered and failed."""
    done = {}
    counts = {"answered": 0, "failed": 0}
    stop = threading.Event()

    def client():
        n = 0
        end = time.monotonic() + seconds
        while not stop.is_set() and time.monotonic() < end:
            n += 1
            answered = False
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                    s.sendall(b"GET /%d HTTP/1.0\r\n\r\n" % n)
                    data = b""
                    while b"\r\n\r\n" not in data or len(data.split(b"\r\n\r\n", 1)[1]) < body_length(data):
                        chunk = s.recv(65536)
                        if not chunk:
                            break
                        data += chunk
                    answered = b"\r\n\r\n" in data and len(data.split(b"\r\n\r\n", 1)[1]) >= body_length(data)
            except OSError:
                pass
            done[n] = time.monotonic()
            counts["answered" if answered else "failed"] += 1

    thread = threading.Thread(target=client)
    samples = []
    thread.start()
    try:
        next_at = time.monotonic()
        while thread.is_alive():
            next_at += CHURN_SAMPLE_SECONDS
            t0 = time.monotonic()
            answer = app.ask(f"watch {wp.RECV_TEXT} GET /", 30)
            t1 = time.monotonic()
            if answer is None:
                break
            before, after, length, highest = (int(v) for v in answer.split())
            samples.append((t0, bool(before), t1, bool(after), highest))
            if length >= CHURN_CLEAR_CHARACTERS:
                app.click(wp.CLEAR_RECV, timeout=30)
            time.sleep(max(0.0, next_at - time.monotonic()))
    finally:
        stop.set()
        thread.join(30)
    return samples, done, counts


def churn_figures(samples, done):
    """From churn's samples: the share hidden, the longest hidden stretch (ms,
    from the first sample that found the box hidden to the first that found it
    shown again), and the lag at each sample (ms: now against the moment the
    client had the highest number the box has shown so far done, 0 when no
    later request was done yet), once counting the box's text, once counting
    only what it held while it was shown."""
    hidden = sum(1 for _, before, _, _, _ in samples if not before)
    observations = sorted([(t0, b) for t0, b, _, _, _ in samples] + [(t1, a) for _, _, t1, a, _ in samples])
    longest, since = 0.0, None
    for t, shown in observations:
        if not shown and since is None:
            since = t
        elif shown and since is not None:
            longest, since = max(longest, (t - since) * 1000), None
    if since is not None and observations:
        longest = max(longest, (observations[-1][0] - since) * 1000)
    order = sorted(done.items())
    times = [t for _, t in order]
    numbers = [n for n, _ in order]

    def lag(now, highest):
        # The last request done by now: the box is behind when it came after the one shown.
        last = bisect.bisect_right(times, now) - 1
        if last < 0:
            return None
        if numbers[last] <= highest:
            return 0.0
        since = done[highest] if highest in done else times[0]
        return max(0.0, (now - since) * 1000)

    lags, drawn_lags = [], []
    shown_so_far = drawn_so_far = 0
    for _, before, t1, after, highest in samples:
        shown_so_far = max(shown_so_far, highest)
        if before and after:
            drawn_so_far = max(drawn_so_far, highest)
        value = lag(t1, shown_so_far)
        if value is not None:
            lags.append(value)
        value = lag(t1, drawn_so_far)
        if value is not None:
            drawn_lags.append(value)
    return {"samples": len(samples), "hidden": hidden, "longest hidden": longest,
            "lags": lags, "drawn lags": drawn_lags}


def read_reply(s, deadline):
    """Reads one HTTP reply (its head and Content-Length bytes of body) from
    s until `deadline`: the reply's bytes, or None when it did not come whole."""
    data = b""
    while b"\r\n\r\n" not in data or len(data.split(b"\r\n\r\n", 1)[1]) < body_length(data):
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        s.settimeout(left)
        try:
            chunk = s.recv(65536)
        except (socket.timeout, OSError):
            return None
        if not chunk:
            return None
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    return head + b"\r\n\r\n" + body[:body_length(data)]


def polite_requests(port, until, pause=FAIR_PAUSE_SECONDS, timeout=FAIR_REQUEST_TIMEOUT):
    """One request at a time until `until` (time.monotonic()): connect, send
    `GET /polite/N HTTP/1.0`, read the whole reply, close, pause. Returns the
    milliseconds each took from connecting to the reply's last byte (None for
    one that failed or timed out) and the distinct replies received."""
    times, replies = [], set()
    for n in range(1, 100_000):
        if time.monotonic() >= until:
            break
        start = time.monotonic()
        reply = None
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
                s.sendall(b"GET /polite/%d HTTP/1.0\r\n\r\n" % n)
                reply = read_reply(s, start + timeout)
        except OSError:
            pass
        times.append((time.monotonic() - start) * 1000 if reply is not None else None)
        if reply is not None:
            replies.add(reply)
        time.sleep(pause)
    return times, replies


def greedy_client(port, seconds, out_path):
    """Run in a process of its own (no share of this one's interpreter lock):
    connects with a small receive buffer, writes GREEDY_REQUEST over and over
    as fast as the connection takes it for `seconds`, never reading; then
    shuts its sending side and reads until the program closes, has sent
    nothing for FAIR_QUIET_SECONDS, or FAIR_READ_SECONDS pass. Writes what it
    read to out_path and prints one line: bytes written, how the reading
    ended (closed, quiet, reset, deadline), seconds spent reading."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, FAIR_GREEDY_RCVBUF)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    s.settimeout(10)
    s.connect(("127.0.0.1", port))
    s.setblocking(False)
    print("ready", flush=True)
    batch = memoryview(GREEDY_REQUEST * FAIR_REQUESTS_PER_WRITE)
    at, written = 0, 0
    end = time.monotonic() + seconds
    while (now := time.monotonic()) < end:
        try:
            n = s.send(batch[at:])
        except BlockingIOError:
            select.select([], [s], [], min(0.05, end - now))
            continue
        except OSError:
            break
        # A partial write goes on where it stopped: the stream stays whole requests.
        written += n
        at = (at + n) % len(batch)
    try:
        s.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    got, ended = bytearray(), "deadline"
    start = time.monotonic()
    deadline = start + FAIR_READ_SECONDS
    while (now := time.monotonic()) < deadline:
        ready, _, _ = select.select([s], [], [], min(FAIR_QUIET_SECONDS, deadline - now))
        if not ready:
            ended = "quiet" if time.monotonic() < deadline else "deadline"
            break
        try:
            chunk = s.recv(1 << 16)
        except BlockingIOError:
            continue
        except OSError:
            ended = "reset"
            break
        if not chunk:
            ended = "closed"
            break
        got += chunk
    s.close()
    with open(out_path, "wb") as f:
        f.write(got)
    print(f"{written} {ended} {time.monotonic() - start:.3f}", flush=True)


def whole_replies(data, reply, cut=False):
    """Whether `data` is whole copies of `reply` one after another, and how
    many. With `cut` (the reading stopped at its deadline, maybe within a
    reply) a tail that begins a reply is allowed and not counted."""
    if not reply:
        return False, 0
    whole, tail = divmod(len(data), len(reply))
    if any(data[i * len(reply):(i + 1) * len(reply)] != reply for i in range(whole)):
        return False, whole
    rest = data[whole * len(reply):]
    return (not rest or (cut and reply.startswith(rest))), whole


def percentile(values, share):
    """The nearest-rank percentile: the smallest value at least `share` of them are at or below."""
    ordered = sorted(values)
    if not ordered:
        return None
    # Less a hair: 0.99 of 300 is 297.00000000000006 in floating point.
    rank = max(1, math.ceil(len(ordered) * share - 1e-9))
    return ordered[min(len(ordered), rank) - 1]


def fairness(port, alone_seconds=FAIR_ALONE_SECONDS, seconds=FAIR_SECONDS):
    """The polite client alone, then beside the greedy client (a process of
    its own) while it writes; then what the greedy client read back. Figures:
    alone and beside ([ms or None]), the reply, the greedy client's bytes
    written and read, how its reading ended, whether what it read was whole
    replies and how many."""
    alone, replies = polite_requests(port, time.monotonic() + alone_seconds)
    out = {"alone": alone, "beside": [], "written": 0, "read": 0, "ended": "not started",
           "read seconds": 0.0, "whole": False, "replies": 0, "reply": 0, "distinct": 0}
    reply = min(replies, key=len) if len(replies) == 1 else None
    with tempfile.TemporaryDirectory(prefix="bench-greedy-") as folder:
        path = os.path.join(folder, "read")
        here = os.path.dirname(os.path.abspath(__file__))
        greedy = subprocess.Popen(
            [sys.executable, "-B", "-c", f"import sys; sys.path.insert(0, {here!r}); import network; "
                                         f"network.greedy_client({port}, {seconds}, {path!r})"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            if greedy.stdout.readline().strip() == "ready":
                began = time.monotonic()
                time.sleep(FAIR_LEAD_SECONDS)
                beside, more = polite_requests(port, began + seconds - FAIR_PAUSE_SECONDS)
                out["beside"] = beside
                replies |= more
                line = greedy.communicate(timeout=seconds + FAIR_READ_SECONDS + 30)[0].split()
                if len(line) == 3:
                    out["written"], out["ended"], out["read seconds"] = int(line[0]), line[1], float(line[2])
                    with open(path, "rb") as f:
                        data = f.read()
                    out["read"] = len(data)
                    if reply is not None:
                        out["whole"], out["replies"] = whole_replies(data, reply, cut=out["ended"] == "deadline")
        finally:
            if greedy.poll() is None:
                greedy.kill()
            greedy.wait(10)
    out["reply"] = len(reply) if reply else 0
    # Every polite reply the same bytes: else the greedy client's have nothing to be checked against.
    out["distinct"] = len(replies)
    return out


# --- one run ----------------------------------------------------------------------

def new_store():
    return {"results": {}, "memory": {}, "notes": {}}


def run_throughput(build, store, workloads, programs, display, references):
    """Receive throughput, request and reply, datagrams and churn, for each
    program and the floor, all shown on `display` (None: the null driver);
    with socat and python3 -m http.server too when `references`."""
    results, memory, notes = store["results"], store["memory"], store["notes"]

    def put(key, value):
        results.setdefault(key, []).append(value)

    def mem(key, kib):
        memory.setdefault(key, []).append(kib)

    if "burst" in workloads:
        # Receive throughput.
        if references:
            port = wp.free_port()
            socat = Process(["socat", "-u", f"TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr", "/dev/null"], port)
            try:
                put(("burst", "socat"), burst(port))
            finally:
                socat.stop()

        port = wp.free_port()
        floor = Floor(build, port, display=display)
        try:
            put(("burst", "floor"), burst(port))
            mem(("burst", "floor"), floor.peak_kib())
        finally:
            floor.stop()

        for name, exe in programs:
            port = wp.free_port()
            program = Program(build, port, exe=exe, display=display)
            try:
                put(("burst", name), burst(port))
                mem(("burst", name), program.peak_kib())
                notes.setdefault(f"burst_shown_{name}", []).append(program.app.length(wp.RECV_TEXT))
            finally:
                program.stop()

    if "http" in workloads:
        # Request and reply: the program's own HTML reply, the floor sending the same bytes.
        reply = None
        for name, exe in programs:
            port = wp.free_port()
            program = Program(build, port, html_reply=True, exe=exe, display=display)
            reply = reply or program.reply
            try:
                for c in CONCURRENCY:
                    rps, err = wrk(port, c)
                    put((f"http{c}", name), rps)
                    if err:
                        notes.setdefault(f"errors {name} {c}", []).append(err)
                notes.setdefault(f"connect_burst_{name}", []).append(connect_burst(port))
                mem(("http", name), program.peak_kib())
                notes.setdefault(f"http_shown_{name}", []).append(program.app.length(wp.RECV_TEXT))
            finally:
                program.stop()

        port = wp.free_port()
        floor = Floor(build, port, reply=reply, display=display)
        try:
            for c in CONCURRENCY:
                rps, err = wrk(port, c)
                put((f"http{c}", "floor"), rps)
                if err:
                    notes.setdefault(f"errors floor {c}", []).append(err)
            mem(("http", "floor"), floor.peak_kib())
        finally:
            floor.stop()

        if references:
            body = reply.split("\r\n\r\n", 1)[-1]
            site = tempfile.mkdtemp(prefix="bench-site-")
            with open(os.path.join(site, "index.html"), "w", newline="") as f:
                f.write(body)
            port = wp.free_port()
            server = Process([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "--directory", site, str(port)],
                             port)
            try:
                for c in CONCURRENCY:
                    rps, err = wrk(port, c)
                    put((f"http{c}", "python"), rps)
                    if err:
                        notes.setdefault(f"errors python {c}", []).append(err)
            finally:
                server.stop()
                shutil.rmtree(site, ignore_errors=True)

    if "udp" in workloads:
        # Datagrams.
        for name, exe in programs:
            port = wp.free_port()
            program = Program(build, port, tcp=False, exe=exe, display=display)
            try:
                rate, received = datagram_flood(port, shown=lambda: program.app.length(wp.RECV_TEXT))
                put(("udp", name), rate)
                notes.setdefault(f"udp_received_{name}", []).append(received)
                notes.setdefault(f"udp_shown_{name}", []).append(program.app.length(wp.RECV_TEXT))
                mem(("udp", name), program.peak_kib())
            finally:
                program.stop()
            # The same into a box already full, which shows nothing more: what
            # showing the datagrams costs is the difference.
            port = wp.free_port()
            program = Program(build, port, tcp=False, exe=exe, display=display)
            try:
                program.app.set(wp.RECV_TEXT, ("x" * 98 + "\r\n") * 300)
                rate, _ = datagram_flood(port, shown=lambda: program.app.length(wp.RECV_TEXT))
                put(("udp full", name), rate)
            finally:
                program.stop()

        tcp_port, udp_port = wp.free_port(), wp.free_port()
        floor = Floor(build, tcp_port, udp_port, display=display)
        try:
            rate, received = datagram_flood(udp_port)
            put(("udp", "floor"), rate)
            notes.setdefault("udp_received_floor", []).append(received)
            mem(("udp", "floor"), floor.peak_kib())
        finally:
            floor.stop()

    if "churn" in workloads:
        # Connections opened, asked and closed without pause: the box kept in sight and up to date.
        for name, exe in programs:
            port = wp.free_port()
            program = Program(build, port, html_reply=True, exe=exe, display=display)
            try:
                start = time.monotonic()
                samples, done, counts = churn(program.app, port)
                figures = churn_figures(samples, done)
                figures.update(counts, seconds=time.monotonic() - start)
                put(("churn", name), figures)
            finally:
                program.stop()

    if "fairness" in workloads:
        # One connection sending without ever reading beside one asking a request at a time.
        for name, exe in programs:
            port = wp.free_port()
            program = Program(build, port, html_reply=True, exe=exe, display=display)
            try:
                put(("fairness", name), fairness(port))
            finally:
                program.stop()


def run_once(build, stores, workloads, before=None, display=None, displays=DISPLAYS):
    """One pass over every workload: the throughput workloads under each of
    `displays` (null: Wine's null driver; x11: shown on `display`), each into
    its own store, and the clicks (null driver) and a person's input (on
    `display`). `before`, when given, is another wirepad.exe (an earlier
    version) measured the same way in the same pass, under the same Wine
    prefix and server."""
    programs = [("wirepad", None)] + ([("before", before)] if before else [])
    for n, cond in enumerate(displays):
        run_throughput(build, stores.setdefault(cond, new_store()), workloads, programs,
                       display if cond == "x11" else None, references=n == 0)

    store = stores.setdefault("null", new_store())
    results, memory = store["results"], store["memory"]

    def put(key, value):
        results.setdefault(key, []).append(value)

    def mem(key, kib):
        memory.setdefault(key, []).append(kib)

    if "clicks" in workloads:
        # Clicks while both floods run.
        for name, exe in programs:
            tcp_port, udp_port = wp.free_port(), wp.free_port()
            program = Program(build, tcp_port, exe=exe)
            try:
                program.app.add_listener(False, udp_port)
                wait_bound_udp(udp_port)
                times = clicks_during_floods(program.app, tcp_port, udp_port)
                results.setdefault(("clicks", name), []).extend(times)
                put(("clicks slowest", name), max(times) if times else None)
                mem(("floods", name), program.peak_kib())
            finally:
                program.stop()

    if "input" in workloads and display:
        # A person's input through the X server.
        for name, exe in programs:
            timeout = INPUT_TIMEOUT if exe is None else INPUT_BEFORE_TIMEOUT
            phases, removals, loops = input_floods(build, display, exe, timeout)
            person = stores.setdefault("x11", new_store())["results"]
            for phase, times in phases.items():
                person.setdefault(("input", phase, name), []).extend(times)
            for flood, ms in removals.items():
                person.setdefault(("remove", flood, name), []).append(ms)
            for phase, loop in loops.items():
                person.setdefault(("loops", phase, name), []).append(loop)


# --- the report --------------------------------------------------------------------

def median(values):
    values = [v for v in values if v]
    return statistics.median(values) if values else None


def fmt(value, digits=0):
    return "–" if value is None else f"{value:,.{digits}f}"


def ratio(a, b):
    if not a or not b:
        return "–"
    return f"{a / b:.2f}" if a / b >= 0.1 else f"{a / b:.3f}"


def runs(values, digits=0):
    return ", ".join("–" if v is None else f"{v:,.{digits}f}" for v in values)


PROGRAMS = (("wirepad", "Wirepad"), ("before", "Wirepad before"))


def verdict(met):
    return "met" if met else "MISSED"


def throughput_report(store, refs, ours, h):
    """The receive, request and datagram sections for one display condition;
    socat's and http.server's figures come from `refs` (they run natively,
    once a run); `h` is the sections' heading level."""
    results, notes = store["results"], store["notes"]
    r = lambda *key: results.get(key, []) or (refs["results"].get(key, []) if key[-1] in ("socat", "python") else [])
    lines = []
    if store is not refs:
        lines += ["", "socat and python3 -m http.server run natively, outside Wine, once a run: their figures are "
                      "the same under both displays."]
    if r("burst", "floor"):
        lines += burst_lines(r, notes, ours, h)
    if r(f"http{CONCURRENCY[0]}", "floor"):
        lines += http_lines(r, notes, ours, h)
    if r("udp", "floor"):
        lines += udp_lines(r, notes, ours, h)
    return lines


def burst_lines(r, notes, ours, h):
    lines = ["", f"{h} Receive throughput", "",
              "A local client sends a 16 MiB burst to a TCP listener with an empty reply, shuts its sending "
              "side and waits until the listener has read everything and closed the connection.", "",
              "| Receiver | Time (s) | MiB/s | × floor speed | × socat speed | Runs (s) |",
              "|---|---:|---:|---:|---:|---|"]
    socat_t = median(r("burst", "socat"))
    floor_t = median(r("burst", "floor"))
    for name, label in ours + [("floor", "Floor (bare receive loop)"), ("socat", "socat (native)")]:
        t = median(r("burst", name))
        speed = 16 / t if t else None
        lines.append(f"| {label} | {fmt(t, 2)} | {fmt(speed, 1)} | {ratio(floor_t, t)} | {ratio(socat_t, t)} | "
                     f"{runs(r('burst', name), 2)} |")
    w = median(r("burst", "wirepad"))
    if w and floor_t:
        lines += ["", f"Budget (Wirepad at least {BURST_BUDGET} × the floor's speed): {floor_t / w:.2f} × floor "
                      f"({verdict(floor_t / w >= BURST_BUDGET)})."]
    shown = notes.get("burst_shown_wirepad", [])
    if shown:
        lines += [f"Characters left in Wirepad's received-text box after the burst: {runs(shown)} "
                  f"(of {BURST:,} bytes received)."]
    return lines


def http_lines(r, notes, ours, h):
    lines = ["", f"{h} Request and reply", "",
              f"HTTP GET, {WRK_SECONDS} s per measurement with wrk (keep-alive offered; the HTTP/1.0 replies "
              "make it reconnect per request). Wirepad answers with its HTML reply (set with its own button); "
              "the floor sends the same bytes; python3 -m http.server serves the same body as a file.", "",
              "| Server | Connections | Requests/s | × floor | Runs |", "|---|---:|---:|---:|---|"]
    verdicts = []
    for c in CONCURRENCY:
        base = median(r(f"http{c}", "floor"))
        python = median(r(f"http{c}", "python"))
        for name, label in ours + [("floor", "Floor"), ("python", "python3 -m http.server")]:
            v = median(r(f"http{c}", name))
            lines.append(f"| {label} | {c} | {fmt(v)} | {ratio(v, base)} | {runs(r(f'http{c}', name))} |")
        w = median(r(f"http{c}", "wirepad"))
        if w and base and python:
            verdicts.append(f"{c} connection{'s' if c > 1 else ''}: {w / base:.2f} × floor, "
                            f"{w / python:.2f} × http.server ({verdict(w >= HTTP_BUDGET * base)})")
    lines += ["", f"Budget (Wirepad at least {HTTP_BUDGET} × the floor; python3 -m http.server is a native Linux "
                  "process, which no Windows program run under Wine keeps up with at one connection): "
              + "; ".join(verdicts) + "."]
    for name, label in ours:
        answered = notes.get(f"connect_burst_{name}", [])
        if answered:
            lines += [f"{label}: {CONNECT_BURST} clients connecting at the same instant, each sending a request "
                      f"and reading its reply: {runs(answered)} answered"
                      + (f" (budget: all {CONNECT_BURST}, {verdict(min(answered) == CONNECT_BURST)})."
                         if name == "wirepad" else ".")]
    shown = notes.get("http_shown_wirepad", [])
    if shown:
        lines += [f"Characters in Wirepad's received-text box after the requests: {runs(shown)}."]
    errs = [f"{k}: {v[0]}" for k, v in notes.items() if k.startswith("errors")]
    if errs:
        lines += ["", "wrk reported: " + " ".join(errs)]
    return lines


def udp_lines(r, notes, ours, h):
    lines = ["", f"{h} Datagrams", "",
              f"{DATAGRAMS:,} datagrams of 6 bytes sent to a UDP listener, paced so that at most 64 KiB wait in its "
              "queue; timed until the queue is empty and (Wirepad) its window has shown them.", "",
              "| Receiver | Datagrams/s | × floor | Received (median) | Runs |", "|---|---:|---:|---:|---|"]
    base = median(r("udp", "floor"))
    for name, label in ours + [("floor", "Floor")]:
        v = median(r("udp", name))
        rec = median(notes.get(f"udp_received_{name}", []))
        lines.append(f"| {label} | {fmt(v)} | {ratio(v, base)} | {fmt(rec)} | {runs(r('udp', name))} |")
    w = median(r("udp", "wirepad"))
    if w and base:
        lines += ["", f"Budget (Wirepad at least {DATAGRAM_BUDGET} × the floor): {w / base:.2f} × floor "
                      f"({verdict(w >= DATAGRAM_BUDGET * base)})."]
    full = [(label, median(r("udp full", name))) for name, label in ours if r("udp full", name)]
    if full and base:
        lines += ["Into a received-text box already full, which shows nothing more (so the difference is what "
                  "laying the datagrams' text out in the box costs): "
                  + "; ".join(f"{label} {fmt(v)} a second, {ratio(v, base)} × floor" for label, v in full) + "."]
    shown = notes.get("udp_shown_wirepad", [])
    if shown:
        lines += [f"Characters in Wirepad's received-text box (6 a datagram, and a line break after each read "
                  f"notification's datagrams; the box holds at most its limit): {runs(shown)}."]
    return lines


def display_comparison(stores, ours, displays):
    """Each throughput ratio to the floor under the null driver beside the
    same on the X display, where both were measured."""
    rows = []
    for label_w, key, budget, speed in (("Receive throughput (× floor speed)", "burst", BURST_BUDGET, True),
                                        ("Request and reply, 1 connection (× floor)", "http1", HTTP_BUDGET, False),
                                        ("Request and reply, 64 connections (× floor)", "http64", HTTP_BUDGET, False),
                                        ("Datagrams (× floor)", "udp", DATAGRAM_BUDGET, False),
                                        ("Datagrams into a full box (× floor)", "udp full", None, False)):
        for name, label in ours:
            cells = []
            for cond in displays:
                res = stores.get(cond, {}).get("results", {})
                base = median(res.get((key if key != "udp full" else "udp", "floor"), []))
                v = median(res.get((key, name), []))
                value = (base / v if speed else v / base) if v and base else None
                cells.append(value)
            if all(c is None for c in cells):
                continue
            verdicts = [("–" if c is None else within(c >= budget)) if budget else "" for c in cells]
            rows.append(f"| {label_w} | {label} | " + " | ".join(fmt(c, 2) for c in cells) + " | "
                        + (f"{budget} ×" if budget else "") + " | " + " | ".join(verdicts) + " |")
    if not rows:
        return []
    short = {"null": "null driver", "x11": "X display"}
    heads = " | ".join(short[c] for c in displays)
    return ["", "### The null display driver against an X display", "",
            "The same workloads with the window shown by Wine's null driver and on a virtual X display "
            "(Xvfb, Wine's X11 driver, windows unmanaged, as a person's window runs); each ratio is to the "
            "floor measured under the same conditions in the same run.", "",
            f"| Workload | Program | {heads} | Budget | " + " | ".join(f"Verdict, {short[c]}" for c in displays) + " |",
            "|---|---|" + "---:|" * len(displays) + "---:|" + "---|" * len(displays)] + rows


def within(met):
    return "within" if met else "OVER"


def churn_report(stores, ours, displays):
    rows, verdicts = [], []
    for cond in displays:
        for name, label in ours:
            figures = stores.get(cond, {}).get("results", {}).get(("churn", name), [])
            if not figures:
                continue
            samples = sum(f["samples"] for f in figures)
            hidden = sum(f["hidden"] for f in figures)
            longest = max(f["longest hidden"] for f in figures)
            lags = [v for f in figures for v in f["lags"]]
            drawn = [v for f in figures for v in f["drawn lags"]]
            answered = sum(f["answered"] for f in figures)
            failed = sum(f["failed"] for f in figures)
            rate = statistics.median(f["answered"] / f["seconds"] for f in figures)
            worst = max(lags) if lags else None
            met = samples > 0 and hidden == 0 and worst is not None and worst <= CHURN_LAG_BUDGET_MS
            rows.append(f"| {label} | {DISPLAY_NAMES[cond]} | {answered:,}" + (f" ({failed:,} failed)" if failed else "")
                        + f" | {rate:,.0f} | {samples:,} | {100 * hidden / samples if samples else 0:.0f} % | "
                        f"{longest:,.0f} | {fmt(statistics.median(lags) if lags else None)} | {fmt(worst)} | "
                        f"{fmt(statistics.median(drawn) if drawn else None)} / {fmt(max(drawn) if drawn else None)} | "
                        f"{within(met)} |")
    if not rows:
        return []
    return ["", "### Received text under connection churn", "",
            f"One client opens a connection to the HTML-reply listener, sends `GET /N HTTP/1.0` (N counting up), "
            f"reads the whole reply and closes, again and again without pause, for {CHURN_SECONDS} s; the "
            f"received-text box is cleared whenever it holds {CHURN_CLEAR_CHARACTERS:,} characters. Every "
            f"{CHURN_SAMPLE_SECONDS * 1000:.0f} ms wpdrive reads whether the box is hidden (its WS_VISIBLE "
            "style bit cleared, as suspending its redraw with WM_SETREDRAW does) and the highest N in its text. "
            "Behind: at each sample, how long ago the client had done the request with the highest N the box "
            "has shown so far, when a later one was done by then (0 when none was). \"As drawn\" counts a number "
            "only from samples that found the box shown. Milliseconds.", "",
            "| Program | Display | Requests answered | Requests/s | Samples | Hidden | Longest hidden | "
            "Behind, median | Behind, worst | As drawn, median / worst | |",
            "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|"] + rows + [
            "", f"Budget: never hidden, and at most {CHURN_LAG_BUDGET_MS} ms behind."]


def fairness_report(stores, ours, displays):
    rows, whole_rows, failures = [], [], []
    for cond in displays:
        for name, label in ours:
            runs_ = stores.get(cond, {}).get("results", {}).get(("fairness", name), [])
            if not runs_:
                continue
            for phase, phase_name in (("alone", "alone"), ("beside", "beside the greedy client")):
                times = [t for run in runs_ for t in run[phase]]
                taken = [t for t in times if t is not None]
                failed = len(times) - len(taken)
                slowest = max(taken) if taken else None
                met = bool(taken) and not failed and slowest <= FAIR_BUDGET_MS
                rows.append(f"| {label} | {DISPLAY_NAMES[cond]} | {phase_name} | {len(taken):,}"
                            + (f" ({failed:,} failed)" if failed else "")
                            + f" | {fmt(statistics.median(taken) if taken else None, 1)} | "
                              f"{fmt(percentile(taken, 0.99), 1)} | {fmt(slowest, 1)} | "
                              f"{runs([max((t for t in run[phase] if t is not None), default=None) for run in runs_])} | "
                            + (within(met) if phase == "beside" else "") + " |")
            whole = all(run["whole"] for run in runs_)
            cells = [f"{'yes' if run['whole'] else 'no'} ({run['replies']:,} replies, {run['read']:,} bytes"
                     + (", reading cut at its deadline" if run["ended"] == "deadline" else "") + ")" for run in runs_]
            ends = ", ".join(f"{run['ended']} after {run['read seconds']:.1f} s" for run in runs_)
            whole_rows.append(f"| {label} | {DISPLAY_NAMES[cond]} | {'yes' if whole else 'no'} | "
                              f"{'; '.join(cells)} | {runs([run['written'] / 2 ** 20 for run in runs_], 1)} | "
                              f"{ends} |")
            odd = [run for run in runs_ if run["distinct"] != 1]
            if odd:
                failures.append(f"- {label}, {DISPLAY_NAMES[cond]}: the polite client's replies were not all the "
                                f"same bytes in {len(odd)} of {len(runs_)} runs (distinct replies: "
                                f"{runs([run['distinct'] for run in odd])})"
                                + ("; with no one reply from the polite client alone, the greedy client's read "
                                   "could not be checked" if any(not run["reply"] for run in odd) else "") + ".")
    if not rows:
        return []
    return ["", "### One connection sending without reading beside another", "",
            f"A greedy client connects to the HTML-reply listener with a {FAIR_GREEDY_RCVBUF // 1024} KiB receive "
            f"buffer and writes `GET / HTTP/1.0` requests ({FAIR_REQUESTS_PER_WRITE} a write, TCP_NODELAY) as fast "
            f"as the connection takes them for {FAIR_SECONDS:.0f} s, never reading, so that its receive buffer "
            "and then the program's send buffer fill; it runs in a process of its own. Meanwhile, from "
            f"{FAIR_LEAD_SECONDS * 1000:.0f} ms after it began, a polite client opens a connection, sends one "
            "request, reads the whole reply (its Content-Length) and closes, again and again "
            f"{FAIR_PAUSE_SECONDS * 1000:.0f} ms apart; each request timed from connecting to the reply's last "
            f"byte (one not answered within {FAIR_REQUEST_TIMEOUT:.0f} s counts as failed). \"Alone\": the "
            f"same for {FAIR_ALONE_SECONDS:.0f} s before the greedy client starts. Milliseconds, over all runs; "
            "99th: the nearest-rank 99th percentile; slowest per run after it.", "",
            "| Program | Display | Polite client | Replies | Median | 99th | Slowest | Slowest per run | |",
            "|---|---|---|---:|---:|---:|---:|---|---|"] + rows + [
            "", f"Budget: beside the greedy client, every polite request answered and the slowest within "
                f"{FAIR_BUDGET_MS} ms.", "",
            "Then the greedy client stops writing, shuts its sending side and reads whatever comes until the "
            f"program closes the connection or sends nothing for {FAIR_QUIET_SECONDS:.0f} s (at most "
            f"{FAIR_READ_SECONDS:.0f} s). Whole replies: what it read is copies of the polite client's reply, one "
            "after another, nothing cut or mixed (the program keeps what the connection does not take up to "
            "64 KiB and drops a reply that does not fit whole).", "",
            "| Program | Display | Whole replies | Each run | Greedy client wrote (MiB) | Reading ended |",
            "|---|---|---|---|---|---|"] + whole_rows + (["", *failures] if failures else [])


def report(stores, count, displays):
    ours = [(k, label) for k, label in PROGRAMS
            if any(key[-1] == k and v for store in stores.values() for key, v in store["results"].items())]
    lines = [f"## Network ({count} runs each, medians; ratios to references measured in the same run)"]
    if len(ours) > 1:
        lines += ["", "\"Wirepad before\" is the earlier build given with --before, measured in the same runs."]
    measured = [c for c in displays if c in stores and any(k[0] in ("burst", "http1", "udp")
                                                          for k in stores[c]["results"])]
    refs = stores[measured[0]] if measured else new_store()
    for cond in measured:
        if len(measured) > 1:
            lines += ["", f"### With the {DISPLAY_NAMES[cond]}"]
        lines += throughput_report(stores[cond], refs, ours, "####" if len(measured) > 1 else "###")
    if len(measured) > 1:
        lines += display_comparison(stores, ours, measured)
    lines += churn_report(stores, ours, displays)
    lines += fairness_report(stores, ours, displays)

    null = stores.get("null", new_store())
    results, memory = null["results"], null["memory"]
    r = lambda *key: results.get(key, [])
    if any(r("clicks", name) for name, _ in ours):
        lines += ["", "### Clicks sent as messages during floods", "",
                  f"A click sent to the window every 20 ms for up to {CLICK_SECONDS} s while another process "
                  f"floods a UDP listener with up to {FLOOD_DATAGRAMS:,} datagrams as fast as it can and a client "
                  "sends a 16 MiB burst to a TCP listener, both at once. Milliseconds the window took to handle "
                  "each click (from wpdrive sending the button press until the window answered).", "",
                  "| Program | Clicks | Median | Slowest | Slowest per run |", "|---|---:|---:|---:|---|"]
        for name, label in ours:
            clicks = r("clicks", name)
            if clicks:
                lines.append(f"| {label} | {len(clicks)} | {statistics.median(clicks):.0f} | {max(clicks)} | "
                             f"{runs(r('clicks slowest', name))} |")
        clicks = r("clicks", "wirepad")
        if clicks:
            lines += ["", f"Budget (slowest click at most {CLICK_BUDGET_MS} ms): {max(clicks)} ms "
                          f"({verdict(max(clicks) <= CLICK_BUDGET_MS)})."]

    lines += input_report(stores.get("x11", new_store())["results"], ours)
    lines += loops_report(stores.get("x11", new_store())["results"], ours)
    lines += memory_report(stores, ours, measured)
    return "\n".join(lines) + "\n"


def memory_report(stores, ours, measured):
    memory = {}
    for cond in ("null",) + tuple(c for c in measured if c != "null"):
        for (workload, name), values in stores.get(cond, new_store())["memory"].items():
            key = name if cond == "null" else f"{name} {cond}"
            memory[(workload, key)] = values
    if not memory:
        return []
    shown = [(k, label) for k, label in ours + [("floor", "Floor")]]
    shown += [(f"{k} x11", f"{label}, X display") for k, label in ours + [("floor", "Floor")]]
    shown = [(k, label) for k, label in shown if any(key[1] == k for key in memory)]
    lines = ["", "### Memory", "", "Peak resident size (VmHWM of the Wine process running the exe), MiB"
             + ("; the rows marked \"X display\" are the window shown on the X display, the others under the "
                "null driver." if any(k.endswith(" x11") for k, _ in shown) else "."), "",
              "| Program | Receive throughput | Request and reply | Datagrams | Both floods | "
              "× floor (throughput / request) |",
              "|---|---:|---:|---:|---:|---:|"]
    mib = lambda k: (median(memory.get(k, [])) or 0) / 1024 or None
    for name, label in shown:
        floor = "floor x11" if name.endswith(" x11") else "floor"
        lines.append(f"| {label} | {fmt(mib(('burst', name)), 1)} | {fmt(mib(('http', name)), 1)} | "
                     f"{fmt(mib(('udp', name)), 1)} | {fmt(mib(('floods', name)), 1)} | "
                     f"{ratio(mib(('burst', name)), mib(('burst', floor)))} / "
                     f"{ratio(mib(('http', name)), mib(('http', floor)))} |")
    if len(ours) > 1:
        workloads = ("burst", "http", "udp", "floods")
        higher = [k for k in workloads if mib((k, "wirepad")) and mib((k, "before"))
                  and mib((k, "wirepad")) > mib((k, "before"))]
        lines += ["", "Budget (Wirepad's peak no higher than before's under every workload): "
                      + (verdict(not higher) + ("" if not higher else " under " + ", ".join(higher))) + "."]
    return lines


def input_report(results, ours):
    if not any(results.get(("input", "idle", k)) for k, _ in ours):
        return []
    lines = ["", "### A person's clicks and keys", "",
             "Wirepad shown on a virtual X display (Xvfb) by Wine's X11 driver; a click on Insert GET "
             "(`xdotool mousedown 1 mouseup 1`) and Alt+P, Insert POST's mnemonic (`xdotool key alt+p`), in "
             "turn, each timed from the moment xdotool has sent it (its own start, some 20 ms, left out) until the send box holds the request. "
             f"{INPUT_TRIALS} under each flood, after half a second of it; then as many as fit in the first "
             f"second after it stops. One that takes no effect within {INPUT_TIMEOUT:.0f} s "
             f"({INPUT_BEFORE_TIMEOUT:.0f} s for the earlier build, whose phase ends at two such in a row) "
             "counts as not taken. Milliseconds.", "",
             "| Program | Workload | Taken | Median | Slowest | Median click / key |",
             "|---|---|---:|---:|---:|---:|"]
    verdicts = []
    for name, label in ours:
        for phase in INPUT_PHASES:
            times = results.get(("input", phase, name), [])
            if not times:
                continue
            taken = [t for t in times if t is not None]
            clicks = [t for i, t in enumerate(times) if t is not None and i % 2 == 0]
            keys = [t for i, t in enumerate(times) if t is not None and i % 2 == 1]
            med = statistics.median(taken) if taken else None
            slow = max(taken) if taken and len(taken) == len(times) else None
            lines.append(f"| {label} | {INPUT_PHASE_NAMES[phase]} | {len(taken)} of {len(times)} | {fmt(med)} | "
                         f"{fmt(slow) if slow is not None else ('none' if not taken else 'not all')} | "
                         f"{fmt(median(clicks))} / {fmt(median(keys))} |")
            if name == "wirepad" and phase != "idle":
                met = (len(taken) == len(times) and med is not None and med <= INPUT_BUDGET_MEDIAN_MS
                       and slow <= INPUT_BUDGET_SLOWEST_MS)
                verdicts.append(f"{phase}: {verdict(met)}")
    lines += ["", f"Budget (under each flood and after it, median at most {INPUT_BUDGET_MEDIAN_MS} ms and slowest "
                  f"at most {INPUT_BUDGET_SLOWEST_MS} ms): " + "; ".join(verdicts) + "."]
    lines += ["", "Removing a listener under each flood: Alt+R (Remove's mnemonic) on a selected UDP listener that "
                  "gets no traffic, timed until its row is gone; removing it sees what is queued for it through to "
                  "its fence. Milliseconds, one a run.", "",
              "| Program | Flood | Median | Slowest | Runs |", "|---|---|---:|---:|---|"]
    for name, label in ours:
        for flood in ("udp", "tcp", "http"):
            times = results.get(("remove", flood, name), [])
            if times:
                taken = [t for t in times if t is not None]
                lines.append(f"| {label} | {INPUT_PHASE_NAMES[flood]} | {fmt(median(taken))} | "
                             f"{fmt(max(taken)) if len(taken) == len(times) else 'not all'} | "
                             f"{', '.join('none' if t is None else f'{t:.0f}' for t in times)} |")
    return lines


def ms_cell(values):
    """Median / slowest of the runs' milliseconds, and how many of them there
    were when some run had none."""
    taken = [v for v in values if v is not None]
    if not taken:
        return "never"
    cell = f"{statistics.median(taken):.0f} / {max(taken):.0f}"
    return cell if len(taken) == len(values) else f"{cell} ({len(taken)} of {len(values)})"


def loops_report(results, ours):
    rows, notes = [], []
    for name, label in ours:
        for phase in LOOP_PHASES:
            runs_ = results.get(("loops", phase, name), [])
            if not runs_:
                continue
            drags = [run["drag"] for run in runs_]
            menus = [run["menu"] for run in runs_]
            n = len(runs_)
            count = lambda items: f"{sum(1 for i in items if i)} of {n}"
            ok = lambda v: v is not None and v <= LOOP_BUDGET_MS
            met = all(ok(d["followed"]) and ok(d["placed"]) and d["ended"] and d["alive"] for d in drags) and all(
                m["opened"] is not None and ok(m["gone"]) and ok(m["mode_ended"]) and m["alive"] for m in menus)
            phase_name = INPUT_PHASE_NAMES[phase]
            rows.append(f"| {label} | {phase_name} | {count(d['followed'] is not None for d in drags)}, "
                        f"{ms_cell([d['followed'] for d in drags])} | {ms_cell([d['placed'] for d in drags])} | "
                        f"{count(d['ended'] for d in drags)} | {ms_cell([m['opened'] for m in menus])} | "
                        f"{ms_cell([m['gone'] for m in menus])} | {ms_cell([m['mode_ended'] for m in menus])}"
                        f"{' ' + chr(8225) if any(m['second'] for m in menus) else ''} | "
                        f"{count(d['alive'] and m['alive'] for d, m in zip(drags, menus))} | {within(met)} |")
            for what, items in (("drag", drags), ("menu", menus)):
                seen = {}
                for item in items:
                    if item["note"]:
                        seen[item["note"]] = seen.get(item["note"], 0) + 1
                for note, times in seen.items():
                    notes.append(f"- {label}, {phase_name}, {what}: {note} ({times} of {n} runs).")
    if not rows:
        return []
    return ["", "### Moving the window and its system menu", "",
            f"On the same window and display, idle and under each flood again (after half a second of it): "
            f"a drag of the caption, which Wine draws itself under this prefix (`xdotool mousedown 1`, "
            f"{DRAG_STEPS} steps of {DRAG_STEP[0]} by {DRAG_STEP[1]} pixels {20} ms apart, `mouseup 1`), "
            "and the system menu opened with Alt+Space and closed with Escape. wpdrive reads the window's "
            "place and GetGUIThreadInfo's flags for its thread (GUI_INMOVESIZE, GUI_INMENUMODE) from the window "
            "system. Followed: from the last step until the window was where the mouse took it (the runs that "
            "got there, then median / slowest ms). Placed: from the release until the window was there and out of "
            f"the move loop. Ended at the release: {DRAG_FURTHER_STEPS} further steps of the mouse, after the "
            "release, left the window where it was. Menu gone: from Escape until its popup was gone; the menu's "
            "loop: from the last Escape until the thread left menu mode (‡: a second Escape was pressed, as Wine "
            "keeps the system menu's loop on the caption once its popup is closed). Still running: the process "
            "alive and its window answering afterwards. Nothing counts that did not happen within "
            f"{LOOP_TIMEOUT:.0f} s; a loop that had not ended by then is ended by posting WM_LBUTTONUP (a move) "
            "or, once the flood has stopped and its Escape has had its chance, WM_CANCELMODE (a menu), and the "
            "window is started again if it ended. Milliseconds, median / slowest over the runs.", "",
            "| Program | Workload | Drag followed | Placed after the release | Drag ended at the release | "
            "Menu opened | Menu gone after Escape | Menu's loop ended | Still running | |",
            "|---|---|---:|---:|---:|---:|---:|---:|---:|---|"] + rows + [
            "", f"Budget: the window follows the drag, is in its place and out of the move loop, the menu's popup "
                f"is gone and its loop ended, each within {LOOP_BUDGET_MS} ms; the drag ends at the release, and "
                "the program still runs."] + (["", "What happened where a loop did not end:", ""] + notes if notes else [])


def self_test(build):
    """Checks what the verdicts rest on, before anything is measured: the
    churn figures from samples whose answer is known, the reading of wpdrive's
    answers, and wpdrive's commands on a real window (null driver). Raises
    wp.Failure on the first that does not hold."""
    # Requests 1 to 5 done at 1.000, 1.010, 1.020, 1.040, 1.042 s. The box
    # shows 1; then, hidden, 2; then it has been cleared; then it shows 3;
    # then 4, hidden by the time its text was read.
    done = {1: 1.000, 2: 1.010, 3: 1.020, 4: 1.040, 5: 1.042}
    samples = [(1.005, True, 1.006, True, 1), (1.015, False, 1.016, False, 2),
               (1.025, True, 1.026, True, -1), (1.035, True, 1.036, True, 3), (1.045, True, 1.046, False, 4)]
    f = churn_figures(samples, done)
    close = lambda got, want: len(got) == len(want) and all(abs(a - b) < 1e-6 for a, b in zip(got, want))
    wp.check(f["samples"] == 5 and f["hidden"] == 1, f"hidden samples counted wrong: {f}")
    wp.check(abs(f["longest hidden"] - 10) < 1e-6, f"hidden stretch wrong: {f['longest hidden']}")
    # By its text the box is current at the hidden sample; as drawn it still
    # shows 1 there, 16 ms after 1 was done; a cleared box is as far behind
    # as what it showed before; a box that shows 4 when 5 is done is behind
    # since 4 was done.
    wp.check(close(f["lags"], [0, 0, 16, 0, 6]), f"lag by the text wrong: {f['lags']}")
    wp.check(close(f["drawn lags"], [0, 16, 26, 0, 26]), f"lag as drawn wrong: {f['drawn lags']}")
    wp.check(churn_figures([(0.5, True, 0.6, True, -1)], done)["lags"] == [],
             "a sample before any request was done counts")
    # The greedy client's read: whole replies only, a cut tail allowed only
    # when the reading stopped at its deadline, a reply mixed into another
    # or one cut short within the stream never.
    reply = b"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi"
    wp.check(whole_replies(reply * 3, reply) == (True, 3), "three whole replies not seen as whole")
    wp.check(whole_replies(b"", reply) == (True, 0), "nothing read is not whole")
    wp.check(not whole_replies(reply * 2 + reply[:10], reply)[0], "a cut tail passes as whole")
    wp.check(whole_replies(reply * 2 + reply[:10], reply, cut=True) == (True, 2),
             "a tail cut by the deadline fails")
    wp.check(not whole_replies(reply * 2 + b"x" * 10, reply, cut=True)[0], "a tail that is no reply passes")
    mixed = reply[:20] + reply + reply[20:]
    wp.check(not whole_replies(mixed, reply)[0], "a reply inside another passes as whole")
    wp.check(not whole_replies(reply[:-1] + reply + b"i", reply)[0], "replies shifted by a byte pass")
    wp.check(percentile(list(range(1, 301)), 0.99) == 297 and percentile([5.0], 0.99) == 5.0
             and percentile(list(range(100, 0, -1)), 0.5) == 50, "the 99th percentile picked wrong")
    g = Gui(f"{GUI_INMENUMODE | 1} 1 10 20 30 40")
    wp.check(g.known and g.in_menu and not g.moving and g.menus == 1 and g.rect == (10, 20, 30, 40),
             "wpdrive's gui answer read wrong")
    wp.check(not Gui(None).known and not Gui("timeout").known, "a missing gui answer reads as known")

    app = wp.Wirepad(build)
    try:
        app.set(wp.RECV_TEXT, "GET /7 HTTP/1.0\r\n\r\nGET /12 x GET /9 GET /x GET 50 /40")
        answer = app.ask(f"watch {wp.RECV_TEXT} GET /")
        wp.check(answer == "1 1 53 12", f"watch answered {answer!r}")
        wp.check(app.ask(f"watch {wp.RECV_TEXT} POST /").endswith(" -1"), "watch found a number it should not")
        wp.check(int(app.ask(f"style {wp.RECV_TEXT}")) & WS_VISIBLE, "the shown box's style has no WS_VISIBLE")
        state = gui(app)
        wp.check(state.known and not state.moving and not state.in_menu and state.rect == app.rect(0),
                 f"gui on an idle window: {app.ask('gui')}")
        wp.check(app.ask("post 0 0 0") == "ok", "posting WM_NULL failed")
        wp.check(len(app.ask("caption").split()) == 3, "caption gave no point")
    finally:
        app.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--before", help="another wirepad.exe (an earlier version) to measure beside "
                                         "this build's, in the same runs")
    parser.add_argument("--workloads", default=",".join(WORKLOADS),
                        help="which to measure, of " + ", ".join(WORKLOADS) + " (default: all)")
    parser.add_argument("--self-test", action="store_true",
                        help="check the figures' arithmetic and wpdrive's commands, and measure nothing")
    parser.add_argument("--displays", default=",".join(DISPLAYS),
                        help="under which display conditions the burst, http, udp, churn and fairness workloads run: "
                             "null (Wine's null driver), x11 (shown on a virtual X display) (default: both)")
    args = parser.parse_args()
    workloads = [w for w in args.workloads.split(",") if w]
    displays = [d for d in args.displays.split(",") if d]
    unknown = [w for w in workloads if w not in WORKLOADS] + [d for d in displays if d not in DISPLAYS]
    if unknown or not displays:
        parser.error("unknown workload or display: " + ", ".join(unknown) if unknown else "no display given")
    build = os.path.abspath(args.build)
    before = os.path.abspath(args.before) if args.before else None
    needed = [os.path.join(build, "wirepad.exe"), os.path.join(build, "bench", "floor", "bench_floor.exe"),
              os.path.join(build, "tests", "wpdrive.exe")]
    if before:
        needed.append(before)
    missing = [p for p in needed if not os.path.exists(p)]
    if missing:
        print("missing: " + ", ".join(missing), file=sys.stderr)
        print("build first:  cmake --preset release && "
              "cmake --build --preset release --target wirepad bench_floor wpdrive", file=sys.stderr)
        return 2
    if args.self_test:
        self_test(build)
        print("self-test: OK", file=sys.stderr)
        return 0
    if not shutil.which("socat"):
        print("socat is needed for the receive reference (apt-get install -y socat)", file=sys.stderr)
        return 2
    if not shutil.which("wrk"):
        print("wrk is needed for the request figures (apt-get install -y wrk)", file=sys.stderr)
        return 2

    # The input workload and the x11 runs of the others need the X display.
    shown = "input" in workloads or ("x11" in displays and {"burst", "http", "udp", "churn", "fairness"} & set(workloads))
    for tool in (["Xvfb", "xdotool"] if shown else []):
        if not shutil.which(tool):
            print(f"{tool} is needed for the real input (apt-get install -y xvfb xdotool)", file=sys.stderr)
            return 2

    stores = {}
    display = Display(build) if shown else None
    try:
        for i in range(max(1, args.runs)):
            print(f"run {i + 1} of {args.runs}", file=sys.stderr)
            run_once(build, stores, set(workloads), before, display, displays)
    finally:
        if display:
            display.stop()
    text = report(stores, max(1, args.runs), displays)
    out = os.path.join(os.path.dirname(build), "bench-network.md")
    with open(out, "w") as f:
        f.write(text)
    print(text)
    print(f"written to {out}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

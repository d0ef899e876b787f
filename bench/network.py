#!/usr/bin/env python3
"""Network figures for Wirepad: receive throughput, request and reply, datagrams,
memory, and how soon a person's clicks and keys take effect during floods, each
beside references measured in the same run (the bare receive loop
bench_floor.exe, socat, python3 -m http.server, the idle window). Several runs;
medians.

    python3 bench/network.py [--runs N] [--build DIR] [--before DIR]

Builds nothing: run `cmake --build --preset release --target wirepad bench_floor
wpdrive` first; needs socat, wrk, Xvfb and xdotool on the host. Writes a Markdown fragment to <build>/../bench-network.md (build/ of the
source tree for the release preset). Everything talks over 127.0.0.1 on ports
bound to 0 and read back; every wait has a deadline."""

import argparse
import os
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
WORKLOADS = ("burst", "http", "udp", "clicks", "input")
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
    """bench_floor.exe under Wine: a TCP listener (and a UDP socket) with the bare receive loop."""

    def __init__(self, build, tcp_port, udp_port=0, reply=""):
        self.exe = os.path.join(build, "bench", "floor", "bench_floor.exe")
        env = dict(os.environ, WIREPAD_BUILD_DIR=build)
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
    """Wirepad with one TCP or UDP listener on `port` (and the HTML reply when asked)."""

    def __init__(self, build, port, tcp=True, html_reply=False, exe=None):
        self.app = wp.Wirepad(build, exe=exe)
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


def input_floods(build, display, exe, timeout):
    """A person's input on a window shown on `display`: idle, under each flood
    and in the first second after it stops; and, under each flood, removing
    a listener (which sweeps the notifications queued for it off the whole
    queue). ({phase: [ms or None, ...]}, {flood: ms or None})."""
    tcp_port, udp_port = wp.free_port(), wp.free_port()
    app = wp.Wirepad(build, exe=exe, display=display)
    phases, removals = {}, {}
    floods = []
    try:
        person = Person(app, display)
        app.add_listener(True, tcp_port)
        app.add_listener(False, udp_port)
        wait_listening(tcp_port)
        wait_bound_udp(udp_port)
        app.click(wp.INSERT_HTML_REPLY)
        # The first click also makes the window the one keys go to.
        input_trials(app, person, 2, 10.0)
        phases["idle"] = input_trials(app, person, INPUT_TRIALS, timeout)
        for name, command in (
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
                ("http", ["wrk", "-t4", "-c64", "-d120s", "--timeout", "5s", f"http://127.0.0.1:{tcp_port}/"])):
            flood = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            floods.append(flood)
            try:
                # A listener of no use to the flood, selected, to be removed.
                app.add_listener(False, wp.free_port())
                app.select(len(app.rows()) - 1)
                time.sleep(0.5)
                phases[name] = input_trials(app, person, INPUT_TRIALS, timeout)
                removals[name] = remove_one(app, person, timeout)
            finally:
                flood.kill()
                flood.wait()
            phases["after " + name] = input_trials(app, person, INPUT_TRIALS, timeout,
                                                   until=time.monotonic() + INPUT_AFTER_SECONDS)
            # Whatever the flood left queued is gone before the next one.
            app.click(wp.CLEAR_RECV, timeout=120)
    finally:
        for flood in floods:
            if flood.poll() is None:
                flood.kill()
                flood.wait()
        app.stop()
    return phases, removals


# --- one run ----------------------------------------------------------------------

def run_once(build, results, memory, notes, workloads, before=None, display=None):
    """One pass over every workload. `before`, when given, is another
    wirepad.exe (an earlier version) measured the same way in the same pass,
    under the same Wine prefix and server."""
    def put(key, value):
        results.setdefault(key, []).append(value)

    def mem(key, kib):
        memory.setdefault(key, []).append(kib)

    programs = [("wirepad", None)] + ([("before", before)] if before else [])

    if "burst" in workloads:
        # Receive throughput.
        port = wp.free_port()
        socat = Process(["socat", "-u", f"TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr", "/dev/null"], port)
        try:
            put(("burst", "socat"), burst(port))
        finally:
            socat.stop()

        port = wp.free_port()
        floor = Floor(build, port)
        try:
            put(("burst", "floor"), burst(port))
            mem(("burst", "floor"), floor.peak_kib())
        finally:
            floor.stop()

        for name, exe in programs:
            port = wp.free_port()
            program = Program(build, port, exe=exe)
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
            program = Program(build, port, html_reply=True, exe=exe)
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
        floor = Floor(build, port, reply=reply)
        try:
            for c in CONCURRENCY:
                rps, err = wrk(port, c)
                put((f"http{c}", "floor"), rps)
                if err:
                    notes.setdefault(f"errors floor {c}", []).append(err)
            mem(("http", "floor"), floor.peak_kib())
        finally:
            floor.stop()

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
            program = Program(build, port, tcp=False, exe=exe)
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
            program = Program(build, port, tcp=False, exe=exe)
            try:
                program.app.set(wp.RECV_TEXT, ("x" * 98 + "\r\n") * 300)
                rate, _ = datagram_flood(port, shown=lambda: program.app.length(wp.RECV_TEXT))
                put(("udp full", name), rate)
            finally:
                program.stop()

        tcp_port, udp_port = wp.free_port(), wp.free_port()
        floor = Floor(build, tcp_port, udp_port)
        try:
            rate, received = datagram_flood(udp_port)
            put(("udp", "floor"), rate)
            notes.setdefault("udp_received_floor", []).append(received)
            mem(("udp", "floor"), floor.peak_kib())
        finally:
            floor.stop()

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
            phases, removals = input_floods(build, display, exe, timeout)
            for phase, times in phases.items():
                results.setdefault(("input", phase, name), []).extend(times)
            for flood, ms in removals.items():
                results.setdefault(("remove", flood, name), []).append(ms)


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


def report(results, memory, notes, count):
    r = lambda *key: results.get(key, [])
    ours = [(k, label) for k, label in PROGRAMS if any(key[-1] == k and v for key, v in results.items())]
    lines = [f"## Network ({count} runs each, medians; ratios to references measured in the same run)", ""]
    if len(ours) > 1:
        lines += ["\"Wirepad before\" is the earlier build given with --before, measured in the same runs.", ""]

    lines += ["### Receive throughput", "",
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

    lines += ["", "### Request and reply", "",
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

    lines += ["", "### Datagrams", "",
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

    lines += input_report(results, ours)

    lines += ["", "### Memory", "", "Peak resident size (VmHWM of the Wine process running the exe), MiB.", "",
              "| Program | Receive throughput | Request and reply | Datagrams | Both floods | "
              "× floor (throughput / request) |",
              "|---|---:|---:|---:|---:|---:|"]
    mib = lambda k: (median(memory.get(k, [])) or 0) / 1024 or None
    for name, label in ours + [("floor", "Floor")]:
        lines.append(f"| {label} | {fmt(mib(('burst', name)), 1)} | {fmt(mib(('http', name)), 1)} | "
                     f"{fmt(mib(('udp', name)), 1)} | {fmt(mib(('floods', name)), 1)} | "
                     f"{ratio(mib(('burst', name)), mib(('burst', 'floor')))} / "
                     f"{ratio(mib(('http', name)), mib(('http', 'floor')))} |")
    if len(ours) > 1:
        workloads = ("burst", "http", "udp", "floods")
        higher = [k for k in workloads if mib((k, "wirepad")) and mib((k, "before"))
                  and mib((k, "wirepad")) > mib((k, "before"))]
        lines += ["", "Budget (Wirepad's peak no higher than before's under every workload): "
                      + (verdict(not higher) + ("" if not higher else " under " + ", ".join(higher))) + "."]
    return "\n".join(lines) + "\n"


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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--before", help="another wirepad.exe (an earlier version) to measure beside "
                                         "this build's, in the same runs")
    parser.add_argument("--workloads", default=",".join(WORKLOADS),
                        help="which to measure, of " + ", ".join(WORKLOADS) + " (default: all)")
    args = parser.parse_args()
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
    if not shutil.which("socat"):
        print("socat is needed for the receive reference (apt-get install -y socat)", file=sys.stderr)
        return 2
    if not shutil.which("wrk"):
        print("wrk is needed for the request figures (apt-get install -y wrk)", file=sys.stderr)
        return 2

    workloads = set(args.workloads.split(","))
    for tool in (["Xvfb", "xdotool"] if "input" in workloads else []):
        if not shutil.which(tool):
            print(f"{tool} is needed for the real input (apt-get install -y xvfb xdotool)", file=sys.stderr)
            return 2

    results, memory, notes = {}, {}, {}
    display = Display(build) if "input" in workloads else None
    try:
        for i in range(max(1, args.runs)):
            print(f"run {i + 1} of {args.runs}", file=sys.stderr)
            run_once(build, results, memory, notes, workloads, before, display)
    finally:
        if display:
            display.stop()
    text = report(results, memory, notes, max(1, args.runs))
    out = os.path.join(os.path.dirname(build), "bench-network.md")
    with open(out, "w") as f:
        f.write(text)
    print(text)
    print(f"written to {out}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

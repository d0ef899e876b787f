"""The real wirepad.exe under Wine, driven from the host, and the small tools
the proof scenarios share: peers on 127.0.0.1, socket tables, waiting with a
deadline."""

import fcntl
import os
import resource
import select
import shutil
import socket
import subprocess
import tempfile
import time

# Control identifiers of the main window.
HOST, PORT, SEND_TEXT, RECV_TEXT = 31, 32, 9, 10
SEND_TCP_WAIT, SEND_TCP_NOWAIT, SEND_UDP = 11, 12, 13
CLEAR_RECV, CLEAR_SEND, INSERT_POST, INSERT_GET = 16, 22, 80, 81
LISTEN_PORT, LISTENERS = 100, 103
ADD_TCP, ADD_UDP, REMOVE_ONE, REMOVE_ALL = 101, 102, 104, 105
REPLY_TEXT, INSERT_HTML_REPLY, CLEAR_REPLY = 120, 121, 122

ROOT = os.path.dirname(os.path.abspath(__file__))
WINE_EXEC = os.path.normpath(os.path.join(ROOT, "..", "..", "..", "cmake", "wine-exec"))
WINE_PREFIX = os.path.normpath(os.path.join(ROOT, "..", "..", "..", "script", "wine-prefix"))


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, timeout, step=0.02):
    """Polls predicate until it gives a true value or timeout seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def escape(text):
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")


def unescape(line):
    out, i = [], 0
    while i < len(line):
        c = line[i]
        if c == "\\" and i + 1 < len(line):
            i += 1
            c = {"r": "\r", "n": "\n", "t": "\t"}.get(line[i], line[i])
        out.append(c)
        i += 1
    return "".join(out)


def free_port(kind=socket.SOCK_STREAM):
    """A port that nothing on 127.0.0.1 holds right now, for either protocol."""
    for _ in range(50):
        a = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        b = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            a.bind(("127.0.0.1", 0))
            port = a.getsockname()[1]
            b.bind(("127.0.0.1", port))
            return port
        except OSError:
            continue
        finally:
            a.close()
            b.close()
    raise Failure("no free port")


def sockets(proto, port):
    """Rows of `ss` for sockets whose local port is `port`: (state, local, peer)."""
    flag = "-tan" if proto == "tcp" else "-uan"
    out = subprocess.run(["ss", "-H", flag, f"( sport = :{port} )"], capture_output=True, text=True,
                         timeout=10).stdout
    rows = []
    for line in out.splitlines():
        f = line.split()
        if len(f) >= 5:
            rows.append((f[0], f[3], f[4]))
    return rows


def listening_addresses(port):
    """Local addresses of TCP listeners and UDP sockets bound on the port."""
    tcp = [local for state, local, _ in sockets("tcp", port) if state == "LISTEN"]
    udp = [local for state, local, _ in sockets("udp", port) if state == "UNCONN"]
    return tcp + udp


def tcp_exchange(port, data, expect, timeout=5.0):
    """Connects, sends data, reads until `expect` bytes came (or timeout), closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        return read_exactly(s, expect, timeout)


def find_wine_pid(*needles, exclude=()):
    """The Wine process whose command line holds every needle (case-insensitive)
    and none of `exclude`; never the launcher script or a shell around it."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        low = cmd.lower()
        if all(n.lower() in low for n in needles) and not any(x in cmd for x in exclude) \
                and "wine-exec" not in cmd and not cmd.startswith(("bash", "/bin/bash", "timeout")):
            return int(pid)
    return None


def status_kib(pid, field):
    """A size field of /proc/PID/status (VmRSS, VmHWM, ...) in KiB; 0 when unknown."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (OSError, TypeError):
        pass
    return 0


def cpu_seconds(pid):
    """User and system time a process has used so far; None when unknown."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, TypeError, IndexError, ValueError):
        return None


def read_exactly(s, count, timeout):
    got = b""
    deadline = time.monotonic() + timeout
    while len(got) < count and time.monotonic() < deadline:
        s.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            chunk = s.recv(count - len(got))
        except socket.timeout:
            break
        if not chunk:
            break
        got += chunk
    return got


def read_quiet(s, quiet=0.3, timeout=5.0):
    """Reads until the peer closes or nothing arrives for `quiet` seconds."""
    got = b""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        s.settimeout(quiet)
        try:
            chunk = s.recv(65536)
        except socket.timeout:
            break
        if not chunk:
            break
        got += chunk
    return got


def udp_send(port, payload):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(payload, ("127.0.0.1", port))


def descriptor_limit(limit):
    """For a child's preexec_fn: at most `limit` open descriptors, as soft and
    hard limit both, so that Wine, which raises its soft limit to the hard
    one, keeps it."""
    def apply():
        resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))
    return apply


def descriptors_open(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except (OSError, TypeError):
        return None


def descriptor_limit_of(pid):
    """The soft descriptor limit of a process; None when unknown."""
    try:
        with open(f"/proc/{pid}/limits") as f:
            for line in f:
                if line.startswith("Max open files"):
                    return int(line.split()[3])
    except (OSError, TypeError, ValueError):
        pass
    return None


def wine_server(prefix):
    """The pid of the Wine server of `prefix`, or None."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            continue
    return None


class ScarceWine:
    """A Wine server of its own whose process, and every program it runs,
    may hold at most `limit` descriptors: Wine keeps every socket of its
    programs in its server, so a low limit makes the program's accepts fail
    for want of descriptors. A server serves one prefix, and the build's
    prefix already has one with the normal limit, so this one runs a copy of
    that prefix (made once, kept for later runs while the build's prefix is
    set up the same way)."""

    def __init__(self, build, limit):
        self.limit = limit
        self.prefix = os.path.join(build, "wineprefix-fdlimit")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        # One run at a time owns the server: a second would kill the first's.
        self.owner = open(self.prefix + ".run.lock", "w")
        check(wait_for(self._own, 120, 0.2), "another run kept the descriptor-limited Wine server for 2 minutes")
        try:
            self._copy_prefix(os.path.join(build, "wineprefix"))
            # A server left over from a run that died has the normal limit.
            self._kill()
            # Its output goes nowhere: it outlives this call, and must not hold
            # the test's output open.
            subprocess.run(["wineserver", "-p"], env=self.env, preexec_fn=descriptor_limit(limit),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=30)
            self.pid = wait_for(self._server_pid, 10)
            check(self.pid, "the descriptor-limited Wine server did not start")
            check(descriptor_limit_of(self.pid) == limit,
                  f"the Wine server's descriptor limit is {descriptor_limit_of(self.pid)}, not {limit}")
        except BaseException:
            self.stop()
            raise

    def _own(self):
        try:
            fcntl.flock(self.owner, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return True
        except BlockingIOError:
            return False

    def _copy_prefix(self, source):
        subprocess.run([WINE_PREFIX, source, "null"], check=True, timeout=300)
        with open(source + ".lock", "w") as source_lock, open(self.prefix + ".lock", "w") as lock:
            fcntl.flock(source_lock, fcntl.LOCK_EX)
            fcntl.flock(lock, fcntl.LOCK_EX)
            markers = sorted(f for f in os.listdir(source) if f.startswith(".wirepad-"))
            have = sorted(f for f in os.listdir(self.prefix) if f.startswith(".wirepad-")) \
                if os.path.isdir(self.prefix) else None
            if have == markers:
                return
            self._kill()
            fresh = self.prefix + ".new"
            shutil.rmtree(fresh, ignore_errors=True)
            subprocess.run(["cp", "-a", source, fresh], check=True, timeout=300)
            # Names the folder of the source's server; the copy gets one of its own.
            if os.path.exists(os.path.join(fresh, "wineserver")):
                os.remove(os.path.join(fresh, "wineserver"))
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.rename(fresh, self.prefix)

    def _server_pid(self):
        return wine_server(self.prefix)

    def _kill(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        wait_for(lambda: self._server_pid() is None, 10, 0.1)

    def descriptors(self):
        """How many descriptors the server holds now."""
        return descriptors_open(self.pid)

    def stop(self):
        if not self.owner.closed:
            self._kill()
            self.owner.close()


class Wirepad:
    """One running wirepad.exe, a copy in a folder of its own under the build,
    so that the driver finds exactly this window; driven by one wpdrive in
    serve mode. Wine output of the program goes to a log for heap checks."""

    def __init__(self, build, locale="de_DE.UTF-8", winedebug=None, exe=None, display=None, wine=None):
        """`exe`: another wirepad.exe to run instead of the build's own (the
        build's Wine prefix and driver all the same). `display`: an X display
        (person.Display) to show the window on, with Wine's X11 driver in a
        prefix of its own, so that input can come through the X server as a
        person's does; without it, the null driver and no display. `wine`: a
        ScarceWine to run the program (under its descriptor limit) and the
        driver in."""
        self.build = build
        self.folder = tempfile.mkdtemp(prefix="proof-", dir=os.path.join(build, "tests"))
        self.name = os.path.basename(self.folder)
        self.exe = os.path.join(self.folder, "wirepad.exe")
        shutil.copy(exe or os.path.join(build, "wirepad.exe"), self.exe)
        self.log_path = os.path.join(self.folder, "wine.log")
        env = dict(os.environ, WIREPAD_BUILD_DIR=build, LC_ALL=locale)
        shown = {}
        if display:
            shown = dict(WINEPREFIX=display.prefix, WIREPAD_WINE_MODE="x11", DISPLAY=display.name)
        elif wine:
            shown = dict(WINEPREFIX=wine.prefix)
        env.update(shown)
        if winedebug:
            env["WINEDEBUG"] = winedebug
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen([WINE_EXEC, self.exe], env=env, stdout=self.log, stderr=self.log,
                                        preexec_fn=descriptor_limit(wine.limit) if wine else None)
        driver_env = dict(os.environ, WIREPAD_BUILD_DIR=build, WINEDEBUG="-all", **shown)
        self.driver = subprocess.Popen(
            [WINE_EXEC, os.path.join(build, "tests", "wpdrive.exe"), "wait", self.name, "serve"],
            env=driver_env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.exit_code = None
        self.heap = None
        check(self.ask("alive", 60) == "ok", "the window did not come up")
        self.pid = wait_for(self._find_pid, 10)

    # --- the driver -------------------------------------------------------
    def ask(self, line, timeout=40.0):
        """One command to wpdrive; its one-line answer, or None on time-out."""
        try:
            self.driver.stdin.write((line + "\n").encode("utf-8"))
            self.driver.stdin.flush()
        except (BrokenPipeError, OSError):
            return None
        out = self.driver.stdout
        buf = b""
        deadline = time.monotonic() + timeout
        while not buf.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([out], [], [], remaining)[0]:
                return None
            chunk = os.read(out.fileno(), 1 << 20)
            if not chunk:
                return None
            buf += chunk
        return buf.decode("utf-8").rstrip("\r\n")

    def set(self, control, text):
        check(self.ask(f"set {control} {escape(text)}") == "ok", f"setting control {control} failed")

    def text(self, control):
        answer = self.ask(f"text {control}")
        check(answer is not None, f"reading control {control} timed out")
        return unescape(answer)

    def length(self, control):
        answer = self.ask(f"len {control}")
        check(answer is not None, f"measuring control {control} timed out")
        return int(answer)

    def rows(self):
        answer = self.ask(f"list {LISTENERS}")
        check(answer is not None, "reading the listener list timed out")
        return [r for r in unescape(answer).split("\n") if r]

    def click(self, button, timeout=40.0):
        """Clicks; returns how many ms the window took to handle it."""
        answer = self.ask(f"click {button}", timeout)
        check(answer is not None and answer.startswith("ok "), f"click on {button} not handled: {answer}")
        return int(answer.split()[1])

    def post_click(self, button, box, timeout=40.0):
        """Posts a click behind what waits in the window's queue, as a user's
        click waits; returns the ms until text box `box` is empty, or None."""
        answer = self.ask(f"postclick {button} {box}", timeout)
        return int(answer.split()[1]) if answer and answer.startswith("ok ") else None

    def select(self, row):
        check(self.ask(f"select {LISTENERS} {row}") == "ok", f"selecting row {row} failed")

    def rect(self, control=0):
        """(left, top, right, bottom) of a control (0: the window) on the screen."""
        answer = self.ask(f"rect {control}")
        check(answer is not None, f"locating control {control} timed out")
        return tuple(int(v) for v in answer.split())

    def alive(self):
        return self.process.poll() is None and self.ask("alive", 10) == "ok"

    # --- the process ------------------------------------------------------
    def _find_pid(self):
        return find_wine_pid(self.name, "wirepad.exe", exclude=("wpdrive",))

    def rss_kib(self):
        return status_kib(self.pid, "VmRSS")

    def add_listener(self, tcp, port):
        self.set(LISTEN_PORT, str(port))
        self.click(ADD_TCP if tcp else ADD_UDP)

    def close(self, timeout=2.0):
        """Presses the close box; the exit code and the seconds it took, or (None, t)."""
        start = time.monotonic()
        self.ask("close", 10)
        try:
            self.exit_code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None, time.monotonic() - start
        return self.exit_code, time.monotonic() - start

    def heap_errors(self):
        if self.heap is None:
            self.log.flush()
            with open(self.log_path, "rb") as f:
                return [l.decode("utf-8", "replace") for l in f if b"err:heap" in l]
        return self.heap

    def stop(self):
        """Ends whatever is left of this instance and its driver, keeps its heap
        errors and removes its folder."""
        if self.heap is not None:
            return
        if self.process.poll() is None:
            self.close(5)
        for p in (self.driver, self.process):
            if p.poll() is None:
                p.kill()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    pass
        try:
            self.driver.stdin.close()
        except OSError:
            pass
        self.heap = self.heap_errors()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)

"""The soak's peers: TCP clients, UDP senders, curl and wrk, and the servers
the window's own client talks to, all on 127.0.0.1, each keeping a record of
every byte it sent and got back.

Every byte a peer sends describes itself, so that the checker can put each
connection's stream back together from the received text alone:
- a TCP send starts with "\\x02T" + connection (5 digits) + ":" + send number
  (6 digits) + "|"; a datagram starts with "\\x02U" + datagram (7 digits) + "|";
  the answer of a server of the window's own client with "\\x02O" + number
  (4 digits) + "|";
- the rest is drawn from printable ASCII and control bytes, never CR, LF,
  "?" or \\x02 (a CR LF in the box is always a datagram's line break, and a
  \\x02 always a header); the code page's double-byte characters, each
  followed by a byte from " " to ">", so that a chunk that starts on a
  character's second byte upsets one character and no more; zero bytes, at
  most one in any 1,100 bytes of a connection, so that the part a zero byte
  hides ends within one chunk.
"""

import random
import socket
import struct
import subprocess
import threading
import time

CHUNK = 1023  # the most the window reads at once
DOUBLE_BYTE = [c.encode("cp950") for c in "中文測試"]
FOLLOW = bytes(b for b in range(0x20, 0x3F))  # " " to ">"
PLAIN = bytes(b for b in list(range(0x20, 0x7F)) + list(range(0x01, 0x20)) + [0x7F]
              if b not in (0x0A, 0x0D, 0x3F, 0x02))
ZERO_SPACING = 1100
KINDS = ("waiter", "streamer", "halfclose", "reset", "midclose")
STRICT = ("waiter", "streamer", "halfclose")  # close in good order, having read all


class Budget:
    """How much text all peers together may have on its way to the window's
    box: every byte a peer sends counts until the accounting has read that
    much text out of the box, so the box never fills between two reads of
    it, however slowly the window goes. A box read empty twice in a row has
    shown all it was sent (the hidden parts of chunks never come)."""

    def __init__(self, cap=7_500):
        self.cond = threading.Condition()
        self.cap = cap
        self.outstanding = 0
        self.empty_reads = 0

    def read(self, characters):
        with self.cond:
            self.empty_reads = 0 if characters else self.empty_reads + 1
            self.outstanding = 0 if self.empty_reads >= 2 else max(0, self.outstanding - characters)
            self.cond.notify_all()

    def take(self, count, deadline):
        """Waits until `count` more bytes may go (False at the deadline)."""
        count = min(count, self.cap)
        with self.cond:
            while self.outstanding + count > self.cap:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self.cond.wait(min(left, 0.1))
            self.outstanding += count
            return True


class Writer:
    """Self-describing bytes for one connection or one datagram."""

    def __init__(self, rng):
        self.rng = rng
        self.since_zero = 0

    def body(self, length, zeros=True):
        out = bytearray()
        rng = self.rng
        while len(out) < length:
            r = rng.random()
            if r < 0.04 and length - len(out) >= 3:
                out += rng.choice(DOUBLE_BYTE)
                out.append(rng.choice(FOLLOW))
                self.since_zero += 3
            elif zeros and r < 0.045 and self.since_zero >= ZERO_SPACING:
                out.append(0)
                self.since_zero = 0
            else:
                out.append(rng.choice(PLAIN))
                self.since_zero += 1
        return bytes(out)


class Ledger:
    """What every peer did, for the accounting; one lock for all."""

    def __init__(self):
        self.lock = threading.Lock()
        self.connections = []   # Connection
        self.datagrams = []     # Datagram
        self.http = []          # HttpRun
        self.own = []           # OwnExchange
        self.failures = []      # (what, detail) a peer saw itself
        self.next_connection = 1
        self.next_datagram = 1

    def connection(self, kind, port):
        with self.lock:
            c = Connection(self.next_connection, kind, port)
            self.next_connection += 1
            self.connections.append(c)
            return c

    def datagram_id(self):
        with self.lock:
            n = self.next_datagram
            self.next_datagram += 1
            return n

    def fail(self, what, detail):
        with self.lock:
            self.failures.append((what, detail))


class Connection:
    def __init__(self, cid, kind, port):
        self.cid, self.kind, self.port = cid, kind, port
        self.sent = bytearray()
        self.got = bytearray()
        self.messages = 0
        self.reply_first = None  # reply states current when it began and ended
        self.reply_last = None
        self.reset = False
        self.done = False
        self.acked = None  # what the window's system acknowledged (bytes_acked)
        self.first_sent = self.last_sent = None  # when its first and last bytes went

    def never_taken(self):
        """Bytes sent of which the window's system took not one: the
        connection never reached a socket the window could accept (it came
        while the listener's queue of connections waiting to be accepted was
        full, and the system dropped it). A connection the window can accept
        has its first bytes acknowledged at once, into an empty receive
        buffer. The count includes the connection's opening (1)."""
        return bool(self.sent) and self.acked is not None and self.acked <= 1


class Datagram:
    def __init__(self, did, sender, port, data):
        self.did, self.sender, self.port, self.data = did, sender, port, data
        self.cleared = False  # left in the box for the person's Clear


class Replies:
    """The reply texts the window has held, in order, as the bytes it sends:
    each new one is noted before the window gets it (`begin`) and once it has
    it (`done`), so that a connection knows which it may have been sent."""

    def __init__(self):
        self.lock = threading.Lock()
        self.states = []
        self.begun = -1
        self.done_upto = -1

    def begin(self, data):
        with self.lock:
            self.states.append(bytes(data))
            self.begun = len(self.states) - 1
            return self.begun

    def done(self, index):
        with self.lock:
            self.done_upto = max(self.done_upto, index)

    def window(self):
        with self.lock:
            return self.done_upto, self.begun

    def parse(self, data, first, last):
        """Splits `data` into whole replies from states first..last: (count,
        offset where it stopped matching)."""
        with self.lock:
            states = self.states[max(first, 0):last + 1]
        p = count = 0
        while p < len(data):
            for s in states:
                if s and data.startswith(s, p):
                    p += len(s)
                    count += 1
                    break
            else:
                break
        return count, p


def _read_some(s, got, timeout):
    s.settimeout(timeout)
    try:
        chunk = s.recv(65536)
    except (socket.timeout, BlockingIOError):
        return True
    except OSError:
        return False
    if not chunk:
        return False
    got += chunk
    return True


def tcp_client(ledger, rate, replies, rng, kind, port, deadline):
    """One TCP client of the given kind against the listener on `port`."""
    c = ledger.connection(kind, port)
    writer = Writer(rng)
    c.reply_first = replies.window()[0]
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
    except OSError as e:
        ledger.fail("connect", f"connection {c.cid} to port {port}: {e}")
        c.done = True
        return c
    try:
        messages = {"waiter": rng.randint(1, 12), "streamer": rng.randint(4, 60), "halfclose": 1,
                    "reset": rng.randint(1, 6), "midclose": rng.randint(1, 20)}[kind]
        for n in range(messages):
            if time.monotonic() >= deadline:
                break
            length = rng.randint(1, 4000) if kind != "streamer" else rng.randint(500, 16_000)
            header = b"\x02T%05d:%06d|" % (c.cid, n)
            data = header + writer.body(max(0, length - len(header)))
            sent_all = True
            for start in range(0, len(data), 4096):
                piece = data[start:start + 4096]
                if not rate.take(len(piece), deadline + 30):
                    sent_all = False
                    break
                if c.first_sent is None:
                    c.first_sent = time.monotonic()
                s.sendall(piece)
                c.sent += piece
                c.last_sent = time.monotonic()
                if kind in ("streamer", "midclose"):
                    _read_some(s, c.got, 0.0005)  # keep its own window open
            c.messages += 1
            if not sent_all:
                break
            if kind == "waiter":
                # Waits for one more whole reply than it had.
                had = replies.parse(c.got, c.reply_first, replies.window()[1])[0]
                end = time.monotonic() + 15
                while time.monotonic() < end:
                    if not _read_some(s, c.got, 0.2):
                        break
                    if replies.parse(c.got, c.reply_first, replies.window()[1])[0] > had:
                        break
        if kind == "reset":
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            c.reset = True
        elif kind == "midclose":
            pass
        else:
            s.shutdown(socket.SHUT_WR)
            end = time.monotonic() + 30
            while time.monotonic() < end and _read_some(s, c.got, 1.0):
                pass
    except OSError as e:
        if kind in STRICT:
            ledger.fail("tcp", f"connection {c.cid} ({kind}) on port {port}: {e}")
    finally:
        c.acked = bytes_acked(s)
        s.close()
        c.reply_last = replies.window()[1]
        c.done = True
    return c


def udp_sender(ledger, rate, rng, sender, port, count, deadline):
    """Datagrams of 0 to 65,507 bytes to the UDP listener on `port`."""
    writer = Writer(rng)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
        for _ in range(count):
            if time.monotonic() >= deadline:
                break
            r = rng.random()
            size = 0 if r < 0.04 else rng.randint(CHUNK + 1, 65_507) if r < 0.08 else rng.randint(12, CHUNK)
            did = ledger.datagram_id()
            if size == 0:
                data = b""
            else:
                header = b"\x02U%07d|" % did
                writer.since_zero = 0 if rng.random() < 0.8 else ZERO_SPACING
                data = header + writer.body(size - len(header))
            if not rate.take(len(data) + 2, deadline + 30):
                break
            try:
                s.sendto(data, ("127.0.0.1", port))
            except OSError as e:
                ledger.fail("udp", f"datagram {did} to port {port}: {e}")
                continue
            with ledger.lock:
                ledger.datagrams.append(Datagram(did, sender, port, data))
            time.sleep(rng.random() * 0.003)


class HttpRun:
    def __init__(self, tool, port, connections):
        self.tool, self.port, self.connections = tool, port, connections
        self.requests = 0   # answered, as the tool counts them
        self.errors = 0
        self.note = ""


def http_request_text(port):
    """What curl (with its own headers left out) and wrk both send."""
    return f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n"


def curl_run(ledger, rng, port, count, deadline, html_body_check):
    run = HttpRun("curl", port, 1)
    for _ in range(count):
        if time.monotonic() >= deadline:
            break
        out = subprocess.run(["curl", "-s", "--max-time", "10", "-H", "User-Agent:", "-H", "Accept:",
                              f"http://127.0.0.1:{port}/"], capture_output=True, timeout=30)
        if out.returncode == 0 and html_body_check(out.stdout):
            run.requests += 1
        else:
            run.errors += 1
            run.note = f"curl exit {out.returncode}, {len(out.stdout)} bytes"
    with ledger.lock:
        ledger.http.append(run)
    return run


def wrk_run(ledger, port, connections, seconds):
    run = HttpRun("wrk", port, connections)
    out = subprocess.run(["wrk", "-t1", f"-c{connections}", f"-d{seconds}s", "--timeout", "5s",
                          f"http://127.0.0.1:{port}/"], capture_output=True, text=True, timeout=seconds + 60)
    for line in out.stdout.splitlines():
        f = line.split()
        if len(f) >= 2 and f[1] == "requests" and f[0].isdigit():
            run.requests = int(f[0])
        if "Non-2xx" in line or line.strip().startswith("Socket errors"):
            run.note += line.strip() + " "
    with ledger.lock:
        ledger.http.append(run)
    return run


class OwnExchange:
    """One send of the window's own client, as its server saw it."""

    def __init__(self, button, expected):
        self.button, self.expected = button, expected
        self.received = b""
        self.answer = b""
        self.got_back = bytearray()
        self.reply_first = self.reply_last = None
        self.cid = None


class OwnServer:
    """A TCP and a UDP socket on one port for the window's own client: the TCP
    side reads the request and, for a client that waits, answers with
    self-describing bytes and reads the window's replies to its answer."""

    def __init__(self):
        self.tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.tcp.bind(("127.0.0.1", 0))
        self.port = self.tcp.getsockname()[1]
        self.tcp.listen(8)
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind(("127.0.0.1", self.port))

    def serve_tcp(self, exchange, answer, replies, timeout=20):
        """Runs in a thread while the window connects."""
        self.tcp.settimeout(timeout)
        try:
            conn, _ = self.tcp.accept()
        except OSError:
            return
        with conn:
            got = bytearray()
            end = time.monotonic() + timeout
            while len(got) < len(exchange.expected) and time.monotonic() < end:
                if not _read_some(conn, got, 0.5):
                    break
            exchange.received = bytes(got)
            if answer is None:
                while time.monotonic() < end and _read_some(conn, got, 0.5):
                    exchange.received = bytes(got)
                return
            exchange.reply_first = replies.window()[0]
            conn.sendall(answer)
            exchange.answer = answer
            conn.shutdown(socket.SHUT_WR)
            while time.monotonic() < end and _read_some(conn, exchange.got_back, 1.0):
                pass
            exchange.reply_last = replies.window()[1]

    def receive_udp(self, exchange, timeout=10):
        self.udp.settimeout(timeout)
        try:
            exchange.received, _ = self.udp.recvfrom(70_000)
        except OSError:
            pass

    def close(self):
        self.tcp.close()
        self.udp.close()


def bytes_acked(s):
    """How many bytes the other side's system has acknowledged on a TCP
    socket (Linux's TCP_INFO), or None when it cannot say."""
    try:
        info = s.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 128)
        return struct.unpack_from("Q", info, 120)[0] if len(info) >= 128 else None
    except OSError:
        return None


def listen_overflows():
    """How often, since the system started, a connection found a listener's
    queue full (TcpExt ListenOverflows)."""
    try:
        with open("/proc/net/netstat") as f:
            lines = [line.split() for line in f if line.startswith("TcpExt:")]
        return int(dict(zip(lines[0], lines[1]))["ListenOverflows"])
    except (OSError, IndexError, KeyError, ValueError):
        return 0


def udp_drops(port):
    """Datagrams the system dropped at the socket bound on `port` before the
    window could read them (its receive buffer was full)."""
    out = subprocess.run(["ss", "-H", "-uanm", f"( sport = :{port} )"], capture_output=True, text=True,
                         timeout=10).stdout
    drops = 0
    for part in out.replace("(", ",").replace(")", ",").split(","):
        if part.startswith("d") and part[1:].isdigit():
            drops += int(part[1:])
    return drops

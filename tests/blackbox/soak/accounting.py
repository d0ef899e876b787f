"""The soak's accounting: reads the received text out of the window as it
comes, and proves from it that every byte each peer sent shows, in its
connection's order, as the window's display rule makes it:

- the window reads a connection in chunks of at most 1,023 bytes, converts
  each chunk on its own from the code page and shows it up to its first zero
  byte; chunks of different connections follow one another whole;
- after each datagram notification it adds one line break, so the datagrams
  one notification read are followed by a CR LF before anything else shows;
  a notification that finds nothing adds a line break alone;
- a datagram of more than 1,023 bytes is not shown.

The checker knows every peer's bytes (the ledger) and walks the text once,
taking each piece as the continuation of the one connection whose next bytes
it matches. A chunk that begins on the second byte of a double-byte
character, or ends after its first byte, shows one character there that the
code page makes of the lone byte: its default character, "?", which no peer
sends.
"""

import bisect
import math
import threading
import time
from array import array

from peers import CHUNK, STRICT

# What the code page makes of a byte that needs a second one it does not get
# (its default character); no peer sends it.
LONE = "?"

# How long after a peer's last send its bytes may still come out of the box:
# far more than the window ever lags behind (the report gives the most seen).
GRACE = 30.0

# A match of m characters at one of n places a chunk may start is worth
# m - log(n) / log(about as many characters as a peer draws from).
PER_START = 1 / math.log(110)

# A piece this short may be alike by chance.
SHORT = 4


class Taker:
    """Reads the received text out of the window and cuts what it read from
    the box's front, so the box never fills and nothing is read twice."""

    def __init__(self, app, rate):
        self.app, self.rate = app, rate
        answer = app.ask(f"limit {app.RECV}", 30)
        self.limit = int(answer) if answer and answer.isdigit() else 30_000
        self.pieces = []          # text in the order it was taken
        self.times = []           # (offset in the text, time it was taken) of each piece
        self.taken = 0
        self.largest = 0
        self.takes = 0
        self.slowest_ms = 0.0
        self.unanswered = 0
        self.stop = threading.Event()
        self.paused = threading.Event()
        self.idle = threading.Event()
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self.thread.start()

    def take(self):
        with self.lock:
            start = time.monotonic()
            answer = self.app.ask(f"take {self.app.RECV}", 30)
            took = (time.monotonic() - start) * 1000
            if answer is None:
                self.unanswered += 1
                return None
            text = self.app.unescape(answer)
            self.takes += 1
            self.slowest_ms = max(self.slowest_ms, took)
            self.largest = max(self.largest, len(text))
            if text:
                self.pieces.append(text)
                self.times.append((self.taken, time.monotonic()))
                self.taken += len(text)
            self.rate.read(len(text))
            return text

    def _run(self):
        while not self.stop.is_set():
            if self.paused.is_set():
                self.idle.set()
                time.sleep(0.01)
                continue
            self.idle.clear()
            self.take()
            time.sleep(0.02)

    def pause(self):
        self.paused.set()
        self.idle.wait(10)

    def resume(self):
        self.paused.clear()

    def settle(self, quiet=0.4, timeout=30):
        """Takes until nothing more has come for `quiet` seconds (the taker
        paused): the box is then empty and holds all that was sent."""
        end = time.monotonic() + timeout
        last = time.monotonic()
        while time.monotonic() < end:
            text = self.take()
            if text:
                last = time.monotonic()
            elif time.monotonic() - last >= quiet:
                return True
            time.sleep(0.05)
        return False

    def text(self):
        return "".join(self.pieces)


# --- the checker -------------------------------------------------------------

def is_lead(b):
    return 0x81 <= b <= 0xFE


class Stream:
    """One connection's bytes, decoded as the window decodes a chunk that
    starts at a character: text[k] is the character at byte byte_of[k]."""

    def __init__(self, name, data, strict, first=None, last=None):
        self.name, self.data, self.strict = name, bytes(data), strict
        self.first, self.last = first, last  # when its peer began and ended sending
        chars = []
        byte_of = array("i")
        char_at = array("i", [-1]) * (len(data) + 1)
        i = 0
        while i < len(data):
            b = data[i]
            char_at[i] = len(chars)
            byte_of.append(i)
            if is_lead(b) and i + 1 < len(data):
                chars.append(data[i:i + 2].decode("cp950", "replace"))
                i += 2
            else:
                chars.append(chr(b))
                i += 1
        char_at[len(data)] = len(chars)
        byte_of.append(len(data))
        self.text = "".join(chars)
        self.byte_of, self.char_at = byte_of, char_at
        self.next = [0]   # byte offsets where its next chunk may start
        self.shown = 0    # bytes accounted for
        self.could_end = False

    def starts(self, first):
        """The bytes of `next` where a chunk could start that shows `first`
        as its first character: all of them when there is one."""
        if len(self.next) == 1:
            return self.next
        if first == LONE:
            return [b for b in self.next if self.char_at[b] < 0]
        lo, hi = self.next[0], self.next[-1]
        while lo <= hi and self.char_at[lo] < 0:
            lo += 1
        while hi >= lo and self.char_at[hi] < 0:
            hi -= 1
        if lo > hi:
            return []
        out, k, end = [], self.char_at[lo], self.char_at[hi] + 1
        while True:
            k = self.text.find(first, k, end)
            if k < 0:
                return out
            out.append(self.byte_of[k])
            k += 1

    def could_begin_before(self, text, i, start, stop, k, places):
        """Whether the chunk shown at text[i:] from `start` to `stop` could
        have begun k characters before, at one of `places`."""
        for b in range(max(0, start - 2 * k - 1), start):
            if b in places:
                m, end, _, _ = self.match(text, i - k, b)
                if end == stop and m >= k:
                    return True
        return False

    def open(self):
        return self.next and min(self.next) < len(self.data)

    def stop_after(self, start, chars):
        """The byte after the first `chars` characters shown from `start`."""
        if self.char_at[start] < 0:
            start, chars = min(start + 2, len(self.data)), chars - 1
        return self.byte_of[min(self.char_at[start] + max(chars, 0), len(self.text))]

    def match(self, text, i, start):
        """How the chunk(s) starting at byte `start` match text[i:]: (chars,
        byte where the match stopped, that byte is a zero, a lone character
        was taken for the chunk's first byte)."""
        m = 0
        if self.char_at[start] < 0:
            # Starts on a character's second byte: the code page makes one
            # character of it and the byte after it.
            if not text.startswith(LONE, i):
                return 0, start, False, False
            m, start = 1, min(start + 2, len(self.data))
        k = self.char_at[start]
        end_k = k
        limit = len(self.text)
        while end_k < limit:
            step = min(1024, limit - end_k)
            a = self.text[end_k:end_k + step]
            b = text[i + m + (end_k - k):i + m + (end_k - k) + step]
            if a == b:
                end_k += step
                if "\0" in a:
                    end_k = end_k - step + a.index("\0")
                    break
                continue
            n = 0
            while n < len(b) and a[n] == b[n] and a[n] != "\0":
                n += 1
            end_k += n
            break
        shown = m + end_k - k
        if end_k < limit and self.text[end_k] == "\0":
            return shown, self.byte_of[end_k], True, m == 1
        if (end_k < limit and self.byte_of[end_k + 1] - self.byte_of[end_k] == 2
                and text.startswith(LONE, i + shown)):
            # The chunk ended after the first byte of a double-byte character.
            # Alone, such a character is as likely any other connection's.
            return shown + 1, self.byte_of[end_k] + 1, False, m == 1 or shown == 0
        return shown, self.byte_of[end_k], False, m == 1


class Live:
    """The streams that may show at a point of the text: those whose peer
    had begun to send when that text was taken, and had not ended more than
    `grace` seconds before. Without the takes' times, every stream."""

    def __init__(self, streams, times, grace):
        self.offsets = [o for o, _ in times or ()]
        self.times = [t for _, t in times or ()]
        self.grace = grace
        self.waiting = sorted(streams, key=lambda s: s.first or 0.0, reverse=True)
        self.live = []
        self.now = None

    def at(self, i):
        if not self.offsets:
            if self.waiting:
                self.live, self.waiting = self.waiting[::-1], []
            return self.live
        now = self.time_at(i)
        if now != self.now:
            self.now = now
            while self.waiting and (self.waiting[-1].first or 0.0) <= now:
                self.live.append(self.waiting.pop())
            self.live = [s for s in self.live if s.last is None or now <= s.last + self.grace]
        return self.live

    def time_at(self, i):
        """When the text at i was taken."""
        return self.times[max(bisect.bisect_right(self.offsets, i) - 1, 0)]

    def lag(self, st, i):
        """How long after its peer's last send `st` showed at i."""
        if not self.offsets or st.last is None:
            return 0.0
        return self.time_at(i) - st.last


class Verdicts:
    def __init__(self):
        self.checks = []   # (name, passed, detail)

    def add(self, name, passed, detail=""):
        self.checks.append((name, bool(passed), detail))

    def passed(self):
        return all(p for _, p, _ in self.checks)


def check_text(text, ledger, http_ports, seed, times=None, grace=GRACE):
    """Walks the received text, taken at `times` ((offset, time) of each
    piece the taker read, when known); returns (verdicts, figures)."""
    v = Verdicts()
    streams = {}
    for c in ledger.connections:
        strict = c.kind in STRICT and not c.never_taken()
        streams[f"connection {c.cid}"] = Stream(f"connection {c.cid}", c.sent, strict,
                                                getattr(c, "first_sent", None), getattr(c, "last_sent", None))
    for o in ledger.own:
        if o.answer:
            streams[f"own {o.cid}"] = Stream(f"own {o.cid}", o.answer, True)
    by_header = {}
    for name, st in streams.items():
        if st.data[:2] == b"\x02T":
            by_header[st.text[:7]] = st
        elif st.data[:2] == b"\x02O":
            by_header[st.text[:7]] = st
    live = Live(streams.values(), times, grace)
    most_lag = 0.0
    datagrams = {d.did: d for d in ledger.datagrams}
    shown_dgrams = set()
    last_of_sender = {}
    requests = {http_request_text_for(p): p for p in http_ports}
    http_seen = 0
    line_breaks = 0
    pending = None   # port of the datagrams waiting for their line break
    first_fault = None
    weak_pieces = 0
    last = None
    i = 0
    n = len(text)

    def fault(what):
        nonlocal first_fault
        if first_fault is None:
            context = text[max(0, i - 40):i + 60].encode("unicode_escape").decode()
            first_fault = f"{what} at character {i} of the received text (seed {seed}): …{context}…"

    while i < n and first_fault is None:
        if text.startswith("\r\n", i):
            line_breaks += 1
            pending = None
            last = None
            i += 2
            continue
        if text.startswith("\x02U", i):
            did = int(text[i + 2:i + 9]) if text[i + 2:i + 9].isdigit() else -1
            d = datagrams.get(did)
            if d is None:
                fault("a datagram no peer sent")
                break
            want = shown_datagram(d.data)
            if not want or not text.startswith(want, i):
                fault(f"datagram {did} (from sender {d.sender}) shown otherwise than it was sent")
                break
            if did in shown_dgrams:
                fault(f"datagram {did} shown twice")
                break
            if pending is not None and pending != d.port:
                fault(f"datagram {did} on port {d.port} follows datagrams of port {pending} with no line break")
                break
            if last_of_sender.get(d.sender, 0) > did:
                fault(f"datagram {did} from sender {d.sender} after a later one of that sender")
                break
            last_of_sender[d.sender] = did
            shown_dgrams.add(did)
            pending = d.port
            last = None
            i += len(want)
            continue
        if text.startswith("GET / HTTP/1.1\r\n", i):
            end = text.find("\r\n\r\n", i)
            if end < 0 or text[i:end + 4] not in requests:
                fault("an HTTP request no peer sent")
                break
            http_seen += 1
            last = None
            i = end + 4
            continue
        if pending is not None:
            fault(f"datagrams of port {pending} not followed by their line break")
            break
        best = best_piece(text, i, live.at(i), by_header)
        if (best is None or best[0] < 8) and last is not None and last[3] > 1:
            # The piece before may have taken a character or two that begin
            # this one (alike by chance): give them back when this piece
            # then goes on much further.
            i0, st0, start0, m0, _, before0 = last
            for k in range(1, min(4, m0)):
                saved = st0.next
                st0.next = sorted(set(before0 if m0 - k <= SHORT else ()) | {st0.stop_after(start0, m0 - k)})
                other = best_piece(text, i0 + m0 - k, live.at(i0 + m0 - k), by_header)
                if other is not None and other[0] >= 8 and (best is None or other[0] > best[0] + k):
                    best, i = other, i0 + m0 - k
                    break
                st0.next = saved
        if best is None:
            fault("text that continues no connection")
            break
        m, st, start, stop, zero, weak, others = best
        for other, other_stop, other_zero in others:
            # Any of these may be the one this short piece belongs to.
            other.next = sorted(set(other.next) | set(after(other, other_stop, other_zero)))
        if weak:
            # A few characters that could as well be another connection's
            # after its hidden stretch: if this one could have ended in the
            # stretch, it is not held to more.
            weak_pieces += 1
            st.could_end = st.could_end or max(st.next) >= len(st.data)
        if not zero:
            # A match that runs into a header may have gone on only as long
            # as the header's first characters were alike: the header is
            # matched again on its own (where the same stream may take it).
            for p in range(max(1, m - 16), m):
                if (text.startswith("\x02", i + p) and m - p < 15) or text.startswith("GET / HTTP/1.1\r\n", i + p):
                    m, stop = p, st.stop_after(start, p)
                    break
        before = st.next
        if len(before) > 1 and last is not None and last[1] is not st and not last[4] and last[0] + last[3] == i:
            # This chunk may as well have started a character or two before,
            # where the piece before ended by chance alike: that one may
            # then go on from there.
            i0, st0, start0, m0, _, _ = last
            maybe = set(before)
            back = [st0.stop_after(start0, m0 - k) for k in range(1, min(4, m0))
                    if st.could_begin_before(text, i, start, stop, k, maybe)]
            if back:
                st0.next = sorted(set(st0.next) | set(back))
        unsure = weak or others or m <= SHORT
        last = (i, st, start, m, zero, before)
        if not unsure and m >= 8:
            most_lag = max(most_lag, live.lag(st, i))
        i += m
        st.shown = max(st.shown, stop)
        if unsure and not zero:
            # A short match may be chance: where it stood stays possible.
            st.next = sorted(set(before) | {stop})
        else:
            st.next = after(st, stop, zero)

    v.add("the received text is every piece of some peer's bytes, in order", first_fault is None, first_fault or "")
    # Every connection that ended in good order shows whole.
    incomplete = [s for s in streams.values() if s.strict and max(s.next) < len(s.data) and not s.could_end]
    if first_fault is None:
        detail = ""
        if incomplete:
            s = incomplete[0]
            detail = (f"{s.name} shows {s.shown} of its {len(s.data)} bytes (seed {seed}); "
                      f"{len(incomplete)} connections in all")
        v.add("every byte of every connection closed in good order shows", not incomplete, detail)
    figures = dict(line_breaks=line_breaks, http_requests_shown=http_seen, ambiguous=weak_pieces,
                   datagrams_shown=len(shown_dgrams), most_lag=most_lag)
    visible = [d for d in ledger.datagrams if shown_datagram(d.data)]
    missing = [d for d in visible if d.did not in shown_dgrams]
    figures["datagrams_to_show"] = len(visible)
    figures["datagrams_missing"] = len(missing)
    figures["missing_list"] = missing
    return v, figures, streams


def best_piece(text, i, streams, by_header, least_ranged=3, close=2.0):
    """The likeliest piece at text[i:] among the streams' next bytes:
    (characters, stream, start byte, stop byte, stopped at a zero, weak,
    others), or None.
    A match is worth its length less what the number of places its chunk
    may start makes likely by chance: after a hidden stretch (a zero byte),
    about 1.5 characters, so a match there must be `least_ranged` characters
    or more, unless nothing at all matches otherwise (weak). A lone character
    alone counts only then too.
    A piece of up to SHORT characters is as likely chance: `others` are
    the other streams' matches worth nearly as much, or as long, (stream,
    stop byte, stopped at a zero), any of which may be the true one."""
    head = text[i:i + 7]
    # A whole header names its connection; the start of one may end a read.
    whole = head in by_header and (head[1] != "T" or text[i + 7:i + 8] == ":" and text[i + 14:i + 15] == "|")
    candidates = [by_header[head]] if whole else [s for s in streams if s.open()]
    first = text[i:i + 1]
    for weak in (False, True):
        found = []
        for st in candidates:
            n = len(st.next)
            least = 1 if weak else least_ranged if n > 8 else 1
            chance = PER_START * math.log(n)
            for start in st.starts(first):
                m, stop, zero, lone = st.match(text, i, start)
                if (m if weak else m - lone) >= least:
                    found.append((m - lone - chance, m, st, start, stop, zero, lone))
        if found:
            worth, m, st, start, stop, zero, lone = max(found, key=lambda f: f[0])
            others = []
            seen = {st}
            for f in sorted(found, key=lambda f: -f[0]):
                # Alike at length (the start of a header, say), or short.
                if f[2] not in seen and (f[1] == m or m - lone <= SHORT and f[0] >= worth - close):
                    seen.add(f[2])
                    others.append((f[2], f[4], f[5]))
            return m, st, start, stop, zero, weak and len(st.next) > 1, others
    return None


def after(st, stop, zero):
    """Where a stream's next chunk may start after a piece that stopped at
    `stop`: there, or, when it stopped at a zero byte, anywhere after it
    within one chunk (the rest of the chunk that held it is not shown)."""
    return list(range(stop + 1, min(stop + CHUNK, len(st.data)) + 1)) if zero else [stop]


def shown_datagram(data):
    """The text a datagram shows: up to its first zero byte, converted whole;
    nothing when it is empty or longer than a chunk."""
    if not data or len(data) > CHUNK:
        return ""
    cut = data.split(b"\0", 1)[0]
    return cut.decode("cp950", "replace")


def http_request_text_for(port):
    return f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n"


def check_replies(ledger, replies, v, seed):
    """Every connection got back whole replies, each one the window held
    while the connection lived; those that waited got at least one each."""
    bad = None
    counted = 0
    for c in ledger.connections:
        count, stop = replies.parse(c.got, c.reply_first if c.reply_first is not None else 0,
                                    c.reply_last if c.reply_last is not None else 10 ** 9)
        counted += count
        if bad:
            continue
        whole = stop == len(c.got) or c.kind not in STRICT
        if not whole:
            bad = f"connection {c.cid} ({c.kind}) got {len(c.got)} bytes back, whole replies only up to {stop}"
        elif c.kind in ("waiter", "halfclose") and c.messages and count < 1 and not c.never_taken():
            bad = f"connection {c.cid} ({c.kind}) sent {c.messages} messages and got no reply"
        elif c.kind == "waiter" and count < c.messages:
            bad = f"connection {c.cid} sent {c.messages} messages and got {count} replies"
    v.add("every read is answered with the reply text of its time", bad is None,
          f"{bad} (seed {seed})" if bad else "")
    return counted

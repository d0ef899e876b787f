"""A long run of the real wirepad.exe under mixed traffic: many kinds of TCP
clients, UDP senders, curl and wrk, the window's own client, and a person
clicking and typing, all at once, in rounds planned from one seed. Every
byte is accounted for from the received text (accounting.py); the report
(report.py) gives every check with its verdict.

    soak.py BUILD [--minutes M] [--seed S] [--report PATH]

Exits 1 when a check fails.
"""

import argparse
import os
import pickle
import random
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "proof"))
sys.path.insert(0, HERE)

import wirepad as wp  # noqa: E402
from person import Display, Person  # noqa: E402
import peers  # noqa: E402
import accounting  # noqa: E402
import report  # noqa: E402

CJK = "中文測試"


class Window:
    """The window and its one driver, shared by the soak's threads."""

    def __init__(self, build, display):
        self.app = wp.Wirepad(build, locale="zh_TW.UTF-8", winedebug="warn+heap", display=display)
        lock = threading.Lock()
        ask = self.app.ask

        def locked(line, timeout=40.0):
            with lock:
                return ask(line, timeout)
        self.app.ask = locked
        self.app.RECV = wp.RECV_TEXT
        self.app.unescape = wp.unescape
        self.person = Person(self.app, display)
        self.prefix = display.prefix

    def handles(self):
        """The window's process handles as the system counts them, when it
        does (Wine gives 0 for another process): None otherwise."""
        answer = self.app.ask("handles", 10)
        return int(answer) if answer and answer.isdigit() and int(answer) > 0 else None

    def sockets(self):
        """The TCP and UDP sockets the window holds. Under Wine they live in
        the prefix's Wine server (and in the process, once used), so count
        the descriptors of both that are internet sockets."""
        inodes = set()
        for table in ("tcp", "udp", "tcp6", "udp6"):
            try:
                with open(f"/proc/net/{table}") as f:
                    next(f)
                    inodes.update(line.split()[9] for line in f)
            except OSError:
                pass
        held = set()
        for pid in (self.app.pid, wp.wine_server(self.prefix)):
            try:
                for fd in os.listdir(f"/proc/{pid}/fd"):
                    link = os.readlink(f"/proc/{pid}/fd/{fd}")
                    if link.startswith("socket:[") and link[8:-1] in inodes:
                        held.add(link[8:-1])
            except OSError:
                continue
        return len(held)


class Soak:
    def __init__(self, build, minutes, seed):
        self.build, self.minutes, self.seed = build, minutes, seed
        self.rng = random.Random(seed)
        self.ledger = peers.Ledger()
        self.rate = peers.Budget()
        self.replies = peers.Replies()
        self.actions = {}
        self.udp_ports, self.tcp_ports, self.http_ports = [], [], set()
        self.drops = 0
        self.overflows = 0  # connections the system found a listener's queue full for
        self.most_at_once = 0
        self.active = 0
        self.active_lock = threading.Lock()

    # --- the person ----------------------------------------------------------
    def did(self, name, how):
        count, _ = self.actions.get(name, (0, how))
        self.actions[name] = (count + 1, how)

    def wait_text(self, control, test, timeout=10):
        return wp.wait_for(lambda: test(self.app.text(control)), timeout, 0.01)

    def template(self, rng):
        if rng.random() < 0.3:
            self.app.set(wp.SEND_TEXT, "".join(rng.choice("abc xyz" + CJK) for _ in range(rng.randint(0, 40))))
        if rng.random() < 0.5:
            self.person.click(wp.INSERT_GET)
            want = "GET / HTTP/1.1"
            self.did("Insert GET (click)", "real input")
        else:
            self.person.keys("alt+p")
            want = "POST / HTTP/1.1"
            self.did("Insert POST (Alt+P)", "real input")
        if not self.wait_text(wp.SEND_TEXT, lambda t: t.startswith(want)):
            self.ledger.fail("input", f"{want.split()[0]} took no effect within 10 s")
        text = self.app.text(wp.SEND_TEXT)
        if len(text) > 600:
            self.app.set(wp.SEND_TEXT, "")

    def html(self, body, length):
        return self.html_head.replace("Content-Length: 1\r\n", f"Content-Length: {length}\r\n") + body

    def new_reply(self, rng):
        """A new body by message, made the HTML reply by a click."""
        body = f"R{len(self.replies.states):05d} " + "".join(rng.choice("abc-xyz 0123" + CJK)
                                                             for _ in range(rng.randint(1, 60)))
        index = self.replies.begin(body.encode("cp950"))
        self.app.set(wp.REPLY_TEXT, body)
        self.replies.done(index)
        # Content-Length counts the bytes the body takes on the wire.
        html = self.html(body, len(body.encode("cp950")))
        index = self.replies.begin(html.encode("cp950"))
        self.person.click(wp.INSERT_HTML_REPLY)
        if self.wait_text(wp.REPLY_TEXT, lambda t: t == html):
            self.replies.done(index)
        else:
            self.ledger.fail("input", f"Insert HTML reply took no effect within 10 s: "
                                      f"{self.app.text(wp.REPLY_TEXT)[-80:]!r}, not {html[-80:]!r}")
        self.did("reply text edited and Insert HTML reply (click)", "message, then real input")

    def fresh_listener(self, rng, tcp):
        port = wp.free_port()
        self.app.set(wp.LISTEN_PORT, str(port))
        self.person.click(wp.ADD_TCP if tcp else wp.ADD_UDP)
        row = f"{'TCP' if tcp else 'UDP'} - {port}"
        if not wp.wait_for(lambda: row in self.app.rows(), 10):
            self.ledger.fail("input", f"adding {row} took no effect within 10 s")
            return
        self.did(f"add a {'TCP' if tcp else 'UDP'} listener on a fresh port (click)", "real input")
        deadline = time.monotonic() + 20
        if tcp:
            self.run_tracked(peers.tcp_client, self.ledger, self.rate, self.replies, rng, "waiter", port, deadline)
        else:
            peers.udp_sender(self.ledger, self.rate, rng, f"fresh {port}", port, rng.randint(1, 8), deadline)
            sent = [d for d in self.ledger.datagrams if d.port == port and accounting.shown_datagram(d.data)]
            if sent:
                head = accounting.shown_datagram(sent[-1].data)[:11]
                wp.wait_for(lambda: any(head in p for p in self.taker.pieces[-50:]), 10, 0.05)
            else:
                time.sleep(0.3)
            self.drops += peers.udp_drops(port)
        rows = self.app.rows()
        if row in rows:
            self.app.select(rows.index(row))
            self.person.keys("alt+r")
            if not wp.wait_for(lambda: row not in self.app.rows(), 10):
                self.ledger.fail("input", f"Alt+R on {row} took no effect within 10 s")
            self.did("remove the selected listener (Alt+R)", "real input")
            if not wp.wait_for(lambda: not wp.listening_addresses(port), 5):
                self.ledger.fail("listener", f"{row} removed but its port still bound")

    def person_round(self, rng, deadline, http):
        choices = ["template", "fresh_tcp", "fresh_udp"] + ([] if http else ["reply", "reply"])
        while time.monotonic() < deadline - 1:
            time.sleep(rng.random() * 1.5)
            what = rng.choice(choices)
            try:
                if what == "template":
                    self.template(rng)
                elif what == "reply":
                    self.new_reply(rng)
                else:
                    self.fresh_listener(rng, what == "fresh_tcp")
            except wp.Failure as e:
                self.ledger.fail("window", str(e))

    # --- peers ---------------------------------------------------------------
    def run_tracked(self, fn, *args):
        with self.active_lock:
            self.active += 1
            self.most_at_once = max(self.most_at_once, self.active)
        try:
            return fn(*args)
        finally:
            with self.active_lock:
                self.active -= 1

    def tcp_loop(self, rng, deadline):
        while time.monotonic() < deadline:
            kind = rng.choice(peers.KINDS)
            port = rng.choice(self.tcp_ports)
            self.run_tracked(peers.tcp_client, self.ledger, self.rate, self.replies, rng, kind, port, deadline)

    # --- the quiet points ----------------------------------------------------
    def quiet_point(self, rng, round_no):
        """With every peer done and the box read empty: Clear, and the
        window's own sends, which empty the box."""
        taker = self.taker
        taker.pause()
        if not taker.settle():
            self.ledger.fail("window", "the received text did not settle within 30 s")
        # A datagram left in the box for Clear to empty.
        did = self.ledger.datagram_id()
        data = b"\x02U%07d|clear me" % did
        port = self.udp_ports[0]
        wp.udp_send(port, data)
        d = peers.Datagram(did, "person", port, data)
        d.cleared = True
        with self.ledger.lock:
            self.ledger.datagrams.append(d)
        if wp.wait_for(lambda: self.app.length(wp.RECV_TEXT) > 0, 10):
            self.person.click(wp.CLEAR_RECV)
            if not wp.wait_for(lambda: self.app.length(wp.RECV_TEXT) == 0, 10):
                self.ledger.fail("input", "Clear took no effect within 10 s")
            self.did("Clear (click)", "real input")
        else:
            self.ledger.fail("listener", f"datagram {did} did not show within 10 s")
        self.app.set(wp.HOST, "127.0.0.1")
        self.app.set(wp.PORT, str(self.own.port))
        for button in rng.sample([wp.SEND_UDP, wp.SEND_TCP_NOWAIT, wp.SEND_TCP_WAIT], rng.randint(1, 3)):
            text = self.app.text(wp.SEND_TEXT)
            exchange = peers.OwnExchange(button, text.encode("cp950"))
            exchange.cid = len(self.ledger.own) + 1
            answer = None
            if button == wp.SEND_TCP_WAIT:
                answer = b"\x02O%04d|" % exchange.cid + peers.Writer(rng).body(rng.randint(1, 3000))
            if button == wp.SEND_UDP:
                t = threading.Thread(target=self.own.receive_udp, args=(exchange,))
            else:
                t = threading.Thread(target=self.own.serve_tcp, args=(exchange, answer, self.replies))
            t.start()
            time.sleep(0.05)
            self.person.click(button)
            t.join(30)
            with self.ledger.lock:
                self.ledger.own.append(exchange)
            name = {wp.SEND_UDP: "send UDP", wp.SEND_TCP_NOWAIT: "send TCP, not waiting",
                    wp.SEND_TCP_WAIT: "send TCP, waiting for the answer"}[button]
            self.did(f"{name} (click)", "real input")
            if button == wp.SEND_TCP_WAIT:
                taker.settle()
        taker.resume()

    # --- the run ---------------------------------------------------------------
    def run(self, report_path):
        started = time.monotonic()
        end = started + self.minutes * 60
        display = Display(self.build)
        window = Window(self.build, display)
        self.app, self.person = window.app, window.person
        self.taker = accounting.Taker(self.app, self.rate)
        self.own = peers.OwnServer()
        figures = dict(handles_start=None, handles_end=None, sockets_start=0, sockets_end=0, hwm_first=0, hwm_last=0)
        v = accounting.Verdicts()
        try:
            overflows = peers.listen_overflows()
            self.set_up(window, figures)
            self.taker.start()
            first_minute = started + min(60, self.minutes * 60 / 3)
            round_no = 0
            while time.monotonic() < end - 5:
                round_no += 1
                self.round(round_no, min(end, time.monotonic() + self.rng.uniform(10, 20)))
                if not figures["hwm_first"] and time.monotonic() >= first_minute:
                    figures["hwm_first"] = wp.status_kib(self.app.pid, "VmHWM")
            if not figures["hwm_first"]:
                figures["hwm_first"] = wp.status_kib(self.app.pid, "VmHWM")
            self.taker.pause()
            self.taker.settle()
            self.overflows = peers.listen_overflows() - overflows
            for port in self.udp_ports:
                self.drops += peers.udp_drops(port)
            self.person.keys("alt+a")
            self.did("Remove all (Alt+A)", "real input")
            if not wp.wait_for(lambda: not self.app.rows(), 10):
                self.ledger.fail("input", "Remove all took no effect within 10 s")
            figures["hwm_last"] = wp.status_kib(self.app.pid, "VmHWM")
            wp.wait_for(lambda: window.sockets() <= figures["sockets_start"], 15)
            figures["sockets_end"] = window.sockets()
            figures["handles_end"] = window.handles()
            v.add("the window answered throughout", self.taker.unanswered == 0 and self.app.alive(),
                  f"{self.taker.unanswered} reads unanswered" if self.taker.unanswered else "")
        finally:
            self.taker.stop.set()
            self.own.close()
            code, _ = self.app.close(10) if self.app.process.poll() is None else (self.app.process.poll(), 0)
            self.app.stop()
            display.stop()
        figures["seconds"] = time.monotonic() - started
        self.finish(v, figures, code, report_path)
        return v.passed()

    def set_up(self, window, figures):
        app = self.app
        # Handles the platform opens once, at the first socket, are not the
        # window's to give back: a listener and a send come first.
        warm = wp.free_port()
        app.add_listener(True, warm)
        app.add_listener(False, warm)
        wp.wait_for(lambda: len(wp.listening_addresses(warm)) == 2, 10)
        wp.tcp_exchange(warm, b"warm", 0, 1)
        wp.udp_send(warm, b"warm")
        self.person.click(wp.INSERT_GET)  # also makes the window the one keys go to
        time.sleep(0.5)
        self.person.keys("alt+a")
        wp.wait_for(lambda: not app.rows(), 10)
        app.set(wp.RECV_TEXT, "")
        time.sleep(0.5)
        figures["handles_start"] = window.handles()
        figures["sockets_start"] = window.sockets()
        for tcp in (True, True, False, False):
            port = wp.free_port()
            app.add_listener(tcp, port)
            (self.tcp_ports if tcp else self.udp_ports).append(port)
        wp.wait_for(lambda: all(wp.listening_addresses(p) for p in self.tcp_ports + self.udp_ports), 10)
        # The HTML reply's head, from the window's own template.
        app.set(wp.REPLY_TEXT, "X")
        app.click(wp.INSERT_HTML_REPLY)
        sample = app.text(wp.REPLY_TEXT)
        wp.check(sample.endswith("\r\n\r\nX") and "Content-Length: 1\r\n" in sample, "unexpected HTML reply")
        self.html_head = sample[:-1]
        self.new_reply(self.rng)

    def round(self, round_no, deadline):
        rng = random.Random(f"{self.seed}-{round_no}")
        tcp_threads = rng.choice([1, 1, 2, 4, 8, 16, 32, 64])
        udp_senders = rng.randint(0, 3)
        http = rng.random() < 0.3
        threads = []
        for t in range(tcp_threads):
            threads.append(threading.Thread(target=self.tcp_loop, args=(random.Random(f"{self.seed}-{round_no}-t{t}"),
                                                                        deadline)))
        for u in range(udp_senders):
            r = random.Random(f"{self.seed}-{round_no}-u{u}")
            threads.append(threading.Thread(target=self.run_tracked, args=(
                peers.udp_sender, self.ledger, self.rate, r, f"{round_no}.{u}", r.choice(self.udp_ports),
                r.randint(20, 600), deadline)))
        if http:
            port = self.tcp_ports[0]
            self.http_ports.add(port)
            want = self.html_body_check
            threads.append(threading.Thread(target=peers.curl_run, args=(
                self.ledger, rng, port, rng.randint(5, 30), deadline, want)))
            seconds = max(1, min(4, int(deadline - time.monotonic()) - 2))
            threads.append(threading.Thread(target=peers.wrk_run, args=(
                self.ledger, port, rng.choice([1, 8, 64]), seconds)))
        threads.append(threading.Thread(target=self.person_round, args=(rng, deadline, http)))
        for t in threads:
            t.start()
        for t in threads:
            t.join(max(1, deadline - time.monotonic() + 90))
        self.quiet_point(rng, round_no)

    def html_body_check(self, body):
        """curl's body is one of the reply bodies the window has held."""
        text = body.decode("cp950", "replace")
        return text.startswith("R") and text[1:6].isdigit()

    def finish(self, v, figures, code, report_path):
        ledger = self.ledger
        text = self.taker.text()
        # All the checks need, kept to check again after a change to them.
        with open(os.path.join(os.path.dirname(report_path), "soak-data.pickle"), "wb") as f:
            pickle.dump(dict(text=text, connections=ledger.connections, datagrams=ledger.datagrams,
                             own=ledger.own, http_ports=self.http_ports, seed=self.seed,
                             times=self.taker.times), f)
        checked, found, _ = accounting.check_text(text, ledger, self.http_ports, self.seed, self.taker.times)
        v.checks[:0] = checked.checks
        missing = [d for d in found["missing_list"] if not d.cleared]
        detail = ""
        if missing:
            detail = (f"{len(missing)} not shown, the system dropped {self.drops}; the first: datagram "
                      f"{missing[0].did} from sender {missing[0].sender} (seed {self.seed})")
        v.add("every datagram that can show shows (less what the system dropped)", len(missing) <= self.drops,
              detail)
        replies = accounting.check_replies(ledger, self.replies, v, self.seed)
        # What the two checks above leave out: connections of which the
        # system took no byte. The listeners queue as many waiting
        # connections as the system allows, so none may be dropped.
        dropped = [c for c in ledger.connections if c.never_taken()]
        v.add("no connection dropped before the window could accept it", not dropped,
              f"{len(dropped)} dropped (the first: connection {dropped[0].cid}), the system counted "
              f"{self.overflows} full listener queues (seed {self.seed})" if dropped else "")
        bad_own = [o for o in ledger.own if o.received != o.expected]
        v.add("the window's own sends carry the send text, every byte", not bad_own,
              f"send {bad_own[0].cid}: sent {len(bad_own[0].received)} of {len(bad_own[0].expected)} bytes"
              if bad_own else "")
        curl = sum(r.requests for r in ledger.http if r.tool == "curl")
        curl_errors = sum(r.errors for r in ledger.http if r.tool == "curl")
        wrk = sum(r.requests for r in ledger.http if r.tool == "wrk")
        v.add("curl gets the HTML reply every time", curl_errors == 0,
              f"{curl_errors} failed" if curl_errors else "")
        v.add("every request curl and wrk got an answer to shows", found["http_requests_shown"] >= curl + wrk,
              f"{found['http_requests_shown']} shown, {curl + wrk} answered")
        v.add("the peers saw no failure", not ledger.failures,
              "; ".join(f"{w}: {d}" for w, d in ledger.failures[:3]))
        v.add("the box never filled, so everything stayed checkable", self.taker.largest < self.taker.limit - 1100,
              f"at most {self.taker.largest} of its limit of {self.taker.limit} characters")
        v.add("the sockets the window holds return to their count at the start",
              figures["sockets_end"] <= figures["sockets_start"],
              f"{figures['sockets_start']} at the start, {figures['sockets_end']} at the end")
        if figures["handles_start"] is not None:
            v.add("the handle count returns to its start",
                  figures["handles_end"] is not None and figures["handles_end"] <= figures["handles_start"],
                  f"{figures['handles_start']} at the start, {figures['handles_end']} at the end")
        grew = figures["hwm_last"] / max(1, figures["hwm_first"]) - 1
        v.add("peak resident memory grows less than 5 % from the first minute", grew < 0.05,
              f"{grew * 100:+.1f} %")
        heap = self.app.heap_errors()
        v.add("no err:heap lines", not heap, heap[0].strip() if heap else "")
        v.add("no crash: the close box ends the program with exit code 0", code == 0, f"exit code {code}")
        # The checker itself must be able to fail.
        for name, mutated in self_test_texts(text, ledger):
            bad, _, _ = accounting.check_text(mutated, ledger, self.http_ports, self.seed, self.taker.times)
            v.add(f"the checker fails on {name}", not bad.passed(), "")
        kinds = {}
        for c in ledger.connections:
            kinds[c.kind] = kinds.get(c.kind, 0) + 1
        figures.update(
            connections=len(ledger.connections), kinds=kinds, most_at_once=self.most_at_once,
            tcp_bytes=sum(len(c.sent) for c in ledger.connections), replies=replies,
            datagrams=len(ledger.datagrams), datagrams_to_show=found["datagrams_to_show"],
            datagrams_shown=found["datagrams_shown"], udp_bytes=sum(len(d.data) for d in ledger.datagrams),
            udp_drops=self.drops, tcp_dropped=len(dropped), overflows=self.overflows, curl=curl, wrk=wrk, http_requests_shown=found["http_requests_shown"],
            line_breaks=found["line_breaks"], text_chars=len(text), takes=self.taker.takes,
            largest=self.taker.largest, ambiguous=found["ambiguous"], most_lag=found["most_lag"], actions=self.actions,
            slowest_ms=self.taker.slowest_ms, heap=len(heap))
        report.write(report_path, self.seed, self.minutes, figures, v)


def self_test_texts(text, ledger):
    """The received text with one character dropped inside a connection's
    bytes, and with two connections' first bytes swapped."""
    out = []
    heads = [text.find(f"\x02T{c.cid:05d}:") for c in ledger.connections[:200] if c.kind in peers.STRICT]
    heads = [h for h in heads if h >= 0]
    if heads:
        h = heads[len(heads) // 2] + 20
        out.append(("a text with one byte dropped", text[:h] + text[h + 1:]))
    if len(heads) >= 2:
        a, b = sorted(heads[:2])
        out.append(("a text with two connections' bytes swapped",
                    text[:a] + text[b:b + 14] + text[a + 14:b] + text[a:a + 14] + text[b + 14:]))
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--report", default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1, 10 ** 9)
    print(f"soak: seed {seed}, {args.minutes:g} min", flush=True)
    path = args.report or os.path.join(os.path.dirname(os.path.abspath(args.build)), "soak-report.md")
    ok = Soak(os.path.abspath(args.build), args.minutes, seed).run(path)
    print(f"soak: {'all checks pass' if ok else 'FAILED'}; report in {path}", flush=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

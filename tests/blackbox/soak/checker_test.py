"""The soak's checker against a window of its own making: many connections
read in chunks and shown by the display rule (each chunk on its own, cut at
its first zero byte), as densely interleaved as the soak's budget lets them
be. The checker must pass that text, and fail it with one byte dropped and
with two connections' bytes swapped. A checker that only ever passes, or that
loses its way in a long run, fails the soak for nothing or proves nothing.

    checker_test.py [SEEDS]
"""

import random
import sys
import os

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import accounting  # noqa: E402
import peers  # noqa: E402


def shown(chunk):
    """What the window shows of one chunk: up to its first zero byte, a
    character the code page cannot make of a lone or ill-paired lead byte
    shown as its default character."""
    chunk = chunk.split(b"\0", 1)[0]
    out, i = [], 0
    while i < len(chunk):
        if 0x81 <= chunk[i] <= 0xFE:
            try:
                out.append(chunk[i:i + 2].decode("cp950") if i + 1 < len(chunk) else accounting.LONE)
            except UnicodeDecodeError:
                out.append(accounting.LONE)
            i += 2
        else:
            out.append(chr(chunk[i]))
            i += 1
    return "".join(out)


def window(seed, steps=700, most=48, budget=7_500):
    """(text, take times, ledger) of peers sending while a window reads, a
    chunk at a time, one of the least lately read of its ready connections;
    a reset connection's last bytes may never be read."""
    rng = random.Random(seed)
    ledger = peers.Ledger()
    live, pieces, times, taken = [], [], [], 0
    for t in range(steps + 300):
        while t < steps and len(live) < most and rng.random() < 0.4:
            c = ledger.connection(rng.choice(peers.KINDS), 1)
            writer, plan = peers.Writer(rng), []
            for n in range(rng.randint(1, 8)):
                data = b"\x02T%05d:%06d|" % (c.cid, n)
                data += writer.body(rng.randint(1, 6_000))
                for k in range(0, len(data), 4096):
                    # What a send puts on the wire, now and then in two segments.
                    part, cut = data[k:k + 4096], rng.randint(1, 4096)
                    plan += [part[:cut], part[cut:]] if rng.random() < 0.2 and cut < len(part) else [part]
            live.append(dict(c=c, plan=plan, read=0, last=t, drop=c.kind == "reset" and rng.random() < 0.5))
        waiting = sum(len(e["c"].sent) - e["read"] for e in live)
        for e in rng.sample(live, len(live)):
            if e["plan"] and waiting < budget and rng.random() < 0.5:
                c, part = e["c"], e["plan"].pop(0)
                c.first_sent = c.first_sent if c.sent else float(t)
                c.sent += part
                c.last_sent = float(t)
                waiting += len(part)
        text = []
        for _ in range(rng.randint(0, 10)):
            ready = sorted((e for e in live if len(e["c"].sent) > e["read"]), key=lambda e: e["last"])
            if not ready:
                break
            e = rng.choice(ready[:4])
            size = min(len(e["c"].sent) - e["read"], peers.CHUNK)
            text.append(shown(bytes(e["c"].sent[e["read"]:e["read"] + size])))
            e["read"] += size
            e["last"] = t + rng.random()
        live = [e for e in live if e["plan"] or (e["read"] < len(e["c"].sent) and not (e["drop"] and rng.random() < 0.3))]
        if "".join(text):
            times.append((taken, float(t)))
            pieces.append("".join(text))
            taken += len(pieces[-1])
    return "".join(pieces), times, ledger


def main():
    seeds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    failures = []
    for seed in range(1, seeds + 1):
        text, times, ledger = window(seed)
        checked, _, _ = accounting.check_text(text, ledger, set(), seed, times, grace=1e9)
        if not checked.passed():
            failures.append(f"seed {seed}: {[d for _, ok, d in checked.checks if not ok][0][:300]}")
        # One byte dropped, and two headers' bytes swapped, inside the same text.
        heads = [text.find(f"\x02T{c.cid:05d}:") for c in ledger.connections[:40]]
        heads = sorted(h for h in heads if h >= 0)
        a, b = heads[len(heads) // 3], heads[2 * len(heads) // 3]
        for name, bad in (("one byte dropped", text[:a + 20] + text[a + 21:]),
                          ("two connections swapped", text[:a] + text[b:b + 14] + text[a + 14:b] + text[a:a + 14]
                           + text[b + 14:])):
            if accounting.check_text(bad, ledger, set(), seed, times, grace=1e9)[0].passed():
                failures.append(f"seed {seed}: the checker passes a text with {name}")
        print(f"seed {seed}: {len(ledger.connections)} connections, {len(text):,} characters", flush=True)
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

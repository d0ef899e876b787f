"""The soak's report: what ran, how much, and every check with its verdict."""

import time


def write(path, seed, minutes, figures, verdicts):
    f = figures
    lines = [
        "# Soak report",
        "",
        f"Seed {seed}, planned {minutes:g} min, ran {f['seconds']:.0f} s, "
        f"finished {time.strftime('%Y-%m-%d %H:%M:%S', time.localtime())}. "
        f"Replay with `script/soak {minutes:g} {seed}`.",
        "",
        "## Traffic",
        "",
        "| | |",
        "|---|---:|",
        f"| TCP connections | {f['connections']} |",
        f"| ... waited for each reply / streamed / shut down then read | "
        f"{f['kinds'].get('waiter', 0)} / {f['kinds'].get('streamer', 0)} / {f['kinds'].get('halfclose', 0)} |",
        f"| ... reset / closed mid-stream | {f['kinds'].get('reset', 0)} / {f['kinds'].get('midclose', 0)} |",
        f"| most at once | {f['most_at_once']} |",
        f"| ... dropped by the system before the window could accept them (a full listener queue; "
        f"the system counted {f['overflows']:,}) | {f['tcp_dropped']} |",
        f"| bytes sent over TCP | {f['tcp_bytes']:,} |",
        f"| replies counted by the peers | {f['replies']:,} |",
        f"| datagrams sent / to show / shown | {f['datagrams']:,} / {f['datagrams_to_show']:,} / "
        f"{f['datagrams_shown']:,} |",
        f"| datagram bytes sent | {f['udp_bytes']:,} |",
        f"| datagrams the system dropped before the window read them | {f['udp_drops']} |",
        f"| HTTP requests answered (curl / wrk) | {f['curl']} / {f['wrk']} |",
        f"| HTTP requests shown | {f['http_requests_shown']} |",
        f"| line breaks shown | {f['line_breaks']:,} |",
        f"| received text read | {f['text_chars']:,} characters in {f['takes']:,} reads, "
        f"the box at most {f['largest']:,} |",
        f"| short pieces after a hidden stretch, placed where they first fit | {f['ambiguous']} |",
        f"| longest a connection's bytes showed after its peer's last send | {f['most_lag']:.1f} s |",
        "",
        "## The person's actions",
        "",
        "| action | times | through |",
        "|---|---:|---|",
    ]
    for name, (count, how) in sorted(f["actions"].items()):
        lines.append(f"| {name} | {count} | {how} |")
    lines += [
        "",
        "## The process",
        "",
        "| | |",
        "|---|---:|",
        f"| sockets the window holds at the start / at the end | {f['sockets_start']} / {f['sockets_end']} |",
        f"| handles at the start / at the end | {f['handles_start']} / {f['handles_end']} |"
        if f["handles_start"] is not None else "| handles (the system gives no count here) | – |",
        f"| peak resident memory after the first minute / at the end | {f['hwm_first']:,} KiB / "
        f"{f['hwm_last']:,} KiB |",
        f"| slowest answer of the window to a read of its text | {f['slowest_ms']:.0f} ms |",
        f"| err:heap lines | {f['heap']} |",
        "",
        "## Checks",
        "",
        "| check | verdict | detail |",
        "|---|---|---|",
    ]
    for name, passed, detail in verdicts.checks:
        detail = detail.replace("|", "\\|")
        lines.append(f"| {name} | {'pass' if passed else '**FAIL**'} | {detail} |")
    lines.append("")
    lines.append("All checks pass." if verdicts.passed() else f"Failed. Replay with `script/soak {minutes:g} {seed}`.")
    with open(path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")

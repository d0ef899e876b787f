#!/usr/bin/env python3
"""What one request costs, call by call: the calls wirepad.exe (and the bare
receive loop, and an earlier wirepad.exe when given) makes into the system's
DLLs for each HTTP request of a client that sends one request a connection and
reads the HTML reply, counted with Wine's relay trace.

    python3 bench/calls.py [--build DIR] [--before EXE] [--requests N]

Under Wine every window-system and socket call costs a round trip to the Wine
server; the counts say where a request's time goes beside the bare loop's.
The received-text box is filled first (its edit control's layout would
otherwise dominate), so the counts are those of the notification path alone.
Runs in a Wine prefix of its own under the build (calls-prefix), whose relay
settings keep to calls made from the two programs. Builds nothing: build
wirepad, bench_floor and wpdrive first (bench/run does)."""

import argparse
import collections
import os
import re
import socket
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "blackbox", "proof"))

import wirepad as wp  # noqa: E402

FILL = 1800  # requests that fill the received-text box before counting
SHOWN = ("GetMessageW", "PeekMessageW", "MsgWaitForMultipleObjectsEx", "GetQueueStatus", "PostMessageW",
         "NtDeviceIoControlFile", "recv", "send", "accept", "WSAAsyncSelect", "closesocket", "SetTimer",
         "KillTimer", "SetWindowLongPtrW", "GetDlgItem", "getsockopt")


def exchange(port, reply_length):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(b"GET / HTTP/1.0\r\n\r\n")
        got = 0
        while got < reply_length:
            data = s.recv(65536)
            if not data:
                break
            got += len(data)
    return got


def count(log, start, requests):
    with open(log, "rb") as f:
        f.seek(start)
        calls = collections.Counter(m.group(1).decode().split(".", 1)[1]
                                    for m in re.finditer(rb"Call ([\w.]+)\(", f.read()))
    return {name: calls[name] / requests for name in SHOWN}


def measure(log, port, reply_length, requests):
    for _ in range(FILL):
        exchange(port, reply_length)
    time.sleep(0.5)
    start = os.path.getsize(log)
    for _ in range(requests):
        wp.check(exchange(port, reply_length) == reply_length, "a reply came short")
    time.sleep(0.5)
    return count(log, start, requests)


def program(build, exe, requests):
    port = wp.free_port()
    app = wp.Wirepad(build, winedebug="+relay", exe=exe)
    try:
        app.add_listener(True, port)
        app.click(wp.INSERT_HTML_REPLY)
        reply = app.text(wp.REPLY_TEXT)
        return reply, measure(app.log_path, port, len(reply.encode()), requests)
    finally:
        app.stop()


def floor(build, reply, requests):
    port = wp.free_port()
    log_path = os.path.join(build, "tests", "calls-floor.log")
    with open(log_path, "wb") as log:
        process = subprocess.Popen(
            [wp.WINE_EXEC, os.path.join(build, "bench", "floor", "bench_floor.exe"), str(port), "0",
             wp.escape(reply), "600"],
            env=dict(os.environ, WIREPAD_BUILD_DIR=build, WINEDEBUG="+relay"), stdout=log, stderr=log)
        try:
            wp.check(wp.wait_for(lambda: any(s == "LISTEN" for s, _, _ in wp.sockets("tcp", port)), 30, 0.05),
                     "the floor does not listen")
            return measure(log_path, port, len(reply.encode()), requests)
        finally:
            process.kill()
            process.wait(10)
            os.remove(log_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--before", help="an earlier wirepad.exe, counted the same way")
    parser.add_argument("--requests", type=int, default=200)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    prefix = os.path.join(build, "calls-prefix")
    os.environ["WINEPREFIX"] = prefix
    subprocess.run([os.path.join(ROOT, "script", "wine-prefix"), prefix, "null"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayFromInclude", "/d",
                    "wirepad.exe;bench_floor.exe", "/f"], check=True, capture_output=True)

    columns = []
    reply, counts = program(build, None, args.requests)
    columns.append(("Wirepad", counts))
    if args.before:
        columns.append(("Wirepad before", program(build, os.path.abspath(args.before), args.requests)[1]))
    columns.append(("Floor", floor(build, reply, args.requests)))

    print(f"Calls a request, {args.requests} requests one after another (Wine relay trace, received box full)\n")
    print("| Call | " + " | ".join(name for name, _ in columns) + " |")
    print("|---|" + "---:|" * len(columns))
    for call in SHOWN:
        if any(c[call] for _, c in columns):
            print(f"| {call} | " + " | ".join(f"{c[call]:.2f}" for _, c in columns) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())

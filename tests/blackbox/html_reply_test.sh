#!/usr/bin/env bash
# A real HTTP client gets the HTML reply: the program listens on a loopback
# port with the reply button's text as its answer, and curl (run on the host,
# as a local browser would be) reads a complete HTTP/1.0 response whose body
# is the default sentence. The request curl sent shows in the received text.
set -euo pipefail
build=$1
wine_exec="$(dirname "$0")/../../cmake/wine-exec"
export WIREPAD_BUILD_DIR=$build
drive() { "$wine_exec" "$build/tests/wpdrive.exe" wait "$(basename "$top")" "$@" | tr -d '\r'; }

# A copy in a folder of its own, so that this script drives its own window and
# never one that a test running beside it started.
top=$(mktemp -d "$build/tests/html-reply.XXXXXX")
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  rm -rf "$top"
}
trap cleanup EXIT
cp "$build/wirepad.exe" "$top/"

# A port that was free a moment ago: bound to port 0 and read back, then let go.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')

"$wine_exec" "$top/wirepad.exe" &
app=$!
listed=$(drive set 100 "$port" click 101 click 121 list 103)
echo "listeners: $listed"

expected=$(printf '%s\r\n' 'HTTP/1.0 200 OK' 'Server: VizizAzidev' 'Accept-Ranges: bytes' \
  'Date: Mon, 13 Sep 2006 23:33:12 GMT' 'Content-Type: text/html' 'Content-Length: 16' ''; printf 'Have a nice day.')
status=0
answer=$(curl -sS --include --max-time 20 "http://127.0.0.1:$port/") || status=$?
received=$(drive text 10 escape)
code=0
wait "$app" || code=$?
app=

failed=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1"; echo "  expected: $(printf '%q' "$3")"; echo "  got:      $(printf '%q' "$2")"; failed=1; fi
}
check "listener listed" "$listed" "TCP - $port"
check "curl finished" "$status" 0
check "response" "$answer" "$expected"
check "request received" "$(printf '%s\n' "$received" | head -n 1)" "GET / HTTP/1.1"
check "exit code" "$code" 0
[ $failed -eq 0 ] && echo "1 passed, 0 failed" && exit 0
echo "0 passed, 1 failed"
exit 1

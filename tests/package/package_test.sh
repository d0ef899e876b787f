#!/usr/bin/env bash
# The release package (script/package) unpacks, its checksums hold, and the
# program in it starts and ends with exit code 0: first as packed, with the
# Chinese window, then with the packed English satellite beside it.
# Run from the host side: it drives the program with wpdrive.
set -euo pipefail
build=$1
zip=$2
wine_exec="$(dirname "$0")/../../cmake/wine-exec"
export WIREPAD_BUILD_DIR=$build
[ -f "$zip" ] || { echo "no package at $zip: run script/package first"; exit 1; }
top=$(mktemp -d "$build/tests/package.XXXXXX")
trap 'rm -rf "$top"' EXIT
unzip -q "$zip" -d "$top"
(cd "$top" && sha256sum --quiet -c SHA256SUMS.txt)
for f in wirepad.exe en/wirepad.exe.mui en/README.txt README.txt LICENSE.txt; do
  grep -q " $f\$" "$top/SHA256SUMS.txt" || { echo "SHA256SUMS.txt does not list $f"; exit 1; }
done

# Starts the unpacked program, reads the UDP button's caption, presses Escape;
# prints the caption and the exit code.
run() {
  "$wine_exec" "$top/wirepad.exe" &
  local app=$! caption code=0
  caption=$("$wine_exec" "$build/tests/wpdrive.exe" wait "$(basename "$top")" text 13 escape | tr -d '\r')
  wait $app || code=$?
  echo "$caption, exit code $code"
}

chinese=$(run)
cp "$top/en/wirepad.exe.mui" "$top/wirepad.exe.mui"
english=$(run)
echo "packed: $chinese; with the satellite: $english"
[ "$chinese" = "發放 UDP, exit code 0" ] && [ "$english" = "Send UDP, exit code 0" ] && echo "1 passed, 0 failed" && exit 0
echo "0 passed, 1 failed"
exit 1

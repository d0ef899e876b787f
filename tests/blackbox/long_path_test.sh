#!/usr/bin/env bash
# An executable whose full path is longer than 259 characters still starts:
# the satellite probe cuts the path and still finds no satellite, and the
# window opens from the executable's own template; Escape ends it with code 0.
# Run from the host side, because Wine's CreateProcess refuses such paths.
set -euo pipefail
build=$1
wine_exec="$(dirname "$0")/../../cmake/wine-exec"
export WIREPAD_BUILD_DIR=$build
top=$(mktemp -d "$build/tests/long-path.XXXXXX")
trap 'rm -rf "$top"' EXIT
dir=$top
while [ ${#dir} -lt 300 ]; do dir=$dir/0123456789abcdefghijklmnopqrstuvwxyz; done
mkdir -p "$dir"
cp "$build/wirepad.exe" "$dir/"
"$wine_exec" "$dir/wirepad.exe" &
app=$!
title=$("$wine_exec" "$build/tests/wpdrive.exe" wait "$(basename "$top")" text 31 text 32 escape | tr -d '\r')
code=0
wait $app || code=$?
echo "window fields: $(echo "$title" | tr '\n' ' ')exit code: $code"
[ "$title" = $'\n80' ] && [ $code -eq 0 ] && echo "1 passed, 0 failed" && exit 0
echo "0 passed, 1 failed"
exit 1

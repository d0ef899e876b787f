#!/usr/bin/env bash
# The release package (script/package) unpacks, its checksums hold, its two
# guides are fit to read in Notepad and name every button, and the program in
# it starts and ends with exit code 0: first as packed, with the Chinese
# window, then with the packed English satellite beside it.
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

# The guides, in English and in Chinese: checksummed, a UTF-8 byte-order mark,
# CRLF line ends, no line over 100 characters, and every button's caption in
# the guide's language (without the & of its key), read from the window's
# templates, so that a new button nobody wrote about fails here.
source_dir=$(dirname "$0")/../..
button_captions() {
  sed -n 's/^ *CONTROL \(TEXT_[A-Z_]*\), [^,]*, "Button", WP_BUTTON,.*/\1/p' \
    "$source_dir/resources/main_dialog.dlg" | sort -u | while read -r name; do
    sed -n "s/^#define $name \"\\(.*\\)\"\$/\\1/p" "$source_dir/resources/$1"
  done | tr -d '&' | sed 's/ *$//'
}
check_guide() {
  local guide=$top/$1 long caption text count=0
  grep -q " $1\$" "$top/SHA256SUMS.txt" || { echo "SHA256SUMS.txt does not list $1"; exit 1; }
  [ "$(head -c 3 "$guide" | od -An -tx1 | tr -d ' ')" = efbbbf ] || { echo "$1 has no byte-order mark"; exit 1; }
  ! grep -qv $'\r$' "$guide" || { echo "$1 has a line without CRLF"; exit 1; }
  long=$(LC_ALL=C.UTF-8 sed -n 's/\r$//; /^.\{101\}/{=;q}' "$guide")
  [ -z "$long" ] || { echo "$1: line $long is over 100 characters"; exit 1; }
  text=$(tr '\r\n' '  ' <"$guide" | tr -s ' ')
  while IFS= read -r caption; do
    count=$((count + 1))
    [ -n "$caption" ] && grep -qF -- "$caption" <<<"$text" ||
      { echo "$1 does not name the button \"$caption\" of $2"; exit 1; }
  done < <(button_captions "$2")
  [ "$count" -gt 0 ] || { echo "no button captions read from $2"; exit 1; }
}
check_guide README.txt wirepad_en.rc
check_guide README.zh-TW.txt wirepad.rc

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

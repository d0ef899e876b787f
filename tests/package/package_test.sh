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

# The packed exe and satellite carry no build time and no path of the machine
# that built them: the same sources give the same bytes in any folder on any
# day. The header's stamp is 0 (GNU ld, LLVM's MinGW linker) or a hash of the
# file (/Brepro); a satellite's export table has a stamp of its own.
src=$(cd "$(dirname "$0")/../.." && pwd)
for f in wirepad.exe en/wirepad.exe.mui; do
  stamps=$(TZ=UTC x86_64-w64-mingw32-objdump -p "$top/$f" | sed -n 's|^Time/Date\( stamp\)\?\s*||p')
  [ -n "$stamps" ] || { echo "no PE header in $f"; exit 1; }
  while read -r stamp; do
    case $stamp in
      0 | "Thu Jan  1 00:00:00 1970" | *"reproducible build file hash"*) ;;
      *) echo "$f carries its build time: $stamp"; exit 1 ;;
    esac
  done <<<"$stamps"
  python3 - "$top/$f" "$(cd "$build" && pwd)" "$src" <<'PY' || exit 1
import sys
data = open(sys.argv[1], "rb").read()
for path in sys.argv[2:]:
    for form in (path, path.replace("/", "\\")):
        if form.encode() in data or form.encode("utf-16-le") in data:
            sys.exit(f"{sys.argv[1]} holds the path {form}")
PY
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

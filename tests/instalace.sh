#!/bin/sh
# Installs the build into a fresh prefix, then renders a score in an empty
# folder with nothing but the installed program and its registers; the WAV
# must be the one the build's own registers give. Also checks that the
# installed manual pages format without warnings.
set -eu
build=$1
source=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/skladba-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
mkdir "$tmp/empty" "$tmp/expected"
cp "$source/examples/kanon.txt" "$tmp/empty/piece.txt"
cp "$source/examples/kanon.txt" "$tmp/expected/piece.txt"
(cd "$tmp/empty" && env -u SKLADBA_REJSTRIKY "$tmp/prefix/bin/skladba" piece.txt)
(cd "$tmp/expected" && "$build/skladba" --registers "$build/work/rejstriky" piece.txt)
cmp "$tmp/empty/piece.wav" "$tmp/expected/piece.wav"
[ "$(ls -A "$tmp/empty" | tr '\n' ' ')" = "piece.txt piece.wav " ]
"$tmp/prefix/bin/skladba-registers" --help >/dev/null

if command -v groff >/dev/null 2>&1; then
  for page in "$tmp"/prefix/share/man/man1/*.1; do
    warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
  done
fi
echo "installed and rendered from $tmp/prefix"

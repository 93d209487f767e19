#!/bin/sh
# Installs the build into a fresh prefix, then renders a score in an empty
# folder with nothing but the installed program and its registers; the WAV
# must be the one the build's own registers give. Also checks that an
# installed skladba serve finds its page and the registers, and that the
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
# A note held past its segment under --release: the installed registers
# bring their sustain loops, so it sounds as the build's own do.
printf 't30 1a\n' >"$tmp/empty/held.txt"
printf 't30 1a\n' >"$tmp/expected/held.txt"
(cd "$tmp/empty" && env -u SKLADBA_REJSTRIKY "$tmp/prefix/bin/skladba" --release 100 held.txt)
(cd "$tmp/expected" && "$build/skladba" --registers "$build/work/rejstriky" --release 100 held.txt)
cmp "$tmp/empty/held.wav" "$tmp/expected/held.wav"
"$tmp/prefix/bin/skladba-registers" --help >/dev/null

# skladba serve, where this build has it: the installed program finds its
# page and the installed registers, and renders.
if [ -x "$tmp/prefix/bin/skladba-serve" ] && command -v python3 >/dev/null 2>&1; then
  mkdir "$tmp/serve"
  cp "$source/examples/kanon.txt" "$tmp/serve/piece.txt"
  (cd "$tmp/serve" && TMPDIR="$tmp" exec env -u SKLADBA_REJSTRIKY "$tmp/prefix/bin/skladba" serve piece.txt \
     >"$tmp/serve.url" 2>"$tmp/serve.err") &
  server=$!
  fetched=0
  python3 - "$tmp/serve.url" "$source/web/index.html" "$tmp/serve/piece.txt" "$build/web/js/main.js" <<'EOF' || fetched=$?
import json, os, sys, time, urllib.request
for _ in range(200):
    url = open(sys.argv[1]).read().strip()
    if url:
        break
    time.sleep(0.05)
assert urllib.request.urlopen(url).read() == open(sys.argv[2], 'rb').read(), 'not the page of the source tree'
# The key in the printed address, for a request of its own.
base, token = url.split('?token=')
# The page's script as the build bundled it, where it could.
if os.path.exists(sys.argv[4]):
    script = urllib.request.urlopen(base + 'js/main.js?token=' + token).read()
    assert script == open(sys.argv[4], 'rb').read(), 'not the script the build bundled'
edit = urllib.request.Request(base + 'api/edit?token=' + token, data=open(sys.argv[3], 'rb').read(), headers={'X-Skladba': '1'})
assert json.load(urllib.request.urlopen(edit))['render']['ok'], 'the installed server cannot render'
EOF
  kill -INT "$server"
  status=0
  wait "$server" || status=$?
  [ "$fetched" -eq 0 ] && [ "$status" -eq 130 ] || { echo "skladba serve ended with $status"; cat "$tmp/serve.err"; exit 1; }
fi

if command -v groff >/dev/null 2>&1; then
  for page in "$tmp"/prefix/share/man/man1/*.1; do
    warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
  done
fi
echo "installed and rendered from $tmp/prefix"

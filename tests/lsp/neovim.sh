#!/bin/sh
# Runs neovim.lua in a headless Neovim on a score of its own; skipped (77)
# where nvim is not installed.
# usage: neovim.sh SKLADBA REGISTERS
command -v nvim >/dev/null 2>&1 || { echo "nvim is not installed: skipped"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/skladba-nvim-test-XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
printf 'o1 c d e fis g a h c\n' > "$dir/piece.txt"
SKLADBA=$1 REGISTERS=$2 SCORE=$dir/piece.txt XDG_STATE_HOME=$dir XDG_CACHE_HOME=$dir \
  timeout 240 nvim --headless -u NONE -i NONE -c "luafile $(dirname "$0")/neovim.lua" -c 'cquit 1' 2>&1

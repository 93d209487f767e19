#!/bin/sh
# Runs neovim.lua (the protocol with Neovim as the client) and
# neovim-editors.lua (the set-up in editors/) in a headless Neovim, each on
# a score of its own; skipped (77) where nvim is not installed.
# usage: neovim.sh SKLADBA REGISTERS
command -v nvim >/dev/null 2>&1 || { echo "nvim is not installed: skipped"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d "${TMPDIR:-/tmp}/skladba-nvim-test-XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
printf 'o1 c d e fis g a h c\n' > "$dir/piece.txt"
printf 'o1 c d e o2 c h c. |\n' > "$dir/piece.skl"
run() {
  SKLADBA=$1 REGISTERS=$2 SCORE=$3 PLUGIN=$here/../../editors/skladba.lua XDG_STATE_HOME=$dir XDG_CACHE_HOME=$dir \
    timeout 240 nvim --headless -u NONE -i NONE -c "luafile $4" -c 'cquit 1' 2>&1
}
run "$1" "$2" "$dir/piece.txt" "$here/neovim.lua" && run "$1" "$2" "$dir/piece.skl" "$here/neovim-editors.lua"

#!/bin/sh
# Runs nvim_session.lua in headless Neovim on a copy of a demo source with a typo, then packs the
# written file with zqpack. Exit 77 (skipped) where Neovim is not installed.
set -eu
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
if ! command -v nvim >/dev/null 2>&1; then
    echo "nvim is not installed: the editor session is skipped"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/proj/fx"
printf '[Project Binaries]\nSparkrig=%s\n' "$bin/sparkrig_sample.dll" > "$work/proj/p.proj00"
sed 's/(name Width)/(name Widht)/' "$src/demo/fx/sword_trail.Fx00a" > "$work/proj/fx/sword.Fx00a"
grep -q Widht "$work/proj/fx/sword.Fx00a"
FXLS="$bin/fxls" FX_FILE="$work/proj/fx/sword.Fx00a" HOME="$work" XDG_STATE_HOME="$work" \
    timeout 120 nvim --headless --clean -n -c "luafile $src/tests/fxls/nvim_session.lua"
grep -q '(name Width)' "$work/proj/fx/sword.Fx00a"
"$bin/fxfmt" --check "$work/proj/fx/sword.Fx00a"
"$bin/zqpack" -q "$work/proj/fx/sword.Fx00a"
test -s "$work/proj/fx/sword.Fx00p"
echo "nvim session: fixed, formatted, written and packed"

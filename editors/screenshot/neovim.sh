#!/bin/sh
# The README's picture of fxls in a real editor: Neovim in tmux opens a copy of a demo source with a
# typo, fxls marks it, hover shows the key type's description; the pane is captured with its colours,
# turned into HTML and photographed by headless Chromium.
# Usage: neovim.sh BIN_DIR SOURCE_DIR OUT.png [CHROMIUM]
set -eu
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
out=$3
chromium=${4:-chromium}
for program in tmux nvim "$chromium"; do
    command -v "$program" >/dev/null 2>&1 || { echo "neovim.sh: '$program' is not installed" >&2; exit 1; }
done
work=$(mktemp -d)
session="fxls-shot-$$"
trap 'tmux kill-session -t "$session" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/proj/fx"
printf '[Project Binaries]\nSparkrig=%s\n' "$bin/sparkrig_sample.dll" > "$work/proj/p.proj00"
sed 's/(name Width)/(name Widht)/' "$src/demo/fx/sword_trail.Fx00a" > "$work/proj/fx/sword.Fx00a"
cd "$work"
tmux new-session -d -s "$session" -x 150 -y 18 \
    "env HOME=$work XDG_STATE_HOME=$work XDG_CONFIG_HOME=$work FXLS=$bin/fxls TERM=tmux-256color \
     nvim -n -u $src/editors/screenshot/init.lua proj/fx/sword.Fx00a"
# The finding first, then hover on the key's type.
sleep 3
tmux send-keys -t "$session" ":call cursor(5, 33)" Enter
sleep 0.5
tmux send-keys -t "$session" ":lua vim.lsp.buf.hover()" Enter
sleep 2
tmux capture-pane -t "$session" -e -p > "$work/capture.ans"
python3 "$src/editors/screenshot/ansi2html.py" "$work/capture.ans" "$work/capture.html"
"$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --hide-scrollbars \
    --user-data-dir="$work/chromium-profile" --window-size=1380,370 \
    --screenshot="$work/shot.png" "file://$work/capture.html" 2>/dev/null
mkdir -p "$(dirname "$out")"
cp "$work/shot.png" "$out"
echo "neovim.sh: wrote $out"

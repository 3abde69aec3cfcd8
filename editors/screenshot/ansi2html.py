#!/usr/bin/env python3
"""A terminal capture with ANSI colours (tmux capture-pane -e -p) as an HTML page for a screenshot.

Handles the SGR codes a terminal editor draws with: bold, italic, underline, reverse, the 16
colours, the 256-colour palette and 24-bit colours. Usage: ansi2html.py CAPTURE OUT.html
"""
import html, re, sys

BASE = ["#1d1f21", "#cc6666", "#b5bd68", "#f0c674", "#81a2be", "#b294bb", "#8abeb7", "#c5c8c6",
        "#666666", "#ff7b7b", "#d0e07a", "#ffd87a", "#9cc3ea", "#d5a8e0", "#9de0d8", "#ffffff"]
FG, BG = "#c5c8c6", "#1d1f21"

def palette(n):
    if n < 16:
        return BASE[n]
    if n < 232:
        n -= 16
        steps = [0, 95, 135, 175, 215, 255]
        return "#%02x%02x%02x" % (steps[n // 36], steps[n // 6 % 6], steps[n % 6])
    level = 8 + (n - 232) * 10
    return "#%02x%02x%02x" % (level, level, level)

class Style:
    def __init__(self):
        self.reset()
    def reset(self):
        self.fg = self.bg = None
        self.bold = self.italic = self.underline = self.reverse = False
    def apply(self, params):
        codes = [int(p) if p else 0 for p in params.split(";")] if params else [0]
        i = 0
        while i < len(codes):
            c = codes[i]
            if c == 0: self.reset()
            elif c == 1: self.bold = True
            elif c == 3: self.italic = True
            elif c == 4: self.underline = True
            elif c == 7: self.reverse = True
            elif c == 22: self.bold = False
            elif c == 23: self.italic = False
            elif c == 24: self.underline = False
            elif c == 27: self.reverse = False
            elif 30 <= c <= 37: self.fg = BASE[c - 30]
            elif 90 <= c <= 97: self.fg = BASE[c - 90 + 8]
            elif 40 <= c <= 47: self.bg = BASE[c - 40]
            elif 100 <= c <= 107: self.bg = BASE[c - 100 + 8]
            elif c == 39: self.fg = None
            elif c == 49: self.bg = None
            elif c in (38, 48) and i + 1 < len(codes):
                if codes[i + 1] == 5 and i + 2 < len(codes):
                    colour, i = palette(codes[i + 2]), i + 2
                elif codes[i + 1] == 2 and i + 4 < len(codes):
                    colour, i = "#%02x%02x%02x" % tuple(codes[i + 2:i + 5]), i + 4
                else:
                    colour = None
                if c == 38: self.fg = colour
                else: self.bg = colour
            i += 1
    def css(self):
        fg, bg = self.fg or FG, self.bg or BG
        if self.reverse:
            fg, bg = bg, fg
        parts = ["color:" + fg, "background:" + bg]
        if self.bold: parts.append("font-weight:bold")
        if self.italic: parts.append("font-style:italic")
        if self.underline: parts.append("text-decoration:underline")
        return ";".join(parts)

def convert(text):
    style, out = Style(), []
    for line in text.rstrip("\n").split("\n"):
        spans = []
        for piece in re.split(r"(\x1b\[[0-9;]*m)", line):
            if piece.startswith("\x1b["):
                style.apply(piece[2:-1])
            elif piece:
                spans.append('<span style="%s">%s</span>' % (style.css(), html.escape(piece)))
        out.append("".join(spans))
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><style>body{margin:0;background:%s}"
            "pre{margin:0;padding:12px;font:15px/1.25 'DejaVu Sans Mono',monospace;color:%s}</style></head>"
            "<body><pre>%s</pre></body></html>\n" % (BG, FG, "\n".join(out)))

if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8", errors="replace") as f:
        page = convert(f.read())
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write(page)

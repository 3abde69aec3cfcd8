"""fxdump's page and CSV read by real parsers: a curve of 10,000 points drawn whole and to scale with
its axes' values, and hostile names (markup, quotes, a terminal escape, a formula) only ever as
text; names that are not UTF-8 keep their bytes in the JSON reports.

Usage: html_page.py ZQPACK PLUGIN FXDUMP MODULE WORKDIR"""
import csv
import html.parser
import io
import json
import os
import random
import re
import subprocess
import sys

ZQPACK, PLUGIN, FXDUMP, MODULE, WORK = sys.argv[1:6]
# The marker bytes Q and Z become quotes in the packed file: a source cannot hold one in a name.
EFFECT = "E<b>&amp;'x</script><script>alert(1)</script>\x1b[31mQ"
LABEL = "L<i>'</title></td>\x1b]0;t\x07Z"
FORMULA = "=cmd|' /C calc'!A0"
ALLOWED_TAGS = {"html", "head", "meta", "title", "style", "body", "h1", "h2", "h3", "p", "nav", "ol", "li", "a",
                "section", "details", "summary", "span", "svg", "line", "text", "g", "rect", "table", "tr", "th",
                "td", "polyline", "defs", "lineargradient", "stop", "pattern"}
# A plot's area within its picture: left and top edge, width and height.
AX, AY, AW, AH = 56.0, 8.0, 320.0 - 56.0 - 10.0, 76.0 - 8.0 - 18.0


def printable(s):
    """What fxdump shows of a text: control bytes as \\xHH."""
    return "".join("\\x%02X" % ord(c) if ord(c) < 0x20 or ord(c) == 0x7F else c for c in s)


def run(args):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit("%s failed (%d): %s" % (args, result.returncode, result.stderr.decode(errors="replace")))
    return result.stdout


def curve(values):
    n = len(values)
    return "(value-list %s)" % " ".join(
        "(value (time %.9g) (data %s))" % (i / (n - 1), " ".join("%.6g" % x for x in v)) for i, v in enumerate(values))


def source():
    rnd = random.Random(10000)
    intensity = [[rnd.uniform(-50, 50)] for _ in range(10000)]
    scale = [[rnd.uniform(-3, 3) for _ in range(3)] for _ in range(40)]
    return ("(header (version 1))(effect-tree (effect (name \"%s\") (length 2000) (key-list "
            "(key (type Light) (id 1) (track 0) (start-time 0) (end-time 1000) (properties "
            "(property (name Intensity) (type Float) %s)))"
            "(key (type Model) (id 2) (track 1) (start-time 100) (end-time 900) (properties "
            "(property (name Scale) (type Vector) %s)))"
            "(key (type Marker) (id 3) (track 2) (start-time 0) (end-time 10) (properties "
            "(property (name Label) (type String) (value-list (value (time 0) (data \"%s\"))))))))"
            "(effect (name \"%s\") (length 10) (key-list (key (type Light) (id 1) (track 0) (start-time 0) "
            "(end-time 10) (properties (property (name Intensity) (type Float) %s))))))\n"
            % (EFFECT, curve(intensity), curve(scale), LABEL, FORMULA, curve([[1], [2]])))


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tags, self.stack, self.texts, self.attrs, self.polylines = set(), [], [], [], []
        self.svg_texts, self.classes = [], set()

    def handle_starttag(self, tag, attrs):
        self.tags.add(tag)
        self.attrs += [v for _, v in attrs if v is not None]
        self.classes.add(dict(attrs).get("class"))
        if tag == "polyline":
            self.polylines.append((self.row, dict(attrs)["points"]))
        if tag not in ("meta", "line", "stop", "polyline"):
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if self.stack and self.stack[-1] == tag:
            self.stack.pop()

    def handle_endtag(self, tag):
        if tag in self.stack:
            while self.stack.pop() != tag:
                pass

    def handle_data(self, data):
        self.texts.append((tuple(self.stack), data))
        if self.stack[-1:] == ["th"]:
            self.row = data
        if self.stack[-2:] == ["svg", "text"]:
            self.svg_texts.append((self.row, data))

    row = None


def value_span(points):
    """The values at the bottom and top of a plot: the lowest and highest, and 0 besides for a flat
    curve (1 and 0 for a curve that stays 0)."""
    flat = [x for p in points for x in (p["value"] if isinstance(p["value"], list) else [p["value"]])]
    lo, hi = min(flat), max(flat)
    if lo == hi:
        lo, hi = min(lo, 0.0), (hi if hi > 0 else 0.0 if lo < 0 else 1.0)
    return lo, hi


def expected_lines(points):
    """The plot's polylines as the page draws them: x over the normalised life, y over the span of
    every component's values."""
    values = [p["value"] if isinstance(p["value"], list) else [p["value"]] for p in points]
    lo, hi = value_span(points)
    lines = []
    for c in range(len(values[0])):
        line = []
        for p, v in zip(points, values):
            line.append((AX + AW * min(max(p["time"], 0.0), 1.0), AY + AH * (hi - v[c]) / (hi - lo)))
        lines.append(line)
    return lines


def main():
    os.makedirs(WORK, exist_ok=True)
    with open(os.path.join(WORK, "fx.proj00"), "w") as f:
        f.write("[General]\nGame=Test\n[Project Binaries]\nSparkrig=%s\n" % MODULE)
    src = os.path.join(WORK, "hostile.Fx00a")
    with open(src, "wb") as f:
        f.write(source().encode("latin-1"))
    assert "sourceBytes" not in json.loads(run([ZQPACK, "--json", "--plugin", PLUGIN, src]))
    packed = src[:-1] + "p"
    data = open(packed, "rb").read()
    for marker in (b"[31mQ", b"\x07Z"):
        assert data.count(marker) == 1, marker
        data = data.replace(marker, marker[:-1] + b'"')
    open(packed, "wb").write(data)
    effect, label = EFFECT[:-1] + '"', LABEL[:-1] + '"'

    listing = json.loads(run([FXDUMP, "--json", "--module", MODULE, packed]))
    props = {p["name"]: p for p in listing["effects"][0]["keys"][0]["properties"] + listing["effects"][0]["keys"][1]["properties"]}
    assert listing["effects"][0]["name"] == effect
    assert len(props["Intensity"]["points"]) == 10000

    raw = run([FXDUMP, "--html", "--module", MODULE, packed]).decode("utf-8")
    assert "\x1b" not in raw and "\x07" not in raw
    page = Page()
    page.feed(raw)
    page.close()
    assert page.tags <= ALLOWED_TAGS, page.tags - ALLOWED_TAGS
    # Hostile texts are text, in the index and the section, and nowhere markup or an attribute.
    texts = [t for _, t in page.texts]
    assert printable(effect) in texts, "effect name not shown as text"
    assert [s for s, t in page.texts if t.strip() == printable(effect)] == [("html", "body", "nav", "ol", "li", "a"),
                                                                    ("html", "body", "section", "details", "summary")]
    assert any(printable(label) in t for t in texts), "string value not shown as text"
    for value in page.attrs:
        assert "<" not in value and ">" not in value, value
    # Every points attribute holds points only; each plot is drawn whole and to scale.
    for _, points in page.polylines:
        assert re.fullmatch(r"(-?\d+(\.\d+)?,-?\d+(\.\d+)?\s*)*", points), points[:200]
    # Each plot names its lowest and highest value and its key's times: Intensity's key runs from 0
    # to 1000 ms, Scale's from 100 to 900 ms.
    assert "legend" in page.classes
    for name, times in (("Intensity", ["0 ms", "500 ms", "1000 ms"]), ("Scale", ["100 ms", "500 ms", "900 ms"])):
        lo, hi = value_span(props[name]["points"])
        labels = [t for row, t in page.svg_texts if row == name][:5]
        assert labels == ["%.4g" % hi, "%.4g" % lo] + times, (name, labels)
    # The module's default Radius stays 5: a flat line at the top, against 0 at the bottom.
    assert props["Radius"]["points"] == [{"time": 0.0, "value": 5.0}], props["Radius"]
    assert [t for row, t in page.svg_texts if row == "Radius"][:2] == ["5", "0"]
    radius = [tuple(float(x) for x in pair.split(",")) for pair in [p for row, p in page.polylines if row == "Radius"][0].split()]
    assert radius == [(AX, AY), (AX + AW, AY)], radius
    for name, count in (("Intensity", 1), ("Scale", 3)):
        drawn = [p for row, p in page.polylines if row == name][:count]
        assert len(drawn) == count, (name, len(drawn))
        for line, want in zip(drawn, expected_lines(props[name]["points"])):
            got = [tuple(float(x) for x in pair.split(",")) for pair in line.split()]
            assert len(got) == len(want), (name, len(got), len(want))
            for (gx, gy), (wx, wy) in zip(got, want):
                assert abs(gx - wx) <= 0.051 and abs(gy - wy) <= 0.051, (name, gx, gy, wx, wy)

    # A file name that is not UTF-8 keeps its bytes in the JSON reports beside the text.
    odd = os.path.join(os.fsencode(WORK), b"caf\xe9.Fx00a")
    with open(odd, "wb") as f:
        f.write(b"(header (version 1))(effect-tree)\n")
    report = json.loads(run([ZQPACK, "--json", "--plugin", PLUGIN, odd]))
    assert bytes.fromhex(report["sourceBytes"]) == odd and "\ufffd" in report["source"], report
    report = json.loads(run([FXDUMP, "--json", odd[:-1] + b"p"]))
    assert bytes.fromhex(report["fileBytes"]) == odd[:-1] + b"p", report

    # The CSV: every row parses, texts are escaped, and no cell is a formula.
    rows = list(csv.reader(io.StringIO(run([FXDUMP, "--csv", "--module", MODULE, packed]).decode("utf-8"),
                                       newline="")))
    assert rows[0][:6] == ["file", "effect", "key", "type", "property", "time"]
    assert [r[4] for r in rows].count("Intensity") == 10000 + 2
    assert [r[4] for r in rows].count("Scale") == 40
    assert {r[1] for r in rows[1:]} == {printable(effect), "'" + FORMULA}
    for r in rows[1:]:
        for cell in (r[0], r[1], r[3], r[4]):
            assert cell[:1] not in ("=", "+", "-", "@", "\t", "\r"), cell


if __name__ == "__main__":
    main()
    print("ok")

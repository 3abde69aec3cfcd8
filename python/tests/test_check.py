"""Source checks: check() finds exactly what fxcheck --format json prints, from paths and text."""

import embervise
from conftest import MODULE, json_lines, run, sources

HEADER = "(header (version 1))\n"


def key(extra=""):
    return "(key (name K) (type Sprite) (id 1) (track 0) (start-time 0) (end-time 1000)" + extra + ")"


def effect(keys):
    return "(effect-tree (effect (name E) (length 1000) (key-list " + keys + ")))\n"


def prop(name, type_name, data):
    return f"(properties (property (name {name}) (type {type_name}) (value-list (value (time 0) (data {data})))))"


# Sources with findings of many kinds: errors, warnings, notes with related places, broken text.
CASES = {
    "clean": HEADER + effect(key(prop("Size", "Float", "2"))),
    "unknown_type": HEADER + effect("(key (type Sprit) (id 1) (track 0) (start-time 0) (end-time 10))"),
    "unknown_property": HEADER + effect(key(prop("Sise", "Float", "2"))),
    "clamped": HEADER + effect(key(prop("FrameCount", "Int", "99999999999"))),
    "colour": HEADER + effect(key(prop("Color", "Color", "1 2 256 4"))),
    "enum": HEADER + effect(key(prop("BlendMode", "Enum", "Opaq"))),
    "prefab": HEADER + "(prefab-tree (prefab (name P) (type Light)) (prefab (name Q) (type Sprite)))\n"
    + effect(key("(parent P)")),
    "order": HEADER + effect(
        "(key (type Sprite) (id 1) (track 0) (start-time 0) (end-time 500))\n"
        "(key (type Sprite) (id 2) (track 0) (start-time 700) (end-time 300))"),
    "duplicates": HEADER + "(effect-tree (effect (name E) (length 1))\n(effect (name E) (length 1)))",
    "parentheses": ")" + HEADER + "(effect-tree (effect (name E) (length 1)",
    "open_string": HEADER + effect("") + '"open',
    "bytes": HEADER + '(effect-tree (effect (name "a\x01\xff") (length 1))\r\n(effect (name "a\x01\xff") (length 1)))',
    "version": "(header (version 2))\n" + effect(key()),
}


def write_cases(folder):
    folder.mkdir(parents=True, exist_ok=True)
    paths = {}
    for name, text in CASES.items():
        path = folder / f"{name}.Fx00a"
        path.write_bytes(text.encode("latin-1"))
        paths[name] = str(path)
    return paths


def as_json(findings):
    return [f.as_json() for f in findings]


def test_findings_equal_fxcheck_json(project):
    paths = write_cases(project / "fx" / "cases")
    codes = set()
    for path in list(paths.values()) + sources(project):
        want = json_lines(run("fxcheck", "--format", "json", path))
        got = embervise.check(path)
        assert as_json(got) == want, path
        assert as_json(embervise.check(path, MODULE)) == json_lines(
            run("fxcheck", "--format", "json", "--module", MODULE, path))
        codes |= {f.code for f in got}
    assert {"unknown-type", "unknown-property", "value-clamped", "unused-prefab", "unclosed-string"} <= codes
    # A folder is searched as fxcheck searches it.
    folder = str(project / "fx")
    assert as_json(embervise.check(folder)) == json_lines(run("fxcheck", "--format", "json", folder))


def test_text_is_checked_as_the_file_it_stands_for(project):
    paths = write_cases(project / "fx" / "cases")
    for name, path in paths.items():
        text = CASES[name].encode("latin-1").decode("utf-8", "surrogateescape")
        from_file = embervise.check(path)
        assert embervise.check(text, name=path) == from_file
        anonymous = embervise.check(text, MODULE)
        assert [(f.line, f.column, f.code) for f in anonymous] == [(f.line, f.column, f.code) for f in from_file]
        assert {f.file for f in anonymous} <= {"<text>"}


def test_files_that_cannot_be_checked(project, tmp_path):
    for path in [str(tmp_path / "missing.Fx00a"), str(project / "demo.proj00")]:
        want = json_lines(run("fxcheck", "--format", "json", path))
        assert as_json(embervise.check(path)) == want and want[0]["code"] == "file-unreadable"
    outside = tmp_path / "alone.Fx00a"
    outside.write_text(CASES["clean"])
    assert [f.code for f in embervise.check(str(outside))] == ["no-project"]

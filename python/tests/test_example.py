"""The submit-time validator in examples/python: fails on any warning, one CSV row per file."""

import csv
import os
import subprocess
import sys

from conftest import SOURCE, sources


def validate(*args):
    script = os.path.join(SOURCE, "examples", "python", "validate.py")
    return subprocess.run([sys.executable, script, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def test_validator_fails_on_warnings_and_summarises_every_file(project, tmp_path):
    summary = tmp_path / "summary.csv"
    done = validate(str(project), "--csv", str(summary))
    assert done.returncode == 1 and "[value-clamped]" in done.stderr
    rows = list(csv.DictReader(summary.open()))
    assert sorted(r["file"] for r in rows) == sources(project)
    flagged = {os.path.basename(r["file"]) for r in rows if r["warnings"] != "0"}
    assert flagged == {"lightning.Fx00c", "magic_missile.Fx00a", "ui_markers.Fx00a"}

    clean = str(project / "fx" / "fire")
    done = validate(clean, "--pack")
    assert done.returncode == 0, done.stderr
    assert all(os.path.exists(os.path.splitext(s)[0] + ".Fx00p") for s in sources(clean))

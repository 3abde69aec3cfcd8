"""Fixtures: the build's programs and a copy of the demo project whose locator names the build's
sample module."""

import json
import os
import shutil
import subprocess

import pytest

BIN = os.environ.get("EMBERVISE_BIN_DIR", "")
SOURCE = os.environ.get("EMBERVISE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
MODULE = os.path.join(BIN, "sparkrig_sample.so")

if not BIN or not os.path.isdir(BIN):
    pytest.exit("EMBERVISE_BIN_DIR must name the build's bin folder", returncode=2)


def run(program, *args, cwd=None, check=True):
    """Runs one of the build's programs; its standard output as text."""
    done = subprocess.run(
        [os.path.join(BIN, program), *args], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE
    )
    if check and done.returncode not in (0, 1):
        raise AssertionError(f"{program} {args}: exit {done.returncode}\n{done.stderr.decode()}")
    return done.stdout.decode("utf-8", "surrogateescape")


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


@pytest.fixture(autouse=True)
def zqpack_cache(tmp_path, monkeypatch):
    """zqpack keeps its records of past packs in a folder of the test's own."""
    monkeypatch.setenv("ZQPACK_CACHE_DIR", str(tmp_path / "zqpack-cache"))


@pytest.fixture
def project(tmp_path):
    """A copy of the demo project; its locator names the build's sample module."""
    root = tmp_path / "demo"
    shutil.copytree(os.path.join(SOURCE, "demo"), root, ignore=shutil.ignore_patterns("*.Fx00p"))
    locator = root / "demo.proj00"
    lines = locator.read_text().splitlines()
    locator.write_text("\n".join(f"Sparkrig={MODULE}" if l.startswith("Sparkrig=") else l for l in lines) + "\n")
    return root


def sources(root):
    """The effect sources under a folder, sorted."""
    found = []
    for folder, _, names in os.walk(root):
        found += [os.path.join(folder, n) for n in names if n.lower().endswith((".fx00a", ".fx00c"))]
    return sorted(found)


@pytest.fixture
def packed(project):
    """The demo packed by zqpack: the packed paths, sorted."""
    run("zqpack", "-q", str(project))
    return [os.path.splitext(s)[0] + ".Fx00p" for s in sources(project)]

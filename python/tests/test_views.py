"""decompile() and diff() print what fxdump --zqa and --diff print; damaged files raise."""

import random

import embervise
import pytest
from conftest import MODULE, json_lines, run


def test_decompile_and_diff_match_fxdump(packed):
    for path in packed:
        text = embervise.decompile(path, MODULE)
        assert text == run("fxdump", "--zqa", "--module", MODULE, path)
        assert embervise.decompile(path) == text  # the project's module, found by the locator
    pairs = list(zip(packed, packed[1:])) + [(packed[0], packed[0])]
    for old, new in pairs:
        for module in (MODULE, None):
            args = ["--module", MODULE] if module else []
            result = embervise.diff(old, new, module)
            assert result.text == run("fxdump", "--diff", *args, old, new)
            assert result.changes == json_lines(run("fxdump", "--diff", "--json", *args, old, new))[0]["changes"]
            assert result.same == (old == new)


def damaged(data, rng):
    data = bytearray(data)
    if rng.random() < 0.3:
        return bytes(data[: rng.randrange(len(data))])
    for _ in range(rng.randint(1, 8)):
        data[rng.randrange(len(data))] = rng.randrange(256)
    return bytes(data)


def test_damaged_files_raise_and_never_crash(packed, tmp_path):
    rng = random.Random(20)
    module = embervise.Module(MODULE)
    good = packed[0]
    with open(good, "rb") as f:
        original = f.read()
    outcomes = set()
    for i in range(60):
        path = str(tmp_path / f"damaged{i}.Fx00p")
        with open(path, "wb") as f:
            f.write(damaged(original, rng))
        verify = run("fxdump", "--verify", "--module", MODULE, path)
        try:
            f = embervise.read(path, module)
            effects = list(f)
            problems = f.verify()
            outcomes.add("read")
            assert bool(problems) == ("ok" not in verify.split(": ")[-1]), (path, problems, verify)
            assert [e.name for e in effects] == [e.name for e in embervise.read(path)]
        except embervise.FormatError as error:
            outcomes.add("raised")
            assert error.file == path and error.message
        for call in (lambda: embervise.decompile(path, module), lambda: embervise.diff(good, path, module)):
            try:
                call()
            except embervise.FormatError as error:
                assert error.file == path
    assert outcomes == {"read", "raised"}

    for call in (embervise.read, embervise.decompile):
        with pytest.raises(embervise.FormatError) as caught:
            call(str(tmp_path / "missing.Fx00p"), module)
        assert caught.value.file.endswith("missing.Fx00p")
    with pytest.raises(embervise.ModuleError):
        embervise.read(good, str(tmp_path / "missing.so"))

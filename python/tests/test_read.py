"""Reading packed files and module schemas: what read() decodes is what fxdump --json shows."""

import math

import embervise
import pytest
from conftest import MODULE, json_lines, run


def same_float(a, b):
    if isinstance(b, str):  # fxdump writes NaN and the infinities as strings
        b = float(b)
    return a == b or (math.isnan(a) and math.isnan(b))


def expected_value(prop, desc):
    """fxdump's JSON for a value, in read()'s terms."""
    if "raw" in prop:
        return [int(w, 16) for w in prop["raw"]]
    value = prop.get("value")
    if isinstance(value, dict) and "choice" in value:
        return value["choice"] if value["index"] < len(desc.choices) else value["index"]
    return value


def assert_value(got, want, type_name):
    if type_name in ("Color", "Vector"):
        assert isinstance(got, tuple) and len(got) == len(want)
        assert all(same_float(g, w) for g, w in zip(got, want))
    elif type_name == "Float":
        assert same_float(got, want)
    else:
        assert got == want


def assert_file_matches(packed_path, module):
    args = ["--json", "--module", MODULE] if module else ["--json"]
    want = json_lines(run("fxdump", *args, packed_path))[0]
    got = embervise.read(packed_path, module)
    assert got.header == want["header"] and got.size == want["size"]
    assert got.key_counts == [entry["keys"] for entry in want["keyCounts"]]
    effects = list(got)
    assert len(effects) == len(want["effects"]) == len(got)
    for effect, w_effect in zip(effects, want["effects"]):
        assert (effect.offset, effect.name, effect.length_ms) == (w_effect["offset"], w_effect["name"], w_effect["lengthMs"])
        assert len(effect.keys) == len(w_effect["keys"])
        for key, w_key in zip(effect.keys, w_effect["keys"]):
            assert (key.offset, key.type_id, key.id, key.motion_link_id) == (
                w_key["offset"], w_key["typeId"], w_key["id"], w_key["motionLinkId"])
            assert same_float(key.start, w_key["start"]) and same_float(key.end, w_key["end"])
            assert key.type == w_key.get("type")
            assert list(key.properties) == [p["name"] for p in w_key["properties"]]
            etype = module.type_by_id(key.type_id) if module else None
            for w_prop in w_key["properties"]:
                got_value = key.properties[w_prop["name"]]
                desc = etype.property(w_prop["name"]) if etype else None
                if "points" in w_prop:
                    assert len(got_value) == len(w_prop["points"])
                    for (time, value), point in zip(got_value, w_prop["points"]):
                        assert same_float(time, point["time"])
                        assert_value(value, expected_value(point, desc), w_prop["type"])
                else:
                    assert_value(got_value, expected_value(w_prop, desc), w_prop.get("type"))
    assert got.verify() == []
    return effects


def test_demo_reads_as_fxdump_shows_it(packed):
    module = embervise.Module(MODULE)
    kinds = set()
    for path in packed:
        for effect in assert_file_matches(path, module):
            for key in effect.keys:
                kinds |= {type(v).__name__ for v in key.properties.values()}
        assert_file_matches(path, None)
    # The demo exercises every decoded form: text, numbers, tuples and curves.
    assert {"str", "int", "float", "tuple", "list"} <= kinds


def test_iteration_is_one_effect_at_a_time_and_restarts(packed):
    big = max(packed, key=lambda p: len(embervise.read(p)))
    f = embervise.read(big, MODULE)
    first = next(iter(f))
    all_effects = f.effects
    assert all_effects[0] == first and len(all_effects) == len(f) > 1
    assert f.effect(all_effects[-1].name) == all_effects[-1]
    # Walks keep their own places.
    assert [(a.name, b.name) for a in f for b in f] == [(a.name, b.name) for a in all_effects for b in all_effects]
    assert f.effect("no such effect") is None


def test_numpy_curves_hold_the_points_of_the_lists(packed):
    numpy = pytest.importorskip("numpy")
    module = embervise.Module(MODULE)
    compared = 0
    for path in packed:
        for plain, arrays in zip(embervise.read(path, module), embervise.read(path, module, numpy=True)):
            for k_plain, k_array in zip(plain.keys, arrays.keys):
                for name, value in k_plain.properties.items():
                    other = k_array.properties[name]
                    if isinstance(other, numpy.ndarray):
                        assert other["time"].tolist() == [t for t, _ in value]
                        want = [list(v) if isinstance(v, tuple) else v for _, v in value]
                        assert other["value"].tolist() == want
                        compared += 1
    assert compared > 0


def test_module_schema_matches_what_the_loader_checks(project):
    module = embervise.Module.for_source(str(project / "fx" / "sword_trail.Fx00a"))
    assert module.library_path.endswith("sparkrig_sample.so")
    assert [t.id for t in module.types] == list(range(len(module.types)))
    codes = {p.type_code for t in module.types for p in t.properties}
    assert set(range(11)) <= codes  # the sample module describes every value type
    for t in module.types:
        assert module.type(t.name.upper()) is t
        for p in t.properties:
            assert t.property(p.name.lower()) is p
            assert (p.choices is not None) == (p.type == "Enum")
            assert (p.range is not None) == (p.type in ("Int", "Float", "Vector"))
            if p.choices:
                assert p.default in p.choices
            if p.range and p.type == "Float" and None not in p.range and p.range[0] <= p.range[1]:
                assert p.range[0] <= p.default <= p.range[1]
    with pytest.raises(embervise.ModuleError) as caught:
        embervise.Module(str(project / "missing.so"))
    assert caught.value.file.endswith("missing.so")


def test_schema_defaults_are_what_the_packer_fills_in(project):
    # A key of every type that sets nothing: the packer writes each property's default.
    module = embervise.Module(MODULE)
    keys = "".join(
        f"(key (name K{t.id}) (type {t.name}) (id {t.id + 1}) (track {t.id}) (start-time 0) (end-time 1000))"
        for t in module.types)
    source = project / "fx" / "defaults.Fx00a"
    source.write_text(f"(header (version 1))\n(effect-tree (effect (name D) (length 1000) (key-list {keys})))\n")
    result = embervise.pack(str(source))
    (effect,) = list(embervise.read(result.destination, module))
    assert [k.type for k in effect.keys] == [t.name for t in module.types]
    for key in effect.keys:
        etype = module.type(key.type)
        written = [p for p in etype.properties if p.type_code not in (0, 8)]
        assert list(key.properties) == [p.name for p in written]
        for p in written:
            want = p.default
            if p.curve:
                want = [(0.0, p.default), (1.0, p.default)] if p.end_key else [(0.0, p.default)]
            assert key.properties[p.name] == want, (key.type, p.name)

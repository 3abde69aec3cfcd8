"""Packing through the plug-in: zqpack's bytes and messages; failures; destinations; two threads
packing at once while the GIL is free."""

import os
import shutil
import threading

import embervise
import pytest
from conftest import MODULE, json_lines, run, sources


def packed_path(source):
    return os.path.splitext(source)[0] + ".Fx00p"


def zqpack(source):
    """zqpack's record of one pack, and its packed bytes (the file is then removed)."""
    record = json_lines(run("zqpack", "--json", "-f", source))[0]
    data = None
    if record["result"] == "packed":
        with open(record["destination"], "rb") as f:
            data = f.read()
        os.remove(record["destination"])
    return record, data


def test_same_bytes_and_messages_as_zqpack(project):
    for source in sources(project):
        record, want = zqpack(source)
        result = embervise.pack(source)
        assert result.destination == record["destination"] == packed_path(source)
        with open(result.destination, "rb") as f:
            assert f.read() == want, source
        assert [(m.level, m.text) for m in result.messages] == [(m["level"], m["text"]) for m in record["messages"]]


def test_failures_raise_with_the_packers_messages(project, tmp_path):
    bad = project / "fx" / "bad.Fx00a"
    bad.write_text("(header (version 1))\n(effect-tree (effect (name E) (length 1) (key-list "
                   "(key (type Nope) (id 1) (track 0) (start-time 0) (end-time 1)))))")
    record, _ = zqpack(str(bad))
    with pytest.raises(embervise.PackError) as caught:
        embervise.pack(str(bad))
    error = caught.value
    assert error.file == str(bad)
    assert [(m.level, m.text) for m in error.messages] == [(m["level"], m["text"]) for m in record["messages"]]
    assert error.message == record["messages"][-1]["text"] and error.message.startswith("Error: ")
    assert not os.path.exists(packed_path(str(bad)))

    alone = tmp_path / "alone.Fx00a"
    alone.write_text("(header (version 1))")
    with pytest.raises(embervise.PackError, match="Unable to locate project locator file"):
        embervise.pack(str(alone))
    with pytest.raises(embervise.PackError, match="no packer claims"):
        embervise.pack(str(project / "demo.proj00"))
    other = tmp_path / "other.so"
    shutil.copy(MODULE, other)
    with pytest.raises(embervise.PackError, match="packer uses the module its project names"):
        embervise.pack(str(project / "fx" / "sword_trail.Fx00a"), module=str(other))
    with pytest.raises(embervise.ModuleError):
        embervise.pack(str(project / "fx" / "sword_trail.Fx00a"), module=str(tmp_path / "missing.so"))


def test_destination_elsewhere_keeps_the_packed_file_beside_the_source(project, tmp_path):
    source = str(project / "fx" / "sword_trail.Fx00a")
    _, want = zqpack(source)
    beside = packed_path(source)
    with open(beside, "wb") as f:
        f.write(b"older")
    out = tmp_path / "out" / "trail.Fx00p"
    out.parent.mkdir()
    result = embervise.pack(source, str(out), module=MODULE)
    assert result.destination == str(out) and out.read_bytes() == want
    with open(beside, "rb") as f:
        assert f.read() == b"older"
    assert sorted(os.listdir(os.path.dirname(beside))) == sorted(os.listdir(project / "fx"))
    assert not [n for n in os.listdir(project / "fx") if "aside" in n]


def test_two_threads_pack_at_once_with_the_gil_released(project):
    # The first pack reads its source from a pipe that this thread fills only once both packs
    # have started: were the GIL held while packing, this thread could never run.
    model = project / "fx" / "sword_trail.Fx00a"
    other = str(project / "fx" / "magic" / "portal.Fx00a")
    _, want_first = zqpack(str(model))
    _, want_other = zqpack(other)
    pipe = str(project / "fx" / "piped.Fx00a")
    os.mkfifo(pipe)
    results = {}

    def pack(name, source):
        try:
            results[name] = embervise.pack(source)
        except embervise.Error as error:
            results[name] = error

    threads = [threading.Thread(target=pack, args=("piped", pipe)), threading.Thread(target=pack, args=("other", other))]
    for thread in threads:
        thread.start()
    fd = None
    while fd is None:  # the packer opens the pipe for reading once it loads the source
        try:
            fd = os.open(pipe, os.O_WRONLY | os.O_NONBLOCK)
        except OSError:
            threading.Event().wait(0.01)
    os.set_blocking(fd, True)
    os.write(fd, model.read_bytes())
    os.close(fd)
    for thread in threads:
        thread.join()
    assert isinstance(results["piped"], embervise.PackResult), results
    assert isinstance(results["other"], embervise.PackResult), results
    with open(packed_path(pipe), "rb") as f:
        assert f.read() == want_first
    with open(packed_path(other), "rb") as f:
        assert f.read() == want_other

"""Embervise for pipeline scripts: effect modules, packed effect files, source checks and packing.

The functions run the same code as the programs: ``read`` decodes what ``fxdump --json`` shows,
``check`` finds what ``fxcheck`` finds, ``pack`` drives the real packer plug-in as ``zqpack`` does,
``decompile`` and ``diff`` give what ``fxdump --zqa`` and ``fxdump --diff`` print. Every call
releases the GIL while it works. Packs take turns: the plug-in keeps module-wide state, so one
process packs one file at a time (threads wait for each other with the GIL released).

Errors are exceptions derived from :class:`Error`, each with the ``file`` and the ``message``;
a damaged file raises :class:`FormatError`, it never brings the interpreter down.
"""

from __future__ import annotations

import dataclasses
import json
import os
import tempfile
from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple, Union

from . import _embervise

__all__ = [
    "Error",
    "FormatError",
    "ModuleError",
    "PackError",
    "Module",
    "EffectType",
    "Property",
    "PackedFile",
    "Effect",
    "Key",
    "Problem",
    "Finding",
    "Note",
    "PackResult",
    "Message",
    "DiffResult",
    "read",
    "check",
    "pack",
    "decompile",
    "diff",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# The plug-in that pack() drives: the one shipped beside this package.
_PLUGIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Embervise.so")


class Error(Exception):
    """A failure of embervise: ``file`` names the file concerned, ``message`` says why."""

    def __init__(self, file: str, message: str) -> None:
        super().__init__(f"{file}: {message}" if file else message)
        self.file = file
        self.message = message


class FormatError(Error):
    """A file is missing, unreadable, damaged or not of the expected kind."""


class ModuleError(Error):
    """The effect module cannot be found or loaded."""


class PackError(Error):
    """The packer did not write the packed file; ``messages`` holds what it reported."""

    def __init__(self, file: str, message: str, messages: Sequence["Message"] = ()) -> None:
        super().__init__(file, message)
        self.messages = list(messages)


_FAILURES = {1: FormatError, 2: ModuleError, 3: PackError}


def _text(data: bytes) -> str:
    # Names come from files: bytes that are not UTF-8 are kept, as surrogate escapes.
    return data.decode("utf-8", "surrogateescape")


def _raise_for(status: Tuple[int, bytes, bytes]) -> None:
    kind, file, message = status
    if kind:
        raise _FAILURES[kind](_text(file), _text(message))


def _path(path: PathLike) -> bytes:
    return os.fsencode(path)


def _float(value: Any) -> float:
    # float() also reads "nan", "inf" and "-inf", which the views write for want of JSON numbers.
    return float(value)


# ---------------------------------------------------------------------------------------------
# Effect modules


@dataclasses.dataclass(frozen=True)
class Property:
    """One property of an effect type as the module describes it.

    ``type`` is the value type's name ("Float", "Enum", "Color" ...), ``range`` the (minimum,
    maximum) bounds of an Int, Float or Vector (either may be None), ``choices`` the choices of an
    Enum, ``default`` the value given to keys that do not set it (decoded as :func:`read` decodes
    values), ``curve`` whether it is a function curve and ``end_key`` whether such a curve also
    needs a key at time 1.0.
    """

    name: str
    type: str
    type_code: int
    curve: bool
    end_key: bool
    range: Optional[Tuple[Optional[float], Optional[float]]]
    choices: Optional[Tuple[str, ...]]
    default: Any
    params: str


@dataclasses.dataclass(frozen=True)
class EffectType:
    """One effect type: its name, the id written for its keys and its properties in order."""

    name: str
    id: int
    properties: Tuple[Property, ...]

    def property(self, name: str) -> Optional[Property]:
        """The property of that name (matched ignoring case, as the packer matches it), or None."""
        folded = name.casefold()
        for prop in self.properties:
            if prop.name.casefold() == folded:
                return prop
        return None


class Module:
    """An effect module's schema: its effect types and their properties.

    ``Module(path)`` loads the library at ``path`` (".dll" names stand for the platform's own
    library, as in locator files), reads its descriptions and unloads it again.
    """

    def __init__(self, path: PathLike) -> None:
        status, data = _embervise.module_schema(_path(path))
        _raise_for(status)
        schema = json.loads(_text(data))
        self.path: str = os.fsdecode(path)
        self.library_path: str = schema["libraryPath"]
        self.version: int = schema["version"]
        self.types: Tuple[EffectType, ...] = tuple(_effect_type(t) for t in schema["types"])
        self._by_id = {t.id: t for t in self.types}

    @classmethod
    def for_source(cls, path: PathLike) -> "Module":
        """The module that the project locator file (``*.proj00``) in the folder of ``path`` or
        above names: the one the packer uses for that file."""
        status, module = _embervise.locate_module(_path(path))
        _raise_for(status)
        return cls(module)

    def type(self, name: str) -> Optional[EffectType]:
        """The first type of that name, ignoring case (as the loader finds it), or None."""
        folded = name.casefold()
        for effect_type in self.types:
            if effect_type.name.casefold() == folded:
                return effect_type
        return None

    def type_by_id(self, type_id: int) -> Optional[EffectType]:
        """The type whose keys carry this id, or None."""
        return self._by_id.get(type_id)

    def __repr__(self) -> str:
        return f"Module({self.path!r}, version={self.version}, types={len(self.types)})"


def _property(p: Dict[str, Any]) -> Property:
    rng = p["range"]
    return Property(
        name=p["name"],
        type=p["type"],
        type_code=p["typeCode"],
        curve=p["curve"],
        end_key=p["endKey"],
        range=None if rng is None else tuple(None if b is None else _float(b) for b in rng),
        choices=None if p["choices"] is None else tuple(p["choices"]),
        default=_default(p["type"], p["default"]),
        params=p["params"],
    )


def _default(type_name: str, value: Any) -> Any:
    if type_name in ("Color", "Vector"):
        return tuple(_float(v) for v in value)
    if type_name == "Float":
        return _float(value)
    return value


def _effect_type(t: Dict[str, Any]) -> EffectType:
    return EffectType(name=t["name"], id=t["id"], properties=tuple(_property(p) for p in t["properties"]))


def _module_path(module: Union["Module", PathLike, None]) -> bytes:
    if module is None:
        return b""
    if isinstance(module, Module):
        return _path(module.path)
    return _path(module)


def _as_module(module: Union["Module", PathLike, None]) -> Optional["Module"]:
    if module is None or isinstance(module, Module):
        return module
    return Module(module)


# ---------------------------------------------------------------------------------------------
# Packed files

Value = Any


@dataclasses.dataclass
class Key:
    """One key record: its type (name with a module, else None), times in seconds, ids, and its
    properties by name. Values are decoded with the module: numbers, strings, enums by choice
    name (the index when it names no choice), colours as (r, g, b, a) in 0..1, vectors as
    (x, y, z), curves as lists of (time, value), or NumPy arrays with ``numpy=True``. Without a
    module every value is the list of its 32-bit words. A value that the file cannot give is None.
    """

    offset: int
    type_id: int
    type: Optional[str]
    start: float
    end: float
    id: int
    motion_link_id: int
    properties: Dict[str, Value]


@dataclasses.dataclass
class Effect:
    """One effect record: its name, length in milliseconds and keys in file order."""

    offset: int
    name: Optional[str]
    length_ms: int
    keys: List[Key]


@dataclasses.dataclass(frozen=True)
class Problem:
    """Something in a packed file that does not hold, at a file offset (None for a count)."""

    offset: Optional[int]
    text: str


class PackedFile:
    """A packed effect file (.Fx00p) opened by :func:`read`.

    The file is walked once when opened; iterating gives its effects one at a time, so that a
    large file is never held whole. ``effects`` reads them all into a list.
    """

    def __init__(self, path: PathLike, module: Union[Module, PathLike, None] = None, numpy: bool = False) -> None:
        self._module = _as_module(module)
        self._numpy = numpy
        if numpy:
            import numpy  # noqa: F401  (fails early when NumPy is missing)
        self._view = _embervise.PackedView()
        _raise_for(self._view.open(_path(path), _module_path(self._module)))
        head = json.loads(_text(self._view.head()))
        self.path: str = os.fsdecode(path)
        self.size: int = head["size"]
        self.header: Dict[str, int] = head["header"]
        counts = head["keyCounts"]
        self.key_counts: List[int] = [entry["keys"] for entry in counts]

    @property
    def module(self) -> Optional[Module]:
        """The module the values are decoded with, or None."""
        return self._module

    def __len__(self) -> int:
        return self.header["numEffects"]

    def __iter__(self) -> Iterator[Effect]:
        position = self._view.effects_start()
        while True:
            step = self._view.next_effect(position)
            if step is None:
                return
            data, position = step
            yield self._effect(json.loads(_text(data)))

    @property
    def effects(self) -> List[Effect]:
        """Every effect, in file order."""
        return list(self)

    def effect(self, name: str) -> Optional[Effect]:
        """The first effect of that name, or None."""
        for effect in self:
            if effect.name == name:
                return effect
        return None

    def verify(self) -> List[Problem]:
        """Checks every structural invariant and, with a module, every value and curve record
        (as ``fxdump --verify``); the problems found, empty for a sound file."""
        return self._problems(self._view.verify())

    @property
    def problems(self) -> List[Problem]:
        """The problems found so far: structural ones at once, value ones as effects are read."""
        return self._problems(self._view.problems())

    @staticmethod
    def _problems(data: bytes) -> List[Problem]:
        return [Problem(p["offset"], p["text"]) for p in json.loads(_text(data))]

    def _effect(self, e: Dict[str, Any]) -> Effect:
        return Effect(offset=e["offset"], name=e["name"], length_ms=e["lengthMs"], keys=[self._key(k) for k in e["keys"]])

    def _key(self, k: Dict[str, Any]) -> Key:
        effect_type = self._module.type_by_id(k["typeId"]) if self._module else None
        properties = {}
        for p in k["properties"]:
            properties[p["name"]] = self._value(p, effect_type)
        return Key(
            offset=k["offset"],
            type_id=k["typeId"],
            type=k.get("type"),
            start=k["start"],
            end=k["end"],
            id=k["id"],
            motion_link_id=k["motionLinkId"],
            properties=properties,
        )

    def _value(self, p: Dict[str, Any], effect_type: Optional[EffectType]) -> Value:
        if "raw" in p:
            return [int(word, 16) for word in p["raw"]]
        type_name = p["type"]
        desc = effect_type.property(p["name"]) if effect_type else None
        if "curve" in p:
            points = p.get("points")
            if points is None:
                return None
            pairs = [(_float(pt["time"]), _decode(pt.get("value"), type_name, desc)) for pt in points]
            return _curve_array(pairs, type_name) if self._numpy else pairs
        return _decode(p["value"], type_name, desc)

    def __repr__(self) -> str:
        return f"PackedFile({self.path!r}, effects={len(self)})"


def _decode(value: Any, type_name: str, desc: Optional[Property]) -> Value:
    if value is None:
        return None
    if isinstance(value, list):  # raw words of a value whose size does not fit its type
        if type_name in ("Color", "Vector") and not any(isinstance(v, str) and v.startswith("0x") for v in value):
            return tuple(_float(v) for v in value)
        return [int(word, 16) for word in value]
    if isinstance(value, dict):
        if "choice" in value:
            index = value["index"]
            if desc is not None and desc.choices is not None and index < len(desc.choices):
                return desc.choices[index]
            return index
        return None  # a string offset that names no string
    if type_name == "Float":
        return _float(value)
    return value


_COMPONENTS = {"Int": 1, "Float": 1, "Color": 4, "Vector": 3}


def _curve_array(pairs: List[Tuple[float, Value]], type_name: str) -> Any:
    """A numeric curve as a structured array with the fields ``time`` and ``value``."""
    import numpy

    width = _COMPONENTS.get(type_name)
    if width is None:  # text curves stay lists
        return pairs
    scalar = numpy.int32 if type_name == "Int" else numpy.float32
    value_dtype = (scalar,) if width == 1 else (scalar, (width,))
    dtype = numpy.dtype([("time", numpy.float32), ("value",) + value_dtype])
    return numpy.array(pairs, dtype=dtype)


def read(path: PathLike, module: Union[Module, PathLike, None] = None, *, numpy: bool = False) -> PackedFile:
    """Opens a packed effect file; iterate it for its effects (see :class:`PackedFile`).

    ``module`` (a :class:`Module` or a library path) decodes the values by their types; without
    it values are raw 32-bit words, as ``fxdump`` shows them without ``--module``. With
    ``numpy=True`` numeric curves are NumPy structured arrays (fields ``time`` and ``value``).
    Raises :class:`FormatError` for a file that cannot be read or walked.
    """
    return PackedFile(path, module, numpy)


# ---------------------------------------------------------------------------------------------
# Source checks


@dataclasses.dataclass(frozen=True)
class Note:
    """A place that a finding refers to."""

    line: int
    column: int
    message: str


@dataclasses.dataclass(frozen=True)
class Finding:
    """One finding of the checker, as ``fxcheck --format json`` prints it."""

    file: str
    line: int
    column: int
    severity: str
    code: str
    message: str
    notes: Tuple[Note, ...] = ()

    def as_json(self) -> Dict[str, Any]:
        """The object ``fxcheck --format json`` prints for this finding."""
        out: Dict[str, Any] = {
            "file": self.file,
            "line": self.line,
            "column": self.column,
            "severity": self.severity,
            "code": self.code,
            "message": self.message,
        }
        if self.notes:
            out["notes"] = [dataclasses.asdict(note) for note in self.notes]
        return out


def _is_source_name(text: str) -> bool:
    return text.lower().endswith((".fx00a", ".fx00c"))


def check(
    path_or_text: Union[PathLike, str],
    module: Union[Module, PathLike, None] = None,
    *,
    name: Optional[PathLike] = None,
) -> List[Finding]:
    """The checker's findings for an effect source, a folder of sources, or source text.

    A path (``os.PathLike``, bytes, or a one-line ``str`` that ends in .Fx00a or .Fx00c or names
    an existing file or folder) is checked as ``fxcheck`` checks it; any other ``str`` is source
    text. ``module`` overrides the module the project locator names. For text, ``name`` is the
    path it stands for (default "<text>" in the current folder): findings carry it, and without
    ``module`` its project's module is used; a name ending in .Fx00c takes the text as that
    file's compressed content.
    """
    is_text = isinstance(path_or_text, str) and (
        "\n" in path_or_text or not (_is_source_name(path_or_text) or os.path.exists(path_or_text))
    )
    if not is_text:
        return _check_path(_path(path_or_text), _module_path(module), None)  # type: ignore[arg-type]
    label = os.fsdecode(name) if name is not None else "<text>"
    data = path_or_text.encode("utf-8", "surrogateescape")  # type: ignore[union-attr]
    module_path = _module_path(module)
    if hasattr(_embervise, "check_text"):
        status, lines = _embervise.check_text(_path(label), data, module_path)
        return _findings(status, lines, None)
    if not module_path:
        status, found = _embervise.locate_module(_path(label))
        module_path = found if not status[0] else b""
    suffix = ".Fx00c" if label.lower().endswith(".fx00c") else ".Fx00a"
    with tempfile.TemporaryDirectory(prefix="embervise-") as folder:
        temp = os.path.join(folder, "source" + suffix)
        with open(temp, "wb") as out:
            out.write(data)
        return _check_path(_path(temp), module_path, (temp, label))


def _check_path(path: bytes, module_path: bytes, rename: Optional[Tuple[str, str]]) -> List[Finding]:
    status, lines = _embervise.check(path, module_path)
    return _findings(status, lines, rename)


def _findings(status: Tuple[int, bytes, bytes], lines: List[bytes], rename: Optional[Tuple[str, str]]) -> List[Finding]:
    _raise_for(status)
    findings = []
    for line in lines:
        f = json.loads(_text(line))
        file = f["file"]
        if rename is not None and file == rename[0]:
            file = rename[1]
        notes = tuple(Note(n["line"], n["column"], n["message"]) for n in f.get("notes", ()))
        findings.append(Finding(file, f["line"], f["column"], f["severity"], f["code"], f["message"], notes))
    return findings


# ---------------------------------------------------------------------------------------------
# Packing and the text views


@dataclasses.dataclass(frozen=True)
class Message:
    """One message of the packer: level 0 for errors (text starting "Error: "), 2 for progress."""

    level: int
    text: str


@dataclasses.dataclass(frozen=True)
class PackResult:
    """A finished pack: the source, where the packed file is, and the packer's messages."""

    source: str
    destination: str
    messages: Tuple[Message, ...]


def pack(
    source: PathLike,
    destination: Optional[PathLike] = None,
    module: Union[Module, PathLike, None] = None,
) -> PackResult:
    """Packs an effect source with the real packer plug-in: the same bytes and messages as
    ``zqpack``. The packer writes beside the source (extension .Fx00p) with the module that the
    project locator names; with ``destination`` the packed file is moved there (a packed file
    already beside the source is kept). ``module``, when given, must be that same module: the
    packer takes no other. Raises :class:`PackError` with the packer's messages on failure.
    """
    source_path = _path(source)
    if module is not None:
        wanted = _as_module(module)
        assert wanted is not None
        used = Module.for_source(source)
        if os.path.realpath(used.library_path) != os.path.realpath(wanted.library_path):
            raise PackError(
                os.fsdecode(source),
                f"the packer uses the module its project names ({used.path}), not {wanted.path}",
            )
    status, packed, raw_messages = _embervise.pack(
        _path(_PLUGIN), source_path, b"" if destination is None else _path(destination)
    )
    messages = tuple(Message(level, _text(text)) for level, text in raw_messages)
    kind, file, message = status
    if kind:
        raise PackError(_text(file), _text(message), messages)
    return PackResult(os.fsdecode(source), _text(packed), messages)


def decompile(path: PathLike, module: Union[Module, PathLike, None] = None) -> str:
    """Effect source text that packs to the same bytes, as ``fxdump --zqa`` writes it. Without
    ``module`` the project locator above the file names it. Raises :class:`FormatError` for a
    damaged file."""
    status, text = _embervise.decompile(_path(path), _module_path(module))
    _raise_for(status)
    return _text(text)


@dataclasses.dataclass(frozen=True)
class DiffResult:
    """A comparison: ``same`` when both files hold the same effects; ``text`` is what
    ``fxdump --diff`` prints, and ``changes`` the change list of ``fxdump --diff --json``."""

    same: bool
    text: str
    changes: List[Dict[str, Any]]


def diff(old: PathLike, new: PathLike, module: Union[Module, PathLike, None] = None) -> DiffResult:
    """Compares two packed files by effect, key and property, as ``fxdump --diff``."""
    status, same, text = _embervise.diff(_path(old), _path(new), _module_path(module), False)
    _raise_for(status)
    status, _, data = _embervise.diff(_path(old), _path(new), _module_path(module), True)
    _raise_for(status)
    return DiffResult(same, _text(text), json.loads(_text(data))["changes"])

"""Embervise for pipeline scripts: effect modules, packed effect files, source checks and packing."""

import os
from typing import Any, Dict, Iterator, List, Literal, Optional, Sequence, Tuple, Union

PathLike = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
ModuleArg = Union["Module", PathLike, None]

Colour = Tuple[float, float, float, float]
Vector = Tuple[float, float, float]
Scalar = Union[str, int, float, Colour, Vector, None]
# A curve: (time, value) pairs, or a NumPy structured array (fields "time", "value") with numpy=True.
Curve = Union[List[Tuple[float, Scalar]], Any]
# Without a module a value is the list of its 32-bit words.
Value = Union[Scalar, Curve, List[int]]

class Error(Exception):
    file: str
    message: str
    def __init__(self, file: str, message: str) -> None: ...

class FormatError(Error): ...
class ModuleError(Error): ...

class PackError(Error):
    messages: List[Message]
    def __init__(self, file: str, message: str, messages: Sequence[Message] = ...) -> None: ...

class Property:
    name: str
    type: str
    type_code: int
    curve: bool
    end_key: bool
    range: Optional[Tuple[Optional[float], Optional[float]]]
    choices: Optional[Tuple[str, ...]]
    default: Scalar
    params: str

class EffectType:
    name: str
    id: int
    properties: Tuple[Property, ...]
    def property(self, name: str) -> Optional[Property]: ...

class Module:
    path: str
    library_path: str
    version: int
    types: Tuple[EffectType, ...]
    def __init__(self, path: PathLike) -> None: ...
    @classmethod
    def for_source(cls, path: PathLike) -> Module: ...
    def type(self, name: str) -> Optional[EffectType]: ...
    def type_by_id(self, type_id: int) -> Optional[EffectType]: ...

class Key:
    offset: int
    type_id: int
    type: Optional[str]
    start: float
    end: float
    id: int
    motion_link_id: int
    properties: Dict[str, Value]

class Effect:
    offset: int
    name: Optional[str]
    length_ms: int
    keys: List[Key]

class Problem:
    offset: Optional[int]
    text: str

class PackedFile:
    path: str
    size: int
    header: Dict[str, int]
    key_counts: List[int]
    def __init__(self, path: PathLike, module: ModuleArg = ..., numpy: bool = ...) -> None: ...
    @property
    def module(self) -> Optional[Module]: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Effect]: ...
    @property
    def effects(self) -> List[Effect]: ...
    def effect(self, name: str) -> Optional[Effect]: ...
    def verify(self) -> List[Problem]: ...
    @property
    def problems(self) -> List[Problem]: ...

def read(path: PathLike, module: ModuleArg = ..., *, numpy: bool = ...) -> PackedFile: ...

class Note:
    line: int
    column: int
    message: str

class Finding:
    file: str
    line: int
    column: int
    severity: Literal["error", "warning", "note"]
    code: str
    message: str
    notes: Tuple[Note, ...]
    def as_json(self) -> Dict[str, Any]: ...

def check(path_or_text: PathLike, module: ModuleArg = ..., *, name: Optional[PathLike] = ...) -> List[Finding]: ...

class Message:
    level: int
    text: str

class PackResult:
    source: str
    destination: str
    messages: Tuple[Message, ...]

def pack(source: PathLike, destination: Optional[PathLike] = ..., module: ModuleArg = ...) -> PackResult: ...
def decompile(path: PathLike, module: ModuleArg = ...) -> str: ...

class DiffResult:
    same: bool
    text: str
    changes: List[Dict[str, Any]]

def diff(old: PathLike, new: PathLike, module: ModuleArg = ...) -> DiffResult: ...

"""What a media file's path says it is: oxmeta_parse_name from Python."""
from __future__ import annotations

import ctypes
import dataclasses
import os
import struct
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple, Union

from . import _native
from .errors import InvalidArgument

__all__ = ["Name", "parse_name", "parse_names"]


@dataclass(frozen=True)
class Name:
    """The fields of the name record (oxmeta_name); None where the name does not say.

    The counts (episode_count, season_count, proper, repack) are 0 when the
    name has none; episodes and seasons hold exactly the numbers named.
    """
    kind: Optional[str]
    title: Optional[str]
    year: Optional[int]
    year_end: Optional[int]
    season: Optional[int]
    episode_count: int
    episodes: Tuple[int, ...]
    absolute_episode: Optional[int]
    date: Optional[str]
    episode_title: Optional[str]
    part: Optional[int]
    country: Optional[str]
    screen_size: Optional[str]
    source: Optional[str]
    video_codec: Optional[str]
    audio_codec: Optional[str]
    audio_channels: Optional[str]
    hdr: Optional[str]
    edition: Optional[str]
    release_group: Optional[str]
    container: Optional[str]
    languages: Tuple[str, ...]      # ISO 639-1 codes: ("en", "fr")
    subtitles: Tuple[str, ...]
    proper: int
    repack: int
    is_extra: bool
    season_count: int
    seasons: Tuple[int, ...]
    tmdb_id: Optional[int]
    tvdb_id: Optional[int]
    imdb_id: Optional[str]


# Fields whose -1 (or "") means "the name does not say"; the others are
# counts and flags, kept as they are.
_COUNTS = {"episode_count", "season_count", "proper", "repack", "is_extra"}
_LISTS = {"episodes": "episode_count", "seasons": "season_count"}
# Comma-separated lists of codes in the record, tuples in a Name.
_CODES = {"languages", "subtitles"}


def _numbers_layout() -> Tuple[List[str], struct.Struct]:
    """The record's single numbers, in order, and the struct that reads
    them alone at the offsets ctypes gives (texts and arrays skipped)."""
    record = _native.NameRecord
    fmt = ["="]
    at = 0
    names: List[str] = []
    for field, ctype in record._fields_:
        if issubclass(ctype, ctypes.Array) or field == "size":
            continue
        offset = getattr(record, field).offset
        if offset > at:
            fmt.append(f"{offset - at}x")
        fmt.append("i")
        names.append(field)
        at = offset + ctypes.sizeof(ctype)
    return names, struct.Struct("".join(fmt))


_FIELDS = [field for field, _ in _native.NameRecord._fields_ if field != "size"]
assert tuple(f.name for f in dataclasses.fields(Name)) == tuple(_FIELDS)


class _Texts(Dict[bytes, Optional[str]]):
    """Short texts (tags) decoded once per distinct field content; a batch
    of names repeats the same few tags."""

    def __missing__(self, raw: bytes) -> Optional[str]:
        if len(self) >= 4096:
            self.clear()
        text = raw.partition(b"\0")[0].decode("utf-8", "replace") or None
        self[raw] = text
        return text


class _Codes(Dict[bytes, Tuple[str, ...]]):
    """A field of comma-separated codes as a tuple, decoded once per content."""

    def __missing__(self, raw: bytes) -> Tuple[str, ...]:
        if len(self) >= 4096:
            self.clear()
        text = raw.partition(b"\0")[0].decode("utf-8", "replace")
        codes = tuple(text.split(",")) if text else ()
        self[raw] = codes
        return codes


def _decoder() -> Callable[[bytes], Name]:
    """Generates the function that turns a record's bytes into a Name: the
    numbers in one unpack, a copy of the fields of a name that says nothing,
    and a store of each field the name does give (a text is cut out of the
    record only when its first byte is not 0). Parsing a batch costs little
    more than the calls into the library this way."""
    record = _native.NameRecord
    number_fields, numbers_struct = _numbers_layout()
    empty: Dict[str, Any] = {}
    lines = []
    for field, ctype in record._fields_:
        if field == "size":
            continue
        at = getattr(record, field).offset
        end = at + ctypes.sizeof(ctype)
        if field in _LISTS:
            count = _LISTS[field]
            empty[field] = ()
            lines.append(f"if {count}: d[{field!r}] = numbers(raw, {at})[:{count}]")
        elif field in _CODES:
            empty[field] = ()
            lines.append(f"if raw[{at}]: d[{field!r}] = codes[raw[{at}:{end}]]")
        elif issubclass(ctype, ctypes.Array) and ctypes.sizeof(ctype) > _native.NAME_TAG:
            empty[field] = None
            lines.append(f"if raw[{at}]: d[{field!r}] = raw[{at}:{end}].partition(b'\\0')[0].decode('utf-8', 'replace')")
        elif issubclass(ctype, ctypes.Array):
            empty[field] = None
            lines.append(f"if raw[{at}]: d[{field!r}] = texts[raw[{at}:{end}]]")
        elif field == "is_extra":
            empty[field] = False
            lines.append(f"if {field}: d[{field!r}] = True")
        elif field in _COUNTS:
            empty[field] = 0
            lines.append(f"if {field}: d[{field!r}] = {field}")
        else:
            empty[field] = None
            lines.append(f"if {field} >= 0: d[{field!r}] = {field}")
    source = (
        "def decode(raw, unpack=unpack, numbers=numbers, texts=texts, codes=codes, empty=empty, new=new,"
        " cls=cls, set_dict=set_dict):\n"
        f"    {', '.join(number_fields)}, = unpack(raw)\n"
        "    d = empty.copy()\n"
        + "".join(f"    {line}\n" for line in lines) +
        "    name = new(cls)\n"
        "    set_dict(name, '__dict__', d)\n"
        "    return name\n")
    numbers = struct.Struct(f"={_native.NAME_EPISODES}i").unpack_from
    assert _native.NAME_EPISODES == _native.NAME_SEASONS
    scope: Dict[str, Any] = {"unpack": numbers_struct.unpack_from, "numbers": numbers, "texts": _Texts(),
                             "codes": _Codes(), "empty": empty, "new": object.__new__, "cls": Name,
                             "set_dict": object.__setattr__}
    exec(source, scope)
    return scope["decode"]


_decode = _decoder()


PathText = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def _encoded(path: PathText) -> bytes:
    """The path as the library takes it: UTF-8, undecodable file-system
    bytes kept as they are (the library shows them as U+FFFD)."""
    raw = os.fsencode(path) if not isinstance(path, str) else path.encode("utf-8", "surrogateescape")
    if b"\0" in raw:
        raise InvalidArgument(_native.E_INVALID_ARG, "the path holds a NUL character")
    return raw


class _Parser:
    """Records the library parses names into, reused for every name (not
    shared between threads)."""

    # Names parsed in a row before their records are read: the library's
    # tables, then the interpreter's, stay in the processor's caches.
    BATCH = 64

    def __init__(self, records: int = 1) -> None:
        self.size = ctypes.sizeof(_native.NameRecord)
        self.block = bytearray(self.size * records)
        self.records = []
        for i in range(records):
            record = _native.NameRecord.from_buffer(self.block, i * self.size)
            record.size = self.size
            self.records.append(ctypes.byref(record))
        self.call = _native.library().oxmeta_parse_name
        self.call_unchecked = _native.library().unchecked("oxmeta_parse_name")

    def parse(self, path: PathText) -> Name:
        status = self.call(_encoded(path), self.records[0])
        if status != 0:
            raise InvalidArgument(status)
        return _decode(bytes(self.block))

    def parse_many(self, paths: Iterable[PathText]) -> List[Name]:
        call, records, decode, size = self.call_unchecked, self.records, _decode, self.size
        out: List[Name] = []
        append = out.append
        used = 0
        for path in paths:
            if type(path) is str and "\0" not in path:
                raw = path.encode("utf-8", "surrogateescape")
            else:
                raw = _encoded(path)
            if call(raw, records[used]) != 0:
                raise InvalidArgument(_native.E_INVALID_ARG)
            used += 1
            if used == len(records):
                block = bytes(self.block)
                for at in range(0, used * size, size):
                    append(decode(block[at:at + size]))
                used = 0
        block = bytes(self.block)
        for at in range(0, used * size, size):
            append(decode(block[at:at + size]))
        return out


def parse_name(path: PathText) -> Name:
    """What a media file's path says it is.

    >>> parse_name("Dark.City.1998.DC.1080p.BluRay.x264-GRP.mkv").title
    'Dark City'

    A pure function of the path, safe from any number of threads at once.
    """
    return _Parser().parse(path)


def parse_names(paths: Iterable[PathText]) -> List[Name]:
    """parse_name for many paths at once, in their order, at a fraction of
    the cost per name."""
    return _Parser(_Parser.BATCH).parse_many(paths)

"""KVX files: the walk from block to block, and the reads that blocks ask
for."""

from __future__ import annotations

import contextlib
import os
import re
import stat
from collections import OrderedDict
from collections.abc import Sequence
from typing import Dict, List, Optional, Union, overload

from . import _header as hdr
from . import _names as names
from ._block import Block
from ._errors import FormatError, UnsafePathError

# Decoded headers a file keeps, the most recently used: enough for a reader
# going back and forth among nearby images, while a pass over a run of many
# thousand images holds no more than these.
_KEPT_HEADERS = 64

DEFAULT_BLOCK_BOUNDARY = 512
# A general block may state another boundary, up to this.
MAX_BLOCK_BOUNDARY = 1 << 20
# Bytes read at a header's start to find its leading "KVX_" keys.
_FIRST_READ = 1024
_UNSIGNED = re.compile(r"[ \t\r\n\f\v]*([0-9]+)[ \t\r\n\f\v]*\Z")
_UINT64_MAX = (1 << 64) - 1
# Images whose array is larger are refused unless the caller raises this.
DEFAULT_MAX_IMAGE_BYTES = 256 << 20
# Block and chain keys longer than this many bytes are cut, as the C++
# library cuts them.
MAX_KEY_LENGTH = 64
_PRIMARY_TEXT = "IMAGE.PSD"
# The leading entries of a header as the C++ library writes them: values
# without quotes or escapes, then the end of the header or a whole key that
# is no "KVX_" key.  Such a header is listed without the general tokenizer,
# which gives the same.
_WRITTEN_START = re.compile(
    rb"\{\r\nKVX_DataBlockID = ([^\s;\\\"]{1,512}) ;\r\nKVX_BinarySize = ([0-9]+) ;\r\n"
    rb"(?:KVX_HeaderSize = ([0-9]+) ;\r\n)?"
    rb"(?=[ \t\r\n\f\v;]*(?:\}|(?![Kk][Vv][Xx]_|#)[^=;}\r\n\0]*=))")


def _unsigned(text):
    match = _UNSIGNED.match(text) if text is not None else None
    if match is None or int(match.group(1)) > _UINT64_MAX:
        return None
    return int(match.group(1))


class _Defect(Exception):
    """A block that stops the walk through the file."""


class File(Sequence):
    """The data blocks of a KVX file in file order (a sequence of Block).

    Attributes: path; general -- the header of the general block as a dict,
    or None when the file has none; defect -- with partial=True, why the
    walk stopped early (None when it did not); max_image_bytes -- the
    largest image array that blocks read.
    """

    path: str
    general: Optional[Dict[str, str]]
    defect: Optional[str]
    max_image_bytes: int

    def __init__(self, path: Union[str, bytes, os.PathLike], allow_outside: bool = False,
                 partial: bool = False, max_image_bytes: int = DEFAULT_MAX_IMAGE_BYTES) -> None:
        self.path = os.fspath(path)
        if isinstance(self.path, bytes):
            self.path = os.fsdecode(self.path)
        self.max_image_bytes = max_image_bytes
        self.general = None
        self._general_lookup = {}
        self._decoded = OrderedDict()  # header position -> (header, lookup)
        self.defect = None
        self._allow_outside = allow_outside
        self._blocks: List[Block] = []
        # Chains and block keys by what they are compared by, named as
        # first written: "Image.PSd" is chain Image.Psd, and a block "7"
        # behind a block "007" is another block of image "007".
        self._chains = {}
        self._keys = {}
        with open_regular(self.path) as f:
            self._length = os.fstat(f.fileno()).st_size
            try:
                self._walk(f)
            except _Defect as defect:
                if not partial:
                    raise FormatError(str(defect)) from None
                self.defect = str(defect)

    def __len__(self) -> int:
        return len(self._blocks)

    @overload
    def __getitem__(self, index: int) -> Block: ...

    @overload
    def __getitem__(self, index: slice) -> List[Block]: ...

    def __getitem__(self, index):
        return self._blocks[index]

    def __repr__(self) -> str:
        return f"<kvx.File {self.path!r}: {len(self._blocks)} blocks>"

    def image(self, number: int, chain: str = "Image.Psd") -> Block:
        """The last block of image `number` in `chain` (KeyError if none)."""
        chain = self._chains.get(names.comparison_text(chain), chain)
        found = [b for b in self._blocks if b.image == number and b.chain == chain]
        if not found:
            raise KeyError(f"{self.path} has no image {number} in chain {chain}")
        return found[-1]

    # -- the walk ---------------------------------------------------------

    def _walk(self, f):
        boundary = DEFAULT_BLOCK_BOUNDARY
        if hdr.only_line_end(f.read(3)):
            return
        pairs = self._pairs(f, 0, False)
        values = hdr.index(pairs)
        version = self._format_value(values, "KVX_DataFormatVersion")
        pos = 0
        if version is not None:
            boundary, pos = self._general_block(f, pairs, values)
        elif self._format_value(values, "KVX_DataBlockID") is None:
            boundary = 1  # files before data format 2 have no grid
        format_keys_only = version is not None or boundary != 1
        while True:
            start = pos
            f.seek(start)
            first = f.read(3)
            if hdr.header_begin(first) is None:
                if hdr.only_line_end(first):
                    return
                raise self._defect(start, "expecting the end of the file or a header start")
            pos, boundary = self._data_block(f, start, boundary, format_keys_only)

    def _general_block(self, f, pairs, values):
        self.general, self._general_lookup = hdr.join_entries(pairs)
        boundary = DEFAULT_BLOCK_BOUNDARY
        text = self._format_value(values, "KVX_BlockBoundary")
        if text is not None:
            boundary = _unsigned(text)
            if boundary is None or not 0 < boundary <= MAX_BLOCK_BOUNDARY:
                raise self._defect(0, f"bad block boundary {text!r}")
        binary_size = self._binary_size(values, 0, general=True)
        self._binary_file_entry(values, 0)  # checked, as the library does; not read
        end = self._header_end(f, 0, boundary, values)
        boundary = self._checked_boundary(end, boundary)
        return boundary, self._binary_end(0, end, binary_size)

    def _data_block(self, f, start, boundary, format_keys_only):
        values = self._written_start(f, start) if format_keys_only else None
        if values is None:
            values = hdr.index(self._pairs(f, start, format_keys_only))
        if format_keys_only and (self._format_value(values, "KVX_DataBlockID") is None
                                 or self._format_value(values, "KVX_BinarySize") is None):
            values = hdr.index(self._pairs(f, start, False))
        key, chain = self._block_id(values, start)
        binary_size = self._binary_size(values, start)
        binary_file = self._binary_file_entry(values, start)
        end = self._header_end(f, start, boundary, values)
        boundary = self._checked_boundary(end, boundary)
        next_pos = self._binary_end(start, end, binary_size)
        self._blocks.append(Block(self, key, chain, start, end, binary_size, binary_file))
        return next_pos, boundary

    @staticmethod
    def _written_start(f, start):
        """The index of the leading "KVX_" keys of a header in the form the
        library writes, or None for any other header."""
        f.seek(start)
        match = _WRITTEN_START.match(f.read(_FIRST_READ))
        if match is None:
            return None
        found = {hdr.identity("KVX_DataBlockID"): match.group(1).decode("ascii",
                                                                      "surrogateescape"),
                 hdr.identity("KVX_BinarySize"): match.group(2).decode("ascii")}
        if match.group(3) is not None:
            found[hdr.identity("KVX_HeaderSize")] = match.group(3).decode("ascii")
        return found

    def _pairs(self, f, start, format_keys_only):
        """The (key, stored value) pairs of the header at `start`, read in
        growing pieces: the leading "KVX_" keys need only the first."""
        size = _FIRST_READ if format_keys_only else 8 * _FIRST_READ
        while True:
            f.seek(start)
            text = f.read(size)
            begin = hdr.header_begin(text)
            if begin is None:
                raise self._defect(start, "expecting a header start")
            try:
                return hdr.entries(text, begin, format_keys_only)
            except hdr.HeaderSyntaxError as problem:
                if start + len(text) >= self._length:
                    raise self._defect(start, f"error reading header values: {problem}")
            size *= 4

    @staticmethod
    def _format_value(values, key):
        """The decoded value of `key` in an index of hdr.index, or None."""
        stored = values.get(hdr.identity(key))
        return None if stored is None else hdr.decode_value(stored)

    def _block_id(self, values, start):
        key, chain = map(_cut_key, self._stated_id(values, start))
        chain = self._chains.setdefault(names.comparison_text(chain), chain)
        return self._keys.setdefault((chain, _key_identity(key)), key), chain

    def _stated_id(self, values, start):
        text = self._format_value(values, "KVX_DataBlockID")
        if text is not None:
            key, dot, chain = text.partition(".")
            if not key or not chain:
                raise self._defect(start, f"bad block id {text!r}")
            return key, chain
        text = self._format_value(values, "Image")
        if text is not None:
            if not text:
                raise self._defect(start, "empty block id")
            return text, "Image.Psd"
        text = self._format_value(values, "HeaderID")
        if text is not None:
            number = re.match(r"[^:]*:([0-9]*)", text)
            if number is None or _unsigned(number.group(1)) is None:
                raise self._defect(start, f"bad header id {text!r}")
            return str(int(number.group(1))), "Image.Psd"
        # A block without any id takes its place among the data blocks,
        # moved on past numbers that blocks before it already hold.
        number = len(self._blocks) + 1
        primary = self._chains.get(_PRIMARY_TEXT)
        while (primary, (1, str(number))) in self._keys:
            number += 1
        return str(number), "Image.Psd"

    def _binary_size(self, values, start, general=False):
        for key in ("KVX_BinarySize",) if general else ("KVX_BinarySize", "Size"):
            text = self._format_value(values, key)
            if text is not None:
                size = _unsigned(text)
                if size is None:
                    raise self._defect(start, f"bad binary size {text!r}")
                return size
        if general:
            return 0
        product, n = 0, 1
        while (text := self._format_value(values, f"Dim_{n}")) is not None:
            size = _unsigned(text)
            if size is None:
                raise self._defect(start, f"bad binary size (Dim_{n} = {text!r})")
            product = size if n == 1 else product * size
            if product > _UINT64_MAX:  # the library counts in 64 bits
                raise self._defect(start, "bad binary size (the dimensions pass 2^64)")
            n += 1
        code = names.FLOAT_IEEE32
        if (text := self._format_value(values, "DataType")) is not None:
            code = names.data_type_code(text)
        size = product * (names.DATA_TYPES[code][3] if code else 0)
        if size > _UINT64_MAX:
            raise self._defect(start, "bad binary size (the dimensions pass 2^64)")
        return size

    def _binary_file_entry(self, values, start):
        name = self._format_value(values, "KVX_BinaryFileName")
        if name is None:
            return None
        position = self._format_value(values, "KVX_BinaryFilePosition")
        if not name:
            raise self._defect(start, "empty KVX_BinaryFileName")
        if position is None:
            raise self._defect(start, "KVX_BinaryFileName requires KVX_BinaryFilePosition")
        length = self._format_value(values, "KVX_BinaryFileSize")
        numbers = _unsigned(position), 0 if length is None else _unsigned(length)
        if None in numbers:
            raise self._defect(start, "bad KVX_BinaryFilePosition or KVX_BinaryFileSize")
        return (name,) + numbers

    def _header_end(self, f, start, boundary, values):
        stated = _unsigned(self._format_value(values, "KVX_HeaderSize")) or 0
        end = None
        if boundary >= len(hdr.END_MARKER):
            end = hdr.find_end_on_grid(f, start, boundary, stated, self._length)
        if end is None:
            end = hdr.find_end_bytewise(f, start, self._length)
        if end is None:
            raise self._defect(start, "header end marker not found")
        return end

    @staticmethod
    def _checked_boundary(binary_pos, boundary):
        # A header that does not end on the grid puts the rest of the file
        # off the grid too.
        return boundary if binary_pos % boundary == 0 else 1

    def _binary_end(self, start, binary_pos, binary_size):
        end = binary_pos + binary_size
        if end > self._length:
            raise self._defect(start, "binary section beyond the end of the file")
        return end

    def _defect(self, pos, text):
        return _Defect(f"{self.path}: block at byte {pos}: {text}")

    # -- reading on demand ------------------------------------------------

    def _read(self, pos, length):
        with open_regular(self.path) as f:
            f.seek(pos)
            data = f.read(length)
        if len(data) != length:
            raise FormatError(f"{self.path}: {length} bytes at byte {pos} "
                              f"cannot be read (the file is shorter)")
        return data

    def _decoded_header(self, block):
        """The block's header and its lookup by key identity, decoded once
        while among the most recently used."""
        pos = block.header_pos
        found = self._decoded.get(pos)
        if found is None:
            found = self._header_of(self._read(pos, block.header_size), pos)
            self._decoded[pos] = found
            if len(self._decoded) > _KEPT_HEADERS:
                self._decoded.popitem(last=False)
        else:
            self._decoded.move_to_end(pos)
        return found

    def _header_of(self, text, pos):
        begin = hdr.header_begin(text)
        try:
            if begin is None:
                raise hdr.HeaderSyntaxError("no header start")
            return hdr.join_entries(hdr.entries(text, begin))
        except hdr.HeaderSyntaxError as problem:
            raise FormatError(f"{self.path}: header at byte {pos}: {problem}") from None

    @contextlib.contextmanager
    def _open_data(self, entry, binary_pos, binary_size):
        """The open file of a block's data, positioned at their start, and
        how many bytes the block holds there: its binary section, or its
        separate binary file `entry` (name, position, stated length)."""
        if entry is None:
            with open_regular(self.path) as f:
                f.seek(binary_pos)
                yield f, binary_size
            return
        name, pos, stated = entry
        path, real = self._binary_path(name)
        try:
            f = open_regular(path)
            opened = os.fstat(f.fileno())
            # The file checked must be the one opened: a link swapped in
            # between could lead elsewhere.
            checked = opened if real is None else os.stat(real)
        except OSError as failure:
            raise FormatError(f"{self.path}: binary file {name!r}: {failure.strerror}") from None
        with f:
            if (opened.st_dev, opened.st_ino) != (checked.st_dev, checked.st_ino):
                raise UnsafePathError(f"{self.path}: binary file {name!r} changed while it "
                                      f"was opened")
            size = opened.st_size
            f.seek(min(pos, size))  # a position past the end holds nothing
            held = max(size - pos, 0)
            yield f, min(held, stated) if stated else held

    def _binary_path(self, name):
        """The path of a separate binary file, its name used as written:
        relative to the KVX file's directory unless absolute; and the real
        path it was checked by (None when allowed outside).  Unless allowed,
        a name that leads outside that directory is refused."""
        if "\0" in name:
            raise UnsafePathError(f"{self.path}: binary file name {name!r} holds a zero byte")
        slash = self.path.rfind("/")
        directory = self.path[:slash + 1] if slash >= 0 else os.getcwd() + "/"
        path = name if name.startswith("/") else directory + name
        if not self._allow_outside:
            real_dir = os.path.realpath(directory)
            real = os.path.realpath(path)
            if (name.startswith("/") or ".." in name.split("/")
                    or os.path.commonpath([real, real_dir]) != real_dir):
                raise UnsafePathError(
                    f"{self.path}: binary file {name!r} lies outside {directory}; "
                    f"pass allow_outside=True to read it")
            return path, real
        return path, None


def open_regular(path):
    """`path` opened for reading in binary; anything but a regular file
    (a FIFO, a device, a directory) is refused at once, before a read could
    wait on it."""
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise FormatError(f"{path}: not a regular file")
        os.set_blocking(fd, True)
        return os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise


def _cut_key(key):
    """`key` cut to MAX_KEY_LENGTH bytes of the file, as the library cuts it."""
    raw = key.encode("utf-8", "surrogateescape")
    return key if len(raw) <= MAX_KEY_LENGTH else raw[:MAX_KEY_LENGTH].decode(
        "utf-8", "surrogateescape")


def _key_identity(key):
    """What a block key is compared by, as the C++ library compares them:
    its printable characters in upper case, as a sign and a number text
    without leading zeros ("007", "+7" and " 7" are 7; "abc" is "ABC")."""
    if hdr.continuation_depth(key) > 0:
        key = key.split("~", 1)[0]
    text = names.comparison_text(key)
    sign = -1 if text[:1] == "-" else 1
    if text[:1] in ("+", "-"):
        text = text[1:]
    return sign, text.lstrip("0") or "0"


def open(path: Union[str, bytes, os.PathLike], *, allow_outside: bool = False,
         partial: bool = False, max_image_bytes: int = DEFAULT_MAX_IMAGE_BYTES) -> File:
    """Opens the KVX file at `path` and lists its data blocks in file order.

    Only the leading "KVX_" keys of each header are read here; `.header`
    and `.data` of a block are read when used.  A damaged block raises
    FormatError, or with partial=True ends the list, with the reason in
    `defect`.  allow_outside=True lets blocks read separate binary files
    outside the KVX file's directory (absolute names, "..", symbolic links).
    A block's data larger than max_image_bytes (256 MiB unless raised)
    are refused with UnsupportedError.  Anything but a regular file is
    refused at once with FormatError.
    """
    return File(path, allow_outside=allow_outside, partial=partial,
                max_image_bytes=max_image_bytes)


def walk_blocks(path, consumer, **options) -> None:
    """Walks the KVX file `path` (options as for File), handing every data
    block to `consumer(file, block)` as the walk finds it, and lists none:
    for passes over runs too long to keep a list of their blocks."""
    _StreamedFile(path, consumer, **options)


class _StreamedFile(File):
    """A KVX file whose walk hands every data block to `consumer(file,
    block)` as it finds it, instead of listing it: the blocks of a long run
    would fill memory."""

    def __init__(self, path, consumer, **options):
        self._consumer = consumer
        super().__init__(path, **options)

    def _walk(self, f):
        self._blocks = _HandedOn(self, self._consumer)
        super()._walk(f)


class _HandedOn:
    """The block list of a _StreamedFile during its walk: it counts the
    blocks (the walk numbers blocks without a key by it) and keeps none."""

    def __init__(self, file, consumer):
        self._file = file
        self._consumer = consumer
        self._count = 0

    def __len__(self):
        return self._count

    def append(self, block):
        self._count += 1
        self._consumer(self._file, block)

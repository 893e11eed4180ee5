"""KVX files: the walk from block to block, headers and data on demand."""

import builtins
import math
import os
import re
import zlib
from collections.abc import Sequence

import numpy as np

from . import _header as hdr
from . import _names as names

DEFAULT_BLOCK_BOUNDARY = 512
# A general block may state another boundary, up to this.
MAX_BLOCK_BOUNDARY = 1 << 20
# Bytes read at a header's start to find its leading "KVX_" keys.
_FIRST_READ = 1024
_UNSIGNED = re.compile(r"[ \t\r\n\f\v]*([0-9]+)[ \t\r\n\f\v]*\Z")
_INTEGER = re.compile(r"[ \t\r\n\f\v]*([+-]?[0-9]+)[ \t\r\n\f\v]*\Z")
_UINT64_MAX = (1 << 64) - 1
# The leading entries of a header as the C++ library writes them: values
# without quotes or escapes, and no further "KVX_" key behind them.  Such a
# header is listed without the general tokenizer, which gives the same.
_WRITTEN_START = re.compile(
    rb"\{\r\nKVX_DataBlockID = ([^\s;\\\"]{1,512}) ;\r\nKVX_BinarySize = ([0-9]+) ;\r\n"
    rb"(?:KVX_HeaderSize = ([0-9]+) ;\r\n)?(?![ \t\r\n\f\v;]*(?:[Kk][Vv][Xx]_|#))")


class KvxError(Exception):
    """Base of the errors of this package."""


class FormatError(KvxError):
    """The file or block is damaged or not a KVX file."""


class UnsupportedError(KvxError):
    """The block holds data that this package cannot turn into numbers."""


class UnsafePathError(KvxError):
    """A separate binary file lies outside the KVX file's directory."""


def _unsigned(text):
    match = _UNSIGNED.match(text) if text is not None else None
    if match is None or int(match.group(1)) > _UINT64_MAX:
        return None
    return int(match.group(1))


class _Defect(Exception):
    """A block that stops the walk through the file."""


class Block:
    """One data block: header, identity, position and data of one image.

    Attributes:
      key, chain -- block key (the image number as written) and chain key
          ("Image.Psd" for primary data, "Image.Error" for error data).
      image -- the image number as an int (None if the key is no number).
      header_pos, header_size, binary_pos, binary_size -- where the block
          lies in the file, in bytes.
    The header and the data are read when asked for.
    """

    __slots__ = ("_file", "key", "chain", "header_pos", "header_size", "binary_pos",
                 "binary_size", "_binary_file", "_header")

    def __init__(self, file, key, chain, header_pos, binary_pos, binary_size, binary_file):
        self._file = file
        self.key = key
        self.chain = chain
        self.header_pos = header_pos
        self.header_size = binary_pos - header_pos
        self.binary_pos = binary_pos
        self.binary_size = binary_size
        self._binary_file = binary_file  # (name, position, length) or None
        self._header = None

    def __repr__(self):
        return f"<kvx.Block {self.key}.{self.chain} at byte {self.header_pos}>"

    @property
    def image(self):
        match = _INTEGER.match(self.key)
        return int(match.group(1)) if match else None

    @property
    def header(self):
        """The header as a dict of str to str in file order, values decoded
        (quotes and escapes undone, continuation keys "key~1", "key~2", ...
        appended to their base key).  Read on first use."""
        if self._header is None:
            text = self._file._read(self.header_pos, self.header_size)
            self._header = self._file._header_of(text, self.header_pos)
        return self._header

    def value(self, key):
        """The value of `key`, found without regard to case and ignoring
        spaces, in this header and then in the file's general block (except
        for "KVX_" keys); None when absent."""
        found = hdr.find_value(self.header, key)
        general = self._file.general
        if found is None and general is not None and not hdr.is_format_key(key):
            found = hdr.find_value(general, key)
        return found

    @property
    def dims(self):
        """The sizes "Dim_1", "Dim_2", ... as a tuple; Dim_1 varies fastest
        in the file (the columns of an image)."""
        sizes = []
        while (text := self.value(f"Dim_{len(sizes) + 1}")) is not None:
            match = _INTEGER.match(text)
            if match is None or int(match.group(1)) < 0:
                raise self._error(f"Dim_{len(sizes) + 1} = {text!r} is not a size")
            sizes.append(int(match.group(1)))
        if not sizes:
            raise self._error("the header has no Dim_1")
        return tuple(sizes)

    @property
    def shape(self):
        """The shape of `data`: the dimensions in reverse, so that an image
        is indexed data[row, column] with row = Dim_2, column = Dim_1."""
        return tuple(reversed(self.dims))

    @property
    def dtype(self):
        """The numpy dtype of `data` (native byte order)."""
        return self._layout()[0].newbyteorder("=")

    @property
    def value_offset(self):
        """"DataValueOffset": to be added to the stored values (0 if none)."""
        text = self.value("DataValueOffset")
        match = _INTEGER.match(text) if text is not None else None
        if text is not None and match is None:
            raise self._error(f"DataValueOffset = {text!r} is not a number")
        return int(match.group(1)) if match else 0

    @property
    def data(self):
        """The stored values as a new numpy array of shape `shape` in the
        host's byte order, read from the file on every access.  Raises
        FormatError when the block is damaged, UnsupportedError for data
        types without a numpy equivalent, UnsafePathError for a separate
        binary file outside the KVX file's directory."""
        stored, compression = self._layout()
        shape = self.shape
        count = math.prod(shape)
        raw = self._stored_bytes(count * stored.itemsize, compression)
        values = np.frombuffer(raw, dtype=stored, count=count).reshape(shape)
        return values.astype(stored.newbyteorder("="))

    def _error(self, text):
        return FormatError(f"{self._file.path}: image {self.key}.{self.chain}: {text}")

    def _layout(self):
        """The stored dtype and the compression code."""
        code = names.FLOAT_IEEE32
        if (text := self.value("DataType")) is not None:
            code = names.data_type_code(text)
            if code is None:
                raise self._error(f"unknown data type {text!r}")
        if names.DATA_TYPES[code][4] is None:
            raise UnsupportedError(f"{self._file.path}: image {self.key}.{self.chain}: "
                                   f"data type {names.DATA_TYPES[code][0]} is not supported")
        order = "="
        if (text := self.value("ByteOrder")) is not None:
            order = names.byte_order_sign(text)
            if order is None:
                raise self._error(f"unknown byte order {text!r}")
        compression = names.UNCOMPRESSED
        if (text := self.value("Compression")) is not None:
            compression = names.compression_code(text)
            if compression is None:
                raise self._error(f"unknown compression {text!r}")
        return names.numpy_dtype(code, order), compression

    def _stored_bytes(self, length, compression):
        path, pos, available = self._file.path, self.binary_pos, self.binary_size
        if self._binary_file is not None:
            path, pos, available = self._file._binary_file(self._binary_file)
        if compression == names.UNCOMPRESSED:
            if length > available:
                raise self._error(f"the data hold {available} of the image's {length} bytes")
            return self._file._read(pos, length, path)
        return self._inflate(self._file._read(pos, available, path), length, compression)

    def _inflate(self, packed, length, compression):
        stream = zlib.decompressobj(31 if compression == names.GZIP else 15)
        try:
            data = stream.decompress(packed, length)
            more = stream.decompress(stream.unconsumed_tail, 1) if len(data) == length else b""
        except zlib.error as failure:
            raise self._error(f"the compressed data are damaged ({failure})") from None
        if more:
            raise self._error(f"the compressed data hold more than the image's {length} bytes")
        if not stream.eof or len(data) < length:
            raise self._error(f"the compressed data are damaged or shorter than the image's "
                              f"{length} bytes")
        return data


class File(Sequence):
    """The data blocks of a KVX file in file order (a sequence of Block).

    Attributes: path; general -- the header of the general block as a dict,
    or None when the file has none; defect -- with partial=True, why the
    walk stopped early (None when it did not).
    """

    def __init__(self, path, allow_outside=False, partial=False):
        self.path = os.fspath(path)
        self.general = None
        self.defect = None
        self._allow_outside = allow_outside
        self._blocks = []
        with builtins.open(self.path, "rb") as f:
            self._length = os.fstat(f.fileno()).st_size
            try:
                self._walk(f)
            except _Defect as defect:
                if not partial:
                    raise FormatError(str(defect)) from None
                self.defect = str(defect)

    def __len__(self):
        return len(self._blocks)

    def __getitem__(self, index):
        return self._blocks[index]

    def __repr__(self):
        return f"<kvx.File {self.path!r}: {len(self._blocks)} blocks>"

    def image(self, number, chain="Image.Psd"):
        """The last block of image `number` in `chain` (KeyError if none)."""
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
        self.general = hdr.join_entries(pairs)
        boundary = DEFAULT_BLOCK_BOUNDARY
        text = self._format_value(values, "KVX_BlockBoundary")
        if text is not None:
            boundary = _unsigned(text)
            if boundary is None or not 0 < boundary <= MAX_BLOCK_BOUNDARY:
                raise self._defect(0, f"bad block boundary {text!r}")
        binary_size = self._binary_size(values, 0, general=True)
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
        found = {("KVX_DATABLOCKID", 0): match.group(1).decode("ascii", "surrogateescape"),
                 ("KVX_BINARYSIZE", 0): match.group(2).decode("ascii")}
        if match.group(3) is not None:
            found[("KVX_HEADERSIZE", 0)] = match.group(3).decode("ascii")
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
        stored = values.get((hdr.key_text(key), hdr.continuation_depth(key)))
        return None if stored is None else hdr.decode_value(stored)

    def _block_id(self, values, start):
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
            number = re.match(r"[^:]*:([0-9]+)", text)
            if number is None:
                raise self._defect(start, f"bad header id {text!r}")
            return str(int(number.group(1))), "Image.Psd"
        return str(len(self._blocks) + (self.general is not None)), "Image.Psd"

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
            n += 1
        code = names.FLOAT_IEEE32
        if (text := self._format_value(values, "DataType")) is not None:
            code = names.data_type_code(text)
        return product * (names.DATA_TYPES[code][3] if code else 0)

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

    def _read(self, pos, length, path=None):
        with builtins.open(path or self.path, "rb") as f:
            f.seek(pos)
            data = f.read(length)
        if len(data) != length:
            raise FormatError(f"{path or self.path}: {length} bytes at byte {pos} "
                              f"cannot be read (the file is shorter)")
        return data

    def _header_of(self, text, pos):
        begin = hdr.header_begin(text)
        try:
            if begin is None:
                raise hdr.HeaderSyntaxError("no header start")
            return hdr.join_entries(hdr.entries(text, begin))
        except hdr.HeaderSyntaxError as problem:
            raise FormatError(f"{self.path}: header at byte {pos}: {problem}") from None

    def _binary_file(self, entry):
        """Path, data position and available length of a separate binary
        file.  Its name is relative to the KVX file's directory; unless
        allowed, a name that leads outside that directory is refused."""
        name, pos, stated = entry
        directory = os.path.dirname(os.path.abspath(self.path))
        path = os.path.join(directory, name)
        if not self._allow_outside:
            real_dir = os.path.realpath(directory)
            real = os.path.realpath(path)
            if (os.path.isabs(name) or ".." in name.split("/")
                    or os.path.commonpath([real, real_dir]) != real_dir):
                raise UnsafePathError(
                    f"{self.path}: binary file {name!r} lies outside {directory}; "
                    f"pass allow_outside=True to read it")
            path = real
        try:
            held = max(os.path.getsize(path) - pos, 0)
        except OSError as failure:
            raise FormatError(f"{self.path}: binary file {name!r}: {failure.strerror}") from None
        return path, pos, min(held, stated) if stated else held


def open(path, *, allow_outside=False, partial=False):
    """Opens the KVX file at `path` and lists its data blocks in file order.

    Only the leading "KVX_" keys of each header are read here; `.header`
    and `.data` of a block are read when used.  A damaged block raises
    FormatError, or with partial=True ends the list, with the reason in
    `defect`.  allow_outside=True lets blocks read separate binary files
    outside the KVX file's directory (absolute names, "..", symbolic links).
    """
    return File(path, allow_outside=allow_outside, partial=partial)

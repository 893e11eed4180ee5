"""A data block: its header and data, read on demand."""

from __future__ import annotations

import math
import re
import zlib
from typing import TYPE_CHECKING, Dict, Optional, Tuple, Union

import numpy as np

from . import _expr as expr
from . import _header as hdr
from . import _names as names
from ._errors import FormatError, NotANumberError, UnsupportedError
from ._numbers import PLAIN_DECIMAL, Number, parse_number

if TYPE_CHECKING:
    from ._file import File

_WHITE = " \t\r\n\f\v"
_INTEGER = re.compile(r"[ \t\r\n\f\v]*([+-]?[0-9]+)[ \t\r\n\f\v]*\Z")
_INT64_MIN, _INT64_MAX = -(1 << 63), (1 << 63) - 1
# Compressed data are read in pieces of this size.
_READ_CHUNK = 1 << 20


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
                 "binary_size", "_binary_file")

    key: str
    chain: str
    header_pos: int
    header_size: int
    binary_pos: int
    binary_size: int

    def __init__(self, file: File, key: str, chain: str, header_pos: int, binary_pos: int,
                 binary_size: int, binary_file: Optional[Tuple[str, int, int]]) -> None:
        self._file = file
        self.key = key
        self.chain = chain
        self.header_pos = header_pos
        self.header_size = binary_pos - header_pos
        self.binary_pos = binary_pos
        self.binary_size = binary_size
        self._binary_file = binary_file  # (name, position, length) or None

    def __repr__(self) -> str:
        return f"<kvx.Block {self.key}.{self.chain} at byte {self.header_pos}>"

    @property
    def image(self) -> Optional[int]:
        match = _INTEGER.match(self.key)
        return int(match.group(1)) if match else None

    @property
    def header(self) -> Dict[str, str]:
        """The header as a dict of str to str in file order, values decoded
        (quotes and escapes undone, continuation keys "key~1", "key~2", ...
        appended to their base key).  Read when asked; the file keeps the
        most recently used headers decoded, not every header of a long run."""
        return self._file._decoded_header(self)[0]

    def value(self, key: str) -> Optional[str]:
        """The value of `key`, found without regard to case and ignoring
        spaces, in this header and then in the file's general block (except
        for "KVX_" keys); None when absent."""
        identity = hdr.identity(key)
        found = self._file._decoded_header(self)[1].get(identity)
        if found is None and not hdr.is_format_key(key):
            found = self._file._general_lookup.get(identity)
        return found

    def number(self, key: str) -> Number:
        """The value of `key` (found as by `value`) as a number: an int
        when written without fraction or exponent, else a float; white
        space, a sign and leading zeros are allowed ("007" is 7).  KeyError
        when the header lacks the key, NotANumberError when its value is no
        finite decimal number."""
        text = self.value(key)
        if text is None:
            raise KeyError(key)
        number = parse_number(text)
        if number is None:
            raise NotANumberError(self._file.path, self.key, key, text)
        return number

    @property
    def dims(self) -> Tuple[int, ...]:
        """The sizes "Dim_1", "Dim_2", ... as a tuple; Dim_1 varies fastest
        in the file (the columns of an image).  A size may be an integer
        expression ("2*3"); one that needs function calls, named constants
        or casts raises UnsupportedError."""
        sizes = []
        while (text := self.value(f"Dim_{len(sizes) + 1}")) is not None:
            key = f"Dim_{len(sizes) + 1}"
            try:
                size = expr.integer(text)
            except expr.NeedsFloatingPoint as what:
                raise UnsupportedError(f"{self._where()}: {key} = {text!r}: expression with "
                                       f"{what} needs the C++ reader") from None
            except expr.ExpressionError:
                raise self._error(f"{key} = {text!r} is not a size") from None
            if size < 0:
                raise self._error(f"{key} = {text!r} is negative")
            sizes.append(size)
        if not sizes:
            raise self._error("the header has no Dim_1")
        return tuple(sizes)

    @property
    def shape(self) -> Tuple[int, ...]:
        """The shape of `data`: the dimensions in reverse, so that an image
        is indexed data[row, column] with row = Dim_2, column = Dim_1."""
        return tuple(reversed(self.dims))

    @property
    def dtype(self) -> np.dtype:
        """The numpy dtype of `data`: the stored type (native byte order)
        without an offset; int64 for integers with an integral offset,
        float64 for any other offset."""
        stored = self._layout()[0].newbyteorder("=")
        offset = self.value_offset
        if offset == 0:
            return stored
        if stored.kind in "iu" and isinstance(offset, int):
            return np.dtype(np.int64)
        return np.dtype(np.float64)

    @property
    def value_offset(self) -> Union[int, float]:
        """"DataValueOffset", added to the stored values to give the true
        values: an int when integral, else a float (0 when absent)."""
        text = self.value("DataValueOffset")
        if text is None:
            return 0
        match = PLAIN_DECIMAL.match(text)
        if match is None:
            raise self._error(f"DataValueOffset = {text!r} is not a decimal number")
        value = float(text)
        if not math.isfinite(value) or (value == 0 and match.group(1).strip("0.")):
            raise self._error(f"DataValueOffset = {text!r} passes the range of a double")
        # Read as a double, as the C++ library reads it; a whole number
        # below 2^63 is an integer offset.
        return int(value) if value.is_integer() and abs(value) < 2.0**63 else value

    @property
    def data(self) -> np.ndarray:
        """The true values (stored values plus `value_offset`) as a new
        numpy array of shape `shape` and dtype `dtype` in the host's byte
        order, read from the file on every access.  Raises FormatError when
        the block is damaged, UnsupportedError for data types without a
        numpy equivalent and for images larger than the file's
        max_image_bytes, UnsafePathError for a separate binary file outside
        the KVX file's directory or with an unsafe name."""
        return self._read_values(self.value_offset)

    @property
    def stored(self) -> np.ndarray:
        """The stored values, without `value_offset`, in the stored type
        (host byte order); as `data` otherwise."""
        return self._read_values(0)

    def _read_values(self, offset):
        """The values plus `offset` in a new array, filled piece by piece:
        besides the array, no more than a few pieces of the data are held."""
        stored, compression = self._layout()
        shape = self.shape
        result = self.dtype if offset else stored.newbyteorder("=")
        count = math.prod(shape)
        length = count * stored.itemsize
        cap = self._file.max_image_bytes
        if max(length, count * result.itemsize) > cap:
            raise UnsupportedError(f"{self._where()}: the image of {length} bytes is larger "
                                   f"than the limit of {cap} bytes (max_image_bytes)")
        try:
            values = np.empty(shape, dtype=result)
        except ValueError as failure:  # more dimensions than numpy takes
            raise UnsupportedError(f"{self._where()}: no numpy array of shape {shape}: "
                                   f"{failure}") from None
        flat = values.reshape(-1)
        done, carry = 0, b""
        for piece in self._pieces(length, compression):
            piece = carry + piece if carry else piece
            whole = len(piece) // stored.itemsize
            carry = piece[whole * stored.itemsize:]
            self._put(np.frombuffer(piece, dtype=stored, count=whole), offset,
                      flat[done:done + whole])
            done += whole
        return values

    def _put(self, values, offset, target):
        target[...] = values
        if not offset:
            return
        if target.dtype.kind == "i" and values.size:
            low, high = int(values.min()) + offset, int(values.max()) + offset
            if low < _INT64_MIN or high > _INT64_MAX:
                raise UnsupportedError(f"{self._where()}: true values with the offset "
                                       f"{offset} pass the range of int64")
        target += offset

    def _where(self):
        return f"{self._file.path}: image {self.key}.{self.chain}"

    def _error(self, text):
        return FormatError(f"{self._where()}: {text}")

    def _layout(self):
        """The stored dtype and the compression code."""
        code = names.FLOAT_IEEE32
        if (text := self.value("DataType")) is not None:
            code = names.data_type_code(text)
            if code is None:
                raise self._error(f"unknown data type {text!r}")
        if names.DATA_TYPES[code][4] is None:
            raise UnsupportedError(f"{self._where()}: data type {names.DATA_TYPES[code][0]} "
                                   f"is not supported")
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

    def _pieces(self, length, compression):
        """The image's `length` stored bytes in pieces, from the binary
        section or the separate binary file; compressed data are inflated
        as they are read, never past the image."""
        if length == 0:
            return  # an empty array is written without data, or a stream
        with self._file._open_data(self._binary_file, self.binary_pos,
                                   self.binary_size) as (f, available):
            if compression != names.UNCOMPRESSED:
                yield from self._inflate(f, available, length, compression)
                return
            if length > available:
                raise self._error(f"the data hold {available} of the image's {length} bytes")
            while length:
                piece = f.read(min(_READ_CHUNK, length))
                if not piece:
                    raise self._error("the data end before the image")
                length -= len(piece)
                yield piece

    def _inflate(self, f, available, length, compression):
        done = 0
        stream = zlib.decompressobj(31 if compression == names.GZIP else 15)
        while not stream.eof:
            if stream.unconsumed_tail:
                packed = stream.unconsumed_tail
            else:
                packed = f.read(min(_READ_CHUNK, available)) if available else b""
                available -= len(packed)
                if not packed:
                    break
            try:
                # One byte more than the image has room for shows a stream
                # that holds more.
                piece = stream.decompress(packed, min(length - done + 1, _READ_CHUNK))
            except zlib.error as failure:
                raise self._error(f"the compressed data are damaged ({failure})") from None
            if done + len(piece) > length:
                raise self._error(f"the compressed data hold more than the image's "
                                  f"{length} bytes")
            done += len(piece)
            if piece:
                yield piece
        if not stream.eof or done < length:
            raise self._error(f"the compressed data are damaged or shorter than the image's "
                              f"{length} bytes")

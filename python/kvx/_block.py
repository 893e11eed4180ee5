"""A data block: its header and data, read on demand."""

import math
import re
import sys
import zlib

import numpy as np

from . import _header as hdr
from . import _names as names
from ._errors import FormatError, UnsupportedError

_INTEGER = re.compile(r"[ \t\r\n\f\v]*([+-]?[0-9]+)[ \t\r\n\f\v]*\Z")


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
                 "binary_size", "_binary_file", "_header", "_lookup")

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
        self._lookup = None

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
            self._read_header()
        return self._header

    def _read_header(self):
        text = self._file._read(self.header_pos, self.header_size)
        self._header, self._lookup = self._file._header_of(text, self.header_pos)

    def value(self, key):
        """The value of `key`, found without regard to case and ignoring
        spaces, in this header and then in the file's general block (except
        for "KVX_" keys); None when absent."""
        if self._lookup is None:
            self._read_header()
        identity = hdr.identity(key)
        found = self._lookup.get(identity)
        if found is None and not hdr.is_format_key(key):
            found = self._file._general_lookup.get(identity)
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
        try:
            values = np.frombuffer(raw, dtype=stored, count=count).reshape(shape)
        except ValueError as failure:  # more dimensions, or larger, than numpy takes
            raise UnsupportedError(f"{self._file.path}: image {self.key}.{self.chain}: "
                                   f"no numpy array of shape {shape}: {failure}") from None
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
        if length == 0:
            return b""  # an empty array is written without a stream
        if length > sys.maxsize:
            raise self._error(f"the image's {length} bytes are more than this machine can hold")
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

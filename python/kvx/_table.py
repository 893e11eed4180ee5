"""Header values of many images as numeric columns."""

from __future__ import annotations

import os
import sys
from collections.abc import Sequence
from typing import Dict, List, Optional, Tuple, Union

import numpy as np

from . import _file
from . import _header as hdr
from . import _names as names
from ._errors import FormatError, NotANumberError
from ._numbers import parse_number

PathName = Union[str, bytes, os.PathLike]

# The identity columns.  A header key can never hold "{" ... "}": a "}"
# ends the key text.
FILE_COLUMN = "{file}"
IMAGE_COLUMN = "{image}"
_PRIMARY = "IMAGE.PSD"
_INT64_MIN, _INT64_MAX = -(1 << 63), (1 << 63) - 1
_LARGEST_DOUBLE = int(sys.float_info.max)
# What a column of plain integers, or of plain decimals, may hold: int()
# and float() read such texts exactly as parse_number does.
_INTEGER_BYTES = b"0123456789+-\n"
_DECIMAL_BYTES = b"0123456789+-.eE\n"


def table(paths: Union[PathName, Sequence[PathName]], keys: Union[str, Sequence[str]]
          ) -> Dict[str, np.ndarray]:
    """The values of header `keys` over every image of one or more KVX
    files, one numpy array per key, reading headers only.

    Rows: the primary data blocks (chain Image.Psd) of each file in file
    order, the files in the order given; error-data blocks are left out.
    Keys are found as Block.value finds them (case and spaces aside, the
    general block's value for a key the header lacks).

    Returns a dict: first "{file}" (the index of the row's file in
    `paths`) and "{image}" (its image number), then one array per key in
    the order of `keys` (a key given twice: one column).  A column is int64
    when every row has an integer within int64, else float64 with NaN
    where a header lacks the key ("{image}" too, for a block key that is no
    number).  A value that is no number raises NotANumberError naming file,
    image, key and value; a damaged file raises FormatError naming it.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    if isinstance(keys, str):
        keys = [keys]
    keys = list(dict.fromkeys(keys))
    for key in keys:
        if key in (FILE_COLUMN, IMAGE_COLUMN):
            raise ValueError(f"{key!r} names an identity column, not a header key")
    rows: List[Tuple[str, str]] = []  # (path, block key) of each row, for messages
    files, images = [], []
    raw: List[list] = [[] for _ in keys]
    for index, path in enumerate(paths):
        f = _file.open(path)
        primary = {c for c in {b.chain for b in f} if names.comparison_text(c) == _PRIMARY}
        blocks = [b for b in f if b.chain in primary]
        rows.extend((f.path, b.key) for b in blocks)
        files.extend([index] * len(blocks))
        images.extend(b.image for b in blocks)
        for column, values in zip(raw, _read_values(f, blocks, keys)):
            column.extend(values)
    result = {FILE_COLUMN: np.array(files, dtype=np.int64),
              IMAGE_COLUMN: _numbers(images, IMAGE_COLUMN, rows)}
    for key, values in zip(keys, raw):
        result[key] = _numbers(values, key, rows)
    return result


def _read_values(f, blocks, keys):
    """Per key, the values of `blocks`: bytes as stored in a plain header
    (hdr.PlainHeaders), else the decoded text, or None where absent.  The
    headers are read and dropped one by one, not kept by the blocks."""
    plain_keys = [hdr.plain_key(key) for key in keys]
    plain = hdr.PlainHeaders(plain_keys) if None not in plain_keys else None
    identities = [hdr.identity(key) for key in keys]
    rows = []
    with _file.open_regular(f.path) as stream:
        fd = stream.fileno()
        for block in blocks:
            text = os.pread(fd, block.header_size, block.header_pos)
            if len(text) != block.header_size:
                raise FormatError(f"{f.path}: the header at byte {block.header_pos} cannot "
                                  f"be read (the file is shorter)")
            found = plain.values(text) if plain is not None else None
            if found is None:
                lookup = f._header_of(text, block.header_pos)[1]
                found = tuple(map(lookup.get, identities))
            rows.append(found)
    columns = [list(column) for column in zip(*rows)] if rows else [[] for _ in keys]
    # A key that a header lacks has the general block's value.
    for key, identity, column in zip(keys, identities, columns):
        general = f._general_lookup.get(identity)
        if general is not None and not hdr.is_format_key(key) and None in column:
            column[:] = [general if value is None else value for value in column]
    return columns


def _numbers(values: list, key: str, rows: List[Tuple[str, str]]) -> np.ndarray:
    """The column of `values` (bytes of plain headers, texts, ints or None)
    as int64, or float64 with NaN for None."""
    if values and all(type(v) is bytes for v in values):
        column = _plain_numbers(values)
        if column is not None:
            return column
    numbers: List[Optional[Union[int, float]]] = []
    for value, (path, image) in zip(values, rows):
        number = value
        if isinstance(value, bytes):
            value = hdr.stored_value(value)
        if isinstance(value, str):
            number = parse_number(value)
            # An integer beyond the largest double has no place in a column
            # either.
            if number is None or (type(number) is int and abs(number) > _LARGEST_DOUBLE):
                raise NotANumberError(path, image, key, value)
        numbers.append(number)
    if all(type(n) is int and _INT64_MIN <= n <= _INT64_MAX for n in numbers):
        return np.array(numbers, dtype=np.int64)
    return np.array([np.nan if n is None else float(n) for n in numbers], dtype=np.float64)


def _plain_numbers(values: List[bytes]) -> Optional[np.ndarray]:
    """The column of stored values that are all plain numbers (digits,
    signs, a point, an exponent and nothing else), read in bulk; None
    when some value needs reading one by one."""
    if not all(values) or max(map(len, values)) >= hdr.MAX_VALUE_LENGTH:
        return None
    joined = b"\n".join(values)
    try:
        if not joined.translate(None, _INTEGER_BYTES):
            return np.fromiter(map(int, values), dtype=np.int64, count=len(values))
        if not joined.translate(None, _DECIMAL_BYTES):
            column = np.fromiter(map(float, values), dtype=np.float64, count=len(values))
            return column if np.isfinite(column).all() else None
    except (ValueError, OverflowError):  # "1-2", "1e", or beyond int64
        return None
    return None

"""The header values of an exported run, one column a key.

Every header key of the run is kept under /entry/header so that the header
of each image can be rebuilt exactly: a key whose value is the same in
every image is stored once; a key whose value changes gets one value a
frame, as numbers when every value is a number that prints back as written
(kvx._numbers.canonical_number), else as rows of UTF-8 bytes; a key that
some images lack gets a present/absent mask beside it.  Values are held a
chunk of frames at a time before they are written.
"""

from __future__ import annotations

import math
from typing import Dict

import numpy as np

from ._errors import ExportError
from ._numbers import canonical_number, parse_number

# Frames whose header values are held before they are written.
CHUNK = 1024
# Integers beyond this do not survive a float64 column.
_EXACT_IN_DOUBLE = 1 << 53
_INT, _FLOAT, _INT_OR_FLOAT, _TEXT = "int", "float", "int_or_float", "text"


class _Column:
    """The values of one header key over the run.  A key keeps one value
    (`first`) until an image gives another; from then on its values are
    collected (`values`, None where absent) and written a chunk at a time.
    `present` collects where the key is present, once it is absent from an
    image."""

    __slots__ = ("key", "rank", "first", "seen", "values", "present", "born_late", "kinds",
                 "integral_float", "big_int", "dataset", "presence")

    def __init__(self, key, first, frame, chunk_start):
        self.key = key
        self.rank = 0
        self.first = first
        self.seen = frame
        self.values = None
        self.present = None
        self.born_late = frame > 0
        if frame > 0:
            self.present = bytearray(frame - chunk_start)
            self.present.append(1)
        self.kinds = set()
        self.integral_float = self.big_int = False
        self.dataset = None
        self.presence = None
        self.note_kind(first)

    def note_kind(self, text):
        self.note_kinds([text], [canonical_number(text)])

    def note_kinds(self, texts, numbers):
        """Notes the kinds of `texts` (None where absent) with their
        canonical numbers."""
        if _TEXT in self.kinds:
            return
        for text, number in zip(texts, numbers):
            if number is None:
                if text is not None:
                    self.kinds.add(_TEXT)
                    return
            elif number.__class__ is int:
                self.kinds.add(_INT)
                self.big_int = self.big_int or abs(number) > _EXACT_IN_DOUBLE
            else:
                self.kinds.add(_FLOAT)
                self.integral_float = self.integral_float or number.is_integer()

    @property
    def kind(self):
        if _TEXT in self.kinds:
            return _TEXT
        if self.kinds == {_INT, _FLOAT}:
            # Whole numbers print as integers: right only when no float of
            # the column is whole and every integer is exact as a double.
            return _TEXT if self.integral_float or self.big_int else _INT_OR_FLOAT
        return _INT if self.kinds == {_INT} else _FLOAT

    def start_varying(self, frame, chunk_start, text):
        """The column changes at `frame`: its values from the chunk's start
        on are collected, the first value where the key was present."""
        before = [self.first] * (frame - chunk_start)
        if self.present is not None:
            before = [v if p else None for v, p in zip(before, self.present)]
        self.values = before
        self.values.append(text)

    def absent(self, frame, chunk_start):
        if self.present is None:
            self.present = bytearray(b"\1" * (frame - chunk_start))
        self.present.append(0)
        if self.values is not None:
            self.values.append(None)


def _dataset_name(key):
    """A valid HDF5 name for `key` (the key itself is kept in @key): "%",
    "/" and bytes that are no UTF-8 as "%XX"; "." and "" escaped too."""
    out = []
    for c in key:
        if c in "%/" or "\udc80" <= c <= "\udcff":
            out.append("%{:02X}".format(ord(c) if c in "%/" else ord(c) - 0xDC00))
        else:
            out.append(c)
    name = "".join(out)
    return {"": "%00", ".": "%2E"}.get(name, name)


def stored_text(text):
    return text.encode("utf-8", "surrogateescape")


def _key_attribute(key):
    try:
        key.encode("utf-8")
        return key
    except UnicodeEncodeError:
        return np.bytes_(stored_text(key))


def _encoded(texts):
    return [b"" if t is None else stored_text(t) for t in texts]


def _text_width(length):
    """The row width of a text column for values of `length` bytes: a power
    of two, so that longer values widen a column only a few times."""
    return max(16, 1 << (length - 1).bit_length())


def _converted(kind, texts, numbers=None, width=None):
    """`texts` (None where absent) as an array of the column kind, from
    their canonical `numbers` when given; absent entries hold 0, NaN or
    empty text.  Texts become rows of `width` UTF-8 bytes padded with NUL
    bytes (which a header value never holds)."""
    if kind == _TEXT:
        return np.array(_encoded(texts), dtype=f"S{width}").view(np.uint8).reshape(
            len(texts), width)
    if numbers is None:
        numbers = [None if t is None else canonical_number(t) for t in texts]
    if kind == _INT:
        return np.array([0 if v is None else v for v in numbers], np.int64)
    return np.array([math.nan if v is None else v for v in numbers], np.float64)


def _printed(dataset, value):
    """The header text of one stored value of a header dataset."""
    kind = dataset.dtype.kind
    if dataset.ndim == 2:
        return value.tobytes().rstrip(b"\0").decode("utf-8", "surrogateescape")
    if kind in "iu":
        return str(int(value))
    if kind == "f":
        number = float(value)
        if dataset.attrs.get("integral_as_int", 0) and number.is_integer():
            return str(int(number))
        return repr(number)
    if isinstance(value, bytes):
        return value.decode("utf-8", "surrogateescape")
    return str(value)


class HeaderColumns:
    """The header keys of the run, written to /entry/header and
    /entry/header_present a chunk of frames at a time."""

    def __init__(self, h5py, entry):
        self._h5py = h5py
        self._count = 0
        self._group = nx_group(entry, "header", "NXcollection")
        self._present_group = None
        self._entry = entry
        self.columns: Dict[str, _Column] = {}
        self._order = []
        self._chunk_start = 0

    def add(self, frame, header, where):
        previous = -1
        touched = 0
        for key, text in header.items():
            column = self.columns.get(key)
            if column is None:
                column = self._new_column(key, text, frame, previous)
            else:
                if column.rank <= previous:
                    raise ExportError(f"{where}: its header keys stand in another order than "
                                      f"in the images before it ({key!r} before "
                                      f"{self._order[previous].key!r} there), which one file "
                                      f"cannot keep")
                if column.values is not None:
                    column.values.append(text)
                elif text != column.first:
                    column.start_varying(frame, self._chunk_start, text)
                if column.present is not None:
                    column.present.append(1)
            column.seen = frame
            previous = column.rank
            touched += 1
        if touched != len(self._order):
            for column in self._order:
                if column.seen != frame:
                    column.absent(frame, self._chunk_start)
        if frame + 1 - self._chunk_start == CHUNK:
            self._flush(frame + 1)

    def _new_column(self, key, text, frame, previous):
        column = _Column(key, text, frame, self._chunk_start)
        self._order.insert(previous + 1, column)
        for rank in range(previous + 1, len(self._order)):
            self._order[rank].rank = rank
        self.columns[key] = column
        return column

    def _flush(self, end):
        for column in self._order:
            if column.values is not None:
                numbers = [None if t is None else canonical_number(t) for t in column.values]
                column.note_kinds(column.values, numbers)
                self._write_values(column, numbers, end)
                column.values = []
            if column.present is not None:
                self._write_presence(column, end)
                column.present = bytearray()
        self._chunk_start = end

    def _write_values(self, column, numbers, end):
        kind = column.kind
        width = None
        if kind == _TEXT:
            width = _text_width(max(map(len, _encoded(column.values))))
        if column.dataset is None:
            column.dataset = self._new_dataset(column, kind, width)
            # Before the chunk the key held its first value.
            self._copy_before_chunk(column, lambda start, stop: [column.first] * (stop - start))
        elif _kind_of(column.dataset) != kind or (
                kind == _TEXT and column.dataset.shape[1] < width):
            self._widen(column, kind, width)
        width = column.dataset.shape[1] if kind == _TEXT else None
        column.dataset.resize(end, axis=0)
        column.dataset[self._chunk_start:end] = _converted(kind, column.values, numbers, width)

    def _new_dataset(self, column, kind, width, name=None):
        """The per-frame dataset of a column: int64, float64, or rows of
        UTF-8 bytes for text (the NeXus library of the reference tools fails
        on arrays of strings)."""
        length = self._chunk_start
        if kind == _TEXT:
            shape, limit, dtype = (length, width), (None, width), np.uint8
        else:
            shape, limit = (length,), (None,)
            dtype = np.int64 if kind == _INT else np.float64
        dataset = self._group.create_dataset(name or _dataset_name(column.key), shape, dtype,
                                             maxshape=limit, chunks=(CHUNK,) + shape[1:])
        self._describe(dataset, column, kind)
        return dataset

    @staticmethod
    def _describe(dataset, column, kind):
        dataset.attrs["key"] = _key_attribute(column.key)
        dataset.attrs["position"] = np.int64(column.rank)
        if kind == _INT_OR_FLOAT:
            dataset.attrs["integral_as_int"] = np.uint8(1)
        if kind == _TEXT and dataset.ndim == 2:
            dataset.attrs["encoding"] = "utf-8, one value a row, padded with NUL bytes"

    def _copy_before_chunk(self, column, texts_of):
        kind = column.kind
        width = column.dataset.shape[1] if kind == _TEXT else None
        for start in range(0, self._chunk_start, CHUNK):
            stop = min(start + CHUNK, self._chunk_start)
            column.dataset[start:stop] = _converted(kind, texts_of(start, stop), width=width)

    def _widen(self, column, kind, width):
        """Rewrites the column's frames before the chunk in a wider kind
        (integers and floats together, or text) or in wider text rows: rare,
        and a few times at most."""
        old = column.dataset
        if kind == _TEXT and old.ndim == 1:
            width = max(width, 32)  # every number prints in 24 bytes at most
        column.dataset = self._new_dataset(column, kind, width, name=old.name + "%wide")
        self._copy_before_chunk(column, lambda start, stop: [
            _printed(old, v) for v in old[start:stop]])
        name = old.name
        del self._group.file[name]
        self._group.file.move(column.dataset.name, name)
        column.dataset = self._group.file[name]

    def _write_presence(self, column, end):
        if column.presence is None:
            if self._present_group is None:
                self._present_group = nx_group(self._entry, "header_present", "NXcollection")
            column.presence = self._present_group.create_dataset(
                _dataset_name(column.key), (self._chunk_start,), dtype=np.uint8, fillvalue=1,
                maxshape=(None,), chunks=(CHUNK,))
            column.presence.attrs["key"] = _key_attribute(column.key)
            if column.born_late:
                for start in range(0, self._chunk_start, CHUNK):
                    stop = min(start + CHUNK, self._chunk_start)
                    column.presence[start:stop] = np.zeros(stop - start, np.uint8)
        column.presence.resize((end,))
        column.presence[self._chunk_start:end] = np.frombuffer(bytes(column.present), np.uint8)

    def finish(self, count):
        """Writes the last chunk and the keys that kept one value, and fixes
        every column's position (new keys may have moved them)."""
        if self._chunk_start < count:
            self._flush(count)
        self._count = count
        for column in self._order:
            if column.dataset is None:
                kind = column.kind
                if kind == _TEXT:
                    value = np.array(stored_text(column.first), dtype=object)
                    dtype = self._h5py.string_dtype("utf-8")
                else:
                    value = _converted(kind, [column.first])[0]
                    dtype = value.dtype
                column.dataset = self._group.create_dataset(
                    _dataset_name(column.key), (), dtype, data=value)
                self._describe(column.dataset, column, kind)
            column.dataset.attrs["position"] = np.int64(column.rank)

    def numbers(self, key, absent=math.nan):
        """The values of `key` as numbers: a float (one value for every
        image), an iterator of float64 pieces over the frames, or None when
        no image has a numeric value."""
        column = self.columns.get(key)
        if column is None:
            return None
        if column.presence is None and column.dataset.ndim == 0:
            number = parse_number(column.first)
            return None if number is None else float(number)
        return self._number_pieces(column, absent)

    def _number_pieces(self, column, absent):
        dataset = column.dataset
        for start in range(0, self._count, CHUNK):
            stop = min(start + CHUNK, self._count)
            if dataset.ndim == 0:
                number = parse_number(column.first)
                piece = np.full(stop - start, math.nan if number is None else float(number))
            elif dataset.ndim == 1:
                piece = dataset[start:stop].astype(np.float64)
            else:
                found = (parse_number(_printed(dataset, v)) for v in dataset[start:stop])
                piece = np.array([math.nan if v is None else float(v) for v in found])
            if column.presence is not None:
                piece[column.presence[start:stop] == 0] = absent
            yield piece


def _kind_of(dataset):
    if dataset.ndim == 2:
        return _TEXT
    if dataset.dtype.kind == "i":
        return _INT
    if dataset.dtype.kind == "f":
        return _INT_OR_FLOAT if dataset.attrs.get("integral_as_int", 0) else _FLOAT
    return _TEXT


def header_of(h5, index):
    count = h5["entry/data/image_number"].shape[0]
    if not -count <= index < count:
        raise IndexError(f"image index {index} out of range for {count} frames")
    index %= count
    present = h5.get("entry/header_present")
    entries = []
    for name, dataset in h5["entry/header"].items():
        if present is not None and name in present and not present[name][index]:
            continue
        value = dataset[()] if dataset.ndim == 0 else dataset[index]
        entries.append((int(dataset.attrs["position"]), _key_text(dataset.attrs["key"]),
                        _printed(dataset, value)))
    return {key: text for _, key, text in sorted(entries)}


def _key_text(value):
    if isinstance(value, (bytes, np.bytes_)):
        return bytes(value).decode("utf-8", "surrogateescape")
    return str(value)


def nx_group(parent, name, nx_class):
    group = parent.require_group(name)
    group.attrs["NX_class"] = nx_class
    return group

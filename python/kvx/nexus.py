"""A run of KVX images as one NeXus/HDF5 file.

    python3 -m kvx.nexus run.kvx -o run.nxs [--compression gzip:4] [--overwrite]

    kvx.to_nexus(["a.kvx", "b.kvx"], "run.nxs", compression="lzf")
    kvx.nexus.header("run.nxs", 7)   # the header of the 8th image, rebuilt

The primary images ("Image.Psd") of the files, in file order, become one
dataset /entry/data/data [frame, row, column] in the type that Block.data
gives; every header key is kept under /entry/header so that the header of
every image can be rebuilt exactly; the keys that NeXus has fields for are
copied with their units into /entry and /entry/instrument.  The layout is
described in docs/nexus.md.

The export reads and writes one image at a time and keeps at most a chunk
of header values in memory.  It writes a temporary file beside the output
and renames it at the end: on any error the temporary file is removed and
an existing output is left as it was.  h5py is imported only when used, so
that the rest of the package works without it.
"""

from __future__ import annotations

import argparse
import ctypes
import datetime
import math
import os
import sys
from typing import Dict, Iterable, Optional, Union

import numpy as np

from . import _names as names
from ._errors import KvxError
from ._file import DEFAULT_MAX_IMAGE_BYTES, open_regular, walk_blocks
from ._numbers import canonical_number, parse_number
from ._output import check_output, publish, remove_quietly, temporary_beside

__all__ = ["to_nexus", "header", "ExportError", "main"]

PathLike = Union[str, bytes, os.PathLike]

# Frames whose header values are held before they are written.
_CHUNK = 1024
# Integers beyond this do not survive a float64 column.
_EXACT_IN_DOUBLE = 1 << 53
_INT, _FLOAT, _INT_OR_FLOAT, _TEXT = "int", "float", "int_or_float", "text"
_PRIMARY = "IMAGE.PSD"
# Header keys that NeXus has fields for: (key, path below /entry, units).
_FIELDS = (
    ("SampleDistance", "instrument/detector/distance", "m"),
    ("PSize_1", "instrument/detector/x_pixel_size", "m"),
    ("PSize_2", "instrument/detector/y_pixel_size", "m"),
    ("Center_1", "instrument/detector/beam_center_x", "pixel"),
    ("Center_2", "instrument/detector/beam_center_y", "pixel"),
    ("WaveLength", "instrument/monochromator/wavelength", "m"),
)
_START_TIME_FORMATS = ("%a %b %d %H:%M:%S %Y", "%d-%b-%Y %H:%M:%S", "%d-%b-%Y %H:%M:%S.%f")


class ExportError(KvxError):
    """The run cannot be exported (and nothing was written)."""


def _h5py():
    try:
        import h5py
    except ImportError:
        raise ExportError("the NeXus export needs h5py: install the Debian package "
                          "python3-h5py (or pip install 'kvx[nexus]')") from None
    return h5py


# -- the options ------------------------------------------------------------

def _compression(text: Optional[str]):
    """(h5py compression, its option, the label stored in the file) for
    "none", "gzip", "gzip:LEVEL" (0 to 9, 4 without) or "lzf"."""
    text = "none" if text is None else str(text).strip().lower()
    if text == "none":
        return None, None, "none"
    if text == "lzf":
        return "lzf", None, "lzf"
    method, _, level = text.partition(":")
    if method == "gzip" and (not level or (level.isdigit() and int(level) <= 9)):
        level = int(level) if level else 4
        return "gzip", level, f"gzip:{level}"
    raise ExportError(f"unknown compression {text!r} (none, gzip, gzip:0 to gzip:9 or lzf)")


# -- header values as columns -------------------------------------------------

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


def _stored_text(text):
    return text.encode("utf-8", "surrogateescape")


def _key_attribute(key):
    try:
        key.encode("utf-8")
        return key
    except UnicodeEncodeError:
        return np.bytes_(_stored_text(key))


def _encoded(texts):
    return [b"" if t is None else _stored_text(t) for t in texts]


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


class _Header:
    """The header keys of the run, written to /entry/header and
    /entry/header_present a chunk of frames at a time."""

    def __init__(self, h5py, entry):
        self._h5py = h5py
        self._count = 0
        self._group = _nx_group(entry, "header", "NXcollection")
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
        if frame + 1 - self._chunk_start == _CHUNK:
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
                                             maxshape=limit, chunks=(_CHUNK,) + shape[1:])
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
        for start in range(0, self._chunk_start, _CHUNK):
            stop = min(start + _CHUNK, self._chunk_start)
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
                self._present_group = _nx_group(self._entry, "header_present", "NXcollection")
            column.presence = self._present_group.create_dataset(
                _dataset_name(column.key), (self._chunk_start,), dtype=np.uint8, fillvalue=1,
                maxshape=(None,), chunks=(_CHUNK,))
            column.presence.attrs["key"] = _key_attribute(column.key)
            if column.born_late:
                for start in range(0, self._chunk_start, _CHUNK):
                    stop = min(start + _CHUNK, self._chunk_start)
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
                    value = np.array(_stored_text(column.first), dtype=object)
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
        for start in range(0, self._count, _CHUNK):
            stop = min(start + _CHUNK, self._count)
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


def _nx_group(parent, name, nx_class):
    group = parent.require_group(name)
    group.attrs["NX_class"] = nx_class
    return group


# -- the export ---------------------------------------------------------------

def _as_list(paths):
    if isinstance(paths, (str, bytes, os.PathLike)):
        return [paths]
    return list(paths)


def _iso_start_time(text):
    """The start time as ISO 8601, or None when the text is in no form
    known here: ISO 8601 itself ("2012-01-01 10:00:00" too), C's ctime
    ("Sun Jan  1 10:00:00 2012") or "01-Jan-2012 10:00:00".  Without a
    zone in the text, none is added."""
    text = text.strip()
    try:
        return datetime.datetime.fromisoformat(text).isoformat()
    except ValueError:
        pass
    for form in _START_TIME_FORMATS:
        try:
            return datetime.datetime.strptime(" ".join(text.split()), form).isoformat()
        except ValueError:
            continue
    return None


class _Export:
    """The file as the images come: the datasets of the frames are made for
    the first image and grow as the run goes on."""

    def __init__(self, h5py, h5, compression, check):
        self._h5py = h5py
        self._compression = compression
        self._check = check
        self.count = 0
        h5.attrs["default"] = "entry"
        h5.attrs["creator"] = "kvx.nexus"
        h5.attrs["file_time"] = datetime.datetime.now().astimezone().isoformat(
            timespec="seconds")
        self.entry = _nx_group(h5, "entry", "NXentry")
        self.entry.attrs["default"] = "data"
        self.data_group = _nx_group(self.entry, "data", "NXdata")
        self.header = _Header(h5py, self.entry)
        self._numbers = np.empty(_CHUNK, np.int64)

    def _start(self, where, block):
        self.shape, self.dtype = block.shape, block.dtype
        if 0 in self.shape:
            raise ExportError(f"{where}: the image has no pixels")
        method, level, label = self._compression
        self.frames = self.data_group.create_dataset(
            "data", (0,) + self.shape, dtype=self.dtype, maxshape=(None,) + self.shape,
            chunks=(1,) + self.shape, compression=method, compression_opts=level)
        self.frames.attrs["compression"] = label
        # One frame at a time through the low-level call: h5py's indexing
        # costs more than writing a small frame.
        self._memory_space = self._h5py.h5s.create_simple(self.shape)
        self._origin = (0,) * len(self.shape)
        self.images = self.data_group.create_dataset("image_number", (0,), dtype=np.int64,
                                                     maxshape=(None,), chunks=(_CHUNK,))
        self.images.attrs["long_name"] = "image number"

    def add(self, f, block):
        """Writes one block of a file, if it holds a primary image."""
        if names.comparison_text(block.chain) != _PRIMARY:
            return
        frame, where = self.count, f"{f.path}: image {block.key}"
        if frame == 0:
            self._start(where, block)
        if block.shape != self.shape or block.dtype != self.dtype:
            raise ExportError(f"{where}: {_described(block.shape, block.dtype)} differs from "
                              f"the first image's {_described(self.shape, self.dtype)}; "
                              f"one run holds images of one size and type")
        if block.image is None:
            raise ExportError(f"{where}: the image key is no number")
        if frame == self.frames.shape[0]:
            self.frames.resize(frame + _CHUNK, axis=0)
            self._file_space = self.frames.id.get_space()
        self._file_space.select_hyperslab((frame,) + self._origin, (1,) + self.shape)
        self.frames.id.write(self._memory_space, self._file_space,
                             np.ascontiguousarray(block.data))
        self._check()
        self._numbers[frame % _CHUNK] = block.image
        self.count += 1
        if self.count % _CHUNK == 0:
            self._write_numbers()
        self.header.add(frame, block.header, where)

    def _write_numbers(self):
        start = (self.count - 1) // _CHUNK * _CHUNK
        self.images.resize((self.count,))
        self.images[start:] = self._numbers[:self.count - start]

    def finish(self, sources):
        if self.count == 0:
            raise ExportError(f"{', '.join(map(os.fsdecode, sources))}: no images to export")
        self.frames.resize(self.count, axis=0)
        if self.count % _CHUNK:
            self._write_numbers()
        self.header.finish(self.count)
        self._entry_fields()
        instrument = _nx_group(self.entry, "instrument", "NXinstrument")
        detector = _nx_group(instrument, "detector", "NXdetector")
        detector["data"] = self.frames
        for key, path, units in _FIELDS:
            self._field(key, path, units)
        self._description(detector)
        self._dummy()
        axes = ["image_number"] + ["."] * len(self.shape)
        self.data_group.attrs["signal"] = "data"
        self.data_group.attrs["axes"] = axes
        self.data_group.attrs["image_number_indices"] = np.int64(0)
        if self._timing(detector):
            self.data_group.attrs["time_indices"] = np.int64(0)
        if "monochromator" in instrument:
            instrument["monochromator"].attrs["NX_class"] = "NXmonochromator"

    def _first_text(self, key):
        column = self.header.columns.get(key)
        return None if column is None else column.first

    def _entry_fields(self):
        title = self._first_text("Title")
        if title is not None:
            self._text_field(self.entry, "title", title)
        start = self._first_text("HMStartTime")
        if start is not None and (iso := _iso_start_time(start)) is not None:
            self.entry["start_time"] = iso

    def _field(self, key, path, units):
        numbers = self.header.numbers(key)
        if numbers is None:
            return None
        if isinstance(numbers, float):
            dataset = self.entry.create_dataset(path, data=np.float64(numbers))
        else:
            dataset = self.entry.create_dataset(path, (self.count,), dtype=np.float64)
            start = 0
            for piece in numbers:
                dataset[start:start + len(piece)] = piece
                start += len(piece)
        dataset.attrs["units"] = units
        return dataset

    def _description(self, detector):
        column = self.header.columns.get("DetectorName")
        if column is not None and column.dataset.ndim == 0 and column.presence is None:
            self._text_field(detector, "description", column.first)

    def _text_field(self, group, name, text):
        """A text field, its bytes kept where they are no UTF-8."""
        group.create_dataset(name, data=np.array(_stored_text(text), dtype=object),
                             dtype=self._h5py.string_dtype("utf-8"))

    def _dummy(self):
        """The dummy value as attributes of the frames: @dummy (and @ddummy)
        as float64 for every reader; @_FillValue in the frames' type where
        it is exact there."""
        for key, name in (("Dummy", "dummy"), ("DDummy", "ddummy")):
            value = self.header.numbers(key)
            if isinstance(value, float):
                self.frames.attrs[name] = np.float64(value)
        dummy = self.frames.attrs.get("dummy")
        if dummy is not None and _exact_in(self.dtype, float(dummy)):
            self.frames.attrs["_FillValue"] = np.array(dummy).astype(self.dtype)

    def _timing(self, detector):
        """count_time from the frame times (0 where an image has none) and
        the time axis: the start of every frame after the first frame's
        start, the sum of the times of the frames before it."""
        times = self.header.numbers("HMDeltaTime", absent=0.0)
        if times is None:
            return False
        if isinstance(times, float):
            detector["count_time"] = np.float64(times)
            count_time = None
            times = _repeated(times, self.count)
        else:
            count_time = detector.create_dataset("count_time", (self.count,), dtype=np.float64)
        detector["count_time"].attrs["units"] = "s"
        axis = self.data_group.create_dataset("time", (self.count,), dtype=np.float64)
        axis.attrs["units"] = "s"
        axis.attrs["long_name"] = "start of the frame"
        elapsed, start = 0.0, 0
        for piece in times:
            stop = start + len(piece)
            if count_time is not None:
                count_time[start:stop] = piece
            starts = elapsed + np.concatenate(([0.0], np.cumsum(piece[:-1])))
            axis[start:stop] = starts
            elapsed = float(starts[-1] + piece[-1])
            start = stop
        return True


def _exact_in(dtype, value):
    """Whether `value` is held exactly by the numpy type `dtype`."""
    if dtype.kind in "iu":
        limits = np.iinfo(dtype)
        return value.is_integer() and limits.min <= value <= limits.max
    return float(np.array(value).astype(dtype)) == value


def _repeated(value, count):
    for start in range(0, count, _CHUNK):
        yield np.full(min(_CHUNK, count - start), value)


def _described(shape, dtype):
    return f"{' x '.join(map(str, reversed(shape)))} {np.dtype(dtype).name}"


def to_nexus(paths: Union[PathLike, Iterable[PathLike]], out: PathLike, *,
             compression: Optional[str] = "none", overwrite: bool = False,
             allow_outside: bool = False,
             max_image_bytes: int = DEFAULT_MAX_IMAGE_BYTES) -> int:
    """Writes the primary images of the KVX files `paths` (one path or
    several, in this order) into the NeXus/HDF5 file `out` and returns the
    number of frames written.

    compression: "none", "gzip", "gzip:LEVEL" (0-9) or "lzf".  An existing
    `out` is refused unless overwrite=True.  allow_outside and
    max_image_bytes are passed to kvx.open.  An input is never replaced.
    Raises ExportError (or another KvxError for a damaged input or an
    existing output, OSError for a failed write); `out` is then untouched
    and no temporary file is left."""
    h5py = _h5py()
    method = _compression(compression)
    sources = _as_list(paths)
    if not sources:
        raise ExportError("no input files")
    out = os.fsdecode(os.fspath(out))
    check_output(sources, out, overwrite)
    for path in sources:  # an input that cannot be read stops the export before it starts
        open_regular(path).close()
    temporary = temporary_beside(out)
    try:
        with _GuardedFile(temporary, out) as sink:
            # Format 1.10 files index a growing dataset's chunks in a way
            # whose memory does not grow with them.  Every write fills
            # whole chunks, so no chunk is cached: the caches of the header
            # columns would otherwise grow to 1 MiB each.
            with h5py.File(sink, "w", libver="v110", rdcc_nbytes=0) as h5:
                _bound_metadata_cache(h5)
                export = _Export(h5py, h5, method, sink.check)
                for path in sources:
                    walk_blocks(path, export.add, allow_outside=allow_outside,
                                max_image_bytes=max_image_bytes)
                export.finish(sources)
            sink.check()
        publish(temporary, out, overwrite)
    except BaseException:
        remove_quietly(temporary)
        raise
    return export.count


class _GuardedFile:
    """The temporary file as HDF5 writes it, through this object.  The first
    failed write (a full disk) is kept and reported by check(); the writes
    after it are dropped, so that HDF5 never meets the error: a file that
    HDF5 fails to close leaves its objects in a state where freeing them
    crashes the process."""

    def __init__(self, path, name):
        self._file = open(path, "r+b", buffering=0)
        self._name = name
        self.failure = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._file.close()

    def check(self):
        if self.failure is not None:
            raise OSError(self.failure.errno, f"cannot write: {self.failure.strerror}",
                          self._name)

    def seek(self, pos, whence=os.SEEK_SET):
        return self._file.seek(pos, whence)

    def tell(self):
        return self._file.tell()

    def read(self, size=-1):
        return self._file.read(size)

    def readinto(self, buffer):
        return self._file.readinto(buffer)

    def write(self, data):
        if self.failure is None:
            try:
                written = self._file.write(data)
                if written is not None:
                    return written
            except OSError as failure:
                self.failure = failure
        size = memoryview(data).nbytes
        self._file.seek(size, os.SEEK_CUR)
        return size

    def truncate(self, size=None):
        if self.failure is None:
            try:
                return self._file.truncate(size)
            except OSError as failure:
                self.failure = failure
        return size

    def flush(self):
        pass


def _bound_metadata_cache(h5):
    """HDF5's metadata cache grows with the file up to 32 MiB; 4 MiB hold
    what one frame's write needs."""
    config = h5.id.get_mdc_config()
    config.max_size = 4 << 20
    config.initial_size = config.min_size = 1 << 20
    config.set_initial_size = True
    h5.id.set_mdc_config(config)


# -- reading back ---------------------------------------------------------------

def header(h5file, index: int) -> Dict[str, str]:
    """The header of image `index` (0 for the first frame, negative from the
    end) of an exported file, rebuilt exactly: the dict that Block.header
    gave, keys in file order, values as text.  `h5file` is a path or an open
    h5py.File."""
    h5py = _h5py()
    if isinstance(h5file, h5py.File):
        return _header_of(h5file, index)
    with h5py.File(h5file, "r") as h5:
        return _header_of(h5, index)


def _header_of(h5, index):
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


# -- the command ----------------------------------------------------------------

def _keep_freed_memory():
    """Every image's array and read buffers (several MiB for large frames)
    are allocated and freed once per frame.  The C library's allocator
    gives such memory back to the system at once, so that every frame
    starts on pages new to the process: the export of large frames ran
    several times slower.  The command lets it keep up to 64 MiB; a caller
    of to_nexus can do the same with MALLOC_TRIM_THRESHOLD_ and
    MALLOC_MMAP_THRESHOLD_ in the environment."""
    try:
        mallopt = ctypes.CDLL(None).mallopt
    except (OSError, AttributeError):  # not the GNU C library
        return
    mallopt(-3, 32 << 20)  # M_MMAP_THRESHOLD: the largest it takes
    mallopt(-1, 64 << 20)  # M_TRIM_THRESHOLD


def main(argv=None, prog="kvx-nexus") -> int:
    parser = argparse.ArgumentParser(
        prog=prog, description="Writes the images of KVX files as one NeXus/HDF5 file.")
    parser.add_argument("inputs", nargs="+", metavar="IN.kvx", help="KVX files, in run order")
    parser.add_argument("-o", "--output", required=True, metavar="OUT.nxs",
                        help="the NeXus/HDF5 file to write")
    parser.add_argument("--compression", default="none", metavar="none|gzip[:LEVEL]|lzf",
                        help="compression of the frames (default none; gzip level 4 "
                             "unless given)")
    parser.add_argument("--overwrite", action="store_true",
                        help="replace OUT.nxs when it exists")
    args = parser.parse_args(argv)
    _keep_freed_memory()
    try:
        count = to_nexus(args.inputs, args.output, compression=args.compression,
                         overwrite=args.overwrite)
    except (KvxError, OSError, RuntimeError, ValueError) as failure:
        # HDF5's messages span lines; the command's error is one.
        print(f"{prog}: {' '.join(str(failure).split())}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{prog}: interrupted; {args.output} not written", file=sys.stderr)
        return 130
    print(f"{args.output}: {count} frames")
    return 0


if __name__ == "__main__":
    sys.exit(main(prog="python3 -m kvx.nexus"))

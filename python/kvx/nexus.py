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
import os
import sys
from typing import Dict, Iterable, Optional, Union

import numpy as np

from . import _names as names
from ._errors import ExportError, KvxError
from ._file import DEFAULT_MAX_IMAGE_BYTES, open_regular, walk_blocks
from ._nexus_header import CHUNK, HeaderColumns, header_of, nx_group, stored_text
from ._nexus_sink import GuardedFile, bound_metadata_cache
from ._output import check_output, publish, remove_quietly, temporary_beside

__all__ = ["to_nexus", "header", "ExportError", "main"]

PathLike = Union[str, bytes, os.PathLike]

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
        self.entry = nx_group(h5, "entry", "NXentry")
        self.entry.attrs["default"] = "data"
        self.data_group = nx_group(self.entry, "data", "NXdata")
        self.header = HeaderColumns(h5py, self.entry)
        self._numbers = np.empty(CHUNK, np.int64)

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
                                                     maxshape=(None,), chunks=(CHUNK,))
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
            self.frames.resize(frame + CHUNK, axis=0)
            self._file_space = self.frames.id.get_space()
        self._file_space.select_hyperslab((frame,) + self._origin, (1,) + self.shape)
        self.frames.id.write(self._memory_space, self._file_space,
                             np.ascontiguousarray(block.data))
        self._check()
        self._numbers[frame % CHUNK] = block.image
        self.count += 1
        if self.count % CHUNK == 0:
            self._write_numbers()
        self.header.add(frame, block.header, where)

    def _write_numbers(self):
        start = (self.count - 1) // CHUNK * CHUNK
        self.images.resize((self.count,))
        self.images[start:] = self._numbers[:self.count - start]

    def finish(self, sources):
        if self.count == 0:
            raise ExportError(f"{', '.join(map(os.fsdecode, sources))}: no images to export")
        self.frames.resize(self.count, axis=0)
        if self.count % CHUNK:
            self._write_numbers()
        self.header.finish(self.count)
        self._entry_fields()
        instrument = nx_group(self.entry, "instrument", "NXinstrument")
        detector = nx_group(instrument, "detector", "NXdetector")
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
        group.create_dataset(name, data=np.array(stored_text(text), dtype=object),
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
    for start in range(0, count, CHUNK):
        yield np.full(min(CHUNK, count - start), value)


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
        with GuardedFile(temporary, out) as sink:
            # Format 1.10 files index a growing dataset's chunks in a way
            # whose memory does not grow with them.  Every write fills
            # whole chunks, so no chunk is cached: the caches of the header
            # columns would otherwise grow to 1 MiB each.
            with h5py.File(sink, "w", libver="v110", rdcc_nbytes=0) as h5:
                bound_metadata_cache(h5)
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


# -- reading back ---------------------------------------------------------------

def header(h5file, index: int) -> Dict[str, str]:
    """The header of image `index` (0 for the first frame, negative from the
    end) of an exported file, rebuilt exactly: the dict that Block.header
    gave, keys in file order, values as text.  `h5file` is a path or an open
    h5py.File."""
    h5py = _h5py()
    if isinstance(h5file, h5py.File):
        return header_of(h5file, index)
    with h5py.File(h5file, "r") as h5:
        return header_of(h5, index)


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

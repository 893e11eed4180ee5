"""A picture of a run: the summed image, a few frames and per-frame curves.

    python3 -m kvx.overview IN.kvx [IN2.kvx ...] -o overview.png
                            [--mean] [--frames N] [--overwrite]

The images of the primary chain (Image.Psd) of the files named, file after
file in file order, make one run.  The PNG shows:

- the sum of the frames (with --mean the mean of each pixel over the frames
  where it is not a dummy) on a logarithmic colour scale, row 0 at the top;
  values of 0 and below are black, dummy pixels white;
- N frames (4 unless --frames says otherwise, 0 to 8) spread evenly over the
  run, the first and the last among them;
- per-frame curves of the total counts (the sum of the pixels that are not
  dummies) and of each scaler channel HS32C01 ... HS32C32 that counts (is
  not 0 in some frame), named by its HS32N01 ... value (the key when the
  name is missing, empty or "none").  The x axis is the time at the end of
  each frame since the start of the run, the running sum of HMDeltaTime (a
  header without it adds 0: the converter leaves the key out for a frame
  time of 0); when no header of the run has HMDeltaTime, the image number,
  or the frame's place in the run when the image numbers do not rise.

A pixel is a dummy when it is not a finite number, or when the header's
"Dummy" is a number and the pixel lies within |DDummy| of it (0 when
"DDummy" is missing or no number), as kvxinfo decides it.

The frames are read one at a time: besides the running sum, the pixel
counts and the frames shown, only the per-frame values of the curves are
kept.  Frames may change their type but not their size.  The picture is
written under a temporary name next to the output and renamed when
complete; an existing output is kept unless --overwrite is given.

Drawing needs matplotlib (Debian: python3-matplotlib); `summarize()`, which
computes what is drawn, needs only numpy.
"""

from __future__ import annotations

import argparse
import os
import sys
from dataclasses import dataclass
from typing import BinaryIO, Callable, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np

from ._errors import KvxError
from ._file import open as open_kvx
from ._names import comparison_text
from ._numbers import parse_number, plain_decimal
from ._output import check_output, publish, remove_quietly, temporary_beside

PathLike = Union[str, os.PathLike]
# 800 x 600 pixels: small enough to keep in a repository.
FIGURE_INCHES = (10.0, 7.5)
DPI = 80
DEFAULT_FRAMES = 4
MAX_FRAMES = 8
_PRIMARY_CHAIN = "IMAGE.PSD"
# A curve is drawn with at most this many points: more than the pixels of
# its axes, and few enough that drawing does not grow with the run.
CURVE_POINTS = 2000
_SCALER_CHANNELS = 32


@dataclass
class Run:
    """What the overview draws.

    image -- the sum (or mean) of the frames, masked where every frame has
        a dummy; frames -- (title, frame) of the frames shown, dummies
        masked; x, x_label -- the x axis of the curves; totals -- the sum of
        the non-dummy pixels of each frame; scalers -- label to per-frame
        counts of the channels that count (NaN where a header lacks the
        key); mean -- whether `image` is the mean; files -- the paths read.
    """

    image: np.ma.MaskedArray
    frames: List[Tuple[str, np.ma.MaskedArray]]
    x: np.ndarray
    x_label: str
    totals: np.ndarray
    scalers: Dict[str, np.ndarray]
    mean: bool
    files: List[str]


def dummy_mask(values: np.ndarray, dummy: Optional[float], ddummy: float = 0.0) -> np.ndarray:
    """True where a pixel is a dummy: not finite, or within |ddummy| of
    `dummy` (None: no dummy value)."""
    values = np.asarray(values, dtype=np.float64)
    mask = ~np.isfinite(values)
    if dummy is not None:
        with np.errstate(invalid="ignore"):
            mask |= np.abs(values - dummy) <= abs(ddummy)
    return mask


def summarize(paths: Sequence[PathLike], *, mean: bool = False,
              frames: int = DEFAULT_FRAMES) -> Run:
    """Reads the run of `paths` frame by frame and computes what the
    overview draws.  Raises KvxError for a damaged file, a run without
    images, frames of changing size or a plotted header value that is no
    number, OSError when a file cannot be read."""
    if not 0 <= frames <= MAX_FRAMES:
        raise ValueError(f"frames must lie between 0 and {MAX_FRAMES}, not {frames}")
    if not paths:
        raise KvxError("no files named")
    files = [open_kvx(path) for path in paths]  # a damaged file stops us before any work
    blocks = [block for f in files for block in f
              if comparison_text(block.chain) == _PRIMARY_CHAIN]
    if not blocks:
        raise KvxError(f"{', '.join(f.path for f in files)}: no images in chain Image.Psd")
    shown = _spread(len(blocks), frames)
    several = len(files) > 1
    curves = _Curves(len(blocks))
    total = hits = None
    picked = []
    for index, block in enumerate(blocks):
        values = _frame(block)
        if total is None:
            total = np.zeros(values.shape, np.float64)
            hits = np.zeros(values.shape, np.uint32)
        elif values.shape != total.shape:
            raise KvxError(f"{_where(block)}: {_size(values.shape)} pixels where the run's "
                           f"first image has {_size(total.shape)}")
        dummies = dummy_mask(values, *_dummy_of(block))
        counted = np.where(dummies, 0.0, values)
        total += counted
        hits += ~dummies
        curves.add(index, block, float(counted.sum()))
        if index in shown:
            title = f"image {block.key}"
            if several:
                title = f"{os.path.basename(block._file.path)}: {title}"
            picked.append((title, np.ma.masked_array(values.astype(np.float64), dummies)))
    if mean:
        with np.errstate(invalid="ignore", divide="ignore"):
            total /= hits
    x, x_label = curves.axis(blocks)
    return Run(image=np.ma.masked_array(total, hits == 0), frames=picked, x=x,
               x_label=x_label, totals=curves.totals, scalers=curves.counting(blocks),
               mean=mean, files=[f.path for f in files])


def overview(paths: Sequence[PathLike], out: PathLike, *, mean: bool = False,
             frames: int = DEFAULT_FRAMES, overwrite: bool = False) -> Run:
    """Draws the overview of the run of `paths` into the PNG file `out`
    and returns what it drew.  An existing `out` is refused (KvxError)
    unless `overwrite`; an input is never overwritten.  On any failure no
    file is left behind and `out` is unchanged."""
    out = os.fspath(out)
    check_output(paths, out, overwrite)
    figure_class, canvas_class, matplotlib = _matplotlib()
    run = summarize(paths, mean=mean, frames=frames)
    figure = _draw(run, figure_class, matplotlib)
    canvas_class(figure)
    _write_new(out, overwrite, lambda stream: figure.savefig(
        stream, format="png", dpi=DPI, metadata={"Software": None}))
    return run


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m kvx.overview",
        description="Draws a picture of a run: the summed image, a few frames and "
                    "per-frame curves of the total counts and the scaler channels.")
    parser.add_argument("inputs", nargs="+", metavar="IN.kvx", help="the files of the run")
    parser.add_argument("-o", "--output", required=True, metavar="OUT.png")
    parser.add_argument("--mean", action="store_true",
                        help="show the mean of the frames instead of their sum")
    parser.add_argument("--frames", type=int, default=DEFAULT_FRAMES, metavar="N",
                        choices=range(MAX_FRAMES + 1),
                        help=f"frames shown across the run (0 to {MAX_FRAMES}, "
                             f"default {DEFAULT_FRAMES})")
    parser.add_argument("--overwrite", action="store_true",
                        help="replace an existing output file")
    args = parser.parse_args(argv)
    try:
        overview(args.inputs, args.output, mean=args.mean, frames=args.frames,
                 overwrite=args.overwrite)
    except (KvxError, OSError, ImportError, MemoryError) as failure:
        print(f"kvx.overview: {_one_line(failure)}", file=sys.stderr)
        return 1
    return 0


# -- reading ---------------------------------------------------------------


class _Curves:
    """The per-frame values of the curves."""

    def __init__(self, count: int) -> None:
        self.totals = np.zeros(count)
        self._times = np.zeros(count)
        self._timed = False
        # Channel arrays are made when a header first has the key.
        self._channels: Dict[int, np.ndarray] = {}

    def add(self, index, block, total):
        self.totals[index] = total
        delta = _number(block, "HMDeltaTime")
        if delta is not None:
            self._times[index] = delta
            self._timed = True
        for channel in range(1, _SCALER_CHANNELS + 1):
            value = _number(block, f"HS32C{channel:02d}")
            if value is not None:
                if channel not in self._channels:
                    self._channels[channel] = np.full(len(self.totals), np.nan)
                self._channels[channel][index] = value

    def axis(self, blocks):
        if self._timed:
            return np.cumsum(self._times), "time since the start (running sum of HMDeltaTime)"
        numbers = [block.image for block in blocks]
        if None not in numbers and all(a < b for a, b in zip(numbers, numbers[1:])):
            return np.array(numbers, dtype=np.float64), "image number"
        return np.arange(1.0, len(blocks) + 1), "frame of the run"

    def counting(self, blocks):
        """Label to counts of the channels that are not 0 in some frame."""
        found = {}
        for channel, counts in self._channels.items():
            if np.any(np.nan_to_num(counts) != 0):
                key = f"HS32C{channel:02d}"
                name = _channel_name(blocks, channel) or key
                found[f"{name} ({key})" if name in found else name] = counts
        return found


def _channel_name(blocks, channel):
    name = blocks[0].value(f"HS32N{channel:02d}")
    name = (name or "").strip()
    return None if name.lower() in ("", "none") else name


def _spread(count, shown):
    """`shown` indexes spread evenly over `count`, the first and last among them."""
    if shown == 0:
        return set()
    if shown == 1:
        return {0}
    return {round(i * (count - 1) / (shown - 1)) for i in range(shown)}


def _frame(block):
    """The block's values as a 2-D array: one row for 1-D data."""
    values = block.data
    if values.ndim > 2 and all(size == 1 for size in values.shape[:-2]):
        values = values.reshape(values.shape[-2:])
    if values.ndim == 1:
        values = values.reshape(1, -1)
    if values.ndim != 2:
        raise KvxError(f"{_where(block)}: {values.ndim} dimensions; only 2-D images "
                       f"can be shown")
    if values.size == 0:
        raise KvxError(f"{_where(block)}: the image has no pixels")
    return values


def _dummy_of(block):
    # Read in the plain decimal form, as kvxinfo reads them.
    dummy = _plain(block, "Dummy")
    if dummy is None:
        return None, 0.0
    ddummy = _plain(block, "DDummy")
    return dummy, ddummy if ddummy is not None else 0.0


def _plain(block, key):
    text = block.value(key)
    return None if text is None else plain_decimal(text)


def _number(block, key):
    """The value of `key` as a float, None when absent; KvxError when it is
    no number or beyond the range of a float."""
    text = block.value(key)
    if text is None:
        return None
    value = parse_number(text)
    try:
        return float(value)
    except (TypeError, OverflowError):  # None, or an integer of hundreds of digits
        raise KvxError(f"{_where(block)}: {key} = {text!r} is not a number") from None


def _where(block):
    return f"{block._file.path}: image {block.key}"


def _size(shape):
    return f"{shape[1]}x{shape[0]}"


def _one_line(failure):
    text = str(failure) or type(failure).__name__
    return " ".join(text.split())


# -- drawing ---------------------------------------------------------------


def _matplotlib():
    """The figure and canvas classes, without pyplot: no display and no
    change to the backend of a program that uses pyplot itself."""
    try:
        import matplotlib
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
    except ImportError:
        raise ModuleNotFoundError("drawing the overview needs matplotlib "
                                  "(Debian: apt-get install python3-matplotlib)") from None
    return Figure, FigureCanvasAgg, matplotlib


def _draw(run, figure_class, matplotlib):
    figure = figure_class(figsize=FIGURE_INCHES, dpi=DPI, layout="constrained")
    names = [os.path.basename(path) for path in run.files]
    label = names[0] if len(names) == 1 else f"{names[0]} and {len(names) - 1} more"
    figure.suptitle(f"{label}: {_images(len(run.totals))}")
    top, bottom = (figure.subfigures(2, 1, height_ratios=(3, 2)) if run.frames
                   else (figure, None))
    left, right = top.subfigures(1, 2, width_ratios=(1, 1.3))
    what = "mean" if run.mean else "sum"
    _show(left, left.subplots(), run.image, f"{what} of {_images(len(run.totals))}", matplotlib)
    _curves(right, run)
    if bottom is not None:
        axes = bottom.subplots(1, len(run.frames), squeeze=False)[0]
        for ax, (title, frame) in zip(axes, run.frames):
            _show(bottom, ax, frame, title, matplotlib, bar=False)
    return figure


def thin(x: np.ndarray, y: np.ndarray,
         points: int = CURVE_POINTS) -> Tuple[np.ndarray, np.ndarray]:
    """The curve (x, y) with at most `points` points: the frames in
    points/2 groups, of each group its lowest and highest value in frame
    order, so that a spike of a single frame stays visible.  NaN (a gap)
    is kept only where a whole group is NaN."""
    count = len(y)
    if count <= points:
        return x, y
    group = -(-count // (points // 2))
    padded = np.concatenate([y, np.full(-count % group, np.nan)]).reshape(-1, group)
    gaps = np.isnan(padded)
    # A group that is all NaN picks its first frame, which is in the run.
    low = np.argmin(np.where(gaps, np.inf, padded), axis=1)
    high = np.argmax(np.where(gaps, -np.inf, padded), axis=1)
    starts = np.arange(len(padded)) * group
    picked = np.sort(np.stack([starts + low, starts + high], axis=1), axis=1).ravel()
    return x[picked], y[picked]


def _images(count):
    return f"{count} image" + ("" if count == 1 else "s")


def _show(figure, ax, image, title, matplotlib, bar=True):
    """`image` on a log scale: values of 0 and below in the colour below
    the scale (black), masked pixels in the "bad" colour (white)."""
    colours = matplotlib.colormaps["viridis"].with_extremes(bad="white", under="black")
    values = image.compressed()
    positive = values[values > 0]
    low = positive.min() if positive.size else 1.0
    high = positive.max() if positive.size else 1.0
    if low == high:  # one value: in the middle of the scale
        low, high = low / 10, high * 10
    shown = np.ma.where(image > 0, image, low / 2)  # below the scale, not masked
    norm = matplotlib.colors.LogNorm(vmin=low, vmax=high)
    picture = ax.imshow(shown, cmap=colours, norm=norm, origin="upper",
                        interpolation="nearest")
    ax.set_title(title, fontsize="medium")
    ax.tick_params(labelsize="small")
    if bar:
        extend = "min" if values.size > positive.size else "neither"
        bar = figure.colorbar(picture, ax=ax, extend=extend, shrink=0.9)
        bar.set_label("black: 0 or less, white: dummy", fontsize="small")


def _curves(figure, run):
    total_ax, scaler_ax = figure.subplots(2, 1, sharex=True)
    style = {"linewidth": 1, "marker": "." if len(run.x) <= 50 else None}
    total_ax.plot(*thin(run.x, run.totals), **style)
    total_ax.set_ylabel("total counts")
    for label, counts in run.scalers.items():
        scaler_ax.plot(*thin(run.x, counts), label=label, **style)
    if run.scalers:
        # Beside the curves, as up to 32 channels would hide them.
        scaler_ax.legend(fontsize="x-small", ncol=-(-len(run.scalers) // 11),
                         loc="upper left", bbox_to_anchor=(1.01, 1.0), borderaxespad=0,
                         handlelength=1.2, columnspacing=0.8)
    else:
        scaler_ax.text(0.5, 0.5, "no scaler counts", ha="center", va="center",
                       transform=scaler_ax.transAxes)
    scaler_ax.set_ylabel("scaler counts")
    scaler_ax.set_xlabel(run.x_label)
    for ax in (total_ax, scaler_ax):
        ax.tick_params(labelsize="small")
        ax.grid(alpha=0.3)


# -- writing ---------------------------------------------------------------


def _write_new(out: str, overwrite: bool, write: Callable[[BinaryIO], None]) -> None:
    """Writes `out` whole or not at all (see kvx._output)."""
    temporary = temporary_beside(out)
    try:
        with open(temporary, "wb") as stream:
            write(stream)
        publish(temporary, out, overwrite)
    except BaseException as failure:
        remove_quietly(temporary)
        if isinstance(failure, OSError):  # named by the output, not the temporary file
            raise KvxError(f"{out}: writing failed ({failure.strerror or failure})") from None
        raise


if __name__ == "__main__":
    sys.exit(main())

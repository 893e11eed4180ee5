"""The overview picture of a run: what it computes, and that a failure
leaves no picture behind."""

import os
import struct
import subprocess
import sys

import numpy as np
import pytest

from kvx import overview as ov
from test_kvx import block_bytes


def frame(number, values, entries=(), data_type="FloatValue"):
    """A block of 2-D `values` (row by row) with extra header `entries`."""
    dtype = {"FloatValue": "<f4", "UnsignedShort": "<u2"}[data_type]
    data = np.asarray(values, dtype=dtype)
    return block_bytes([("KVX_DataBlockID", f"{number}.Image.Psd"),
                        ("KVX_BinarySize", data.nbytes), ("Dim_1", data.shape[1]),
                        ("Dim_2", data.shape[0]), ("DataType", data_type),
                        ("ByteOrder", "LowByteFirst"), *entries], data.tobytes())


def run_file(tmp_path, *blocks, name="run.kvx"):
    path = tmp_path / name
    path.write_bytes(b"".join(blocks))
    return path


@pytest.mark.parametrize("entries, first, second, total, mean, masked", [
    # -1 is the dummy: pixel 0 is a dummy in both frames, pixel 1 in one.
    ([("Dummy", "-1")], [-1, -1, 3, 0], [-1, 5, 4, 0], [0, 5, 7, 0], [0, 5, 3.5, 0], [1, 0, 0, 0]),
    # Within |DDummy| of Dummy; DDummy's sign does not matter.
    ([("Dummy", "10"), ("DDummy", "-0.5")], [9.5, 10.6, 2, 2], [10.4, 1, 2, 2],
     [0, 11.6, 4, 4], [0, 5.8, 2, 2], [1, 0, 0, 0]),
    # A Dummy that is no number marks nothing; NaN and infinities always do.
    ([("Dummy", "x")], [np.nan, np.inf, -1, 1], [np.nan, 2, -1, 1], [0, 2, -2, 2],
     [0, 2, -1, 1], [1, 0, 0, 0]),
    # Read in the plain decimal form, as kvxinfo reads it: ".5" is no number.
    ([("Dummy", ".5")], [0.5, 1, 1, 1], [0.5, 1, 1, 1], [1, 2, 2, 2], [0.5, 1, 1, 1], [0, 0, 0, 0]),
])
def test_dummies_reach_neither_the_sum_nor_the_totals(tmp_path, entries, first, second, total,
                                                      mean, masked):
    path = run_file(tmp_path, frame(1, [first], entries), frame(2, [second], entries))
    summed = ov.summarize([path])
    averaged = ov.summarize([path], mean=True)
    np.testing.assert_allclose(summed.image.filled(0), [total], rtol=1e-6)
    np.testing.assert_allclose(averaged.image.filled(0), [mean], rtol=1e-6)
    assert summed.image.mask.tolist() == [[bool(m) for m in masked]], "all-dummy pixels masked"
    assert sum(summed.totals) == pytest.approx(np.sum(total)), "totals count what the sum counts"


@pytest.mark.parametrize("numbers, extra, x, label", [
    # A frame without HMDeltaTime adds no time.
    ([1, 2, 3], [[("HMDeltaTime", "0.5")], [], [("HMDeltaTime", "2")]], [0.5, 0.5, 2.5],
     "time"),
    ([4, 7, 9], [[], [], []], [4, 7, 9], "image number"),
    ([3, 2, 5], [[], [], []], [1, 2, 3], "frame of the run"),
])
def test_the_x_axis(tmp_path, numbers, extra, x, label):
    path = run_file(tmp_path, *(frame(n, [[1]], e) for n, e in zip(numbers, extra)))
    run = ov.summarize([path])
    assert run.x.tolist() == x and run.x_label.startswith(label)


def test_scaler_channels_that_count_with_their_names(tmp_path):
    names = [("HS32N01", "I0"), ("HS32N02", "none"), ("HS32N03", "unused"), ("HS32N04", "I0")]
    path = run_file(tmp_path, frame(1, [[1]], [("HS32C01", "5"), ("HS32C02", "0"), *names,
                                               ("HS32C03", "0"), ("HS32C04", "1")]),
                    frame(2, [[1]], [("HS32C01", "7"), ("HS32C02", "3")]),
                    frame(3, [[1]], [("HS32C02", "4")]))
    scalers = ov.summarize([path]).scalers
    assert list(scalers) == ["I0", "HS32C02", "I0 (HS32C04)"], \
        "named, key for 'none' and for a name taken, zero channel left out"
    np.testing.assert_array_equal(scalers["I0"], [5, 7, np.nan], "a missing key is NaN")
    assert scalers["HS32C02"].tolist() == [0, 3, 4]


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "a PNG"
    return struct.unpack(">II", data[16:24])


def test_the_picture_of_a_run_of_two_files(tmp_path):
    pytest.importorskip("matplotlib")
    first = run_file(tmp_path, frame(1, [[1, 2], [3, -1]], [("Dummy", "-1")]), name="a.kvx")
    second = run_file(tmp_path, frame(1, [[0, 2], [3, 4]], [("HS32C01", "9")]), name="b.kvx")
    out = tmp_path / "overview.png"
    out.write_bytes(b"old")
    assert ov.main([str(first), str(second), "-o", str(out), "--frames", "3",
                    "--overwrite"]) == 0
    assert png_size(out) == tuple(round(side * ov.DPI) for side in ov.FIGURE_INCHES)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["a.kvx", "b.kvx", "overview.png"]


def good(tmp_path):
    return run_file(tmp_path, frame(1, [[1, 2]]), name="good.kvx")


@pytest.mark.parametrize("inputs, message", [
    (lambda t: [good(t), run_file(t, frame(1, [[1, 2]])[:-3], name="cut.kvx")], "cut.kvx"),
    (lambda t: [good(t), t / "missing.kvx"], "missing.kvx"),
    (lambda t: [run_file(t, frame(1, [[1, 2]]), frame(2, [[1], [2]]))], "1x2 pixels where"),
    (lambda t: [run_file(t, frame(1, [[1]], [("HMDeltaTime", "soon")]))], "is not a number"),
    (lambda t: [run_file(t, frame(1, [[1]], [("HS32C01", "9" * 400)]))], "is not a number"),
    (lambda t: [run_file(t, block_bytes([("KVX_DataBlockID", "1.Image.Error"),
                                         ("KVX_BinarySize", 0), ("Dim_1", 0)]))], "no images"),
    (lambda t: [good(t)], "exists"),
])
def test_failures_leave_no_picture(tmp_path, capsys, inputs, message):
    pytest.importorskip("matplotlib")
    out = tmp_path / "overview.png"
    existing = message == "exists"
    if existing:
        out.write_bytes(b"old")
    before = {p.name for p in tmp_path.iterdir()}
    assert ov.main([str(p) for p in inputs(tmp_path)] + ["-o", str(out)]) == 1
    error = capsys.readouterr().err
    assert message in error and error.count("\n") == 1, error
    assert {p.name for p in tmp_path.iterdir()} - before <= {"good.kvx", "cut.kvx", "run.kvx"}
    assert out.exists() == existing and (not existing or out.read_bytes() == b"old")


def test_a_failed_write_removes_the_partial_file(tmp_path, monkeypatch, capsys):
    pytest.importorskip("matplotlib")
    path = good(tmp_path)
    out = tmp_path / "overview.png"
    out.write_bytes(b"old")

    def disk_full(_):
        raise OSError(28, "No space left on device")
    monkeypatch.setattr(os, "fsync", disk_full)
    assert ov.main([str(path), "-o", str(out), "--overwrite"]) == 1
    assert "No space left" in capsys.readouterr().err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["good.kvx", "overview.png"]
    assert out.read_bytes() == b"old"
    with pytest.raises(Exception, match="one of the inputs"):
        ov.overview([path], path, overwrite=True)


def test_without_matplotlib_the_command_says_what_to_install(tmp_path):
    code = ("import sys; sys.modules['matplotlib'] = None; import kvx.overview as o; "
            f"sys.exit(o.main([{str(good(tmp_path))!r}, '-o', {str(tmp_path / 'o.png')!r}]))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert done.returncode == 1 and "python3-matplotlib" in done.stderr, done.stderr
    assert not (tmp_path / "o.png").exists()


def test_long_curves_are_thinned_keeping_spikes_and_gaps():
    y = np.ones(100_001)
    y[12_345], y[99_999], y[5_000:5_500] = 50, -7, np.nan
    x, thinned = ov.thin(np.arange(len(y), dtype=float), y, points=1000)
    assert len(x) <= 1000 and np.all(np.diff(x) >= 0), "in frame order"
    assert {12_345.0, 99_999.0} <= set(x.tolist()), "the spikes stay"
    assert np.isnan(thinned).any() and np.nanmax(thinned) == 50 and np.nanmin(thinned) == -7

"""The NeXus/HDF5 export (kvx.nexus) against hand-made runs: the headers
rebuilt, the layout that generic NeXus readers follow, and refusals that
leave nothing behind."""

import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

import kvx

h5py = pytest.importorskip("h5py")
import kvx.nexus as nexus  # noqa: E402  (after the h5py check)
import kvx._nexus_header as nexus_header  # noqa: E402

PYTHON_PATH = os.path.join(os.path.dirname(__file__), "..", "..", "python")


def block(number, entries=(), values=(1, 2, 3, 4, 5, 6), dims=(3, 2), data_type="UnsignedShort"):
    size = {"UnsignedShort": 2, "UnsignedByte": 1}[data_type]
    raw = b"".join(v.to_bytes(size, "big") for v in values)
    lines = [("KVX_DataBlockID", f"{number}.Image.Psd"), ("KVX_BinarySize", len(raw)),
             ("ByteOrder", "HighByteFirst"), ("DataType", data_type),
             *[(f"Dim_{i + 1}", d) for i, d in enumerate(dims)], *entries]
    text = "{\r\n" + "".join(f"{k} = {v} ;\r\n" for k, v in lines)
    head = text.encode("utf-8", "surrogateescape")
    return head + b" " * (-(len(head) + 4) % 512) + b"\r\n}\n" + raw


def write_run(path, images):
    path.write_bytes(b"".join(block(n + 1, **image) for n, image in enumerate(images)))
    return path


@pytest.fixture
def small_chunks(monkeypatch):
    # Header values are written a chunk at a time; two frames a chunk make
    # every run here cross chunks, where columns start, widen and gap.
    for module in (nexus, nexus_header):
        monkeypatch.setattr(module, "CHUNK", 2)


def leftovers(folder):
    return sorted(p.name for p in folder.iterdir() if p.name.endswith(".part"))


@pytest.mark.parametrize("what, values, dtype", [
    ("integers", ["1", "2", "3", "4", "5"], "int64"),
    ("floats, one whole", ["0.5", "1.0", "2.5", "3.5", "4.5"], "float64"),
    ("integers, then floats", ["100", "101", "102", "102.5", "1e-05"], "float64"),
    ("floats, then integers", ["0.5", "0.25", "0.125", "7", "-3"], "float64"),
    ("a whole float among integers", ["1", "2", "3", "4", "4.0"], "text"),
    ("an integer beyond 2^53 among floats", ["0.5", "0.5", "9007199254740993", "1", "2"],
     "text"),
    ("numbers, then text", ["1", "2.5", "3", "4", "007"], "text"),
    ("texts, then a longer one", ["a", "b;c", "\u00e9", "x\udcff", "long" * 10], "text"),
    ("one value", ["1.5"] * 5, "float64"),
    ("absent from some", ["1", None, "2", None, None], "int64"),
    ("one value, absent from some", [None, "x", None, "x", "x"], "object"),
    ("first in the last image", [None, None, None, None, "5"], "int64"),
])
def test_every_header_is_rebuilt_exactly(tmp_path, small_chunks, what, values, dtype):
    images = [{"entries": [("Title", "r\udcffn"), ("HS32C01", 10 * n), ("Key/%.", "k")]
               + ([("Probe", v)] if v is not None else []) + [("Last", n % 2)]}
              for n, v in enumerate(values)]
    source = write_run(tmp_path / "run.kvx", images)
    assert kvx.to_nexus(source, tmp_path / "run.nxs") == len(values)
    with h5py.File(tmp_path / "run.nxs", "r") as h5:
        for index, b in enumerate(kvx.open(source)):
            assert nexus.header(h5, index) == b.header, f"{what}: image {index}"
        column = h5["entry/header/Probe"]
        if dtype == "text":  # rows of UTF-8 bytes
            assert column.dtype == np.uint8 and column.ndim == 2, what
        else:
            assert column.dtype == np.dtype(dtype), what
        assert h5["entry/header/HS32C01"].dtype == np.int64, "changing integers stay numbers"
        assert h5["entry/header/Title"].shape == (), "constant keys are stored once"
    assert leftovers(tmp_path) == []


def test_frames_axes_and_instrument_fields(tmp_path):
    common = [("Title", "gas run"), ("HMStartTime", "2012-01-01 10:00:00"), ("Dummy", 65535),
              ("SampleDistance", 5), ("PSize_2", "0.0002"),
              ("Center_1", 2), ("Center_2", "1.5"), ("WaveLength", "1e-10"),
              ("DetectorName", "DLD"), ("DataValueOffset", -2)]
    times = ["0.5", None, "1.5", "2"]
    sizes = ["0.0001", "n/a", "0.0001", "0.0003"]
    images = [{"entries": common + [("PSize_1", sizes[n])]
               + ([("HMDeltaTime", t)] if t else []),
               "values": [n, n + 1, 2, 3, 4, 65535]} for n, t in enumerate(times)]
    source = write_run(tmp_path / "run.kvx", images)
    kvx.to_nexus([source], tmp_path / "run.nxs", compression="gzip:1")
    with h5py.File(tmp_path / "run.nxs", "r") as h5:
        frames = h5["entry/data/data"]
        expected = np.stack([b.data for b in kvx.open(source)])
        np.testing.assert_array_equal(frames[()], expected)
        assert frames.dtype == np.int64 and frames.chunks == (1, 2, 3), "true values"
        assert frames.compression == "gzip" and frames.attrs["compression"] == "gzip:1"
        assert frames.attrs["dummy"] == 65535 and frames.attrs["_FillValue"] == 65535
        assert expected.min() == -2, "the offset is added"
        assert h5["entry/data/image_number"][()].tolist() == [1, 2, 3, 4]
        assert h5["entry/data/time"][()].tolist() == [0, 0.5, 0.5, 2.0]
        detector = h5["entry/instrument/detector"]
        assert detector["count_time"][()].tolist() == [0.5, 0, 1.5, 2]
        found = {name: (detector[name][()], detector[name].attrs["units"])
                 for name in ("distance", "x_pixel_size", "y_pixel_size", "beam_center_x",
                              "beam_center_y", "count_time")}
        assert found["distance"] == (5.0, "m") and found["y_pixel_size"] == (0.0002, "m")
        assert found["beam_center_y"] == (1.5, "pixel") and found["count_time"][1] == "s"
        np.testing.assert_array_equal(detector["x_pixel_size"][()], [1e-4, np.nan, 1e-4, 3e-4],
                                      err_msg="a changing text key as numbers")
        assert h5["entry/instrument/monochromator/wavelength"][()] == 1e-10
        assert h5["entry/instrument/monochromator"].attrs["NX_class"] == "NXmonochromator"
        assert detector["data"] == frames, "the detector's data link to the frames"
        assert h5["entry/start_time"][()] == b"2012-01-01T10:00:00"
        assert h5["entry/title"][()] == b"gas run"


def follow_default_plot(h5):
    """The signal and its axes, found as generic NeXus viewers find them."""
    entry = h5[h5.attrs["default"]]
    assert entry.attrs["NX_class"] == "NXentry"
    data = entry[entry.attrs["default"]]
    assert data.attrs["NX_class"] == "NXdata"
    signal = data[data.attrs["signal"]]
    axes = [str(a) for a in data.attrs["axes"]]
    assert len(axes) == signal.ndim
    for dimension, name in enumerate(axes):
        if name != ".":
            assert data.attrs[f"{name}_indices"] == dimension
            assert data[name].shape == (signal.shape[dimension],), name
    return signal, axes


@pytest.mark.parametrize("compression, method", [("none", None), ("gzip", "gzip"),
                                                 ("lzf", "lzf")])
def test_the_default_plot_chain(tmp_path, compression, method):
    source = write_run(tmp_path / "run.kvx", [{"entries": [("Dummy", -1)]}] * 3)
    kvx.to_nexus(source, tmp_path / "run.nxs", compression=compression)
    with h5py.File(tmp_path / "run.nxs", "r") as h5:
        signal, axes = follow_default_plot(h5)
        assert signal.shape == (3, 2, 3) and axes == ["image_number", ".", "."]
        assert signal.compression == method and "time" not in h5["entry/data"]
        assert signal.attrs["dummy"] == -1 and "_FillValue" not in signal.attrs, \
            "no fill value that the frames' type cannot hold"


def run_command(*args, env=None, preexec_fn=None):
    return subprocess.run([sys.executable, "-m", "kvx.nexus", *map(str, args)],
                          capture_output=True, text=True, preexec_fn=preexec_fn,
                          env={**os.environ, "PYTHONPATH": PYTHON_PATH, **(env or {})})


REFUSALS = [
    ("a damaged file among several", [{}], block(9)[:-1], [],
     "b.kvx: block at byte 0: binary section beyond the end of the file"),
    ("a missing file among several", [{}], None, [], "No such file or directory: "),
    ("a size that changes", [{}], block(9, values=(1, 2), dims=(2, 1)), [],
     r"image 9: 2 x 1 uint16 differs from the first image's 3 x 2 uint16"),
    ("a type that changes", [{}], block(9, values=range(6), data_type="UnsignedByte"), [],
     "image 9: 3 x 2 uint8 differs"),
    ("keys in another order", [{"entries": [("A", 1), ("B", 2)]}],
     block(9, [("B", 2), ("A", 1)]), [],
     "image 9: its header keys stand in another order than in the images before it "
     "('A' before 'B' there)"),
    ("an image key that is no number", [{}], block("x"), [], "image x: the image key is no"),
    ("an unknown compression", [{}], b"", ["--compression", "gzip:10"],
     "unknown compression 'gzip:10'"),
    ("no images", [], b"", [], "no images to export"),
]


@pytest.mark.parametrize("what, images, second, options, message", REFUSALS,
                         ids=[row[0] for row in REFUSALS])
def test_refusals_leave_nothing_behind(tmp_path, capsys, what, images, second, options,
                                       message):
    first = write_run(tmp_path / "a.kvx", images)
    if second is not None:
        (tmp_path / "b.kvx").write_bytes(second)
    assert nexus.main([str(first), str(tmp_path / "b.kvx"), "-o", str(tmp_path / "out.nxs"),
                       *options]) == 1, what
    error = capsys.readouterr().err
    assert message in error and error.count("\n") == 1, (what, error)
    assert not (tmp_path / "out.nxs").exists() and leftovers(tmp_path) == [], what


def test_an_existing_output_is_kept_unless_overwritten(tmp_path, capsys):
    source = write_run(tmp_path / "run.kvx", [{}])
    out = tmp_path / "run.nxs"
    out.write_bytes(b"precious")
    assert nexus.main([str(source), "-o", str(out)]) == 1
    assert "exists" in capsys.readouterr().err and out.read_bytes() == b"precious"
    assert nexus.main([str(source), "-o", str(out), "--overwrite"]) == 0
    assert nexus.header(out, 0) == kvx.open(source)[0].header
    assert leftovers(tmp_path) == []
    kept = source.read_bytes()
    assert nexus.main([str(source), "-o", str(source), "--overwrite"]) == 1
    assert "one of the inputs" in capsys.readouterr().err and source.read_bytes() == kept


def test_an_interrupt_removes_the_partial_file(tmp_path, capsys, monkeypatch):
    source = write_run(tmp_path / "run.kvx", [{}, {}])
    (tmp_path / "run.nxs").write_bytes(b"precious")
    add = nexus._Export.add

    def interrupted(self, f, block):
        if self.count:
            raise KeyboardInterrupt
        add(self, f, block)

    monkeypatch.setattr(nexus._Export, "add", interrupted)
    assert nexus.main([str(source), "-o", str(tmp_path / "run.nxs"), "--overwrite"]) == 130
    assert "interrupted" in capsys.readouterr().err
    assert (tmp_path / "run.nxs").read_bytes() == b"precious" and leftovers(tmp_path) == []


def test_a_full_disk_removes_the_partial_file(tmp_path):
    import resource
    import signal

    source = write_run(tmp_path / "run.kvx", [{"values": range(6)}] * 200)

    def small_files():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))

    done = run_command(source, "-o", tmp_path / "out.nxs", preexec_fn=small_files)
    assert done.returncode == 1 and done.stderr.count("\n") == 1, done.stderr
    assert not (tmp_path / "out.nxs").exists() and leftovers(tmp_path) == []


def test_without_h5py_the_package_works_and_the_export_names_it(tmp_path):
    source = write_run(tmp_path / "run.kvx", [{}])
    code = ("import sys; sys.modules['h5py'] = None; import kvx, kvx.nexus; "
            "assert len(kvx.open(sys.argv[1])) == 1; "
            "sys.exit(kvx.nexus.main([sys.argv[1], '-o', sys.argv[2]]))")
    done = subprocess.run([sys.executable, "-c", code, source, tmp_path / "out.nxs"],
                          capture_output=True, text=True,
                          env={**os.environ, "PYTHONPATH": PYTHON_PATH})
    assert done.returncode == 1 and "python3-h5py" in done.stderr, done.stderr


def test_reference_tools_read_the_export(tmp_path):
    tools = ["nxdir", "nxsummary", "nxtraverse", "h5ls"]
    if not all(shutil.which(t) for t in tools):
        pytest.skip("nexus-tools and hdf5-tools are not installed")
    entries = [("Title", "tools run"), ("SampleDistance", 5), ("WaveLength", "1e-10"),
               ("HMDeltaTime", "0.5")]
    # Twenty images: that NeXus library fails on arrays of strings of this
    # length, which a changing text key would make.
    source = write_run(tmp_path / "run.kvx", [
        {"entries": entries + [("HeaderID", f"EH:{n:06d}:000000:000000")]} for n in range(20)])
    out = tmp_path / "run.nxs"
    kvx.to_nexus(source, out)
    listings = {}
    for command in (["nxdir", "-p", "/entry/header", str(out)], ["nxsummary", str(out)],
                    ["nxtraverse", "-f", str(out)], ["h5ls", "-r", str(out)]):
        done = subprocess.run(command, capture_output=True, text=True)
        assert done.returncode == 0 and "ERROR" not in done.stdout + done.stderr, (command, done)
        listings[command[0]] = done.stdout
    assert "tools run" in listings["nxsummary"]
    for path in ("/entry/data/data", "/entry/data/image_number", "/entry/data/time",
                 "/entry/instrument/detector/distance", "/entry/instrument/detector/count_time",
                 "/entry/instrument/monochromator/wavelength", "/entry/header/HMDeltaTime"):
        assert path in listings["nxtraverse"] and path in listings["h5ls"], path

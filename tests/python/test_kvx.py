"""The kvx package against files that the C++ library wrote in this run
(kvx_samples, named by $KVX_SAMPLES), and against damaged and hand-made
files."""

import json
import os
import shutil
import signal
import subprocess
import sys
import zipfile
import zlib

import numpy as np
import pytest

import kvx


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    program = os.environ.get("KVX_SAMPLES")
    if not program:
        pytest.skip("KVX_SAMPLES names no sample writer (ctest sets it)")
    folder = tmp_path_factory.mktemp("samples")
    subprocess.run([program, str(folder)], check=True)
    expected = json.loads((folder / "expected.json").read_text())
    return folder, expected["files"]


def sample_copy(samples, tmp_path, name="types.kvx"):
    path = tmp_path / name
    shutil.copy(samples[0] / name, path)
    return path


def test_blocks_headers_and_values_match_the_library(samples):
    folder, files = samples
    for expected in files:
        f = kvx.open(folder / expected["name"])
        assert len(f) == len(expected["blocks"]), expected["name"]
        defaults = {k: v for k, v in (f.general or {}).items() if not k.startswith("KVX_")}
        assert defaults == dict(expected["defaults"]), "general block of " + expected["name"]
        for block, want in zip(f, expected["blocks"]):
            where = f"{expected['name']} image {want['key']}.{want['chain']}"
            for field in ("key", "chain", "header_pos", "header_size", "binary_pos",
                          "binary_size"):
                assert getattr(block, field) == want[field], f"{where}: {field}"
            assert list(block.header.items()) == [tuple(e) for e in want["header"]], where
            check_data(block, want, where)


def check_data(block, want, where):
    if not want["dims"]:
        with pytest.raises(kvx.FormatError, match="no Dim_1"):
            block.data
        return
    assert block.dims == tuple(want["dims"]), where
    if want["values"] is None:
        with pytest.raises(kvx.UnsupportedError, match=want["type"]):
            block.data
        return
    stored = block.stored
    assert stored.shape == tuple(reversed(want["dims"])), where
    assert stored.dtype == np.dtype(want["dtype"]), where
    assert stored.flags.writeable, where
    expected = np.array(want["values"], dtype=stored.dtype).reshape(stored.shape)
    np.testing.assert_array_equal(stored, expected, err_msg=where)
    offset = block.value_offset
    true = expected.astype(np.int64) + offset if offset else expected
    np.testing.assert_array_equal(block.data, true, err_msg=where)


def test_layout_details(samples):
    f = kvx.open(samples[0] / "layout.kvx")
    first = f.image(1)
    assert first.value_offset == -5
    assert first.header["Title"].endswith("\nnext line"), "continuation keys joined"
    assert first.value("title") == first.header["Title"], "keys found without regard to case"
    assert f.image(-3, "Image.Error").data.shape == (2, 3, 4)


def replace_in_header(content, at, old, new):
    """`content` with `old` at `at` replaced by `new`; the padding of that
    header makes up for a change in length."""
    end = content.index(b"\r\n}\n", at)
    grow = len(new) - len(old)
    padding = content[at + len(old):end]
    padding = padding[:len(padding) - grow] if grow > 0 else padding + b" " * -grow
    return content[:at] + new + padding + content[end:]


F, U = kvx.FormatError, kvx.UnsupportedError
DAMAGES = [
    # (what, bytes replaced (old, new), cut the file to this many bytes,
    #  image whose data are read (None: the open fails), error, message)
    ("unknown data type", (b"DataType = UnsignedByte ;", b"DataType = UnsignedBite ;"), None, 1,
     F, "unknown data type"),
    ("unknown byte order", (b"ByteOrder = LowByteFirst ;", b"ByteOrder = LowBiteFirst ;"),
     None, 1, F, "unknown byte order"),
    ("unknown compression", (b"Compression = GzipCompression ;", b"Compression = Gzip2 ;"),
     None, 2, F, "unknown compression"),
    ("image larger than its binary section", (b"Dim_1 = 40 ;", b"Dim_1 = 90 ;"), None, 1,
     F, "hold 1536 of the image's 2700 bytes"),
    ("compressed image larger than its data", (b"Dim_1 = 40 ;", b"Dim_1 = 90 ;"), None, 2,
     F, "shorter than the image's 2700"),
    ("compressed data larger than the image", (b"Dim_1 = 40 ;", b"Dim_1 = 10 ;"), None, 2,
     F, "more than the image's 300"),
    ("compressed image larger than the cap", (b"Dim_1 = 40 ;", b"Dim_1 = 999999999999999999 ;"),
     None, 2, U, "larger than the limit of 268435456 bytes"),
    ("dimension that is no number", (b"Dim_2 = 30 ;", b"Dim_2 = 3x ;"), None, 1, F, "not a size"),
    ("negative dimension", (b"Dim_2 = 30 ;", b"Dim_2 = 2-3 ;"), None, 1, F, "negative"),
    ("dimension needing the C++ reader", (b"Dim_2 = 30 ;", b"Dim_2 = sqrt(4) ;"), None, 1, U,
     "function call needs the C\\+\\+ reader"),
    ("offset that is no decimal number", (b"DataType", b"DataValueOffset = 0x10 ;\r\nDataType"),
     None, 1, F, "not a decimal number"),
    ("shape numpy cannot hold", (b"Dim_1 = 40 ;", b"Dim_1 = 1 ;\r\n" + b"".join(
        b"Dim_%d = 1 ;\r\n" % n for n in range(3, 70))), None, 1, U, "no numpy array"),
    ("file cut inside a binary section", None, -100, None, F, "beyond the end of the file"),
    ("bytes behind the last block", None, +3, None, F, "expecting the end of the file"),
]


@pytest.mark.parametrize("what, change, cut, image, error, message", DAMAGES,
                         ids=[d[0] for d in DAMAGES])
def test_damage_raises_a_clear_error(samples, tmp_path, what, change, cut, image, error, message):
    path = sample_copy(samples, tmp_path)
    content = path.read_bytes()
    if change:
        # Only the first block that holds the text: the rest stay whole.
        start = content.index(b"KVX_DataBlockID = %d.Image.Psd" % image)
        content = replace_in_header(content, content.index(change[0], start), *change)
    if cut is not None:
        content = content[:cut] if cut < 0 else content + b"xyz"[:cut]
    path.write_bytes(content)
    with pytest.raises(error, match=message):
        kvx.open(path).image(image).data if image else kvx.open(path)


def test_damaged_compressed_stream(samples, tmp_path):
    path = sample_copy(samples, tmp_path)
    block = kvx.open(path).image(2)
    content = bytearray(path.read_bytes())
    content[block.binary_pos + 20:block.binary_pos + 40] = b"\xff" * 20
    path.write_bytes(bytes(content))
    with pytest.raises(kvx.FormatError, match="damaged"):
        kvx.open(path).image(2).data


def test_partial_keeps_the_blocks_before_a_damaged_one(samples, tmp_path):
    path = sample_copy(samples, tmp_path)
    whole = kvx.open(path)
    path.write_bytes(path.read_bytes()[:whole[10].binary_pos + 1])
    f = kvx.open(path, partial=True)
    assert [b.key for b in f] == [b.key for b in whole[:10]]
    assert "block at byte %d" % whole[10].header_pos in f.defect
    np.testing.assert_array_equal(f[9].data, whole[9].data)


@pytest.mark.parametrize("content, error", [(b"", None), (b"\r\n", None),
                                            (b"\x89PNG\r\n", "header start")])
def test_files_without_blocks(tmp_path, content, error):
    path = tmp_path / "none.kvx"
    path.write_bytes(content)
    if error is None:
        assert len(kvx.open(path)) == 0
    else:
        with pytest.raises(kvx.FormatError, match=error):
            kvx.open(path)


def external_block(name, position=4):
    """A block whose three unsigned bytes lie in the file `name`."""
    entries = (f"{{\r\nKVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\n"
               f"KVX_BinaryFileName = {name} ;\r\nKVX_BinaryFilePosition = {position} ;\r\n"
               f"Dim_1 = 3 ;\r\nDataType = UnsignedByte ;\r\n").encode()
    return entries + b" " * (512 - len(entries) - 4) + b"\r\n}\n"


@pytest.mark.parametrize("name, inside", [
    ("data.bin", True),
    ("sub/data.bin", True),
    ("../outside.bin", False),
    ("{outside}", False),
    ("link.bin", False),
])
def test_separate_binary_files(tmp_path, name, inside):
    folder = tmp_path / "run"
    (folder / "sub").mkdir(parents=True)
    for where in (folder / "data.bin", folder / "sub" / "data.bin", tmp_path / "outside.bin"):
        where.write_bytes(b"skip\x01\x02\x03")
    (folder / "link.bin").symlink_to(tmp_path / "outside.bin")
    name = name.format(outside=tmp_path / "outside.bin")
    path = folder / "ext.kvx"
    path.write_bytes(external_block(name))
    if inside:
        assert kvx.open(path)[0].data.tolist() == [1, 2, 3]
    else:
        with pytest.raises(kvx.UnsafePathError, match="allow_outside"):
            kvx.open(path)[0].data
    assert kvx.open(path, allow_outside=True)[0].data.tolist() == [1, 2, 3]


def test_separate_binary_file_needs_a_position(tmp_path):
    path = tmp_path / "ext.kvx"
    path.write_bytes(external_block("data.bin").replace(b"KVX_BinaryFilePosition",
                                                        b"KVX_BinaryFilePlace   "))
    with pytest.raises(kvx.FormatError, match="requires KVX_BinaryFilePosition"):
        kvx.open(path)


def block_bytes(entries, data=b"", pad_to=512):
    """One block: a header of `entries` (key, value) padded to `pad_to`
    bytes, then `data`."""
    text = "{\r\n" + "".join(f"{key} = {value} ;\r\n" for key, value in entries)
    raw = text.encode()
    return raw + b" " * max(pad_to - len(raw) - 4, 0) + b"\r\n}\n" + data


def u1_block(number, values, extra=()):
    return block_bytes([("KVX_DataBlockID", f"{number}.Image.Psd"),
                        ("KVX_BinarySize", len(values)), ("Dim_1", len(values)),
                        ("DataType", "UnsignedByte"), *extra], bytes(values))


@pytest.mark.parametrize("text, value", [
    ("2*3", 6), (" 7/2 ", 3), ("-7/2", -3), ("-7%3", -1), ("7%(0-3)", 1), ("(1+2)*(3)", 9),
    ("65536*65536", 0), ("2147483647+1", -2147483648), ("99999999999", 2147483647),
    ("TRUE+yes", 2), ("No", 0), ("--1", kvx.UnsupportedError), ("pi", kvx.UnsupportedError),
    ("(round)2.5", kvx.UnsupportedError), ("sqrt(4)", kvx.UnsupportedError),
    ("2 * 3", kvx.FormatError), ("1e3", kvx.FormatError), ("0x10", kvx.FormatError),
    ("1/0", kvx.FormatError), ("(-2147483647-1)/(-1)", kvx.FormatError), ("(2", kvx.FormatError),
    ("2)", kvx.FormatError), ("(" * 199 + "1" + ")" * 199, 1), ("(" * 200 + "1" + ")" * 200,
                                                                   kvx.FormatError),
])
def test_dimension_expressions(tmp_path, text, value):
    path = tmp_path / "dims.kvx"
    path.write_bytes(block_bytes([("KVX_DataBlockID", "1.Image.Psd"), ("KVX_BinarySize", 0),
                                  ("Dim_1", 1), ("Dim_2", text)]))
    block = kvx.open(path)[0]
    if isinstance(value, int) and value >= 0:
        assert block.dims == (1, value)
    else:
        with pytest.raises(value if not isinstance(value, int) else kvx.FormatError,
                           match=None if not isinstance(value, int) else "negative"):
            block.dims


@pytest.mark.parametrize("data_type, stored, offset, dtype, true", [
    ("UnsignedByte", b"\x00\x7f", "1000", "i8", [1000, 1127]),
    ("UnsignedByte", b"\x00\x7f", " -1e1 ", "i8", [-10, 117]),
    ("UnsignedByte", b"\x00\x7f", "0.5", "f8", [0.5, 127.5]),
    ("UnsignedByte", b"\x00\x7f", "0", "u1", [0, 127]),
    ("FloatValue", b"\x00\x00\xc0\x3f" * 2, "1", "f8", [2.5, 2.5]),
    ("Unsigned64", b"\xff" * 16, "1", None, kvx.UnsupportedError),
    ("UnsignedByte", b"\x00\x7f", "nan", None, kvx.FormatError),
    ("UnsignedByte", b"\x00\x7f", "1e999", None, kvx.FormatError),
    ("UnsignedByte", b"\x00\x7f", "1e-999", None, kvx.FormatError),
    ("UnsignedByte", b"\x00\x7f", ".5", None, kvx.FormatError),
    ("UnsignedByte", b"\x00\x7f", "1.", None, kvx.FormatError),
])
def test_true_values_add_the_offset(tmp_path, data_type, stored, offset, dtype, true):
    path = tmp_path / "offset.kvx"
    path.write_bytes(block_bytes([("KVX_DataBlockID", "1.Image.Psd"),
                                  ("KVX_BinarySize", len(stored)), ("Dim_1", 2),
                                  ("DataType", data_type), ("ByteOrder", "LowByteFirst"),
                                  ("DataValueOffset", offset)], stored))
    block = kvx.open(path)[0]
    if dtype is None:
        with pytest.raises(true):
            block.data
        return
    assert block.data.dtype == np.dtype(dtype) and block.dtype == np.dtype(dtype)
    assert block.data.tolist() == true
    assert block.stored.tobytes() == (stored if data_type != "FloatValue"
                                      else np.frombuffer(stored, "<f4").tobytes())


@pytest.mark.parametrize("ids, keys", [
    ([(), ()], ["1", "2"]),
    ([(("Image", "2"),), ()], ["2", "3"]),
    ([(), (("Image", "1"),)], ["1", "1"]),
    ([(("Image", "+02"),), ()], ["+02", "3"]),
    ([(("HeaderID", "EH:000012:000000:000000"),), ()], ["12", "2"]),
    ([(("Image", "x" * 80),)], ["x" * 64]),
    ([(("Image", "\u00e9" * 40),)], ["\u00e9" * 32]),
    ([(("KVX_DataBlockID", "2.IMAGE.psd"),), (("KVX_DataBlockID", "3.Other"),), ()],
     ["2.IMAGE.psd", "3.Other", "3.IMAGE.psd"]),
    ([(("KVX_DataBlockID", "007.Image.Psd"),), (("KVX_DataBlockID", "+7.Image.Psd"),)],
     ["007.Image.Psd", "007.Image.Psd"]),
])
def test_block_keys_and_numbers_as_the_library_gives_them(tmp_path, ids, keys):
    path = tmp_path / "old.kvx"
    path.write_bytes(b"".join(block_bytes([*entries, ("Dim_1", 0)]) for entries in ids))
    assert [f"{b.key}.{b.chain}" if "." in keys[0] else b.key for b in kvx.open(path)] == keys


def test_the_image_cap_and_incremental_inflation_bound_memory(tmp_path):
    # The two bombs: 1 GiB of zeros in 1 MB, refused by the cap before
    # anything is inflated; and 256 MiB of zeros behind an image of 12
    # bytes, a sparse binary section of 3 GiB behind an image of 12 bytes.
    # Both are refused while the reader stays small.
    squeeze = zlib.compressobj(9, zlib.DEFLATED, 31)
    zeros = b"".join(squeeze.compress(bytes(1 << 20)) for _ in range(256)) + squeeze.flush()
    gzip_block = [("Dim_2", 3), ("DataType", "UnsignedInteger"),
                  ("Compression", "GzipCompression")]
    (tmp_path / "big.kvx").write_bytes(block_bytes(
        [("KVX_DataBlockID", "1.Image.Psd"), ("KVX_BinarySize", len(zeros)), ("Dim_1", 16384),
         ("Dim_2", 16384), *gzip_block[1:]], zeros))
    (tmp_path / "long.kvx").write_bytes(block_bytes(
        [("KVX_DataBlockID", "1.Image.Psd"), ("KVX_BinarySize", len(zeros)), ("Dim_1", 1),
         *gzip_block], zeros))
    sparse = tmp_path / "sparse.kvx"
    sparse.write_bytes(block_bytes([("KVX_DataBlockID", "1.Image.Psd"),
                                    ("KVX_BinarySize", 3221225472), ("Dim_1", 4), *gzip_block]))
    os.truncate(sparse, 512 + 3221225472)
    script = """if True:
        import resource, sys, time, kvx
        for name, cap in (("big.kvx", 1 << 28), ("long.kvx", 1 << 40), ("sparse.kvx", 1 << 40)):
            start = time.monotonic()
            try:
                kvx.open(name, max_image_bytes=cap)[0].data
                sys.exit(name + " read")
            except kvx.KvxError as failure:
                print(type(failure).__name__, round(time.monotonic() - start, 1), failure)
        print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
    """
    package = os.path.dirname(os.path.dirname(os.path.abspath(kvx.__file__)))
    done = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, capture_output=True,
                          text=True, check=True, env={**os.environ, "PYTHONPATH": package})
    lines = done.stdout.splitlines()
    assert "larger than the limit" in lines[0] and "UnsupportedError" in lines[0], lines
    assert "more than the image's 12 bytes" in lines[1], lines
    assert "damaged" in lines[2] and float(lines[2].split()[1]) < 5, lines
    assert int(lines[3]) < 64 + 64, f"peak memory {lines[3]} MiB"


@pytest.mark.parametrize("name, position, error, message", [
    ("fifo", 4, kvx.FormatError, "not a regular file"),
    ("fifo-link", 4, kvx.FormatError, "not a regular file"),
    ("data.bin/", 4, kvx.FormatError, "Not a directory"),
    ("data.bin\0x", 4, kvx.UnsafePathError, "zero byte"),
    ("/dev/zero", 4, kvx.FormatError, "not a regular file"),
    ("data.bin", (1 << 64) - 1, kvx.FormatError, "hold 0 of the image's 3 bytes"),
])
def test_binary_files_that_are_refused_at_once(tmp_path, name, position, error, message):
    os.mkfifo(tmp_path / "fifo")
    (tmp_path / "fifo-link").symlink_to(tmp_path / "fifo")
    (tmp_path / "data.bin").write_bytes(b"skip\x01\x02\x03")
    path = tmp_path / "ext.kvx"
    path.write_bytes(external_block(name, position))
    signal.alarm(10)  # a read that waits on the FIFO fails the test
    try:
        with pytest.raises(error, match=message):
            kvx.open(path, allow_outside=True)[0].data
    finally:
        signal.alarm(0)


def test_a_fifo_is_no_kvx_file(tmp_path):
    os.mkfifo(tmp_path / "f")
    signal.alarm(10)
    try:
        with pytest.raises(kvx.FormatError, match="not a regular file"):
            kvx.open(tmp_path / "f")
    finally:
        signal.alarm(0)


def test_the_wheel_holds_the_licence_and_the_type_marker(tmp_path):
    # Built offline from a copy, as the README's recipe builds it; the copy
    # keeps build files out of the source tree and resolves the LICENSE link.
    source = os.path.join(os.path.dirname(__file__), "..", "..", "python")
    shutil.copytree(source, tmp_path / "src")
    subprocess.run([sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps",
                    "--no-index", "-q", "-w", str(tmp_path / "out"), str(tmp_path / "src")],
                   check=True, capture_output=True)
    names = zipfile.ZipFile(next((tmp_path / "out").glob("kvx-*.whl"))).namelist()
    assert "kvx/py.typed" in names and "kvx-1.0.dist-info/LICENSE" in names, names


@pytest.mark.parametrize("second_key, message", [
    # Not KVX_BinarySize: a key that is no format key never stands for one,
    # whatever its comparison text; the size then comes from Dim_1 (3 bytes).
    (b"KV\x98X_BinarySize = 0", "beyond the end of the file"),
    (b"KVX_BinarySize = 0 ;\r\nTi\0tle = x", "has no '='"),
    # No stated size: the dimensions give it, counted in 64 bits.
    (b"Dim_2 = 18446744073709551615", "pass 2\\^64"),
])
def test_keys_of_the_walk_read_as_the_library_reads_them(tmp_path, second_key, message):
    # The second block: the first header of a file is read whole.
    path = tmp_path / "keys.kvx"
    text = (b"{\r\nKVX_DataBlockID = 2.Image.Psd ;\r\n" + second_key
            + b" ;\r\nDim_1 = 3 ;\r\nDataType = UnsignedByte ;\r\n")
    path.write_bytes(u1_block(1, [0] * 512) + text + b" " * (508 - len(text)) + b"\r\n}\n")
    with pytest.raises(kvx.FormatError, match=message):
        kvx.open(path)


def test_a_link_swapped_after_the_check_is_refused(tmp_path, monkeypatch):
    (tmp_path / "run").mkdir()
    (tmp_path / "run" / "data.bin").write_bytes(b"skip\x01\x02\x03")
    (tmp_path / "outside.bin").write_bytes(b"skip\x07\x08\x09")
    link = tmp_path / "run" / "link.bin"
    link.symlink_to("data.bin")
    checked = kvx.File._binary_path

    def check_then_swap(self, name):
        found = checked(self, name)
        link.unlink()
        link.symlink_to(tmp_path / "outside.bin")
        return found

    monkeypatch.setattr(kvx.File, "_binary_path", check_then_swap)
    path = tmp_path / "run" / "ext.kvx"
    path.write_bytes(external_block("link.bin"))
    with pytest.raises(kvx.UnsafePathError, match="changed while it was opened"):
        kvx.open(path)[0].data


GENERAL = [("KVX_DataFormatVersion", "2.00"), ("KVX_BinarySize", 0)]


@pytest.mark.parametrize("general, entries, check", [
    # A key given twice keeps its first spelling, its last value and place.
    ([], [("Aa", 1), ("Bb", 2), ("AA", 3)], lambda b: list(b.header)[-2:] == ["Bb", "Aa"]
     and b.header["Aa"] == "3"),
    # Names are looked up as C strings: a zero byte ends them.
    ([], [("ByteOrder", "H\0ighByteFirst")], kvx.FormatError),
    ([], [("DataType", "Unsigned\0Byte")], kvx.FormatError),
    # The general block's binary file entry is checked like any block's.
    (GENERAL + [("KVX_BinaryFileName", "data.bin")], [], kvx.FormatError),
])
def test_headers_read_as_the_library_reads_them(tmp_path, general, entries, check):
    path = tmp_path / "h.kvx"
    path.write_bytes((block_bytes(general) if general else b"") + block_bytes(
        [("KVX_DataBlockID", "1.Image.Psd"), ("KVX_BinarySize", 0), ("Dim_1", 0), *entries]))
    if isinstance(check, type):
        with pytest.raises(check):
            kvx.open(path)[0].data
    else:
        assert check(kvx.open(path)[0])


def test_a_pass_over_a_long_run_keeps_few_headers_decoded(tmp_path):
    path = tmp_path / "run.kvx"
    path.write_bytes(b"".join(u1_block(n, [n % 256], [("Title", f"frame {n}")])
                              for n in range(1, 201)))
    f = kvx.open(path)
    assert [b.value("Title") for b in f] == [f"frame {n}" for n in range(1, 201)]
    assert len(f._decoded) <= 64, "every decoded header of the run was kept"
    assert f[0].header["Title"] == "frame 1", "a header dropped from memory reads back"

"""The kvx package against files that the C++ library wrote in this run
(kvx_samples, named by $KVX_SAMPLES), and against damaged and hand-made
files."""

import json
import os
import shutil
import subprocess

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
    data = block.data
    assert data.shape == tuple(reversed(want["dims"])), where
    assert data.dtype == np.dtype(want["dtype"]), where
    assert data.flags.writeable, where
    expected = np.array(want["values"], dtype=data.dtype).reshape(data.shape)
    np.testing.assert_array_equal(data, expected, err_msg=where)


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
    ("compressed image larger than memory", (b"Dim_1 = 40 ;", b"Dim_1 = 999999999999999999 ;"),
     None, 2, F, "more than this machine can hold"),
    ("dimension that is no number", (b"Dim_2 = 30 ;", b"Dim_2 = 3x ;"), None, 1, F, "not a size"),
    ("shape numpy cannot hold", (b"Dim_1 = 40 ;", b"Dim_1 = 0 ;\r\nDim_3 = 1%s ;" % (b"0" * 19)),
     None, 1, U, "no numpy array"),
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

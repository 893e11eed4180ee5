"""Header values as numbers: Block.number and kvx.table."""

import math

import numpy as np
import pytest

import kvx
from kvx import _header as hdr
from kvx import _table


def block(number, entries=b"", chain="Image.Psd"):
    """A block without data: the id, then `entries` (header lines)."""
    text = b"{\r\nKVX_DataBlockID = %d.%s ;\r\nKVX_BinarySize = 0 ;\r\nDim_1 = 0 ;\r\n%s" % (
        number, chain.encode(), entries)
    return text + b" " * max(1020 - len(text), 0) + b"\r\n}\n"


def run(tmp_path, values, key="V", name="run.kvx"):
    """A file with one block per value of `key` (None: the key absent)."""
    path = tmp_path / name
    path.write_bytes(b"".join(block(n, b"" if v is None else f"{key} = {v} ;\r\n".encode())
                              for n, v in enumerate(values, 1)))
    return path


def test_number_reads_the_value_as_parse_number_does(tmp_path):
    # The forms themselves are the cases of test_numbers.py.
    value = kvx.open(run(tmp_path, ["007"]))[0].number("v")
    assert value == 7 and type(value) is int


def test_number_errors_name_the_place_and_keep_the_terminal_safe(tmp_path):
    b = kvx.open(run(tmp_path, ["1\x1b[2J"]))[0]
    with pytest.raises(KeyError):
        b.number("Absent")
    with pytest.raises(kvx.NotANumberError) as raised:
        b.number("V")
    assert isinstance(raised.value, ValueError) and isinstance(raised.value, kvx.KvxError)
    assert str(raised.value) == f"{tmp_path / 'run.kvx'}: image 1: V = '1\\x1b[2J' is not a number"


@pytest.mark.parametrize("values, dtype, expected", [
    (["1", "-2", "007", "+5", " 3 "], np.int64, [1, -2, 7, 5, 3]),
    (["1", "0.5", "1e3", ".5"], np.float64, [1, 0.5, 1000, 0.5]),
    (["1", None, "3"], np.float64, [1, math.nan, 3]),
    (["9223372036854775807", "-9223372036854775808"], np.int64, [2**63 - 1, -2**63]),
    (["9223372036854775808", "1"], np.float64, [2.0**63, 1]),
    (["1", "x"], None, 2), (["1", "1e999"], None, 2), (["1-2"], None, 1),
    (["5", "1" * 400], None, 2),
])
def test_table_column_types_and_non_numbers(tmp_path, values, dtype, expected):
    path = run(tmp_path, values)
    if dtype is None:
        with pytest.raises(kvx.NotANumberError, match=f": image {expected}: V = "):
            kvx.table(path, ["V"])
        return
    column = kvx.table(path, ["V"])["V"]
    assert column.dtype == dtype
    np.testing.assert_array_equal(column, np.array(expected, dtype=dtype))


def test_table_of_several_files(tmp_path):
    general = (b"{\r\nKVX_DataFormatVersion = 2.00 ;\r\nKVX_BinarySize = 0 ;\r\nGain = 4 ;"
               + b" " * 950 + b"\r\n}\n")
    first = tmp_path / "a.kvx"
    first.write_bytes(general + block(1, b"T = 0.5 ;\r\n") + block(1, b"T = 9 ;\r\n", "Image.Error")
                      + block(3, b"T = 1.5 ;\r\nGain = 2 ;\r\n"))
    second = run(tmp_path, ["7"], key="T", name="b.kvx")
    t = kvx.table([first, str(second)], ["T", "gain", "T"])
    assert list(t) == ["{file}", "{image}", "T", "gain"]
    assert t["{file}"].tolist() == [0, 0, 1] and t["{image}"].tolist() == [1, 3, 1]
    assert t["T"].tolist() == [0.5, 1.5, 7.0], "error-data blocks are no rows"
    assert t["gain"][:2].tolist() == [4, 2], "the general block's value where a header has none"
    assert math.isnan(t["gain"][2])
    damaged = tmp_path / "c.kvx"
    damaged.write_bytes(block(1)[:-10])
    with pytest.raises(kvx.FormatError, match="c.kvx"):
        kvx.table([first, damaged], ["T"])
    with pytest.raises(ValueError, match="identity column"):
        kvx.table(first, ["{image}"])
    # A file cut short after it was opened (a run being repaired).
    opened = kvx.open(second)
    second.write_bytes(second.read_bytes()[:100])
    with pytest.raises(kvx.FormatError, match="b.kvx: the header at byte 0 cannot be read"):
        _table._read_values(opened, list(opened), ["T"])


# Headers in and out of the writer's form: the fast reading of many headers
# must give what the general split gives, also from the second header of a
# layout on (read by a pattern made for it).
@pytest.mark.parametrize("entries", [
    b"A = 1 ;\r\nb = x y ;\r\nB = 2 ;\r\n", b"A = 1 ;\r\nB = 2 ;\r\nA = 3 ;\r\n",
    b"H S = 5 ;\r\n", b"A\t= 5 ;\r\n", b"X = 1 ;\r\nX~1 = 2 ;\r\n", b"#A = 9 ;\r\nB = 1 ;\r\n",
    b"A = 1 = 2 ;\r\n", b"A = a\\:b ;\r\n", b"A = \t 5 ;\r\n", b"A = " + b"7" * 600 + b" ;\r\n",
    b"A = " + b"7" * 510 + b"\\  ;\r\n", b"A=1 ;\r\nB = 2 ;\r\n", b"A = 1 ;\r\n\r\nB = 2 ;\r\n",
    b"A = 1;\r\nB = 2 ;\r\n", b"A = 1 ;B = 2 ;\r\n", b"KVX_A = 1 ;\r\nKV X_A = 2 ;\r\n",
    b"T\xc3\xa9 = 1 ;\r\nB = caf\xc3\xa9 ;\r\n", b"A = 1 ;\r\nB\r = 2 ;\r\n", b"A = x}y ;\r\n",
])
def test_fast_header_reading_agrees_with_the_general_split(tmp_path, entries):
    path = tmp_path / "h.kvx"
    path.write_bytes(b"".join(block(n, entries) for n in (1, 2, 3, 4)))
    f = kvx.open(path)
    keys = ["A", "a", "B", "HS", "X", "KVX_A", "KV X_A", "Dim_1", "T\u00e9"]
    for key in keys:
        column, = _table._read_values(f, list(f), [key])
        got = [hdr.stored_value(v) if isinstance(v, bytes) else v for v in column]
        assert got == [b.value(key) for b in f], key

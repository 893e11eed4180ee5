"""The two readings of a header value as a number."""

import pytest

from kvx._numbers import canonical_number, parse_number

CASES = [  # text, canonical_number, parse_number
    ("0", 0, 0), ("-12", -12, -12), ("9223372036854775807", 9223372036854775807, 9223372036854775807),
    ("9223372036854775808", None, 9223372036854775808), ("-0", None, 0), ("007", None, 7),
    ("+5", None, 5), (" 5", None, 5), ("0.5", 0.5, 0.5), ("100.0", 100.0, 100.0),
    ("1e-05", 1e-05, 1e-05), ("1.5e+20", 1.5e20, 1.5e20), ("1.50", None, 1.5), ("1e5", None, 1e5),
    ("1E3", None, 1000.0), (".5", None, 0.5), ("1.", None, 1.0), ("1e999", None, None),
    ("nan", None, None), ("inf", None, None), ("", None, None), ("0x10", None, None),
    ("1,5", None, None), ("1 2", None, None), ("٣", None, None),
]


@pytest.mark.parametrize("text,canonical,parsed", CASES)
def test_number_readings(text, canonical, parsed):
    for reading, expected in ((canonical_number, canonical), (parse_number, parsed)):
        value = reading(text)
        assert value == expected and type(value) is type(expected), (reading.__name__, text, value)

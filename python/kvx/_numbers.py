"""When a header value is a number.

Header values are text.  Three readings are offered:

canonical_number(text) -- the number only when the text is exactly how that
    number prints, so that turning it into a number loses nothing and the
    text can be rebuilt from the number: an integer without sign or leading
    zeros (or with "-"), within signed 64 bits, "-0" excepted; or a decimal
    that Python's repr() prints back unchanged ("0.5", "1e-05", "1.5e+20",
    "100.0").  "007", "+5", "1.50", "1E3", "1e5", " 5" and "nan" stay text.
    The JSON output of kvxinfo and the NeXus export use this rule.

parse_number(text) -- any decimal number, as a reader asking for a number
    expects: surrounding white space, a sign, leading zeros, a fraction and
    an exponent are allowed ("007" is 7, " 1.50 " is 1.5, "1E3" is 1000.0);
    an int when there is no fraction or exponent, else a float.  Not a
    number: None ("", "nan", "inf", "0x10", "1,5").

plain_decimal(text) -- the stricter form in which "DataValueOffset",
    "Dummy" and "DDummy" are read, by the C++ library and kvxinfo alike:
    white space, a sign, digits with an optional fraction of digits, an
    optional exponent; a finite double, or None (".5", "5.", "2*2" and
    values beyond a double's range are no such number).
"""

from __future__ import annotations

import math
import re
from typing import Optional, Union

Number = Union[int, float]

_INT64_MIN, _INT64_MAX = -(1 << 63), (1 << 63) - 1
_CANONICAL_INTEGER = re.compile(r"-?(?:0|[1-9][0-9]*)\Z")
_JSON_NUMBER = re.compile(r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?\Z")
_WHITE = " \t\r\n\f\v"
_ANY_INTEGER = re.compile(r"[+-]?[0-9]+\Z")
PLAIN_DECIMAL = re.compile(r"[ \t\r\n\f\v]*[+-]?([0-9]+(?:\.[0-9]+)?)(?:[eE][+-]?[0-9]+)?"
                           r"[ \t\r\n\f\v]*\Z")
_ANY_DECIMAL = re.compile(r"[+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?\Z")


def canonical_number(text: str) -> Optional[Number]:
    """The number that text prints exactly, or None if it is text."""
    if _CANONICAL_INTEGER.match(text):
        if text == "-0":
            return None
        value = int(text)
        return value if _INT64_MIN <= value <= _INT64_MAX else None
    if _JSON_NUMBER.match(text):
        decimal = float(text)
        if math.isfinite(decimal) and repr(decimal) == text:
            return decimal
    return None


def parse_number(text: str) -> Optional[Number]:
    """The number that text spells in any decimal form, or None."""
    body = text.strip(_WHITE)
    if _ANY_INTEGER.match(body):
        return int(body)
    if _ANY_DECIMAL.match(body):
        decimal = float(body)
        return decimal if math.isfinite(decimal) else None
    return None


def plain_decimal(text: str) -> Optional[float]:
    """The double that text spells in the plain decimal form, or None."""
    match = PLAIN_DECIMAL.match(text)
    if match is None:
        return None
    value = float(text)
    if not math.isfinite(value) or (value == 0 and match.group(1).strip("0.")):
        return None  # beyond the range of a double, or below its smallest
    return value

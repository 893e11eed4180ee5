"""Names of data types, byte orders and compressions, and key comparison."""

import numpy as np

# Data type code -> (header name, first alias, second alias, bytes, numpy
# kind).  A kind of None marks a type whose bit layout numpy has no
# equivalent for; such data are refused rather than misread.
DATA_TYPES = {
    1: ("UnsignedByte", "Unsigned8", "UnsignedByte", 1, "u1"),
    2: ("SignedByte", "Signed8", "SignedByte", 1, "i1"),
    3: ("UnsignedShort", "Unsigned16", "UnsignedShort", 2, "u2"),
    4: ("SignedShort", "Signed16", "SignedShort", 2, "i2"),
    5: ("UnsignedInteger", "Unsigned32", "UnsignedLong", 4, "u4"),
    6: ("SignedInteger", "Signed32", "SignedLong", 4, "i4"),
    7: ("Unsigned64", "Unsigned64", "Unsigned64", 8, "u8"),
    8: ("Signed64", "Signed64", "Signed64", 8, "i8"),
    9: ("FloatValue", "FloatIEEE32", "Float", 4, "f4"),
    10: ("DoubleValue", "DoubleIEEE64", "DoubleValue", 8, "f8"),
    11: ("UnAssigned", "UnAssigned", "UnAssigned", 0, None),
    12: ("UnAssigned", "UnAssigned", "UnAssigned", 0, None),
    13: ("FloatVAX32", "FloatVAX32", "FloatVAX32", 4, None),
    14: ("DoubleVAX64", "DoubleVAX64", "DoubleVAX64", 8, None),
    15: ("FloatConvex32", "FloatConvex32", "FloatConvex32", 4, None),
    16: ("DoubleConvex64", "DoubleConvex64", "DoubleConvex64", 8, None),
}
FLOAT_IEEE32 = 9
UNCOMPRESSED, GZIP, ZLIB = 1, 2, 3

_COMPRESSION_NAMES = [
    ("None", "UnCompressed", "NoSpecificValue"),
    ("GzipCompression", "GzipCompression", "Gzip"),
    ("ZCompression", "ZCompression", "Z"),
]
BYTE_ORDERS = {"LowByteFirst": "<", "HighByteFirst": ">"}


def comparison_text(name):
    """The text names and keys are compared by: upper case, and only the
    printable characters other than the space."""
    return "".join(c for c in name if "!" <= c <= "~").upper()


def _lookup_table(columns):
    table = {}
    # Later columns must not shadow earlier ones: fill from the last.
    for column in reversed(columns):
        for code, names in column:
            table[comparison_text(names)] = code
    return table


_DATA_TYPE_CODES = _lookup_table(
    [[(code, entry[i]) for code, entry in DATA_TYPES.items()] for i in range(3)]
)
_COMPRESSION_CODES = _lookup_table(
    [[(code, names[i]) for code, names in enumerate(_COMPRESSION_NAMES, 1)] for i in range(3)]
)
_BYTE_ORDER_CODES = {comparison_text(name): sign for name, sign in BYTE_ORDERS.items()}


def _c_text(name):
    # The C++ library looks names up as C strings: a zero byte ends them.
    return name.split("\0", 1)[0]


def data_type_code(name):
    """The code of a data type name or alias, or None."""
    return _DATA_TYPE_CODES.get(comparison_text(_c_text(name)))


def compression_code(name):
    """The code of a compression name or alias, or of the number 1, 2 or 3;
    None for anything else."""
    name = _c_text(name)
    code = _COMPRESSION_CODES.get(comparison_text(name))
    if code is None and name.strip().isdigit() and name.strip().isascii():
        number = int(name)
        code = number if UNCOMPRESSED <= number <= ZLIB else None
    return code


def byte_order_sign(name):
    """numpy's byte order character of a byte order name, or None."""
    return _BYTE_ORDER_CODES.get(comparison_text(_c_text(name)))


def numpy_dtype(code, order):
    """The numpy dtype of stored values of data type `code` in byte order
    `order` ("<", ">" or "=")."""
    return np.dtype(order + DATA_TYPES[code][4])

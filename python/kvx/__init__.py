"""Reading KVX image files into numpy.

    import kvx
    for block in kvx.open("run.kvx"):
        print(block.image, block.header["Title"], block.data.shape)

kvx.open(path) lists the data blocks in file order; each Block has its
header (a dict in file order), its image number and dimensions, .data,
the true values (stored values plus DataValueOffset) as a numpy array
indexed data[row, column] (Dim_2, Dim_1), and .stored, the values as
stored.  Images larger than max_image_bytes (256 MiB unless raised in
kvx.open) are refused.  block.number(key) reads a header value as a
number; kvx.table(paths, keys) gives the values of some keys over every
image of a run as numpy arrays, reading only the headers.

kvx.to_nexus(paths, out) writes a run as one NeXus/HDF5 file (kvx.nexus;
needs h5py).
"""

from ._block import Block
from ._errors import (FormatError, KvxError, NotANumberError, UnsafePathError,
                      UnsupportedError)
from ._file import File, open
from ._table import table

__all__ = ["open", "table", "File", "Block", "KvxError", "FormatError", "UnsupportedError",
           "UnsafePathError", "NotANumberError"]
__version__ = "1.0"


def to_nexus(paths, out, **options) -> int:
    """Writes the images of the KVX files `paths` as one NeXus/HDF5 file
    `out`; see kvx.nexus.to_nexus.  Needs h5py (python3-h5py)."""
    from .nexus import to_nexus as export
    return export(paths, out, **options)


__all__ += ["to_nexus"]

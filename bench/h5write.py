"""The baseline of the NeXus export's bench line: the seconds that h5py
takes to write the images of a KVX file that are already in memory, laid
out as the export lays them out (one chunk a frame, format 1.10), and to
have them on disk: the export syncs its file before giving it its name.

    python3 bench/h5write.py IN.kvx OUT.h5
"""

import os
import sys
import time

import h5py
import numpy as np

import kvx


def main(source, out):
    blocks = kvx.open(source)
    first = blocks[0]
    frames = np.empty((len(blocks),) + first.shape, first.dtype)
    for index, block in enumerate(blocks):
        frames[index] = block.data
    start = time.perf_counter()
    with h5py.File(out, "w", libver="v110") as h5:
        h5.create_dataset("data", data=frames, chunks=(1,) + first.shape)
    fd = os.open(out, os.O_RDONLY)
    os.fsync(fd)
    os.close(fd)
    print(f"{time.perf_counter() - start:.3f}")


if __name__ == "__main__":
    main(*sys.argv[1:])

"""The HDF5 file of an export as written to disk."""

from __future__ import annotations

import os


class GuardedFile:
    """The temporary file as HDF5 writes it, through this object.  The first
    failed write (a full disk) is kept and reported by check(); the writes
    after it are dropped, so that HDF5 never meets the error: a file that
    HDF5 fails to close leaves its objects in a state where freeing them
    crashes the process."""

    def __init__(self, path, name):
        self._file = open(path, "r+b", buffering=0)
        self._name = name
        self.failure = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._file.close()

    def check(self):
        if self.failure is not None:
            raise OSError(self.failure.errno, f"cannot write: {self.failure.strerror}",
                          self._name)

    def seek(self, pos, whence=os.SEEK_SET):
        return self._file.seek(pos, whence)

    def tell(self):
        return self._file.tell()

    def read(self, size=-1):
        return self._file.read(size)

    def readinto(self, buffer):
        return self._file.readinto(buffer)

    def write(self, data):
        if self.failure is None:
            try:
                written = self._file.write(data)
                if written is not None:
                    return written
            except OSError as failure:
                self.failure = failure
        size = memoryview(data).nbytes
        self._file.seek(size, os.SEEK_CUR)
        return size

    def truncate(self, size=None):
        if self.failure is None:
            try:
                return self._file.truncate(size)
            except OSError as failure:
                self.failure = failure
        return size

    def flush(self):
        pass


def bound_metadata_cache(h5):
    """HDF5's metadata cache grows with the file up to 32 MiB; 4 MiB hold
    what one frame's write needs."""
    config = h5.id.get_mdc_config()
    config.max_size = 4 << 20
    config.initial_size = config.min_size = 1 << 20
    config.set_initial_size = True
    h5.id.set_mdc_config(config)

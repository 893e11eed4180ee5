"""Writing an output file whole or not at all.

An output is written under a temporary name beside it and given its name in
one step once its bytes are on disk: a run that is interrupted, fails or
meets a full disk leaves no file that looks complete, and an existing
output stays as it was.  Without overwrite, an output that exists, or
appears while the run writes, is refused; an input is never an output.
"""

from __future__ import annotations

import contextlib
import errno
import os
import tempfile
from typing import Iterable

from ._errors import KvxError


def _exists(out: str) -> KvxError:
    return KvxError(f"{out} exists (overwrite=True or --overwrite replaces it)")


def check_output(inputs: Iterable, out: str, overwrite: bool) -> None:
    """Refuses an existing `out` unless `overwrite`, and always an `out`
    that is one of the inputs: replacing it would lose the data read."""
    if not os.path.lexists(out):
        return
    if not overwrite:
        raise _exists(out)
    for path in inputs:
        with contextlib.suppress(OSError):
            if os.path.samefile(path, out):
                raise KvxError(f"{out} is one of the inputs")


def temporary_beside(out: str) -> str:
    """A new empty file in `out`'s folder, named after it, with the
    permissions a new `out` would get."""
    folder, name = os.path.split(os.path.abspath(out))
    try:
        fd, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=folder)
    except OSError as failure:
        raise OSError(failure.errno, f"cannot create: {failure.strerror}", out) from None
    os.close(fd)
    mask = os.umask(0)
    os.umask(mask)
    os.chmod(temporary, 0o666 & ~mask)
    return temporary


def publish(temporary: str, out: str, overwrite: bool) -> None:
    """Gives the finished `temporary` the name `out`, after its bytes are
    on disk: in one step, and without replacing a file that appeared
    meanwhile unless `overwrite`."""
    fd = os.open(temporary, os.O_RDONLY | os.O_CLOEXEC)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)
    if overwrite:
        os.replace(temporary, out)
        return
    try:
        os.link(temporary, out)  # fails, rather than replaces, when out exists
    except FileExistsError:
        raise _exists(out) from None
    except OSError as failure:
        if failure.errno not in (errno.EPERM, errno.EOPNOTSUPP, errno.EXDEV):
            raise
        if os.path.lexists(out):  # a file system without hard links
            raise _exists(out) from None
        os.rename(temporary, out)
        return
    os.unlink(temporary)


def remove_quietly(path: str) -> None:
    with contextlib.suppress(FileNotFoundError):
        os.unlink(path)

"""The errors of the package."""


class KvxError(Exception):
    """Base of the errors of this package."""


class FormatError(KvxError):
    """The file or block is damaged or not a KVX file."""


class UnsupportedError(KvxError):
    """The block holds data that this package cannot turn into numbers."""


class UnsafePathError(KvxError):
    """A separate binary file lies outside the KVX file's directory."""

"""The errors of the package."""


class KvxError(Exception):
    """Base of the errors of this package."""


class FormatError(KvxError):
    """The file or block is damaged or not a KVX file."""


class UnsupportedError(KvxError):
    """The block holds data that this package cannot turn into numbers."""


class UnsafePathError(KvxError):
    """A separate binary file lies outside the KVX file's directory."""


class NotANumberError(KvxError, ValueError):
    """A header value asked for as a number is no number.

    Attributes: path, image (the block key), key and value.
    """

    def __init__(self, path: str, image: str, key: str, value: str) -> None:
        super().__init__(f"{path}: image {image}: {key} = {value!r} is not a number")
        self.path, self.image, self.key, self.value = path, image, key, value


class ExportError(KvxError):
    """The run cannot be exported (and nothing was written)."""

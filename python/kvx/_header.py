"""Header text: finding a header's end, splitting it into entries and
decoding the stored values."""

import functools
import re

from ._names import comparison_text

END_MARKER = b"\r\n}\n"
# Keys and values longer than this are cut, as the C++ library cuts them.
MAX_KEY_LENGTH = 64
MAX_VALUE_LENGTH = 512
# Grid points looked at per read while searching a header's end, and at
# most in the first read when the header states its size.
_GRID_POINTS_PER_READ = 16
_MAX_GRID_POINTS_PER_READ = 256
_SEARCH_CHUNK = 1 << 16

_SEPARATORS = re.compile(rb"[ \t\r\n\f\v;]*")
_WHITE = re.compile(rb"[ \t\r\n\f\v]*")
_KEY_TEXT = re.compile(rb"[^=;}\r\n\0]*")
_BYTE_END = re.compile(rb"}\r?\n")
# Entries as the writer makes them: a key of printable characters without
# spaces, " = ", a value on one line, " ;" CR LF.  The general split below
# gives the same for them; these only save time.
_PLAIN_KEY = r"[!-\"$-:<>-|~][!-:<>-|~]{0,63}"
_PLAIN_VALUE = r"[^ \t\r\n\f\v;][^;\r\n]{0,510}"
_PLAIN_ENTRY = re.compile(f"({_PLAIN_KEY}) = ({_PLAIN_VALUE}) ;\r\n")
_PLAIN_HEADER = re.compile(f"((?:{_PLAIN_KEY} = {_PLAIN_VALUE} ;\r\n)*)[ \r\n]*}}\r?\n")
_ESCAPE = re.compile(r"\\(.)|[\r\n]", re.DOTALL)
_ESCAPES = {":": ";", ")": "}", "(": "{", "s": " ", "t": "\t", "f": "\f", "v": "\v",
            "n": "\n", "l": "\n", "r": "\r", "\r": "", "\n": ""}
_WHITE_CHARS = " \t\r\n\f\v"


class HeaderSyntaxError(Exception):
    """The header text cannot be split into entries."""


def header_begin(data):
    """The offset just after the "{" that opens a header at the start of
    `data` (one CR and one LF may come first), or None."""
    i = 0
    if data[i:i + 1] == b"\r":
        i += 1
    if data[i:i + 1] == b"\n":
        i += 1
    return i + 1 if data[i:i + 1] == b"{" else None


def only_line_end(data):
    """True when `data` (the rest of a file) is empty or one CR and one LF
    at most: the end of the file where a header could start."""
    return data in (b"", b"\r", b"\n", b"\r\n")


def find_end_on_grid(f, start, step, stated, length):
    """The position after the end marker that ends a whole number of
    `step` bytes after `start`, or None.  A marker window with a zero byte
    or beyond the end of the file ends the search.  `stated` (the header
    size the header claims, 0 if none) lets the first read take the whole
    header at once."""
    marker = len(END_MARKER)
    points = _GRID_POINTS_PER_READ
    if stated >= step and stated % step == 0:
        points = min(stated // step, _MAX_GRID_POINTS_PER_READ)
    point = start + step
    while point <= length:
        last = point + (points - 1) * step
        f.seek(point - marker)
        chunk = f.read(min(last, length) - (point - marker))
        found = _first_grid_window(chunk, step)
        if found is not None:
            return point + found if found >= 0 else None
        point = last + step
        points = _GRID_POINTS_PER_READ
    return None


def _first_grid_window(chunk, step):
    """The offset of the first window (at 0, step, 2 step, ...) of `chunk`
    that holds the end marker; -1 when a window with a zero byte or one cut
    short by the end of `chunk` comes first; None when no window holds it."""
    marker = len(END_MARKER)
    if b"\0" not in chunk:
        # The usual case, a header without zero bytes: only the places
        # of the marker need looking at.
        at = chunk.find(END_MARKER)
        while at >= 0 and at % step:
            at = chunk.find(END_MARKER, at + 1)
        if at >= 0:
            return at
        windows = (len(chunk) - 1) // step + 1 if chunk else 0
        return -1 if chunk and (windows - 1) * step + marker > len(chunk) else None
    for at in range(0, len(chunk), step):
        window = chunk[at:at + marker]
        if len(window) < marker or b"\0" in window:
            return -1
        if window == END_MARKER:
            return at
    return None


def find_end_bytewise(f, start, length):
    """The position after the first "}" LF (or "}" CR LF) after `start`,
    or None when a zero byte or the end of the file comes first."""
    pos = start
    carry = b""
    while pos < length:
        f.seek(pos)
        chunk = carry + f.read(_SEARCH_CHUNK)
        base = pos - len(carry)
        zero = chunk.find(b"\0")
        found = _BYTE_END.search(chunk, 0, zero if zero >= 0 else len(chunk))
        if found:
            return base + found.end()
        if zero >= 0:
            return None
        pos = base + len(chunk)
        carry = chunk[-2:]
    return None


def entries(text, pos, format_keys_only=False):
    """The (key, stored value) pairs of the header text from `pos` (after
    the "{") to its closing "}".  With `format_keys_only` the split stops at
    the first key that does not begin with "KVX_"."""
    if not format_keys_only and text.isascii():
        plain = text.decode("ascii")
        first = _SEPARATORS.match(text, pos).end()
        whole = _PLAIN_HEADER.match(plain, first)
        if whole:
            return _PLAIN_ENTRY.findall(plain, first, whole.end(1))
    found = []
    end = len(text)
    while True:
        pos = _SEPARATORS.match(text, pos).end()
        # A "#" at the start of a line opens a comment that runs to its end.
        while pos < end and text[pos] == 0x23 and pos > 0 and text[pos - 1] == 0x0A:
            newline = text.find(b"\n", pos)
            if newline < 0:
                raise HeaderSyntaxError("comment runs to the end of the header")
            pos = _SEPARATORS.match(text, newline + 1).end()
        if pos >= end:
            raise HeaderSyntaxError("header ends without its closing '}'")
        if text[pos] == 0x7D:
            if not _BYTE_END.match(text, pos):
                raise HeaderSyntaxError(f"'}}' at byte {pos} is not followed by a line end")
            return found
        key_end = _KEY_TEXT.match(text, pos).end()
        stop = text[key_end:key_end + 1]
        if stop in (b";", b"\r", b"\n"):
            pos = key_end + 1  # a line without "=" is no entry
            continue
        if stop != b"=":
            raise HeaderSyntaxError(f"key at byte {pos} has no '='")
        key = _text(text[pos:key_end][:MAX_KEY_LENGTH])
        key = re.sub(r"[\t\r\n\f\v]", " ", key)
        if key and key[-1] == " ":
            key = key[:-1]
        if format_keys_only and not is_format_key(key):
            return found
        value_start = _WHITE.match(text, key_end + 1).end()
        terminator = text.find(b";", value_start)
        if terminator < 0:
            raise HeaderSyntaxError(f"value of '{key}' has no terminating ';'")
        value = text[value_start:terminator][:MAX_VALUE_LENGTH]
        if value and value[-1:] in b" \t\r\n\f\v":
            value = value[:-1]
        pos = terminator + 1
        if key.strip(" "):
            found.append((key, _text(value)))


def _text(raw):
    # Header text is taken as UTF-8; bytes that are not survive unchanged
    # as surrogates, so that nothing is lost.
    return raw.decode("utf-8", "surrogateescape")


def decode_value(stored):
    """The caller's value of a stored value text: quotes, escapes and line
    continuations undone."""
    if "\\" not in stored and '"' not in stored and "\r" not in stored and "\n" not in stored:
        return stored.strip(_WHITE_CHARS)
    text = stored.lstrip(_WHITE_CHARS)
    if text.startswith('"'):
        text = text[1:]
    text = _ESCAPE.sub(lambda m: _ESCAPES.get(m.group(1), m.group(1)) if m.group(1) else "", text)
    text = text.rstrip(_WHITE_CHARS)
    return text[:-1] if text.endswith('"') else text


def is_format_key(key):
    return len(key) >= 4 and key[:3].upper() == "KVX" and key[3] == "_"


def continuation_depth(key):
    """0 for a key without "~", n for "key~n" (n a positive number of at
    most 9 digits), -1 for any other key with "~"."""
    if "~" not in key:
        return 0
    digits = key.strip(_WHITE_CHARS).split("~", 1)[1]
    if not digits or len(digits) > 9 or not (digits.isascii() and digits.isdigit()):
        return -1
    return int(digits) if int(digits) > 0 else -1


@functools.lru_cache(maxsize=4096)
def key_text(key):
    """The text a key is found by: a continuation key by its base key."""
    cut = key[:MAX_KEY_LENGTH]
    if continuation_depth(key) > 0:
        cut = cut.split("~", 1)[0]
    # A format key is never found by a key that is none, whatever their
    # comparison texts ("KV\x98X_BinarySize" is no KVX_BinarySize): the
    # mark keeps them apart.
    return ("\x01" if is_format_key(cut) else "") + comparison_text(cut)


def join_entries(pairs):
    """The header mapping of (key, stored value) pairs in file order: values
    decoded, a key given twice keeping its first spelling and its last value
    at its last place, and
    the pieces of "key~1", "key~2", ... appended to their base key; and the
    same values by the identity of their keys, for finding keys."""
    by_text = {}
    for key, stored in pairs:
        found_by = identity(key)
        earlier = by_text.pop(found_by, None)
        by_text[found_by] = (earlier[0] if earlier else key, decode_value(stored))
    header, lookup = {}, {}
    for (text, depth), (key, value) in by_text.items():
        if depth > 0 and (text, 0) in by_text and _joined(by_text, text, depth):
            continue
        if depth == 0:
            n = 1
            while (text, n) in by_text:
                value += by_text[(text, n)][1]
                n += 1
        header[key] = lookup[(text, depth)] = value
    return header, lookup


def _joined(by_text, text, depth):
    return all((text, n) in by_text for n in range(1, depth))


def identity(key):
    """What a key is found by: its comparison text (a continuation key's
    without the "~n") and its continuation number."""
    return key_text(key), continuation_depth(key)


def index(pairs):
    """The stored values of (key, stored value) pairs by the identity of
    their keys; a key given twice keeps its last value."""
    return {identity(key): stored for key, stored in pairs}


# The bytes a key may hold for PlainHeaders: printable ASCII without the
# space, and without "=", ";" and "}" (which end a key) and "~" (which
# makes a continuation key).
_PLAIN_KEY_BYTES = bytes(c for c in range(0x21, 0x7F) if c not in b"=;}~")
_WHITE_BYTES = b" \t\r\n\f\v"
_NOT_BREAKS = bytes(c for c in range(256) if c not in b"\r\n")


def _plain_body(text):
    """The entries of a header that ends as the writer ends it (the last
    entry's " ;", white space, "}"), without that last " ;"; else None."""
    begin = header_begin(text)
    semicolon = text.rfind(b";")
    if begin is None or semicolon < begin or text[semicolon - 1:semicolon] != b" ":
        return None
    if text[semicolon + 1:].strip() != b"}":  # bytes.strip() strips _WHITE_BYTES
        return None
    return text[begin:semicolon - 1].lstrip(_WHITE_BYTES)


def _plain_tokens(body):
    """The keys and stored values of entries "key = value ;" one per line,
    as a list [key, value, key, value, ...] of bytes; None for any other
    form.  The keys are not checked here (_plain_keys_valid)."""
    # Every ";", CR and LF ends a line as " ;" CR LF: with those as LF, no
    # ";" or CR is left, and no LF but theirs.
    lines = body.replace(b" ;\r\n", b"\n")
    breaks = (len(body) - len(lines)) // 3
    if b";" in lines or b"\r" in lines:
        return None
    # Every line holds " = " once: with the first of each line as CR, the
    # breaks must alternate CR, LF, CR, ..., CR (an LF of its own, or a
    # second " = ", breaks the pattern).
    marked = lines.replace(b" = ", b"\r")
    if marked.translate(None, _NOT_BREAKS) != b"\r\n" * breaks + b"\r":
        return None
    return marked.replace(b"\n", b"\r").split(b"\r")


def _plain_keys_valid(keys):
    """True when the general split reads `keys` as written: printable
    ASCII without spaces, "=", ";", "}" and "~", and no "#" at the start
    (a comment line)."""
    joined = b"\n".join(keys)
    return (joined.translate(None, _PLAIN_KEY_BYTES) == b"\n" * (len(keys) - 1)
            and not joined.startswith(b"#") and b"\n#" not in joined)


class PlainHeaders:
    """Reads the stored values of some keys from many headers in the
    writer's form (one entry "key = value ;" per line, keys of printable
    ASCII without spaces); any other header is left to the general split.

    Only whole-text operations run per header, no Python loop per entry:
    headers of one run hold the same keys in the same order, so a header
    whose keys repeat those of the one before is matched by one regular
    expression made for that key layout."""

    def __init__(self, wanted):
        """`wanted`: the keys, as plain_key gives them."""
        self._wanted = wanted
        self._layout = None
        self._positions = []  # of the wanted values among the tokens
        self._pattern = None
        self._groups = []  # of the wanted values among the pattern's groups

    def values(self, text):
        """The stored values of the wanted keys (bytes, None where the
        header lacks the key), such that stored_value(value) is what the
        general split gives; None for a header not in the writer's form."""
        body = _plain_body(text)
        if body is None:
            return None
        if self._pattern is not None:
            match = self._pattern.fullmatch(body)
            if match is not None:
                groups = match.groups() + (None,)
                return tuple(map(groups.__getitem__, self._groups))
        tokens = _plain_tokens(body)
        if tokens is None:
            return None
        keys = tokens[0::2]
        layout = b"\n".join(keys)
        if layout != self._layout:
            if not _plain_keys_valid(keys):
                return None
            self._learn(layout, keys)
        elif self._pattern is None:
            self._make_pattern(keys)
        tokens.append(None)
        return tuple(map(tokens.__getitem__, self._positions))

    def _learn(self, layout, keys):
        # A key given twice, in any case: the last value counts.
        where = {key: n for n, key in enumerate(layout.upper().split(b"\n"))}
        self._layout = layout
        self._pattern = None
        self._positions = [2 * where[key] + 1 if key in where else 2 * len(keys)
                           for key in self._wanted]

    def _make_pattern(self, keys):
        """The expression for a layout seen twice in a row: made once, it
        reads the next header of that layout in one match."""
        wanted = sorted({p // 2 for p in self._positions if p < 2 * len(keys)})
        group = {entry: n for n, entry in enumerate(wanted)}
        self._groups = [group.get(p // 2, len(wanted)) for p in self._positions]
        parts = [re.escape(key) + (b" = ([^;\r\n]*)" if n in group else b" = [^;\r\n]*")
                 for n, key in enumerate(keys)]
        self._pattern = re.compile(b" ;\r\n".join(parts))


def stored_value(raw):
    """The value of a stored value `raw` (the bytes after "key = " up to
    " ;" in a header that PlainHeaders reads), as the general split and
    decode_value give it."""
    value = raw.lstrip(_WHITE_BYTES)
    if len(value) >= MAX_VALUE_LENGTH:
        # The split cuts the value with the space before ";", then drops
        # one white space character at its end.
        value = value[:MAX_VALUE_LENGTH]
        if value[-1:] in (b" ", b"\t", b"\r", b"\n", b"\f", b"\v"):
            value = value[:-1]
    return decode_value(_text(value))


def plain_key(key):
    """The key by which PlainHeaders finds the value of `key`, or None
    when only the general split can find it: a continuation key, one that
    is cut or not ASCII, or one that only looks like a "KVX_" key once its
    spaces are dropped."""
    if continuation_depth(key) != 0:
        return None
    text = comparison_text(key[:MAX_KEY_LENGTH])
    if not text or len(text) >= MAX_KEY_LENGTH or not text.isascii():
        return None
    if text.startswith("KVX_") and not is_format_key(key):
        return None
    return text.encode("ascii")

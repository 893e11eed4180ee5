"""Integer expressions of header sizes ("Dim_1 = 2*3").

The arithmetic is that of the C++ library: 32-bit signed integers that wrap
around on "+", "-" and "*", "/" truncating toward zero, "%" taking the sign
of the dividend, parentheses, and the words true/false/yes/no.  Function
calls, named constants and casts are evaluated there in floating point by a
small program; this package does not, and says so.
"""

_WHITE = " \t\n\v\f\r"
_WORDS = (("true", 1), ("false", 0), ("yes", 1), ("no", 0))
# Nested factors deeper than this are refused, as the C++ library refuses
# them.
_MAX_NESTING = 200
_INT32_MIN, _INT32_MAX = -(1 << 31), (1 << 31) - 1


class ExpressionError(Exception):
    """The text is no integer expression."""


class NeedsFloatingPoint(Exception):
    """The text holds a function call, a named constant or a cast."""


def _wrap(value):
    return (value + (1 << 31)) % (1 << 32) - (1 << 31)


def _truncating_division(a, b):
    quotient = abs(a) // abs(b)
    return quotient if (a < 0) == (b < 0) else -quotient


class _Reader:
    def __init__(self, text):
        self.text = text
        self.pos = 0
        self.nesting = 0

    def peek(self):
        return self.text[self.pos] if self.pos < len(self.text) else ""

    def expression(self, level):
        sign = self.peek()
        if sign in ("+", "-"):
            self.pos += 1
        value = self.term(level)
        if sign == "-":
            value = _wrap(-value)
        while True:
            c = self.peek()
            if c in ("+", "-"):
                self.pos += 1
                term = self.term(level)
                value = _wrap(value + term if c == "+" else value - term)
                continue
            if c == ")" and level == 0:
                raise ExpressionError("unbalanced ')'")
            if c not in ("", ")", ",", ";") and c not in _WHITE:
                raise ExpressionError(f"unexpected {c!r}")
            return value

    def term(self, level):
        value = self.factor(level)
        while (op := self.peek()) in ("*", "/", "%") and op:
            self.pos += 1
            factor = self.factor(level)
            if op == "*":
                value = _wrap(value * factor)
            elif factor == 0:
                raise ExpressionError("division by zero")
            elif value == _INT32_MIN and factor == -1:
                raise ExpressionError("the result passes the 32-bit range")
            else:
                quotient = _truncating_division(value, factor)
                value = quotient if op == "/" else value - quotient * factor
        return value

    def factor(self, level):
        self.nesting += 1
        try:
            if self.nesting > _MAX_NESTING:
                raise ExpressionError("parentheses nested too deeply")
            return self._factor(level)
        finally:
            self.nesting -= 1

    def _factor(self, level):
        rest = self.text[self.pos:]
        if rest.startswith(("(long int)", "(round)")):
            raise NeedsFloatingPoint("a cast")
        if rest.startswith("("):
            self.pos += 1
            value = self.expression(level + 1)
            if self.peek() != ")":
                raise ExpressionError("missing ')'")
            self.pos += 1
            return value
        if rest[:1].isascii() and rest[:1].isdigit():
            end = self.pos
            while end < len(self.text) and self.text[end] in "0123456789":
                end += 1
            literal = int(self.text[self.pos:end])
            self.pos = end
            return min(literal, _INT32_MAX)
        if _starts_function_call(rest):
            raise NeedsFloatingPoint("a function call")
        for word, value in _WORDS:
            if rest[:len(word)].lower() == word:
                self.pos += len(word)
                return value
        raise NeedsFloatingPoint("a named constant")


def _starts_function_call(text):
    if not (text[:1].isascii() and text[:1].isalpha()):
        return False
    end = 1
    while end < len(text) and text[end].isascii() and text[end].isalnum():
        end += 1
    return text[end:end + 1] == "("


def integer(text):
    """The value of an integer expression with nothing but white space
    around it.  Raises ExpressionError for a text that is no expression,
    NeedsFloatingPoint for one that needs the C++ library's evaluator."""
    # The C++ library reads the value as a C string: a zero byte ends it.
    text = text.split("\0", 1)[0]
    reader = _Reader(text.lstrip(_WHITE))
    value = reader.expression(0)
    if reader.text[reader.pos:].strip(_WHITE):
        raise ExpressionError(f"unexpected {reader.text[reader.pos:]!r}")
    return value

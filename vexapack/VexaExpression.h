// VexaExpression: numbers typed as expressions, for prompts and options.
//
// The front ends read a text as an arithmetic expression of the numeric
// expression library.  The text is first stripped of its "#" comment and of
// every white-space character, so "1 2" reads as 12.  The expression may be
// followed by a comma and anything after it ("5,7" gives 5); any other text
// after the expression makes the status Failed.  The value read so far is
// returned whatever the status.  *pstatus (when pstatus is not null)
// receives Success, the errval2status mapping of the library's error value,
// Failed for trailing text, or NotEnoughMemoryAvailable when the working
// copy cannot be made.  A null text is read as the empty text.
#pragma once

#include "VexaError.h"

double doubleexpr(const char *s, int *pstatus);
// doubleexpr rounded to single precision; a value beyond the float range
// gives an infinity of its sign.
float floatexpr(const char *s, int *pstatus);
// The integer expression reader: 32-bit signed arithmetic.
int longexpr(const char *s, int *pstatus);

// Maps an error value of the numeric expression library (0 to 16) to a
// Status; any other value gives Failed.
Status errval2status(int errval);

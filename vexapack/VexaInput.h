// VexaInput: console prompts and line editing.
//
// The prompt functions ask the user for an integer, a real number or a line
// of text.  Each writes the question, the default (when there is one) and
// ": " on the prompt output, reads one line from the input and returns a
// Status:
//   Success    the value was set (typed, or the default for an empty answer;
//              for GetInteger/GetReal an expression failure returns its
//              status instead, with the value computed so far stored);
//   Abort      the answer aborts the dialog: it contains Ctrl-D (code 4), or
//              its first four characters, without regard to case, hold
//              "$exi", "$eod" or two consecutive backslashes;
//   SkipInput  the answer is exactly "..." (a trailing newline aside), or
//              GetLine got an empty answer and its default is "...";
//   NoDefault  the answer is empty (blanks, a newline or a "#" comment only)
//              and no default is offered; the value is unchanged.
// GetLine also takes "$nul" or "$nix" (first four characters, any case) as
// the empty text.  End of input counts as an empty answer.
//
// A line is read with at most 1023 characters; the rest of a longer line
// stays in the input and answers the next prompt.  The functions print no
// error messages; reporting is the caller's business.
//
// Streams: the prompts go to standard output and answers are read from the
// stream the caller passes.  VexaInputRedirect replaces either one (a test
// can then drive a dialog that passes stdin from an in-memory stream);
// VexaInputResetStreams returns to the defaults.  The module does not own
// redirected streams.
#pragma once

#include <cstdio>

#include "VexaError.h"

// Editing steps of EditLine, combined as a bit set.
enum EditFlag : int {
  Collapse = 1,    // remove all white space (implies Trim)
  Trim = 2,        // drop leading and trailing white space
  UpperCase = 4,   // lower-case letters to upper case
  LowerCase = 8,   // upper-case letters to lower case (wins over UpperCase)
  UnComment = 16,  // cut the text at the first "#"
};

// Size of a text buffer that GetLine fills (255 characters plus terminator).
inline constexpr int VexaInputLineSize = 256;

// Asks for a 32-bit integer; the answer is an integer expression.  With
// Flag non-zero DefVal is offered as "[%-d] ".
[[nodiscard]] Status GetInteger(FILE *Fptr, int *Value, int Flag, const char *Prompt, int DefVal);
// Asks for a real number; the answer is a floating-point expression.  With
// Flag non-zero DefVal is offered as "[%-g] ".
[[nodiscard]] Status GetReal(FILE *Fptr, float *Value, int Flag, const char *Prompt, float DefVal);
// Asks for a line of text.  Value must hold VexaInputLineSize characters and
// receives at most 255 of them; DefVal may be the same buffer as Value.  With
// Flag non-zero DefVal is offered as "[%-s] ".
[[nodiscard]] Status GetLine(FILE *Fptr, char *Value, int Flag, const char *Prompt,
                             const char *DefVal);

// Replaces the input that the prompt functions read (instead of their Fptr
// argument) and the output they write to; a null argument keeps the default
// for that side (the caller's Fptr, standard output).
void VexaInputRedirect(FILE *input, FILE *output);
void VexaInputResetStreams();

// Copies at most len-1 characters of s1 into sout and terminates it; a null
// s1 or len 1 gives the empty text, len below 1 writes nothing.  conversion
// -1 turns upper case to lower case, 1 lower case to upper case, any other
// value copies unchanged.  s1 and sout may overlap.
void CopyLine(const char *s1, char *sout, int len, int conversion);

// Answer conventions on a raw line; each returns -1 (true) or 0 (false).
int AbortCheck(const char *s1);    // Ctrl-D, "$exi"/"$eod", "\\" at the start
int SkipCheck(const char *s1);     // exactly "..."
int NullCheck(const char *s1);     // "$nul"/"$nix" at the start
int DefaultCheck(const char *s1);  // nothing but white space (null too)

// Edits str in place with the steps selected by EditFlag: tabs become
// blanks; UnComment cuts at "#"; Collapse removes all white space, otherwise
// every run of white space after the first character becomes one blank;
// Trim drops white space at both ends; LowerCase or UpperCase converts.
// A null str is left alone.
void EditLine(int EditFlag, char *str);

// Right part: the text after the last (non-overlapping, searched from the
// left) occurrence of s2 in s1 goes into sout (at most len-1 characters);
// returns that occurrence.  When s2 is empty or absent, all of s1 is copied
// and null is returned.
const char *RightFR(const char *s1, const char *s2, char *sout, int len);
// Left part: the text before the first occurrence of s2 in s1 goes into sout
// (at most len-1 characters); returns that occurrence.  When s2 is empty or
// absent, all of s1 is copied and null is returned.
const char *LeftFL(const char *s1, const char *s2, char *sout, int len);

const char *VexaInputVersion();

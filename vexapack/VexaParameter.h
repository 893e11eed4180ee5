// VexaParameter: options that a program defines for itself.
//
// The command option table has free slots for the program's own options,
// a range per type, each backed by an array of the command block:
//   IO_tpflag   slots 111-120  Flg    (IO_long, 0/1; no value on the line)
//   IO_tpline   slots 101-110  Lin    (IO_line)
//   IO_tplong   slots  81-90   Num    (IO_long)
//   IO_tplvexp  slots  91-100  Lvexp  (IO_lvexp, text)
//   IO_tpfloat  slots  21-50   Arg    (IO_float)
//   IO_tpflexp  slots  51-80   Flexp  (IO_flexp, text)
// A parameter is known by the first four letters of its name, in lower case:
// defined as "extension" it is written "-exte" on the command line, and
// option_parameter_search finds it under either name.
//
// Define parameters after InitOptions and before ReadOptions; look them up
// after ReadOptions.  Definition errors are programming errors of the calling
// program: they print one "ERROR: ..." line on the error stream and end the
// process with exit value -1.
#pragma once

#include "VexaOption.h"

// Defines option `option` of type ptyp with the default defval (evaluated as
// an integer or float expression for the flag, long and float types, kept as
// text, cut to 255 characters, for the others).  Ends the process when the
// name is reserved or taken, the type's slots are full or have no range, or
// the default does not evaluate.
void option_define(int ptyp, const char *option, const char *defval, CommandBlock *pcb);

// The value holder of the parameter named option (IO_float, IO_flexp,
// IO_long, IO_lvexp or IO_line as defined; the block owns it), with Success.
// Null with NoOption when no parameter has that name, with OutOfRange when
// the name is a built-in option, with Failed for a null block.  Names the
// parameter in the error record.
[[nodiscard]] void *option_parameter_search(const char *option, CommandBlock *pcb, int *pstatus);

// Slot of the command option whose code equals the first four characters of
// option (lower-cased); 0 for none, an empty option or one beginning "#".
int search_command_option(const CommandBlock *pcb, const char *option);
// Takes the first free slot of the type's range for option (stored lower-case,
// four characters at most) and returns its index; 0 when the range is full or
// the type has none.
int new_command_option(CommandBlock *pcb, int ptyp, const char *option);
// "flag", "line", "long", "lvexp", "float", "flexp", "mode", "rsys"; "none"
// for any other type.
const char *option_type2string(int ptyp);

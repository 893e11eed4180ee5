// Numeric expression library.
//
// Numbers that users type at prompts and in options may be arithmetic
// expressions with physical units, named constants and functions:
// "2*pi", "0.15_nm", "sqrt(2)/2", "(round)1_km".  This module reads such
// texts and formats numbers so that they read back the same way.
//
//   - num_str2double: floating-point expressions.  The text is translated
//     into a small postfix expression program (NumProg) that then runs on a
//     stack of accumulators; the top accumulator holds the result.
//   - num_str2long: integer expressions in 32-bit signed arithmetic with
//     wrap-around; casts, functions and constants are evaluated by the
//     floating-point rules in a temporary program and rounded.
//   - num_double2str / double2s: number formatting, optionally in a unit
//     given as an expression ("5_mm" for 0.005 and the unit "mm").
//   - The constant table: named constants and SI units with prefixes
//     ("km", "keV", "mbar", "cm3"), built on first use.
//
// Error reporting: every reader and formatter sets an int error value
// through its `perrval` out-parameter (NumErrorValue; 0 = success; a null
// `perrval` is allowed).  Nothing throws.  Readers also hand back the
// position where reading stopped (the tail) through `tail`/`ps`, also after
// an error.  Floating-point results are 0.0 after an error.
//
// Process-wide state (the constant table, the program registry and the
// trace level) lives in this module; there is one thread and no locking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <list>
#include <optional>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Error values and version
// ---------------------------------------------------------------------------

// Error values of the whole numeric expression library (0 to 16).
enum NumErrorValue : int {
  NumSuccess = 0,
  NumMemoryAllocationFailed = 1,  // number formatting could not get storage
  NumScanError = 2,               // missing ":" of a conditional; integer reader
  NumCommaExpected = 3,           // two-argument function without ","
  NumBadParenthesis = 4,          // missing or stray ")", or nesting too deep
  NumNoFloatNumber = 5,           // a factor that is no number, name or constant
  NumNoFloatFunction = 6,         // a name followed by "(" that is no function
  NumDomainError = 7,             // function argument outside its domain
  NumNoIntegerNumber = 8,         // (not raised by this library's readers)
  NumIntegerOverflow = 9,         // integer result outside the 32-bit range
  NumDivByZero = 10,              // "/" or "%" by zero; a unit of value 0
  NumWriteError = 11,             // a number could not be formatted or did not fit
  NumNoVariable = 12,             // "_name" names no variable of the program
  NumVariableError = 13,          // (not raised by this library's readers)
  NumProgramError = 14,           // program could not be created, extended or released
  NumNoInstruction = 15,          // program without instructions or unknown command
  NumNoAccumulator = 16,          // accumulator stack exhausted or too few operands
};

// The fixed text of an error value ("success", "integer overflow", ...);
// "" for 13, which has no text, and "unknown error value" for values
// outside 0..16.  The text is static.
const char *num_errval2str(int errval);

// Sets the library-wide trace level (initially 0).  Above 0 every constant
// found is traced, above 1 the constant table is printed once when it is
// built, above 2 every evaluated program is listed.  Traces go to stdout.
void numio_debug(int debug);

// "numio : V1.35 Ardeny 2012-04-11"
const char *numio_version();

// ---------------------------------------------------------------------------
// Readers and formatter: the entry points used by the rest of the system
// ---------------------------------------------------------------------------

// Reads a floating-point expression.  `str` null reads as "".  Leading
// white space is skipped; white space inside the text ends the expression
// like any other character that no rule accepts (it becomes the tail).
// Text after the expression is not an error: it only shows in `*tail`
// (if `tail` is not null), and the caller decides whether it is acceptable.
// Returns 0.0 whenever the error value is not 0.  Errors above 13 print the
// failed program to stderr.
double num_str2double(const char *str, const char **tail, int *perrval);

// Reads an integer expression ("+ - * / %", parentheses, casts "(long int)"
// and "(round)" of floating-point factors, functions, constants, the words
// true/false/yes/no).  `str` null reads as "".  Leading white space is
// skipped.  Only the end of the text, ",", ";", white space or a ")" inside
// parentheses end the expression without error; the tail stops there.
// The result is always within the 32-bit signed range ("+", "-", "*" wrap
// around); after an error it is not meaningful.
long num_str2long(const char *str, const char **tail, int *perrval);

// Compares at most `n` characters of both texts after mapping upper-case
// letters to lower case, as strcmp does (0 when they match).  Null texts
// read as "".
int num_strncasecmp(const char *s1, const char *s2, size_t n);

// Room that double2s needs at most, terminator included.
inline constexpr size_t NumDouble2sBufferSize = 128;

// Prints `value` with abs(ndigits) significant digits ("%.<n>lg", n capped
// at 80; n == 0 gives "%lg") into `buffer`, which must hold
// NumDouble2sBufferSize characters.  Returns `buffer`, or null if the text
// came out empty.
char *double2s(char *buffer, double value, int ndigits);

// Formats `value` into `buffer` of `buflen` characters (terminator included).
// Without a unit (`unit` null or "") the text of double2s is cut to fit.
// With a unit, which may be any floating-point expression ("mm", "1/s",
// "s+1"), the value is divided by the unit's value and written as
// "<number>_<unit>" when the unit is a pure factor, else "<number>_(<unit>)";
// such a text that does not fit is error 11 and nothing is written.
// Returns `buffer`, or null on error (then `buffer` is unchanged): errors of
// evaluating the unit, 10 for a unit of value 0, 11 for a failed print.
char *num_double2str(char *buffer, size_t buflen, double value, const char *unit, int ndigits,
                     int *perrval);

// ---------------------------------------------------------------------------
// Expression programs
// ---------------------------------------------------------------------------

// Instructions of expression programs.  The value is stored in
// NumInstr::Command; the names are also the listing texts.
enum class NumCommand : int {
  InValidNumCommand = 0,
  PUSHVAL,   // push Value
  PUSHADDR,  // push *Address
  NEG,       // flip the sign bit of the top value
  MUL,
  NOT,  // 1 if the value equals 0, else 0 (NaN gives 0)
  EQU,
  NEQ,
  LE,
  LT,
  GE,
  GT,
  AND,  // NaN counts as non-zero
  OR,
  IF,  // c, t, f pushed in this order: t if c is non-zero (or NaN), else f
  DIV,
  REST,  // floored remainder a - b*floor(a/b), sign of b
  ADD,
  SUB,
  RAD,
  DEG,
  PI,
  SIN,
  COS,
  TAN,
  ASIN,
  ACOS,
  ATAN,
  ATAN2,
  SINH,
  COSH,
  TANH,
  FLOOR,
  CEIL,
  FABS,
  EXP,
  LOG,
  LOG10,
  POW,
  SQRT,
  ROUND,
  GAMMA,
  FMIN,
  FMAX,
  DEGC2K,
  K2DEGC,
  DEGF2K,
  K2DEGF,
  DEGK2K,
  K2DEGK,
  DEGF2DEGC,
  DEGC2DEGF,
  EndNumCommand,  // end marker, not an instruction
};

struct NumInstr {
  int Command = 0;            // a NumCommand value
  int Nargs = 0;              // number of operands it consumes
  double Value = 0.0;         // used by PUSHVAL
  double *Address = nullptr;  // used by PUSHADDR
};

struct NumAccu {
  int32_t Number = 0;  // 1 for the first accumulator, then counting up
  double Value = 0.0;
};

struct NumVar {
  std::string Key;
  double Value = 0.0;
  int Used = 0;  // count of references read by the parser
};

// A named program.  The containers keep their elements at fixed addresses
// (PUSHADDR points into VariableList; returned NumInstr/NumAccu pointers
// stay valid while the program lives).
struct NumProg {
  std::string Name;
  std::list<NumVar> VariableList;
  // The chain of accumulators only grows while the program lives; the stack
  // is the part from the front up to CurrentAccumulator, the rest is kept
  // for reuse (a popped accumulator keeps its value).
  std::deque<NumAccu> AccumulatorList;
  NumAccu *CurrentAccumulator = nullptr;  // null when the stack is empty
  std::deque<NumInstr> InstructionList;   // built by the parser
  std::deque<NumInstr> CompiledList;      // second list, released with the program
};

// Creates an empty program named `Name` in the registry, releasing a program
// of that name first.  Null on failure.  The registry owns the program;
// release it with numprog_free.
NumProg *numprog_new(const char *Name);

// Stores the program named exactly `Name`, or null, in `*pprogram`.
// Returns 0, or -1 for a null name.
int numprog_search(const char *Name, NumProg **pprogram);

// Inserts a new empty program at its sorted place, or hands back the
// existing one of that name.  Returns 0, or -1 on failure.
int numprog_insert(const char *Name, NumProg **pprogram);

// Releases a program and everything it owns.  0 for a null program or on
// success; -1 if the program is not in the registry.
int numprog_free(NumProg *program);

// Releases every program of the registry (fresh state for tests).
void numprog_reset();

// Adds a variable named `Key` with `Value` to the program (a variable of
// that name is updated instead).  `*pvariable`, if not null, receives it.
// Returns 0, or -1 for a null program or key.
int numprog_define_variable(NumProg *program, const char *Key, double Value, NumVar **pvariable);

// Appends an instruction to InstructionList (mode 0) or CompiledList
// (mode 1).  Returns 0, or -1 for another mode, a null program or when
// memory cannot be obtained.  `*pinstruction`, if not null, receives it.
int numprog_append_instruction(NumProg *program, int mode, int Command, int Nargs, double Value,
                               double *Address, NumInstr **pinstruction);

// Pushes `Value`; returns the new top accumulator, or null on failure.
NumAccu *numprog_up_accumulator(NumProg *program, double Value);

// Pops; returns the new top accumulator, or null when the stack became empty.
NumAccu *numprog_down_accumulator(NumProg *program);

// Runs the instruction list on an emptied stack; the result is the value of
// CurrentAccumulator afterwards.  Errors: 14 for a null program, 15 for an
// empty instruction list, and those of dpprogram_step.  Returns -1 on
// failure to start, else the last step's result.
int dpprogram_run(NumProg *program, int *perrval);

// Executes one instruction and stores its error value (0, 7, 10, 14, 15 or
// 16).  Returns -1 when it fails with 14, 15 or 16, else 0.
int dpprogram_step(NumProg *program, const NumInstr *instruction, int *perrval);

// The command's listing name; "Invalid" outside 0..51.
const char *numprog_cmd2str(int command);

// Formats an instruction for the listing; an empty text when `buflen` is
// below 50.  Returns `buffer`.
char *numprog_ins2str(char *buffer, size_t buflen, const NumInstr *instruction);

// Lists `program` (all programs of the registry when null) to `out`; the
// variables, instructions and accumulators only when `level` > 1.
void num_prog_print_list(FILE *out, const NumProg *program, int level, int verbose);

// ---------------------------------------------------------------------------
// Constant table
// ---------------------------------------------------------------------------

struct DPConstant {
  std::string Key;
  double Value = 0.0;                   // in SI base units
  std::optional<std::string> Quantity;  // kept only when tracing at insertion
  std::optional<std::string> Unit;      // kept only when tracing at insertion
};

// Inserts `Key` with `Value`, or updates the existing entry.  Quantity and
// unit texts are kept only when the trace level is above 0.  Returns 0 or -1;
// `*pdpconstant`, if not null, receives the entry (null on failure).
int dpconstant_insert(const char *Quantity, const char *Unit, const char *Key, double Value,
                      DPConstant **pdpconstant);

// Insert the 20 SI-prefixed entries of `Baseunit` (Y Z E P T G M k h "" d c
// m u n p f a z y), plain, squared ("2") and cubed ("3").  Return 0, or -1
// for a base unit that is too long (64, 63, 63 characters at most) or a
// failed insertion.
int dpconstant_insert_unit(const char *Quantity, const char *Unit, const char *Baseunit,
                           double Basevalue);
int dpconstant_insert_unit2(const char *Quantity, const char *Unit, const char *Baseunit,
                            double Basevalue);
int dpconstant_insert_unit3(const char *Quantity, const char *Unit, const char *Baseunit,
                            double Basevalue);

// Mode 0: the entry whose key equals `Key`.  Mode 1: the longest key that
// begins `Key`.  Case-sensitive.  Returns 0 (found, `*pdpconstant` set) or
// -1 (`*pdpconstant` null).  Traces the entry found when the level is > 0.
int dpconstant_search(const char *Key, DPConstant **pdpconstant, int mode);

// Prints the table in descending key order to `out` when `level` > 0.
void dpconstant_print(FILE *out, int level, int verbose);

// Builds the table (597 entries).  Returns 0 or -1.
int dpconstant_init();

// The entries in table order (descending byte order of the keys); builds
// the table first if needed.
std::vector<const DPConstant *> dpconstant_entries();

// Empties the table so that the next lookup builds it again (for tests).
void dpconstant_reset();

// ---------------------------------------------------------------------------
// Grammar rules.  Each appends the instructions of what it reads to
// `program` in postfix order, advances `*ps` past what it consumed, sets
// `*perrval` to 0 on entry and stops at the first error.  `level` is the
// parenthesis nesting (0 at the top).
// ---------------------------------------------------------------------------

void dpcondition(NumProg *program, const char **ps, int level, int *perrval);
void dplogicsum(NumProg *program, const char **ps, int level, int *perrval);
void dplogicproduct(NumProg *program, const char **ps, int level, int *perrval);
void dpequality(NumProg *program, const char **ps, int level, int *perrval);
void dpcomparison(NumProg *program, const char **ps, int level, int *perrval);
void dpexpression(NumProg *program, const char **ps, int level, int *perrval);
void dpterm(NumProg *program, const char **ps, int level, int *perrval);
void dpfactor0(NumProg *program, const char **ps, int level, int *perrval);
void dpfactor1(NumProg *program, const char **ps, int level, int *perrval);
void dpfactor2(NumProg *program, const char **ps, int level, int *perrval);
void dpfunction(NumProg *program, const char **ps, int level, int *perrval);
void dpconstant(NumProg *program, const char **ps, int *perrval);
void dpvariable(NumProg *program, const char **ps, int *perrval);

// Integer grammar rules; same conventions, returning the value.
long lvexpression(const char **ps, int level, int *perrval);
long lvterm(const char **ps, int level, int *perrval);
long lvfactor(const char **ps, int level, int *perrval);

// VexaOption: the option framework of a program: the command block and the
// image blocks that hold every command-line setting, the two option tables
// that name the options, the option parser, help and debug listings.
//
// Use, in this order:
//   InitOptions        sets every default and builds both option tables;
//   option_define      (VexaParameter.h) adds the program's own options;
//   ReadOptions        consumes the leading options of the command line and
//                      leaves the index of the last word it consumed, so the
//                      program reads its positional arguments after it.
//
// Value holders pair a value V with an indicator I: I is 0 while V is the
// default, -1 after an option written with "-" set it and +1 after one
// written with "+".  Texts hold at most IO_len - 1 characters; longer option
// values are cut, never overrun.
//
// Ownership: the caller owns the command block and the image blocks; the
// block owns its option tables (vectors).  MainName, MainVersion, MainHelp,
// MainData, argv and parg_no are borrowed from the caller and must outlive
// the block's use.  Nothing here throws across the interface: failures come
// back as a Status through pstatus, and programming errors of the calling
// program (option tables too short, no memory for them) print one
// "ERROR: ..." line on standard output and end the process with exit value -1.
// All texts are printed on standard output.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

#include "VexaError.h"

// Room of every stored text: 255 characters plus the terminator.
inline constexpr int IO_len = 256;
// Room of an option code: at most four lower-case characters plus terminator.
inline constexpr int IO_CodeLen = 5;

using IO_text = std::array<char, IO_len>;

struct IO_long {
  int32_t V = 0;
  int32_t I = 0;
};
struct IO_float {
  float V = 0.0F;
  int32_t I = 0;
};
// A free text; also an integer expression (IO_lvexp) or a floating-point
// expression (IO_flexp) kept as text and evaluated later by its user.
struct IO_line {
  IO_text V{};
  int32_t I = 0;
};
using IO_lvexp = IO_line;
using IO_flexp = IO_line;

// Parameter types of an option (OptionDescriptor::ptyp).
enum : int32_t {
  IO_tpnone = 0,
  IO_tpflag = 1,
  IO_tpline = 2,
  IO_tplong = 3,
  IO_tplvexp = 4,
  IO_tpfloat = 5,
  IO_tpflexp = 6,
  IO_tpmode = 7,
  IO_tprsys = 8,
  IO_tppro = 9,
  IO_tpaxis = 10,
};

// One option: its code, the type of its values and how many values follow
// it on the command line.  Entry 0 of a table is a header whose npar is the
// index of the table's last entry; searches run over entries 1 to npar - 1.
struct OptionDescriptor {
  std::array<char, IO_CodeLen> code{};
  int32_t ptyp = IO_tpnone;
  int32_t npar = 0;
};
using OptDsc = OptionDescriptor;

// Indices of the command option table.  Slots NArgFst to NFlgLst are free
// for the program's own options (VexaParameter.h).
enum CmdOptions : int {
  NEmpty = 0,
  NTestBit,
  NHelp,
  NPrompt,
  NShift,
  NRSys,
  NUSys,
  NGeneralBlock,
  NPassHeader,
  NCreateVariance,
  NAntiAliased,
  NVarianceWeight,
  NOutputDataType,
  NOutputDataValueOffset,
  NOutputCompression,
  NBslInputByteOrder,
  NAdd,
  NIPMin,
  NMaxLineWidth,
  NMinHeaderSize,
  NCommonOrientation,
  NArgFst = 21,
  NArgLst = 50,
  NFlexpFst = 51,
  NFlexpLst = 80,
  NNumFst = 81,
  NNumLst = 90,
  NLvexpFst = 91,
  NLvexpLst = 100,
  NLinFst = 101,
  NLinLst = 110,
  NFlgFst = 111,
  NFlgLst = 120,
  NCmdLast = 121,
};
inline constexpr int IO_CmdOptLen = NCmdLast + 1;

// Indices of the image option table (entry 0 is the header).
enum ImgOptions : int {
  NOpenMode = 1,
  NName,
  NMemory,
  NFirst,
  NLast,
  NInc,
  NMinClip,
  NMaxClip,
  NConst,
  NFactor,
  NVal,
  NErrVal,
  NBin,
  NAve,
  NGnaw,
  NTitle,
  NTime,
  NDim,
  NDummy,
  NDDummy,
  NOffset,
  NCenter,
  NBinSiz,
  NPixSiz,
  NSampleDistance,
  NWaveLength,
  NDetRot,
  NOrientation,
  NProjection,
  NAxisType,
  NImgLast,
};
inline constexpr int IO_ImgOptLen = NImgLast + 1;

// The settings of one input or output image series.  In array settings
// element 0 holds, as text, the number of elements that follow.
struct ImageBlock {
  int32_t blkno = 0;
  int32_t Stream = -1;
  int32_t StreamOpenMode = 0;
  int32_t FileNumber = 1;
  int32_t LoopNumber = 1;
  IO_text FileName{};
  IO_line Name;
  IO_long FFirst, FLast, FInc;
  // Open mode: "n" 1 (new), "o" 2 (old), "a" 0 (any); "+fp" adds 4, "+ip" 8.
  IO_long OpenMode;
  IO_long Memory;
  IO_long First, Last, Inc;
  IO_flexp MinClip, MaxClip, Const, Factor, Val, ErrVal;
  std::array<IO_lvexp, 3> Bin;
  IO_long Ave;
  std::array<IO_lvexp, 3> Gnaw;
  IO_line Title, Time;
  std::array<IO_lvexp, 3> Dim;
  IO_flexp Dummy, DDummy;
  std::array<IO_flexp, 3> Offset, Center, BinSiz, PixSiz;
  IO_flexp SampleDistance, WaveLength;
  std::array<IO_flexp, 4> DetRot;
  IO_lvexp Orientation;
  IO_long Projection;  // 1 Vexa, 2 Waxs
  // 1 Distance, 2 Angle, 3 Numerator; element 0 is not a count.
  std::array<IO_long, 3> AxisType;
};
using ImgBlk = ImageBlock;

// All command-line settings of a program.
struct CommandBlock {
  const char *MainName = nullptr;     // argv[0], set by ReadOptions
  const char *MainVersion = nullptr;  // the program's version text
  const char *MainHelp = nullptr;     // the program's usage text
  void *MainData = nullptr;           // kept for the program
  int32_t argc = 0;                   // words including the program name
  char **argv = nullptr;
  int *parg_no = nullptr;            // the caller's index of the last word consumed
  FILE *infile = stdin;              // input stream of the prompts
  std::vector<OptionDescriptor> co;  // command option table (IO_CmdOptLen)
  std::vector<OptionDescriptor> io;  // image option table (IO_ImgOptLen)
  ImageBlock *ib = nullptr;          // the caller's image blocks
  int32_t ImgBlkLen = 0;
  int32_t RejectNum = 0;  // non-zero: "-5" or "+5" is a number, not an option
  int32_t Cycles = 0;
  int32_t TestBit = 0;  // debug level
  IO_long Help;
  IO_long Prompt;
  // Reference systems: 1 array, 2 image, 3 center, 4 region, 5 real,
  // 6 normal, 7 tangens, 8 vexa.
  IO_long RSys, USys;
  IO_long GeneralBlock, PassHeader, CreateVariance, AntiAliased, VarianceWeight;
  IO_long OutputDataType;  // data type code of the data file library, 0 unset
  IO_long OutputDataValueOffset;
  IO_long OutputCompression;  // compression code of the data file library
  IO_long BslInputByteOrder;
  IO_long MaxLineWidth, MinHeaderSize;
  IO_long CommonOrientation;
  IO_long Add;
  IO_float IPMin;
  IO_long Ave;
  std::array<IO_flexp, 3> Shift;
  // Values of the program's own options, by type (VexaParameter.h).
  std::array<IO_float, NArgLst - NArgFst + 1> Arg;
  std::array<IO_flexp, NFlexpLst - NFlexpFst + 1> Flexp;
  std::array<IO_long, NNumLst - NNumFst + 1> Num;
  std::array<IO_lvexp, NLvexpLst - NLvexpFst + 1> Lvexp;
  std::array<IO_line, NLinLst - NLinFst + 1> Lin;
  std::array<IO_long, NFlgLst - NFlgFst + 1> Flg;
};
using CmdBlk = CommandBlock;

// ---- Initialisation and defaults ----------------------------------------

// Sets the command block and the ib_len image blocks of ib to their defaults
// and builds both option tables.  mainhelp (the positional arguments for the
// usage line), mainvers and maindata are borrowed.  rjctnum non-zero makes
// words like "-5" positional numbers.  Prompting is on by default.
void InitOptions(const char *mainhelp, const char *mainvers, void *maindata, int rjctnum,
                 CommandBlock *pcb, ImageBlock *ib, int ib_len);
// Sets the fields of the command block (not its tables) to their defaults.
void InitCommandBlock(const char *mhlp, const char *mvers, void *mdat, int rjctnum, ImageBlock *ib,
                      int ib_len, CommandBlock *pcb);
// Sets block ib[blkno] to its defaults (file "datafile.kvx", images 1 to 1).
void InitImageBlock(ImageBlock *ib, int blkno);
// Fill a command table of more than IO_CmdOptLen - 1 entries / an image
// table of at least IO_ImgOptLen entries; a shorter table is a programming
// error that ends the process with exit value -1.
void InitCommandOptions(std::span<OptionDescriptor> co);
void InitImageOptions(std::span<OptionDescriptor> io);

// 1 if name may not name a new option: it begins with "o" or "i" (reserved
// for image-block options) or its first four characters equal the code of a
// command option; otherwise 0.  Letters are compared without regard to case.
int CheckOptionDuplication(const CommandBlock *pcb, const char *name);

const char *VexaOptionVersion();

// ---- Option reading ------------------------------------------------------

// Reads the options at the start of argv (a null-terminated word list whose
// word 0 is the program name) into the command block and the image blocks ib
// (the pcb->ImgBlkLen blocks, may be null) and stops at the first word that
// is not an option.  *parg_no (0 before) is left at the last word consumed;
// an index outside the word list reads nothing.
// Status: Success; StoppedAfterHelp after "-h"/"+h" printed the help;
// NoOption for an unknown option; ScanEmpty when a value is missing at the
// end; ScanError or an expression status for a rejected value.  On failure
// the error record names "ReadOptions" and the failing words, and both option
// tables are released; on success only the image option table is.  The
// consumed words are appended to the history record "i0" of the data file
// library.  ScanSys and ScanMode lower-case their value word inside argv.
void ReadOptions(char *argv[], int *parg_no, CommandBlock *pcb, ImageBlock *ib, int *pstatus);

// 1 if word *parg_no + 1 is an option word ("-" or "+" followed by a code,
// "-o<code>" for the output block, "-i<digit><code>" for input block
// <digit>); *parg_no then points at it and pblk_no (-1 command, 0 output,
// 1..9 input), popt_no (0 unknown) and popt_onoff (-1 or +1) describe it.
// 0 if the word is absent, does not start with a sign, or is a number while
// RejectNum is set.
int FindOption(char *argv[], int *parg_no, const CommandBlock *pcb, int *pblk_no, int *popt_no,
               int *popt_onoff, int *pstatus);
// Looks code ps up among entries 1 to npar - 1 of table dsc (exact match):
// *popt_no is the index and Success, or 0 and NoOption.
void GetOption(std::string_view ps, std::span<const OptionDescriptor> dsc, int *popt_no,
               int *pstatus);
// Runs option opt_no of block blk_no (-1 command block, 0 <= blk_no < ib_len
// an image block; anything else is NoOption), consuming its values.
void DoOption(char *argv[], int *parg_no, int blk_no, int opt_no, int opt_onoff, CommandBlock *pcb,
              ImageBlock *ib, int ib_len, int *pstatus);
void DoCmdOption(char *argv[], int *parg_no, int opt_no, int opt_onoff, CommandBlock *pcb,
                 int *pstatus);
void DoImgOption(char *argv[], int *parg_no, int opt_no, int opt_onoff, ImageBlock *pib,
                 int *pstatus);

// Value scanners.  Each returns 1 when it stored a new value.  A null text
// (no word left) gives ScanEmpty; the word "=" gives Success and keeps the
// value; a rejected word gives ScanError (or the expression's status) and
// keeps the value.
int ScanLong(const char *text, int32_t *result, int *pstatus);   // integer expression
int ScanFloat(const char *text, float *result, int *pstatus);    // float expression
int ScanFlExp(const char *text, IO_text *result, int *pstatus);  // non-empty text
int ScanLvExp(const char *text, IO_text *result, int *pstatus);  // non-empty text
int ScanLine(const char *text, IO_text *result, int *pstatus);   // any text
// Names, compared without regard to case; a rejected name also prints the
// accepted ones.  ScanSys and ScanMode lower-case text in place.
int ScanSys(char *text, int32_t *result, int *pstatus);
int ScanMode(char *text, int32_t *result, int *pstatus);
int ScanPro(const char *text, int32_t *result, int *pstatus);
int ScanAxis(const char *text, int32_t *result, int *pstatus);
// Projection ("Vexa" 1, "Waxs" 2) and axis type ("Distance" 1, "Angle" 2,
// "Numerator" 3) codes of a name in any case; 0 for another name.
int strtopro(const char *text);
int strtoaxis(const char *text);

// After the option "nam": reads the first, last and increment numbers that
// follow the name as comma-separated expressions ("file.kvx,3,10,2") into
// FFirst/FLast/FInc when the name holds a "%" file-number pattern, else into
// First/Last/Inc.  Empty fields keep their values; the first failing field
// ends the scan with its expression status.
void extract_filenumbers(ImageBlock *pib, const IO_line *pName, int opt_onoff, int *pstatus);
// Sets *pNumber from field parno of fname when that field is not empty: the
// expression's value rounded to the nearest integer; IntegerOverflow (value
// unchanged) when that does not fit 32 bits.
void scan_for_filenumber(IO_long *pNumber, const char *fname, int parno, int opt_onoff,
                         int *pstatus);

// ---- Help and listings (standard output) --------------------------------

// "-h" (Help.V 0): the version and usage lines; "+h": also the versions of
// the libraries, the data types, every option and the reference systems.
void ShowHelp(const CommandBlock *pcb);
// The codes of a table, four to a line, each as prefix + code with its
// count of values and a type mark.
void ShowOptions(std::string_view prefix, std::span<const OptionDescriptor> dsc);
void ShowDataTypes();
void ShowSys();
void ShowPro();
void ShowAxis();
void ShowModes();
// Debug listing of every entry of a table (one row per non-empty code).
void PrintOptions(const char *dname, std::span<const OptionDescriptor> dsc);
// Debug listings of every value the user set (indicator not 0).
void PrintBlocks(const CommandBlock *pcb, const ImageBlock *ib);
void PrintCommandBlock(const CommandBlock *pcb);
void PrintImageBlock(const ImageBlock *pib);

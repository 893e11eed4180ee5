// Option reading: the option-word syntax, the effect of every option and
// the scanners that check and convert option values.
//
// Word list walk: argv is null-terminated, and a word is read only after the
// word before it was seen to exist, so no index ever passes the terminator.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "VexaExpression.h"
#include "VexaOption.h"
#include "VexaOption_internal.h"
#include "filename.h"
#include "kvxio.h"
#include "numio.h"
#include "report_sink.h"

using vexa_option::CodeOf;
using vexa_option::LastSearchIndex;
using vexa_option::LowerChar;
using vexa_option::LowerText;
using vexa_option::SetText;

namespace {

constexpr const char *SOName = "VexaOption";
// Key of the history line that records the consumed words.
constexpr const char *kHistoryKey = "i0";
// The value word that keeps the current value.
constexpr std::string_view kKeepValue = "=";
// The longest text the framework stores (failure message, option word).
constexpr size_t kTextChars = IO_len - 1;

// Block numbers of FindOption.
constexpr int kUndecidedBlock = -2;
constexpr int kCommandBlock = -1;
constexpr int kOutputBlock = 0;

int unused_status = Success;
int *StatusOut(int *pstatus) { return pstatus != nullptr ? pstatus : &unused_status; }

// The word after word `index`, or null when word `index` is the last one.
char *WordAfter(char *argv[], int index) {
  if (argv == nullptr || index < 0 || argv[index] == nullptr) return nullptr;
  return argv[index + 1];
}

// Consumes the next word as a value: *parg_no advances also when there is
// none, so that a failure message names the words around the gap.
char *TakeWord(char *argv[], int *parg_no) {
  char *word = WordAfter(argv, *parg_no);
  ++*parg_no;
  return word;
}

// Common start of every scanner: false when there is nothing to scan (no
// word: ScanEmpty; the word "=": Success, the value stays).
bool HasValue(const char *text, int *pstatus) {
  if (text == nullptr) {
    *pstatus = ScanEmpty;
    return false;
  }
  if (text == kKeepValue) {
    *pstatus = Success;
    return false;
  }
  return true;
}

// An accepted value name and the code it stands for.
struct NamedCode {
  const char *name;
  int32_t code;
};

constexpr NamedCode kReferenceSystems[] = {
    {"array", 1}, {"image", 2},  {"center", 3},  {"region", 4},
    {"real", 5},  {"normal", 6}, {"tangens", 7}, {"vexa", 8},
};
constexpr NamedCode kOpenModes[] = {
    {"n+fp", 5}, {"n+ip", 9}, {"n", 1},    {"o+fp", 6}, {"o+ip", 10},
    {"o", 2},    {"a+ip", 8}, {"a+fp", 4}, {"a", 0},
};
constexpr NamedCode kProjections[] = {{"Vexa", 1}, {"Waxs", 2}};
constexpr NamedCode kAxisTypes[] = {{"Distance", 1}, {"Angle", 2}, {"Numerator", 3}};

const NamedCode *FindName(std::span<const NamedCode> names, const char *text) {
  for (const NamedCode &entry : names) {
    if (num_strncasecmp(text, entry.name, kTextChars) == 0) return &entry;
  }
  return nullptr;
}

void LowerInPlace(char *text) {
  for (char *c = text; *c != '\0'; ++c) *c = LowerChar(*c);
}

int ScanName(const char *text, std::span<const NamedCode> names, void (*show)(), int32_t *result,
             int *pstatus) {
  pstatus = StatusOut(pstatus);
  if (!HasValue(text, pstatus)) return 0;
  const NamedCode *entry = FindName(names, text);
  if (entry == nullptr) {
    *pstatus = ScanError;
    show();
    return 0;
  }
  *result = entry->code;
  *pstatus = Success;
  return 1;
}

int ScanText(const char *text, bool allow_empty, IO_text *result, int *pstatus) {
  pstatus = StatusOut(pstatus);
  if (!HasValue(text, pstatus)) return 0;
  if (!allow_empty && text[0] == '\0') {
    *pstatus = ScanError;
    return 0;
  }
  SetText(*result, text);
  *pstatus = Success;
  return 1;
}

// One value word into holder.V; the holder takes the indicator when a value
// was stored.  Returns the scanner's status.
template <typename Holder, typename Value, typename Text>
int Take(char *argv[], int *parg_no, Holder &holder, int onoff,
         int (*scan)(Text *, Value *, int *)) {
  int status = ScanError;
  if (scan(TakeWord(argv, parg_no), &holder.V, &status) != 0) holder.I = onoff;
  return status;
}

// Elements 1 to n of an array setting, one word each; a failing word ends
// the option.
template <typename Holder, size_t N, typename Value, typename Text>
int TakeElements(char *argv[], int *parg_no, std::array<Holder, N> &holders, size_t n, int onoff,
                 int (*scan)(Text *, Value *, int *)) {
  for (size_t i = 1; i <= n && i < N; ++i) {
    const int status = Take(argv, parg_no, holders[i], onoff, scan);
    if (status != Success) return status;
  }
  return Success;
}

void SetFlag(IO_long &holder, int onoff) {
  holder.V = onoff > 0 ? 1 : 0;
  holder.I = onoff;
}

// "type" and "cmpr": a name of the data file library; a missing word is an
// unknown name.
int TakeLibraryCode(char *argv[], int *parg_no, IO_long &holder, int onoff,
                    int (*code_of)(const char *)) {
  const char *word = TakeWord(argv, parg_no);
  const int code = word != nullptr ? code_of(word) : 0;
  if (code == 0) return ScanError;
  holder = IO_long{code, onoff};
  return Success;
}

bool InSlots(int opt_no, int first, int last) { return opt_no >= first && opt_no <= last; }

// Options of the program's own parameters (slots NArgFst to NFlgLst).
int DoUserOption(char *argv[], int *parg_no, int opt_no, int onoff, CommandBlock &cb) {
  if (InSlots(opt_no, NArgFst, NArgLst))
    return Take(argv, parg_no, cb.Arg[opt_no - NArgFst], onoff, ScanFloat);
  if (InSlots(opt_no, NFlexpFst, NFlexpLst))
    return Take(argv, parg_no, cb.Flexp[opt_no - NFlexpFst], onoff, ScanLine);
  if (InSlots(opt_no, NNumFst, NNumLst))
    return Take(argv, parg_no, cb.Num[opt_no - NNumFst], onoff, ScanLong);
  if (InSlots(opt_no, NLvexpFst, NLvexpLst))
    return Take(argv, parg_no, cb.Lvexp[opt_no - NLvexpFst], onoff, ScanLine);
  if (InSlots(opt_no, NLinFst, NLinLst))
    return Take(argv, parg_no, cb.Lin[opt_no - NLinFst], onoff, ScanLine);
  if (InSlots(opt_no, NFlgFst, NFlgLst)) {
    SetFlag(cb.Flg[opt_no - NFlgFst], onoff);
    return Success;
  }
  return NoOption;
}

// The flag options of the command block other than "test", "h" and "p".
IO_long *CommandFlag(CommandBlock &cb, int opt_no) {
  switch (opt_no) {
    case NGeneralBlock:
      return &cb.GeneralBlock;
    case NPassHeader:
      return &cb.PassHeader;
    case NCreateVariance:
      return &cb.CreateVariance;
    case NAntiAliased:
      return &cb.AntiAliased;
    case NVarianceWeight:
      return &cb.VarianceWeight;
    case NCommonOrientation:
      return &cb.CommonOrientation;
    default:
      return nullptr;
  }
}

// The options with one integer value.
IO_long *CommandLong(CommandBlock &cb, int opt_no) {
  switch (opt_no) {
    case NOutputDataValueOffset:
      return &cb.OutputDataValueOffset;
    case NBslInputByteOrder:
      return &cb.BslInputByteOrder;
    case NAdd:
      return &cb.Add;
    case NMaxLineWidth:
      return &cb.MaxLineWidth;
    case NMinHeaderSize:
      return &cb.MinHeaderSize;
    default:
      return nullptr;
  }
}

int DoBuiltinOption(char *argv[], int *parg_no, int opt_no, int onoff, CommandBlock &cb) {
  if (IO_long *flag = CommandFlag(cb, opt_no)) {
    SetFlag(*flag, onoff);
    return Success;
  }
  if (IO_long *value = CommandLong(cb, opt_no)) return Take(argv, parg_no, *value, onoff, ScanLong);
  switch (opt_no) {
    case NTestBit:
      cb.TestBit = onoff > 0 ? cb.TestBit + 1 : 0;
      return Success;
    case NHelp:
      SetFlag(cb.Help, onoff);
      ShowHelp(&cb);
      return StoppedAfterHelp;
    case NPrompt:
      SetFlag(cb.Prompt, onoff);
      return Success;
    case NShift:
      return TakeElements(argv, parg_no, cb.Shift, 2, onoff, ScanFlExp);
    case NRSys: {
      int status = ScanError;
      if (ScanSys(TakeWord(argv, parg_no), &cb.RSys.V, &status) != 0) {
        cb.RSys.I = onoff;
        // The user system follows the reference system until it is given.
        if (cb.USys.I == 0) cb.USys.V = cb.RSys.V;
      }
      return status;
    }
    case NUSys:
      return Take(argv, parg_no, cb.USys, onoff, ScanSys);
    case NOutputDataType:
      return TakeLibraryCode(argv, parg_no, cb.OutputDataType, onoff, kvx_string2datatype);
    case NOutputCompression:
      return TakeLibraryCode(argv, parg_no, cb.OutputCompression, onoff, kvx_string2compression);
    case NIPMin:
      return Take(argv, parg_no, cb.IPMin, onoff, ScanFloat);
    default:
      return DoUserOption(argv, parg_no, opt_no, onoff, cb);
  }
}

// The image options with one floating-point expression.
IO_flexp *ImageFlexp(ImageBlock &b, int opt_no) {
  switch (opt_no) {
    case NMinClip:
      return &b.MinClip;
    case NMaxClip:
      return &b.MaxClip;
    case NConst:
      return &b.Const;
    case NFactor:
      return &b.Factor;
    case NVal:
      return &b.Val;
    case NErrVal:
      return &b.ErrVal;
    case NDummy:
      return &b.Dummy;
    case NDDummy:
      return &b.DDummy;
    case NSampleDistance:
      return &b.SampleDistance;
    case NWaveLength:
      return &b.WaveLength;
    default:
      return nullptr;
  }
}

// The image options with one integer value.
IO_long *ImageLong(ImageBlock &b, int opt_no) {
  switch (opt_no) {
    case NMemory:
      return &b.Memory;
    case NFirst:
      return &b.First;
    case NLast:
      return &b.Last;
    case NInc:
      return &b.Inc;
    default:
      return nullptr;
  }
}

// The image options with two expression values.
std::array<IO_line, 3> *ImagePair(ImageBlock &b, int opt_no) {
  switch (opt_no) {
    case NBin:
      return &b.Bin;
    case NGnaw:
      return &b.Gnaw;
    case NDim:
      return &b.Dim;
    case NOffset:
      return &b.Offset;
    case NCenter:
      return &b.Center;
    case NBinSiz:
      return &b.BinSiz;
    case NPixSiz:
      return &b.PixSiz;
    default:
      return nullptr;
  }
}

int DoImageOption(char *argv[], int *parg_no, int opt_no, int onoff, ImageBlock &b) {
  if (IO_flexp *value = ImageFlexp(b, opt_no)) return Take(argv, parg_no, *value, onoff, ScanFlExp);
  if (IO_long *value = ImageLong(b, opt_no)) return Take(argv, parg_no, *value, onoff, ScanLong);
  if (std::array<IO_line, 3> *pair = ImagePair(b, opt_no)) {
    const bool integers = opt_no == NBin || opt_no == NGnaw || opt_no == NDim;
    return TakeElements(argv, parg_no, *pair, 2, onoff, integers ? ScanLvExp : ScanFlExp);
  }
  switch (opt_no) {
    case NOpenMode:
      return Take(argv, parg_no, b.OpenMode, onoff, ScanMode);
    case NName: {
      int status = Take(argv, parg_no, b.Name, onoff, ScanLine);
      if (status == Success) extract_filenumbers(&b, &b.Name, onoff, &status);
      return status;
    }
    case NAve:
      SetFlag(b.Ave, onoff);
      return Success;
    case NTitle:
      return Take(argv, parg_no, b.Title, onoff, ScanLine);
    case NTime:
      return Take(argv, parg_no, b.Time, onoff, ScanLine);
    case NDetRot:
      return TakeElements(argv, parg_no, b.DetRot, 3, onoff, ScanFlExp);
    case NOrientation:
      return Take(argv, parg_no, b.Orientation, onoff, ScanLvExp);
    case NProjection:
      return Take(argv, parg_no, b.Projection, onoff, ScanPro);
    case NAxisType:
      return TakeElements(argv, parg_no, b.AxisType, 2, onoff, ScanAxis);
    default:
      return NoOption;
  }
}

// "    <word n-1> <word n> ... " (the words around the failure), cut to the
// text limit.
std::string FailureMessage(char *argv[], int argc, int n) {
  std::string message;
  if (n - 1 < 0 || n - 1 >= argc) return message;
  message = std::string("    ") + argv[n - 1] + " ";
  if (n < argc) message += std::string(argv[n]) + " ";
  message += "... ";
  if (message.size() > kTextChars) message.resize(kTextChars);
  return message;
}

int CountWords(char *argv[]) {
  int count = 0;
  while (argv != nullptr && argv[count] != nullptr) ++count;
  return count;
}

// The program name without its directory, then the consumed words.
void RecordHistory(char *argv[], int argc, int last) {
  if (argc < 1) return;
  const std::string_view program(argv[0]);
  const size_t slash = program.rfind('/');
  const std::string name(slash == std::string_view::npos ? program : program.substr(slash + 1));
  kvx_history_argv(kHistoryKey, name.c_str());
  for (int i = 1; i <= last && i < argc; ++i) kvx_history_argv(kHistoryKey, argv[i]);
}

void PrintDebugListing(char *argv[], int argc, const CommandBlock &cb, const ImageBlock *ib) {
  std::printf("List :");
  for (int i = 1; i < argc; ++i) std::printf(" %s", report_printable(argv[i]).c_str());
  std::printf("\n");
  PrintOptions("CommandOption", cb.co);
  PrintOptions("ImageOption", cb.io);
  PrintBlocks(&cb, ib);
}

}  // namespace

int ScanLong(const char *text, int32_t *result, int *pstatus) {
  pstatus = StatusOut(pstatus);
  if (!HasValue(text, pstatus)) return 0;
  const int32_t value = longexpr(text, pstatus);
  if (*pstatus != Success) return 0;
  *result = value;
  return 1;
}

int ScanFloat(const char *text, float *result, int *pstatus) {
  pstatus = StatusOut(pstatus);
  if (!HasValue(text, pstatus)) return 0;
  const float value = floatexpr(text, pstatus);
  if (*pstatus != Success) return 0;
  *result = value;
  return 1;
}

int ScanFlExp(const char *text, IO_text *result, int *pstatus) {
  return ScanText(text, false, result, pstatus);
}

int ScanLvExp(const char *text, IO_text *result, int *pstatus) {
  return ScanText(text, false, result, pstatus);
}

int ScanLine(const char *text, IO_text *result, int *pstatus) {
  return ScanText(text, true, result, pstatus);
}

int ScanSys(char *text, int32_t *result, int *pstatus) {
  if (text != nullptr) LowerInPlace(text);
  return ScanName(text, kReferenceSystems, ShowSys, result, pstatus);
}

int ScanMode(char *text, int32_t *result, int *pstatus) {
  if (text != nullptr) LowerInPlace(text);
  return ScanName(text, kOpenModes, ShowModes, result, pstatus);
}

int ScanPro(const char *text, int32_t *result, int *pstatus) {
  return ScanName(text, kProjections, ShowPro, result, pstatus);
}

int ScanAxis(const char *text, int32_t *result, int *pstatus) {
  return ScanName(text, kAxisTypes, ShowAxis, result, pstatus);
}

int strtopro(const char *text) {
  const NamedCode *entry = FindName(kProjections, text);
  return entry != nullptr ? entry->code : 0;
}

int strtoaxis(const char *text) {
  const NamedCode *entry = FindName(kAxisTypes, text);
  return entry != nullptr ? entry->code : 0;
}

void scan_for_filenumber(IO_long *pNumber, const char *fname, int parno, int opt_onoff,
                         int *pstatus) {
  pstatus = StatusOut(pstatus);
  *pstatus = Success;
  char field[IO_len];
  if (filename_parameter(field, sizeof field, fname, parno) == nullptr || field[0] == '\0') return;
  const double value = std::floor(doubleexpr(field, pstatus) + 0.5);
  if (*pstatus != Success) return;
  // Only numbers that an image number can hold; anything else would not
  // convert to an integer at all.
  if (!(value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max())) {
    *pstatus = IntegerOverflow;
    return;
  }
  *pNumber = IO_long{static_cast<int32_t>(value), opt_onoff};
}

void extract_filenumbers(ImageBlock *pib, const IO_line *pName, int opt_onoff, int *pstatus) {
  pstatus = StatusOut(pstatus);
  *pstatus = Success;
  if (pib == nullptr || pName == nullptr || pName->I == 0) return;
  const char *name = pName->V.data();
  const bool file_numbers = filename_has_pattern(name) != 0;
  IO_long *targets[] = {file_numbers ? &pib->FFirst : &pib->First,
                        file_numbers ? &pib->FLast : &pib->Last,
                        file_numbers ? &pib->FInc : &pib->Inc};
  for (int parno = 1; parno <= 3; ++parno) {
    scan_for_filenumber(targets[parno - 1], name, parno, opt_onoff, pstatus);
    if (*pstatus != Success) return;
  }
}

void GetOption(std::string_view ps, std::span<const OptionDescriptor> dsc, int *popt_no,
               int *pstatus) {
  pstatus = StatusOut(pstatus);
  *popt_no = 0;
  *pstatus = NoOption;
  if (ps.empty()) return;
  const int last = LastSearchIndex(dsc);
  for (int i = 1; i < last; ++i) {
    if (CodeOf(dsc[i]) == ps) {
      *popt_no = i;
      *pstatus = Success;
      return;
    }
  }
}

int FindOption(char *argv[], int *parg_no, const CommandBlock *pcb, int *pblk_no, int *popt_no,
               int *popt_onoff, int *pstatus) {
  pstatus = StatusOut(pstatus);
  *pstatus = Success;
  *popt_no = 0;
  *popt_onoff = 0;
  *pblk_no = kUndecidedBlock;
  if (pcb == nullptr || parg_no == nullptr) return 0;
  const char *next = WordAfter(argv, *parg_no);
  const std::string_view raw = next != nullptr ? next : "";
  const std::string word = LowerText(raw.substr(0, std::min(raw.size(), kTextChars)));
  if (word.empty() || (word[0] != '-' && word[0] != '+')) return 0;
  *popt_onoff = word[0] == '-' ? -1 : 1;
  if (pcb->RejectNum != 0 && std::isdigit(static_cast<unsigned char>(word[1]))) return 0;

  ++*parg_no;
  *pstatus = ScanError;
  size_t code_start = 1;
  if (word[1] == 'i') {
    if (word[2] < '1' || word[2] > '9') return 1;
    *pblk_no = word[2] - '0';
    code_start = 3;
  } else if (word[1] == 'o') {
    *pblk_no = kOutputBlock;
    if (pcb->ImgBlkLen <= 0) return 1;
    code_start = 2;
  } else {
    *pblk_no = kCommandBlock;
  }
  const std::string_view code = std::string_view(word).substr(code_start);
  if (code.empty()) return 1;
  GetOption(code, *pblk_no == kCommandBlock ? pcb->co : pcb->io, popt_no, pstatus);
  return 1;
}

void DoCmdOption(char *argv[], int *parg_no, int opt_no, int opt_onoff, CommandBlock *pcb,
                 int *pstatus) {
  pstatus = StatusOut(pstatus);
  *pstatus = ScanError;
  if (pcb == nullptr) return;
  *pstatus = DoBuiltinOption(argv, parg_no, opt_no, opt_onoff, *pcb);
}

void DoImgOption(char *argv[], int *parg_no, int opt_no, int opt_onoff, ImageBlock *pib,
                 int *pstatus) {
  pstatus = StatusOut(pstatus);
  *pstatus = ScanError;
  if (pib == nullptr) return;
  *pstatus = DoImageOption(argv, parg_no, opt_no, opt_onoff, *pib);
}

void DoOption(char *argv[], int *parg_no, int blk_no, int opt_no, int opt_onoff, CommandBlock *pcb,
              ImageBlock *ib, int ib_len, int *pstatus) {
  pstatus = StatusOut(pstatus);
  if (pcb != nullptr && pcb->TestBit != 0)
    std::printf("blk_no = %d, opt_no = %d, opt_onoff = %d\n", blk_no, opt_no, opt_onoff);
  if (ib != nullptr && blk_no >= 0 && blk_no < ib_len) {
    DoImgOption(argv, parg_no, opt_no, opt_onoff, &ib[blk_no], pstatus);
  } else if (blk_no == kCommandBlock) {
    DoCmdOption(argv, parg_no, opt_no, opt_onoff, pcb, pstatus);
  } else {
    *pstatus = NoOption;
  }
}

void ReadOptions(char *argv[], int *parg_no, CommandBlock *pcb, ImageBlock *ib, int *pstatus) {
  pstatus = StatusOut(pstatus);
  *pstatus = Failed;
  if (pcb == nullptr || parg_no == nullptr) return;
  CommandBlock &cb = *pcb;
  if (cb.TestBit != 0) std::printf(" %s \n", "ReadOptions");

  const int argc = CountWords(argv);
  if (cb.MainName == nullptr && argc > 0) cb.MainName = argv[0];
  if (cb.argc == 0) cb.argc = argc;
  if (cb.argv == nullptr) cb.argv = argv;
  if (cb.parg_no == nullptr) cb.parg_no = parg_no;

  SetVexaError(SOName, "ReadOptions", nullptr);
  *pstatus = Success;
  kvx_history_new(kHistoryKey);

  // An index outside the word list leaves nothing to read.
  const bool readable = *parg_no >= 0 && *parg_no < argc;
  const int ib_len = ib != nullptr ? cb.ImgBlkLen : 0;
  int blk_no = kUndecidedBlock, opt_no = 0, opt_onoff = 0;
  while (readable && FindOption(argv, parg_no, &cb, &blk_no, &opt_no, &opt_onoff, pstatus) != 0) {
    DoOption(argv, parg_no, blk_no, opt_no, opt_onoff, &cb, ib, ib_len, pstatus);
    if (*pstatus != Success) {
      const std::string message = FailureMessage(argv, argc, *parg_no);
      if (!message.empty()) SetVexaErrorMessage(message.c_str());
      cb.co = {};
      cb.io = {};
      return;
    }
  }

  RecordHistory(argv, argc, *parg_no);
  if (cb.TestBit != 0) PrintDebugListing(argv, argc, cb, ib);
  cb.io = {};
  *pstatus = Success;
}

// Option blocks: the option tables and the defaults of the command block
// and the image blocks.
#include "VexaOption.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <new>

#include "VexaOption_internal.h"

using vexa_option::CodeOf;
using vexa_option::LastSearchIndex;
using vexa_option::LowerChar;
using vexa_option::SetText;

namespace {

constexpr const char *kOptionVersion = "VexaOption V6.72 Ardeny 2011-07-24";
constexpr const char *kNoMemory = "ERROR: Cannot allocate memory";

// The minimum interpolation weight of the image library.
constexpr float kIPMinDefault = 0.5F;

// Reserved first letters of option names: "-o" and "-i<digit>" start
// image-block options.
constexpr char kOutputBlockLetter = 'o';
constexpr char kInputBlockLetter = 'i';

struct Entry {
  int index;
  const char *code;
  int32_t ptyp;
  int32_t npar;
};

constexpr Entry kCommandEntries[] = {
    {NTestBit, "test", IO_tpflag, 0},
    {NHelp, "h", IO_tpflag, 0},
    {NPrompt, "p", IO_tpflag, 0},
    {NShift, "shft", IO_tpflexp, 2},
    {NRSys, "rsys", IO_tprsys, 1},
    {NUSys, "usys", IO_tprsys, 1},
    {NGeneralBlock, "gblk", IO_tpflag, 0},
    {NPassHeader, "pass", IO_tpflag, 0},
    {NCreateVariance, "var", IO_tpflag, 0},
    {NAntiAliased, "aa", IO_tpflag, 0},
    {NVarianceWeight, "vw", IO_tpflag, 0},
    {NOutputDataType, "type", IO_tplong, 1},
    {NOutputDataValueOffset, "dvo", IO_tplong, 1},
    {NOutputCompression, "cmpr", IO_tplong, 1},
    {NBslInputByteOrder, "bibo", IO_tplong, 1},
    {NAdd, "add", IO_tplong, 1},
    {NIPMin, "pmin", IO_tpfloat, 1},
    {NMaxLineWidth, "mlw", IO_tplong, 1},
    {NMinHeaderSize, "mhs", IO_tplong, 1},
    {NCommonOrientation, "cori", IO_tpflag, 0},
};

// The free slots of the program's own options: type and value count by range.
struct FreeRange {
  int first, last;
  int32_t ptyp, npar;
};
constexpr FreeRange kFreeRanges[] = {
    {NArgFst, NArgLst, IO_tpfloat, 1}, {NFlexpFst, NFlexpLst, IO_tpflexp, 1},
    {NNumFst, NNumLst, IO_tplong, 1},  {NLvexpFst, NLvexpLst, IO_tplvexp, 1},
    {NLinFst, NLinLst, IO_tpline, 1},  {NFlgFst, NFlgLst, IO_tpflag, 0},
};

constexpr Entry kImageEntries[] = {
    {NOpenMode, "mod", IO_tpmode, 1},
    {NName, "nam", IO_tpline, 1},
    {NMemory, "mem", IO_tplong, 1},
    {NFirst, "fst", IO_tplong, 1},
    {NLast, "lst", IO_tplong, 1},
    {NInc, "inc", IO_tplong, 1},
    {NMinClip, "min", IO_tpflexp, 1},
    {NMaxClip, "max", IO_tpflexp, 1},
    {NConst, "con", IO_tpflexp, 1},
    {NFactor, "fac", IO_tpflexp, 1},
    {NVal, "val", IO_tpflexp, 1},
    {NErrVal, "err", IO_tpflexp, 1},
    {NBin, "bin", IO_tplvexp, 2},
    {NAve, "ave", IO_tpflag, 0},
    {NGnaw, "gna", IO_tplvexp, 2},
    {NTitle, "tit", IO_tpline, 1},
    {NTime, "time", IO_tpline, 1},
    {NDim, "dim", IO_tplvexp, 2},
    {NDummy, "dum", IO_tpflexp, 1},
    {NDDummy, "ddum", IO_tpflexp, 1},
    {NOffset, "off", IO_tpflexp, 2},
    {NCenter, "cen", IO_tpflexp, 2},
    {NBinSiz, "bis", IO_tpflexp, 2},
    {NPixSiz, "pix", IO_tpflexp, 2},
    {NSampleDistance, "dis", IO_tpflexp, 1},
    {NWaveLength, "wvl", IO_tpflexp, 1},
    {NDetRot, "rot", IO_tpflexp, 3},
    {NOrientation, "ori", IO_tplvexp, 1},
    {NProjection, "pro", IO_tppro, 1},
    {NAxisType, "axis", IO_tpaxis, 2},
};

// Stores code in lower case, cut to the four characters of an option code.
void SetCode(OptionDescriptor &dsc, std::string_view code) {
  dsc.code = {};
  vexa_option::CodeKey(code).copy(dsc.code.data(), dsc.code.size() - 1);
}

void SetEntry(OptionDescriptor &dsc, const char *code, int32_t ptyp, int32_t npar) {
  SetCode(dsc, code);
  dsc.ptyp = ptyp;
  dsc.npar = npar;
}

// The header entry (its npar is the index of the last entry), the listed
// entries, and empty entries everywhere else.
void FillTable(std::span<OptionDescriptor> table, int last, std::span<const Entry> entries) {
  for (OptionDescriptor &dsc : table) dsc = OptionDescriptor{};
  table[0] = OptionDescriptor{{'C', 'm', 'd'}, IO_tpflag, last};
  for (const Entry &e : entries) SetEntry(table[e.index], e.code, e.ptyp, e.npar);
}

[[noreturn]] void FailTableTooShort(const char *message) {
  std::printf("%s\n", message);
  std::fflush(stdout);
  std::exit(-1);
}

void SetLong(IO_long &holder, int32_t value) { holder = IO_long{value, 0}; }

void SetLine(IO_line &holder, const char *text) {
  holder = IO_line{};
  SetText(holder.V, text);
}

// Array settings: element 0 holds the count of the elements that follow.
void SetLines(std::span<IO_line> holders, std::initializer_list<const char *> texts) {
  auto holder = holders.begin();
  for (const char *text : texts) SetLine(*holder++, text);
}

}  // namespace

const char *VexaOptionVersion() { return kOptionVersion; }

void InitCommandBlock(const char *mhlp, const char *mvers, void *mdat, int rjctnum, ImageBlock *ib,
                      int ib_len, CommandBlock *pcb) {
  if (pcb == nullptr) return;
  CommandBlock &cb = *pcb;
  cb.MainName = nullptr;
  cb.MainVersion = mvers;
  cb.MainHelp = mhlp;
  cb.MainData = mdat;
  cb.argc = 0;
  cb.argv = nullptr;
  cb.parg_no = nullptr;
  cb.infile = stdin;
  cb.ib = ib;
  cb.ImgBlkLen = ib_len;
  cb.RejectNum = rjctnum;
  cb.Cycles = 0;
  cb.TestBit = 0;
  SetLong(cb.Help, 0);
  SetLong(cb.Prompt, 1);
  SetLong(cb.RSys, 2);
  SetLong(cb.USys, 2);
  SetLong(cb.GeneralBlock, 0);
  SetLong(cb.PassHeader, 0);
  SetLong(cb.CreateVariance, 0);
  SetLong(cb.AntiAliased, 0);
  SetLong(cb.VarianceWeight, 0);
  SetLong(cb.OutputDataType, 0);
  SetLong(cb.OutputDataValueOffset, 0);
  SetLong(cb.OutputCompression, 1);
  SetLong(cb.BslInputByteOrder, 0);
  SetLong(cb.MaxLineWidth, 0);
  SetLong(cb.MinHeaderSize, 0);
  SetLong(cb.CommonOrientation, 0);
  SetLong(cb.Add, 1);
  cb.IPMin = IO_float{kIPMinDefault, 0};
  SetLines(cb.Shift, {"2.0", "0.0", "0.0"});
  cb.Arg.fill(IO_float{});
  cb.Flexp.fill(IO_flexp{});
  cb.Num.fill(IO_long{});
  cb.Lvexp.fill(IO_lvexp{});
  cb.Lin.fill(IO_line{});
  cb.Flg.fill(IO_long{});
}

void InitImageBlock(ImageBlock *ib, int blkno) {
  if (ib == nullptr || blkno < 0) return;
  ImageBlock &b = ib[blkno];
  b.blkno = blkno;
  b.Stream = -1;
  b.StreamOpenMode = 0;
  b.FileNumber = 1;
  b.LoopNumber = 1;
  b.FileName = {};
  SetLine(b.Name, "datafile.kvx");
  for (IO_long *holder : {&b.FFirst, &b.FLast, &b.FInc}) SetLong(*holder, 1);
  SetLong(b.OpenMode, 8);
  SetLong(b.Memory, 1);
  for (IO_long *holder : {&b.First, &b.Last, &b.Inc}) SetLong(*holder, 1);
  SetLine(b.MinClip, "-inf");
  SetLine(b.MaxClip, "inf");
  SetLine(b.Const, "0.0");
  SetLine(b.Factor, "1.0");
  SetLine(b.Val, "1.0");
  SetLine(b.ErrVal, "0.0");
  SetLines(b.Bin, {"2", "1", "1"});
  SetLong(b.Ave, 1);
  SetLines(b.Gnaw, {"2", "0", "0"});
  SetLine(b.Title, "");
  SetLine(b.Time, "");
  SetLines(b.Dim, {"2", "1", "1"});
  SetLine(b.Dummy, "0.0");
  SetLine(b.DDummy, "0.5");
  SetLines(b.Offset, {"2", "0", "0"});
  SetLines(b.Center, {"2", "0", "0"});
  SetLines(b.BinSiz, {"2", "1", "1"});
  SetLines(b.PixSiz, {"2", "1", "1"});
  SetLine(b.SampleDistance, "1");
  SetLine(b.WaveLength, "1e-10");
  SetLines(b.DetRot, {"3", "0", "0", "0"});
  SetLine(b.Orientation, "1");
  SetLong(b.Projection, 1);
  SetLong(b.AxisType[0], 0);
  SetLong(b.AxisType[1], 1);
  SetLong(b.AxisType[2], 1);
}

void InitCommandOptions(std::span<OptionDescriptor> co) {
  if (co.size() < static_cast<size_t>(IO_CmdOptLen))
    FailTableTooShort("ERROR: Command option array too short");
  FillTable(co, NCmdLast, kCommandEntries);
  for (const FreeRange &range : kFreeRanges) {
    for (int slot = range.first; slot <= range.last; ++slot) {
      co[slot].ptyp = range.ptyp;
      co[slot].npar = range.npar;
    }
  }
}

void InitImageOptions(std::span<OptionDescriptor> io) {
  if (io.size() < static_cast<size_t>(IO_ImgOptLen))
    FailTableTooShort("ERROR: Image option array too short");
  FillTable(io, NImgLast, kImageEntries);
}

void InitOptions(const char *mainhelp, const char *mainvers, void *maindata, int rjctnum,
                 CommandBlock *pcb, ImageBlock *ib, int ib_len) {
  if (pcb == nullptr) return;
  InitCommandBlock(mainhelp, mainvers, maindata, rjctnum, ib, ib_len, pcb);
  for (int blkno = 0; blkno < ib_len; ++blkno) InitImageBlock(ib, blkno);
  const char *table = "command";
  try {
    pcb->co.assign(IO_CmdOptLen, OptionDescriptor{});
    table = "image";
    pcb->io.assign(IO_ImgOptLen, OptionDescriptor{});
  } catch (const std::bad_alloc &) {
    std::printf("%s for %s options\n", kNoMemory, table);
    std::fflush(stdout);
    std::exit(-1);
  }
  InitCommandOptions(pcb->co);
  InitImageOptions(pcb->io);
}

int CheckOptionDuplication(const CommandBlock *pcb, const char *name) {
  if (pcb == nullptr || name == nullptr) return 1;
  const char first = LowerChar(name[0]);
  if (first == kOutputBlockLetter || first == kInputBlockLetter) return 1;
  const std::string key = vexa_option::CodeKey(name);
  const int last = LastSearchIndex(pcb->co);
  for (int i = 1; i < last; ++i) {
    if (CodeOf(pcb->co[i]) == key) return 1;
  }
  return 0;
}

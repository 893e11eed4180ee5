// Help texts, the lists of accepted option values and the debug listings of
// the option tables and blocks.  Everything goes to standard output.
#include <cstdio>
#include <string>

#include "VexaInput.h"
#include "VexaOption.h"
#include "VexaOption_internal.h"
#include "kvxio.h"
#include "numio.h"
#include "report_sink.h"

using vexa_option::CodeOf;
using vexa_option::LastSearchIndex;

namespace {

constexpr const char *kDefinitionVersion = "VexaDefinition V2.31 Ardeny 2009-10-02 (V2.458)";
constexpr const char *kReferenceVersion = "reference : V2.34 Ardeny 2011-05-14";
constexpr const char *kImageVersion = "VexaImage : V2.49 Ardeny 2012-01-29";
constexpr const char *kImageDataVersion = "2.40";
constexpr const char *kRoutineVersion = "VexaRoutine : V1.49 Ardeny 2011-07-24";
constexpr const char *kContact = "Contact : report problems to the maintainers of this program";
constexpr const char *kDummyFileName = "/dev/null";
// Entries per line of the compact option list.
constexpr int kOptionsPerLine = 4;

const char *Or(const char *text) { return text != nullptr ? text : ""; }

const char *TypeMark(int32_t ptyp) {
  switch (ptyp) {
    case IO_tpflag:
      return "+";
    case IO_tpline:
      return "s";
    case IO_tplong:
      return "d";
    case IO_tplvexp:
      return "D";
    case IO_tpfloat:
      return "f";
    case IO_tpflexp:
      return "F";
    case IO_tpmode:
      return "M";
    case IO_tprsys:
      return "R";
    case IO_tppro:
      return "P";
    case IO_tpaxis:
      return "A";
    default:
      return "?";
  }
}

void PrintLong(const char *format, const IO_long &holder) {
  if (holder.I != 0) std::printf(format, "CommandBlock", static_cast<long>(holder.V));
}

void PrintText(const char *format, const IO_line &holder) {
  if (holder.I != 0) std::printf(format, "CommandBlock", report_printable(holder.V.data()).c_str());
}

// One line of an image block: the label padded to a common column.
void PrintImageValue(int blkno, const std::string &label, const char *value) {
  std::printf("%s[%d].%-16s = %s\n", "ImageBlock", blkno, label.c_str(), value);
}

void PrintImageLong(int blkno, const char *name, const IO_long &holder) {
  if (holder.I != 0)
    PrintImageValue(blkno, std::string(name) + ".V", std::to_string(holder.V).c_str());
}

void PrintImageText(int blkno, const char *name, const IO_line &holder) {
  if (holder.I != 0) PrintImageValue(blkno, std::string(name) + ".V", holder.V.data());
}

// Elements 1 and up of an array setting.
template <typename Holder, size_t N, typename Print>
void PrintImageElements(int blkno, const char *name, const std::array<Holder, N> &holders,
                        Print print) {
  for (size_t i = 1; i < N; ++i)
    print(blkno, (std::string(name) + "[" + std::to_string(i) + "]").c_str(), holders[i]);
}

}  // namespace

void ShowSys() {
  std::printf("\n");
  std::printf("Use -%s and -%s with one of the following reference systems : \n", "rsys", "usys");
  std::printf(" %8s, %8s, %8s, %8s, %8s, %8s, %8s, %8s\n", "array", "image", "center", "region",
              "real", "normal", "tangens", "vexa");
}

void ShowPro() {
  std::printf("\n");
  std::printf("Use -%s with one of the following projection types : \n", "pro");
  std::printf(" %8s, %8s\n", "Vexa", "Waxs");
}

void ShowAxis() {
  std::printf("\n");
  std::printf("Use -%s with one of the following axis types : \n", "axis");
  std::printf(" %8s, %8s, %8s\n", "Distance", "Angle", "Numerator");
}

void ShowModes() {
  std::printf("Use -o%s with one of the following modes : \n", "mod");
  std::printf(" %8s, %8s, %8s\n %8s, %8s, %8s\n %8s, %8s, %8s\n", "n+fp", "n+ip", "n", "o+fp",
              "o+ip", "o", "a+fp", "a+ip", "a");
}

void ShowDataTypes() {
  std::printf("\n");
  std::printf("Conversion of file data types to internal data types\n");
  kvx_showdatatypes(0);
}

void ShowOptions(std::string_view prefix, std::span<const OptionDescriptor> dsc) {
  const int last = LastSearchIndex(dsc);
  int printed = 0;
  for (int i = 1; i < last; ++i) {
    const std::string_view code = CodeOf(dsc[i]);
    if (code.empty() || code[0] == '#') continue;
    if (printed % kOptionsPerLine == 0) std::printf(" \n ");
    const std::string name = std::string(prefix) + std::string(code);
    std::printf("%10s [% 1d, %s]", name.c_str(), static_cast<int>(dsc[i].npar),
                TypeMark(dsc[i].ptyp));
    ++printed;
  }
  std::printf("\n");
}

void ShowHelp(const CommandBlock *pcb) {
  if (pcb == nullptr) return;
  const CommandBlock &cb = *pcb;
  std::printf("\nMain    : %s\n", Or(cb.MainVersion));
  std::printf("Usage   : %s %s\n", report_printable(Or(cb.MainName)).c_str(), Or(cb.MainHelp));
  if (cb.Help.V == 0) return;

  std::printf("\n%s\n", kDefinitionVersion);
  for (const char *version :
       {kReferenceVersion, VexaErrorVersion(), VexaInputVersion(), VexaOptionVersion()})
    std::printf("%s\n", version);
  std::printf("%s (SDV = %s, GDV = %s)\n", kImageVersion, kImageDataVersion,
              kvx_dataformat_version());
  for (const char *version : {kRoutineVersion, numio_version(), kvxio_version(), kContact})
    std::printf("%s\n", version);

  ShowDataTypes();

  std::printf("\nList of options [<num of parameters>,<type>]\n");
  ShowOptions("-", cb.co);
  if (cb.ImgBlkLen >= 1) ShowOptions("-o", cb.io);
  if (cb.ImgBlkLen >= 2) ShowOptions("-i<n>", cb.io);

  std::printf("\nNumber of image blocks            : %d\n", static_cast<int>(cb.ImgBlkLen));
  if (cb.ImgBlkLen >= 2)
    std::printf("Maximum number <n> of input blocks: %d\n", static_cast<int>(cb.ImgBlkLen - 1));
  if (cb.ImgBlkLen >= 1) std::printf("Dummy file name                   : %s\n", kDummyFileName);

  std::printf("\n");
  if (cb.ImgBlkLen >= 1) ShowModes();
  ShowSys();
}

void PrintOptions(const char *dname, std::span<const OptionDescriptor> dsc) {
  dname = Or(dname);
  std::printf("%20s\t\t    code      ptyp\t   npar      poff\n", dname);
  for (size_t i = 0; i + 1 < dsc.size(); ++i) {
    if (dsc[i].code[0] == '\0') continue;
    std::printf("%20s[% 4d] %9s %9d % 9d\n", dname, static_cast<int>(i), dsc[i].code.data(),
                static_cast<int>(dsc[i].ptyp), static_cast<int>(dsc[i].npar));
  }
}

void PrintCommandBlock(const CommandBlock *pcb) {
  if (pcb == nullptr) return;
  const CommandBlock &cb = *pcb;
  PrintLong("%s.Prompt.V                = %ld\n", cb.Prompt);
  PrintLong("%s.Help.V                  = %ld\n", cb.Help);
  PrintText("%s.Shift[1].V              = %s\n", cb.Shift[1]);
  PrintText("%s.Shift[2].V              = %s\n", cb.Shift[2]);
  PrintLong("%s.RSys.V                  = %ld\n", cb.RSys);
  PrintLong("%s.USys.V                  = %ld\n", cb.USys);
  PrintLong("%s.GeneralBlock.V          = %ld\n", cb.GeneralBlock);
  PrintLong("%s.PassHeader.V            = %ld\n", cb.PassHeader);
  PrintLong("%s.CreateVariance.V        = %ld\n", cb.CreateVariance);
  PrintLong("%s.AntiAliased.V           = %ld\n", cb.AntiAliased);
  PrintLong("%s.VarianceWeight.V        = %ld\n", cb.VarianceWeight);
  if (cb.OutputDataType.I != 0)
    std::printf("%s.OutputDataType.V        = %s\n", "CommandBlock",
                kvx_datatype2string(cb.OutputDataType.V));
  PrintLong("%s.OutputDataValueOffset.V = %ld\n", cb.OutputDataValueOffset);
  if (cb.OutputCompression.I != 0)
    std::printf("%s.OutputCompression.V     = %s\n", "CommandBlock",
                kvx_compression2string(cb.OutputCompression.V));
  PrintLong("%s.BslInputByteOrder.V     = %ld\n", cb.BslInputByteOrder);
  PrintLong("%s.MaxLineWidth.V          = %ld\n", cb.MaxLineWidth);
  PrintLong("%s.MinHeaderSize.V         = %ld\n", cb.MinHeaderSize);
  PrintLong("%s.CommonOrientation.V     = %ld\n", cb.CommonOrientation);
  PrintLong("%s.Add.V                   = %ld\n", cb.Add);
  if (cb.IPMin.I != 0)
    std::printf("%s.IPMin.V                 = %g\n", "CommandBlock",
                static_cast<double>(cb.IPMin.V));
  for (size_t i = 0; i < cb.Arg.size(); ++i) {
    if (cb.Arg[i].I != 0)
      std::printf("%s.Arg[%d].V\t         = %e\n", "CommandBlock", static_cast<int>(i),
                  static_cast<double>(cb.Arg[i].V));
  }
  for (size_t i = 0; i < cb.Flexp.size(); ++i) {
    if (cb.Flexp[i].I != 0)
      std::printf("%s.Flexp[%d].V          = %s\n", "CommandBlock", static_cast<int>(i),
                  report_printable(cb.Flexp[i].V.data()).c_str());
  }
  for (size_t i = 0; i < cb.Num.size(); ++i) {
    if (cb.Num[i].I != 0)
      std::printf("%s.Num[%d].V\t         = %ld\n", "CommandBlock", static_cast<int>(i),
                  static_cast<long>(cb.Num[i].V));
  }
  for (size_t i = 0; i < cb.Lvexp.size(); ++i) {
    if (cb.Lvexp[i].I != 0)
      std::printf("%s.Lvexp[%d].V          = %s\n", "CommandBlock", static_cast<int>(i),
                  report_printable(cb.Lvexp[i].V.data()).c_str());
  }
  for (size_t i = 0; i < cb.Lin.size(); ++i) {
    if (cb.Lin[i].I != 0)
      std::printf("%s.Lin[%d].V\t         = %s\n", "CommandBlock", static_cast<int>(i),
                  report_printable(cb.Lin[i].V.data()).c_str());
  }
  for (size_t i = 0; i < cb.Flg.size(); ++i) {
    if (cb.Flg[i].I != 0)
      std::printf("%s.Flg[%d].V              = %ld\n", "CommandBlock", static_cast<int>(i),
                  static_cast<long>(cb.Flg[i].V));
  }
}

void PrintImageBlock(const ImageBlock *pib) {
  if (pib == nullptr) return;
  const ImageBlock &b = *pib;
  const int n = b.blkno;
  std::printf("Image Block (blkno = %d)\n", n);
  PrintImageText(n, "Name", b.Name);
  PrintImageLong(n, "FFirst", b.FFirst);
  PrintImageLong(n, "FLast", b.FLast);
  PrintImageLong(n, "FInc", b.FInc);
  if (b.OpenMode.I != 0) {
    char mode[32];
    std::snprintf(mode, sizeof mode, "%#lx", static_cast<unsigned long>(b.OpenMode.V));
    PrintImageValue(n, "OpenMode.V", mode);
  }
  PrintImageLong(n, "Memory", b.Memory);
  PrintImageLong(n, "First", b.First);
  PrintImageLong(n, "Last", b.Last);
  PrintImageLong(n, "Inc", b.Inc);
  PrintImageText(n, "MinClip", b.MinClip);
  PrintImageText(n, "MaxClip", b.MaxClip);
  PrintImageText(n, "Const", b.Const);
  PrintImageText(n, "Factor", b.Factor);
  PrintImageText(n, "Val", b.Val);
  PrintImageText(n, "ErrVal", b.ErrVal);
  PrintImageElements(n, "Bin", b.Bin, PrintImageText);
  PrintImageLong(n, "Ave", b.Ave);
  PrintImageElements(n, "Gnaw", b.Gnaw, PrintImageText);
  PrintImageText(n, "Title", b.Title);
  PrintImageText(n, "Time", b.Time);
  PrintImageElements(n, "Dim", b.Dim, PrintImageText);
  PrintImageText(n, "Dummy", b.Dummy);
  PrintImageText(n, "DDummy", b.DDummy);
  PrintImageElements(n, "Offset", b.Offset, PrintImageText);
  PrintImageElements(n, "Center", b.Center, PrintImageText);
  PrintImageElements(n, "BinSiz", b.BinSiz, PrintImageText);
  PrintImageElements(n, "PixSiz", b.PixSiz, PrintImageText);
  PrintImageText(n, "SampleDistance", b.SampleDistance);
  PrintImageText(n, "WaveLength", b.WaveLength);
  PrintImageElements(n, "DetRot", b.DetRot, PrintImageText);
  PrintImageText(n, "Orientation", b.Orientation);
  PrintImageLong(n, "Projection", b.Projection);
  PrintImageElements(n, "AxisType", b.AxisType, PrintImageLong);
}

void PrintBlocks(const CommandBlock *pcb, const ImageBlock *ib) {
  if (pcb == nullptr) return;
  PrintCommandBlock(pcb);
  if (ib == nullptr) return;
  for (int blkno = 0; blkno < pcb->ImgBlkLen; ++blkno) PrintImageBlock(&ib[blkno]);
}

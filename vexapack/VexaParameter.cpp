#include "VexaParameter.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "VexaExpression.h"
#include "VexaOption_internal.h"
#include "report_sink.h"

using vexa_option::CodeOf;
using vexa_option::LastSearchIndex;
using vexa_option::SetText;

namespace {

constexpr const char *SPName = "VexaParameter";

constexpr const char *kDuplicated = "ERROR: Option duplicated or reserved: ";
constexpr const char *kDefinitionFailed = "ERROR: Option definition failed: ";

struct SlotRange {
  int first, last;
};

// The slots of the command option table that hold parameters of a type;
// {0, -1} for a type that has none.
SlotRange RangeOfType(int ptyp) {
  switch (ptyp) {
    case IO_tpflag:
      return {NFlgFst, NFlgLst};
    case IO_tpline:
      return {NLinFst, NLinLst};
    case IO_tplong:
      return {NNumFst, NNumLst};
    case IO_tplvexp:
      return {NLvexpFst, NLvexpLst};
    case IO_tpfloat:
      return {NArgFst, NArgLst};
    case IO_tpflexp:
      return {NFlexpFst, NFlexpLst};
    default:
      return {0, -1};
  }
}

bool InRange(int slot, SlotRange range) { return slot >= range.first && slot <= range.last; }

// The value holder behind a parameter slot, or null for a built-in option.
void *HolderOfSlot(CommandBlock &cb, int slot) {
  if (InRange(slot, RangeOfType(IO_tpfloat))) return &cb.Arg[slot - NArgFst];
  if (InRange(slot, RangeOfType(IO_tpflexp))) return &cb.Flexp[slot - NFlexpFst];
  if (InRange(slot, RangeOfType(IO_tplong))) return &cb.Num[slot - NNumFst];
  if (InRange(slot, RangeOfType(IO_tplvexp))) return &cb.Lvexp[slot - NLvexpFst];
  if (InRange(slot, RangeOfType(IO_tpline))) return &cb.Lin[slot - NLinFst];
  if (InRange(slot, RangeOfType(IO_tpflag))) return &cb.Flg[slot - NFlgFst];
  return nullptr;
}

// Definition errors are programming errors of the calling program.
[[noreturn]] void DefinitionFailure(const std::string &line) {
  report_printf("%s\n", report_printable(line).c_str());
  std::exit(-1);
}

// Evaluates or copies the default into the slot's holder; the expression
// status (Success for texts).
int StoreDefault(CommandBlock &cb, int ptyp, int slot, const char *defval) {
  int status = Success;
  void *holder = HolderOfSlot(cb, slot);
  switch (ptyp) {
    case IO_tpflag:
    case IO_tplong:
      static_cast<IO_long *>(holder)->V = longexpr(defval, &status);
      break;
    case IO_tpfloat:
      static_cast<IO_float *>(holder)->V = floatexpr(defval, &status);
      break;
    default:
      SetText(static_cast<IO_line *>(holder)->V, defval);
      break;
  }
  return status;
}

}  // namespace

const char *option_type2string(int ptyp) {
  switch (ptyp) {
    case IO_tpflag:
      return "flag";
    case IO_tpline:
      return "line";
    case IO_tplong:
      return "long";
    case IO_tplvexp:
      return "lvexp";
    case IO_tpfloat:
      return "float";
    case IO_tpflexp:
      return "flexp";
    case IO_tpmode:
      return "mode";
    case IO_tprsys:
      return "rsys";
    default:
      return "none";
  }
}

int search_command_option(const CommandBlock *pcb, const char *option) {
  if (pcb == nullptr || option == nullptr || option[0] == '\0' || option[0] == '#') return 0;
  const std::string key = vexa_option::CodeKey(option);
  const int last = LastSearchIndex(pcb->co);
  for (int slot = 1; slot < last; ++slot) {
    if (CodeOf(pcb->co[slot]) == key) return slot;
  }
  return 0;
}

int new_command_option(CommandBlock *pcb, int ptyp, const char *option) {
  if (pcb == nullptr || option == nullptr) return 0;
  const SlotRange range = RangeOfType(ptyp);
  const std::string key = vexa_option::CodeKey(option);
  for (int slot = range.first; slot <= range.last && slot < static_cast<int>(pcb->co.size());
       ++slot) {
    OptionDescriptor &dsc = pcb->co[slot];
    if (dsc.code[0] != '\0') continue;
    dsc.code = {};
    key.copy(dsc.code.data(), dsc.code.size() - 1);
    dsc.ptyp = ptyp;
    return slot;
  }
  return 0;
}

void option_define(int ptyp, const char *option, const char *defval, CommandBlock *pcb) {
  if (option == nullptr) option = "";
  if (defval == nullptr) defval = "";
  if (pcb == nullptr) DefinitionFailure(kDefinitionFailed + std::string(option));
  if (pcb->TestBit != 0)
    std::printf("option_define: type=%s, default %s.V=%s\n", option_type2string(ptyp), option,
                defval);
  if (CheckOptionDuplication(pcb, option) != 0)
    DefinitionFailure(kDuplicated + std::string("-") + option);
  const int slot = new_command_option(pcb, ptyp, option);
  if (slot == 0) DefinitionFailure(kDefinitionFailed + std::string(option));
  pcb->co[slot].npar = 1;
  if (StoreDefault(*pcb, ptyp, slot, defval) != Success)
    DefinitionFailure(kDefinitionFailed + std::string(option) + ": " + defval);
}

void *option_parameter_search(const char *option, CommandBlock *pcb, int *pstatus) {
  int unused = Success;
  if (pstatus == nullptr) pstatus = &unused;
  *pstatus = Failed;
  if (pcb == nullptr) return nullptr;
  SetVexaError(SPName, "option_parameter_search", option);
  *pstatus = Success;
  if (pcb->TestBit != 0)
    std::printf("option_parameter_search: option=%s\n", option != nullptr ? option : "");
  const int slot = search_command_option(pcb, option);
  if (slot == 0) {
    *pstatus = NoOption;
    return nullptr;
  }
  void *holder = HolderOfSlot(*pcb, slot);
  if (holder == nullptr) *pstatus = OutOfRange;
  return holder;
}

// The long options "--help" and "--version" of the converter.
#include <cstdio>
#include <cstring>

#include "GetDldFrame.h"
#include "VexaInput.h"
#include "VexaParameter.h"
#include "cmpr.h"
#include "dld2vexa.h"
#include "dld2vexa_internal.h"
#include "kvxio.h"
#include "numio.h"

namespace {

// The full help, as the option "+h" prints it, without the status report
// that ends a run stopped by "+h".
int printHelp(char *name) {
  char help[] = "+h";
  char *words[] = {name, help, nullptr};
  CommandBlock cb;
  int arg_no = 0;
  int status = Success;
  InitOptions(kD2VUsage, kD2VVersion, nullptr, 1, &cb, nullptr, 0);
  option_define(IO_tpline, "ext", ".kvx", &cb);
  ReadOptions(words, &arg_no, &cb, nullptr, &status);
  return status == StoppedAfterHelp ? 0 : ReportVexaStatus(status, 0);
}

int printVersion() {
  std::printf("dld2vexa %s\n", DLD2VEXA_VERSION);
  std::printf("dld2vexa %s\n", kD2VVersion);
  for (const char *version :
       {VexaErrorVersion(), VexaInputVersion(), VexaOptionVersion(), GetDldFrameVersion(),
        numio_version(), kvxio_version(), cmpr_version()})
    std::printf("%s\n", version);
  return 0;
}

}  // namespace

std::optional<int> dld2vexa_long_option(int argc, char *argv[]) {
  if (argc < 2 || argv == nullptr || argv[0] == nullptr || argv[1] == nullptr) return std::nullopt;
  if (std::strcmp(argv[1], "--help") == 0) return printHelp(argv[0]);
  if (std::strcmp(argv[1], "--version") == 0) return printVersion();
  return std::nullopt;
}

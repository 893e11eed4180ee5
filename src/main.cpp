#include "dld2vexa.h"
#include "program_start.h"

int main(int argc, char *argv[]) {
  // Without the standard descriptors nothing is opened: exit status 255,
  // as for any failed run.
  if (!prepare_program_start()) return 255;
  // Long options lie outside the framework's option syntax: its reader
  // would end the run with "Unknown option".
  if (const std::optional<int> status = dld2vexa_long_option(argc, argv)) return *status;
  return dld2vexa_main(argc, argv);
}

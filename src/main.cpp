#include "dld2vexa.h"
#include "program_start.h"

int main(int argc, char *argv[]) {
  // Without the standard descriptors nothing is opened: exit status 255,
  // as for any failed run.
  if (!prepare_program_start()) return 255;
  return dld2vexa_main(argc, argv);
}

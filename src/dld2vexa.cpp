#include "dld2vexa.h"

#include <cstdio>

#include "VexaError.h"

int dld2vexa_main(int /*argc*/, char* /*argv*/[]) {
  SetVexaError("dld2vexa", "main", "the converter is not built yet");
  return ReportVexaStatus(Failed, 0);
}

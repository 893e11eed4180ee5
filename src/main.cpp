#include "dld2vexa.h"

int main(int argc, char *argv[]) { return dld2vexa_main(argc, argv); }

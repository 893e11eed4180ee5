// dld2vexa: converts the frames of a DLD data set (header file plus
// histogramming-memory file) into images of a KVX file.
#pragma once

// The converter's entry: runs the whole conversion and returns the exit
// value (0, or the status of the first failure after it has been reported).
int dld2vexa_main(int argc, char *argv[]);

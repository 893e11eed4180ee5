// dld2vexa: converts the frames of a DLD data set (a DLD header file plus a
// histogramming-memory file) into images of one KVX file.
//
// The run: options, the argument dialog (user_io), the inputs, the output in
// mode "any" (new file or appended to), one Dld2Vexa call per existing frame
// and a summary.  Every failure is reported on the error stream and becomes
// the exit value.
#pragma once

#include <cstdio>
#include <optional>

#include "VexaError.h"
#include "VexaOption.h"

// Size of the converter's text buffers (at most 255 characters + terminator).
inline constexpr int kD2VTextSize = 256;

// Trace level of the converter: 0 off, 1 traces and verbose echo, above 1
// also the data file library's own traces.
int D2V_debug_level();

// The converter's entry: runs the whole conversion and returns the exit
// value (0, or the status of the first failure after it has been reported).
int dld2vexa_main(int argc, char *argv[]);

// "--help" or "--version" as the first word: prints the full help (what
// "+h" prints) or the package version and the versions of the converter
// and its framework, and gives the exit value 0.  Nothing for any other
// command line, which is then the converter's.
std::optional<int> dld2vexa_long_option(int argc, char *argv[]);

// Settles the eleven run parameters from positional arguments, prompts and
// the DLD header file.  *pstatus is Success afterwards, or the failure.
// Text parameters are buffers of kD2VTextSize bytes.
void user_io(int argc, char *argv[], int *parg_no, CommandBlock *pcb, char *InName, int *InFirst,
             int *InLast, int *InInc, char *InHmName, char *OutName, int *OutFirst, float *Dummy,
             int *DataLength, int *Dim_1, int *Dim_2, int *Off_1, int *Off_2, int *pstatus);

// Converts frame In of the DLD data set into image Out of the output stream.
// *pErrorValue is 0 on success, otherwise an error value of the data file
// library (7 when a DLD reader failed, 13 when the image exists already).
void Dld2Vexa(const CommandBlock *pcb, FILE *InFstream, int In, int DataLength, int Dim_1,
              int Dim_2, int Off_1, int Off_2, FILE *InHmstream, int OutStream, int Out,
              const char *InName, float Dummy, int *pErrorValue);

// Non-zero when the output file holds image ImNum in its primary data chain,
// or when the query itself fails; 0 when the image is not there.
int ImageNumberExists(int stream, long ImNum, int *pErrorValue);

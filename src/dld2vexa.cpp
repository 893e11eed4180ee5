#include "dld2vexa.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "GetDldFrame.h"
#include "VexaError.h"
#include "VexaOption.h"
#include "VexaParameter.h"
#include "dld2vexa_internal.h"
#include "kvxio.h"
#include "kvxio_lock.h"
#include "regular_file.h"

namespace {

int D2V_debug = 0;

// The frame loop's plan: how many iterations, computed without overflow.
// An increment of 0, or one that points away from the last frame, gives one
// iteration for the first frame.
int64_t iterationCount(int first, int last, int increment) {
  if (increment == 0) return 1;
  const int64_t count = (int64_t{last} - first) / increment + 1;
  return count < 1 ? 1 : count;
}

bool fitsInt(int64_t value) {
  return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

// Reports a failed step and gives the exit value.
int fail(int status) { return ReportVexaStatus(status, 0); }

// Names the step of the run that fails, for the status report.
int failStep(int status, const char *routine, const std::string &message) {
  SetVexaError("dld2vexa", routine, message.c_str());
  return fail(status);
}

// A signal that asks the program to stop (Ctrl-C, kill, a closed terminal)
// ends the run between two frames: killed inside a block, the output file
// would end with a torn block and refuse every later run.  The frame in
// progress is finished and the file closed.  A second signal ends the
// program at once, as without the guard.
volatile std::sig_atomic_t stopSignal = 0;

void noteStopSignal(int signal) { stopSignal = signal; }

class StopSignalGuard {
 public:
  StopSignalGuard() {
    stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls let the frame in progress finish its reads and writes.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (size_t n = 0; n < kSignals.size(); ++n) {
      installed_[n] = sigaction(kSignals[n], nullptr, &previous_[n]) == 0 &&
                      previous_[n].sa_handler != SIG_IGN &&  // nohup, background jobs
                      sigaction(kSignals[n], &action, nullptr) == 0;
    }
  }
  ~StopSignalGuard() {
    for (size_t n = 0; n < kSignals.size(); ++n)
      if (installed_[n]) sigaction(kSignals[n], &previous_[n], nullptr);
  }
  StopSignalGuard(const StopSignalGuard &) = delete;
  StopSignalGuard &operator=(const StopSignalGuard &) = delete;

 private:
  static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
  std::array<struct sigaction, kSignals.size()> previous_{};
  std::array<bool, kSignals.size()> installed_{};
};

std::string notRegular(const char *name, const char *kind) {
  return std::string(name) + ": not a regular file (" + kind + ")";
}

// The data file library's name of an error value, for messages.
std::string errorName(int value) {
  const char *name = kvx_error_name(value);
  return name != nullptr ? name : "error value " + std::to_string(value);
}

// Why the output file cannot be opened.  A file that another run writes to
// is left to it; the run may be queued behind it instead.
std::string outputOpenFailure(const char *OutName, int ErrorValue) {
  std::string message = std::string(OutName) + ": " + errorName(ErrorValue);
  if (ErrorValue == FileInUseByAnotherProcess)
    message += std::string(" (another run writes to it; ") + kKvxLockWaitVariable +
               "=<seconds> makes a run wait for it)";
  return message;
}

// Closes the output file after a stop signal, keeping every image written,
// and says which arguments continue the run.
int stopBeforeFrame(int OutStream, const char *OutName, int frame, int last, int image) {
  int ErrorValue = 0, kvxStatus = Success;
  kvx_close_data_file(OutStream, &ErrorValue, &kvxStatus);
  if (ErrorValue != 0)
    return failStep(FileClosingError, "kvx_close_data_file",
                    std::string(OutName) + ": " + errorName(ErrorValue));
  const int signal = stopSignal;
  return failStep(Abort, "main",
                  "stopped by signal " + std::to_string(signal) + " (" + strsignal(signal) +
                      ") before frame " + std::to_string(frame) + "; " + OutName +
                      " keeps the images converted so far; to continue, run again with first "
                      "frame " +
                      std::to_string(frame) + ", last frame " + std::to_string(last) +
                      ", first output image " + std::to_string(image));
}

// The first failure of the standard output, as an errno value (0: none).
// The run goes on without its output; the failure is reported at its end.
int standardOutputError = 0;

// Sends a progress line on at once, so that it can be followed on a pipe
// or in a log file as on a terminal.
void flushProgress() {
  if (std::fflush(stdout) != 0 && standardOutputError == 0) standardOutputError = errno;
}

// A run whose output did not all reach the standard output has failed,
// even when every image was converted: the failure is reported once the
// run has ended as it would have.
int checkStandardOutput(int status) {
  flushProgress();
  if (standardOutputError == 0 && std::ferror(stdout)) standardOutputError = EIO;
  if (standardOutputError == 0) return status;
  const std::string message = std::string("standard output: ") + std::strerror(standardOutputError);
  if (status != 0) {
    std::fprintf(stderr, "dld2vexa: %s\n", message.c_str());
    return status;
  }
  return failStep(FileWriteError, "main", message);
}

std::string systemFailure(const char *name) {
  return std::string(name) + ": " + std::strerror(errno);
}

}  // namespace

FILE *openInput(const char *name, std::string &failure) {
  // The kind of the file is checked on the opened descriptor, so the file
  // checked is the file read; the open does not wait on a FIFO or a device.
  const char *kind = nullptr;
  const int fd = open_regular_file(name, O_RDONLY, &kind);
  if (fd < 0) {
    failure = kind != nullptr ? notRegular(name, kind) : systemFailure(name);
    return nullptr;
  }
  if (FILE *file = stream_on_descriptor(fd, "rb")) return file;
  failure = systemFailure(name);
  return nullptr;
}

int D2V_debug_level() { return D2V_debug; }

namespace {

int runConversion(int argc, char *argv[]) {
  // Started without any argument, not even its own name: behave as if
  // called by name, so that no step ever reads a null argument vector.
  static char defaultName[] = "dld2vexa";
  char *namedArgv[] = {defaultName, nullptr};
  if (argc < 1 || argv == nullptr || argv[0] == nullptr) {
    argc = 1;
    argv = namedArgv;
  }
  int status = Success;
  int arg_no = 0;
  int ErrorValue = 0;
  CommandBlock cb;
  char InName[kD2VTextSize] = "", InHmName[kD2VTextSize] = "", OutName[kD2VTextSize] = "";
  int InFirst = 1, InLast = 1, InInc = 1, MaxFrame = 0, OutFirst = 1;
  float Dummy = -1.0F;
  int DataLength = 0, Dim_1 = 0, Dim_2 = 0, Off_1 = 0, Off_2 = 0;
  // From the dialog's look at the header file to the last frame.
  ConverterRun run;

  InitOptions(kD2VUsage, kD2VVersion, nullptr, 1, &cb, nullptr, 0);
  option_define(IO_tpline, "ext", ".kvx", &cb);
  ReadOptions(argv, &arg_no, &cb, nullptr, &status);
  if (status != Success) return fail(status);
  D2V_debug = cb.TestBit;

  user_io(argc, argv, &arg_no, &cb, InName, &InFirst, &InLast, &InInc, InHmName, OutName, &OutFirst,
          &Dummy, &DataLength, &Dim_1, &Dim_2, &Off_1, &Off_2, &status);
  if (status != Success) return fail(status);

  D2V_trace("open header file");
  std::string failure;
  D2VInputFile InFstream(openInput(InName, failure));
  if (!InFstream) return failStep(FileOpeningError, "main", failure);
  D2V_trace("open histogramming memory file");
  D2VInputFile InHmstream(openInput(InHmName, failure));
  if (!InHmstream) return failStep(FileOpeningError, "main", failure);
  D2V_trace("GetMaxDldNumber");
  if (GetMaxDldNumber(InFstream.get(), &MaxFrame) != 0)
    return failStep(CannotFindHeader, "GetMaxDldNumber", unreadableHeader(InName));

  // Image numbers are 32-bit: a run whose last image would leave that range
  // is refused before the output file is touched.
  const int64_t loopmax = iterationCount(InFirst, InLast, InInc);
  if (!fitsInt(int64_t{OutFirst} + (loopmax - 1) * InInc)) {
    return failStep(OutOfRange, "main", "output image numbers leave the range of 32-bit integers");
  }

  D2V_trace("open norv data file");
  int kvxStatus = Success;
  const int OutStream = kvx_open_data_file(OutName, "any", &ErrorValue, &kvxStatus);
  if (ErrorValue != 0)
    return failStep(FileOpeningError, "kvx_open_data_file", outputOpenFailure(OutName, ErrorValue));

  StopSignalGuard stopGuard;
  int64_t In = InFirst, Out = OutFirst;
  for (int64_t loop = 1; loop <= loopmax; ++loop, In += InInc, Out += InInc) {
    if (stopSignal != 0)
      return stopBeforeFrame(OutStream, OutName, static_cast<int>(In), InLast,
                             static_cast<int>(Out));
    if (In >= 1 && In <= MaxFrame) {
      std::printf(" Converting frame % d to image % d\n", static_cast<int>(In),
                  static_cast<int>(Out));
      flushProgress();
      ConvertFrame(run, &cb, InFstream.get(), static_cast<int>(In), DataLength, Dim_1, Dim_2, Off_1,
                   Off_2, InHmstream.get(), OutStream, static_cast<int>(Out), InName, Dummy,
                   &ErrorValue);
      // The output is left open: closing it would write the failed image's
      // pending header without its data.
      if (ErrorValue != 0) return fail(Failed);
    } else {
      // Frames outside 1..MaxFrame only appear while In has stayed a valid
      // int, because In runs between InFirst and InLast.
      std::printf(" Input frame % d does not exist.\n", static_cast<int>(In));
      flushProgress();
    }
  }

  kvxStatus = Success;
  kvx_close_data_file(OutStream, &ErrorValue, &kvxStatus);
  if (ErrorValue != 0)
    return failStep(FileClosingError, "kvx_close_data_file",
                    std::string(OutName) + ": " + errorName(ErrorValue));
  InFstream.reset();
  InHmstream.reset();

  std::printf("\nInput header file : %s\n", D2V_shown(InName).c_str());
  std::printf("Input memory file : %s\n", D2V_shown(InHmName).c_str());
  std::printf("Output file       : %s\n", D2V_shown(OutName).c_str());
  std::printf("\nEnd of %s\n", D2V_shown(argv[0]).c_str());
  return 0;
}

}  // namespace

int dld2vexa_main(int argc, char *argv[]) {
  standardOutputError = 0;
  std::clearerr(stdout);
  return checkStandardOutput(runConversion(argc, argv));
}

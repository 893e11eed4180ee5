// The converter's start on arbitrary argument vectors: options, then the
// argument dialog, as the program runs them.  The input cut at NUL bytes is
// the word list (word 0 the program name); the same bytes, one word per
// line, answer the prompts.  The dialog runs in the scratch directory,
// which holds a small DLD data set under the default names.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DldWriter.h"
#include "GetDldFrame.h"
#include "VexaInput.h"
#include "VexaOption.h"
#include "VexaParameter.h"
#include "dld2vexa.h"
#include "fuzz_support.h"
#include "kvxio.h"
#include "numio.h"

using fuzz_support::Require;

namespace {

void WriteDataSet() {
  static const bool done = [] {
    const DldDataSetLayout layout;  // two frames of 4 x 3 pixels of 2 bytes
    fuzz_support::WriteScratchFile("gasdet001", DldHeaderText(layout));
    fuzz_support::WriteScratchFile(
        "gasdet001hm",
        std::string(static_cast<size_t>(layout.frames * layout.columns * layout.rows * 2), '\1'));
    return true;
  }();
  (void)done;
}

// Runs in the scratch directory and returns to where it was.
class InScratchDir {
 public:
  InScratchDir() {
    Require(getcwd(home_, sizeof home_) != nullptr, "the working directory is known");
    Require(chdir(fuzz_support::ScratchDir().c_str()) == 0, "the scratch directory is entered");
  }
  ~InScratchDir() { Require(chdir(home_) == 0, "the working directory is entered again"); }
  InScratchDir(const InScratchDir &) = delete;
  InScratchDir &operator=(const InScratchDir &) = delete;

 private:
  char home_[4096];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_support::SilenceStdout();
  WriteDataSet();
  numprog_reset();
  kvx_history_reset();
  ResetDldFrameModule();
  std::vector<std::string> words = fuzz_support::SplitWords(fuzz_support::AsBytes(data, size));
  if (words.empty()) words.emplace_back("dld2vexa");
  std::vector<char *> argv = fuzz_support::MakeArgv(words);
  const int argc = static_cast<int>(words.size());

  std::string typed(fuzz_support::AsBytes(data, size));
  std::replace(typed.begin(), typed.end(), '\0', '\n');
  FILE *answers =
      typed.empty() ? std::fopen("/dev/null", "r") : fmemopen(typed.data(), typed.size(), "r");
  Require(answers != nullptr, "the answer stream opens");
  VexaInputRedirect(answers, stdout);

  {
    InScratchDir scratch;
    CommandBlock cb;
    InitOptions("<i/p file> ...", "V fuzz", nullptr, 1, &cb, nullptr, 0);
    option_define(IO_tpline, "ext", ".kvx", &cb);
    int arg_no = 0;
    int status = Success;
    ReadOptions(argv.data(), &arg_no, &cb, nullptr, &status);
    if (status == Success) {
      char InName[kD2VTextSize] = "", InHmName[kD2VTextSize] = "", OutName[kD2VTextSize] = "";
      int InFirst = 1, InLast = 1, InInc = 1, OutFirst = 1;
      int DataLength = 0, Dim_1 = 0, Dim_2 = 0, Off_1 = 0, Off_2 = 0;
      float Dummy = -1.0F;
      user_io(argc, argv.data(), &arg_no, &cb, InName, &InFirst, &InLast, &InInc, InHmName, OutName,
              &OutFirst, &Dummy, &DataLength, &Dim_1, &Dim_2, &Off_1, &Off_2, &status);
      Require(std::strlen(InName) < kD2VTextSize && std::strlen(OutName) < kD2VTextSize &&
                  std::strlen(InHmName) < kD2VTextSize,
              "the names fit their buffers");
    }
  }

  VexaInputResetStreams();
  std::fclose(answers);
  return 0;
}

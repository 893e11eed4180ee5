// The option parser on arbitrary argument vectors: the input cut at NUL
// bytes is the word list, word 0 the program name.  Three image blocks and
// one parameter of every value type make every option kind reachable.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "VexaOption.h"
#include "VexaParameter.h"
#include "fuzz_support.h"
#include "kvxio.h"
#include "numio.h"

using fuzz_support::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_support::SilenceStdout();
  numprog_reset();
  kvx_history_reset();
  std::vector<std::string> words = fuzz_support::SplitWords(fuzz_support::AsBytes(data, size));
  if (words.empty()) words.emplace_back("prog");
  std::vector<char *> argv = fuzz_support::MakeArgv(words);

  CommandBlock cb;
  std::array<ImageBlock, 3> ib;
  InitOptions("<i/p file> <o/p file>", "V1.0 fuzz", nullptr, words[0].size() % 2, &cb, ib.data(),
              static_cast<int>(ib.size()));
  option_define(IO_tpline, "ext", ".kvx", &cb);
  option_define(IO_tplong, "count", "3", &cb);
  option_define(IO_tpfloat, "scale", "1.5", &cb);
  option_define(IO_tpflag, "verb", "0", &cb);
  option_define(IO_tplvexp, "nexp", "2*3", &cb);
  option_define(IO_tpflexp, "fexp", "pi", &cb);

  int arg_no = 0;
  int status = Success;
  ReadOptions(argv.data(), &arg_no, &cb, ib.data(), &status);
  // A failed parse may stand past the last word (the value it missed).
  if (status == Success) {
    Require(arg_no >= 0 && arg_no < static_cast<int>(words.size()),
            "the last word consumed is one of the words");
    for (const char *name : {"ext", "count", "scale", "verb", "nexp", "fexp"}) {
      int found = Success;
      Require(option_parameter_search(name, &cb, &found) != nullptr,
              "a defined parameter is found after parsing");
    }
  }
  return 0;
}

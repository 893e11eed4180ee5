// kvxinfo: lists, shows and pictures the images of a KVX file.
#include <cstdio>
#include <string>
#include <vector>

#include "kvxinfo_run.h"

int main(int argc, char **argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  const int status = kvxinfo_run(words, stdout, stderr);
  return std::fflush(stdout) == 0 ? status : KvxinfoFailed;
}

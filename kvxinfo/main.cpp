// kvxinfo: lists, shows and pictures the images of a KVX file.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kvxinfo_run.h"
#include "program_start.h"

int main(int argc, char **argv) {
  if (!prepare_program_start()) return KvxinfoFailed;
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  const int status = kvxinfo_run(words, stdout, stderr);
  // A listing that did not reach its reader is a failure too.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "kvxinfo: standard output: %s\n", std::strerror(errno));
    return KvxinfoFailed;
  }
  return status;
}

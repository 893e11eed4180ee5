// What every test package needs around the code under test: a scratch
// folder, whole-file reads and writes, and running a built program as a
// user would (arguments, standard input, captured output, resource limits,
// an unprivileged account).
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

// The unprivileged account that permission cases run under when the tests
// run as root, who ignores file permissions.
inline constexpr uid_t kNobody = 65534;

// The file's bytes; empty when it cannot be read.
inline std::string read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const fs::path &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder under the system's temporary directory, removed with the
// object.  `path()` is empty when it could not be made.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string &stem = "d2v-test") {
    std::string pattern = (fs::temp_directory_path() / (stem + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  const fs::path &path() const { return path_; }
  std::string file(const std::string &name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

struct RunResult {
  int exit = -1;  // exit status, or minus the signal that ended the program
  std::string out, err;
};

struct RunOptions {
  std::string input;                     // the standard input
  rlim_t fileSizeLimit = RLIM_INFINITY;  // bytes; SIGXFSZ is ignored with a limit
  bool unprivileged = false;             // as kNobody when running as root
};

inline int exit_of(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw); }

// In a forked child: gives up root for the unprivileged account.  False
// when that is refused.
inline bool drop_privileges() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// In a forked child: applies the options and runs `args` in `dir`; never
// returns.  Exit 126 means the child could not be set up.
[[noreturn]] inline void exec_in_child(const fs::path &dir, const std::vector<std::string> &args,
                                       const RunOptions &options) {
  if (options.fileSizeLimit != RLIM_INFINITY) {
    std::signal(SIGXFSZ, SIG_IGN);  // an ignored signal stays ignored across exec
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (options.unprivileged && !drop_privileges()) _exit(126);
  if (chdir(dir.c_str()) != 0) _exit(126);
  std::vector<char *> argv;
  for (const auto &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(126);
}

// Runs `args` in `dir` (the program first, looked up on the PATH unless
// its name has a "/") with the standard input from `options.input` and
// both output streams captured.  The files
// ".stdin", ".stdout" and ".stderr" of `dir` carry the streams.
inline RunResult run_program(const fs::path &dir, const std::vector<std::string> &args,
                             const RunOptions &options = {}) {
  write_file(dir / ".stdin", options.input);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open((dir / ".stdin").c_str(), O_RDONLY);
    const int out = open((dir / ".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = open((dir / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
      _exit(126);
    exec_in_child(dir, args, options);
  }
  RunResult result;
  int raw = 0;
  if (child < 0 || waitpid(child, &raw, 0) != child) return result;
  result.exit = exit_of(raw);
  result.out = read_file(dir / ".stdout");
  result.err = read_file(dir / ".stderr");
  return result;
}

}  // namespace testsupport

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

// Whether this is the sanitizer build, where every process start costs
// many times more: tests that repeat a race for its timing run fewer
// rounds there.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kUnderSanitizers = true;
#else
inline constexpr bool kUnderSanitizers = false;
#endif

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

// Where a program's standard output goes.
enum class Output { Captured, DevFull, ClosedPipe };

struct RunOptions {
  std::string input;                     // the standard input
  rlim_t fileSizeLimit = RLIM_INFINITY;  // bytes, with the default action of SIGXFSZ
  bool unprivileged = false;             // as kNobody when running as root
  std::vector<int> closed;               // standard descriptors closed at the start
  Output output = Output::Captured;      // a closed pipe comes with SIGPIPE ignored
  const char *lockWait = nullptr;        // KVX_LOCK_WAIT, unset when null
  const int *startGate = nullptr;        // a pipe: the program starts once its write end closes
  unsigned timeLimit = 0;                // seconds before SIGALRM ends a program that hangs
};

inline int exit_of(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw); }

// In a forked child: gives up root for the unprivileged account.  False
// when that is refused.
inline bool drop_privileges() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// In a forked child: opens `path` as descriptor `fd`.
inline bool redirect(const fs::path &path, int fd, int flags) {
  const int opened = open(path.c_str(), flags, 0666);
  if (opened < 0 || dup2(opened, fd) < 0) return false;
  if (opened != fd) close(opened);
  return true;
}

// In a forked child: applies the options and runs `args` in `dir` (the
// program first, looked up on the PATH unless its name has a "/"); never
// returns.  Exit 126 means the child could not be set up.
[[noreturn]] inline void exec_in_child(const fs::path &dir, const std::vector<std::string> &args,
                                       const RunOptions &options) {
  if (options.fileSizeLimit != RLIM_INFINITY) {
    std::signal(SIGXFSZ, SIG_DFL);  // as in a shell: the limit's signal kills
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (options.unprivileged && !drop_privileges()) _exit(126);
  if (chdir(dir.c_str()) != 0) _exit(126);
  if (options.lockWait != nullptr && setenv("KVX_LOCK_WAIT", options.lockWait, 1) != 0) _exit(126);
  if (options.lockWait == nullptr) unsetenv("KVX_LOCK_WAIT");
  if (options.output == Output::DevFull && !redirect("/dev/full", 1, O_WRONLY)) _exit(126);
  if (options.output == Output::ClosedPipe) {
    int broken[2];
    if (pipe(broken) != 0 || dup2(broken[1], 1) < 0) _exit(126);
    close(broken[0]);
    close(broken[1]);
    std::signal(SIGPIPE, SIG_IGN);
  }
  if (options.startGate != nullptr) {
    char gate = 0;
    close(options.startGate[1]);
    if (read(options.startGate[0], &gate, 1) != 0) _exit(126);
    close(options.startGate[0]);
  }
  for (int fd : options.closed) close(fd);
  if (options.timeLimit > 0) alarm(options.timeLimit);
  std::vector<char *> argv;
  for (const auto &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(126);
}

// Starts a program in `dir` with the standard input from `options.input`
// and both output streams captured in the files ".stdin", ".stdout" and
// ".stderr" of `dir`, each followed by `tag`; finish_program waits for it.
inline pid_t start_program(const fs::path &dir, const std::vector<std::string> &args,
                           const RunOptions &options = {}, const std::string &tag = "") {
  write_file(dir / (".stdin" + tag), options.input);
  const pid_t child = fork();
  if (child == 0) {
    if (!redirect(dir / (".stdin" + tag), 0, O_RDONLY) ||
        !redirect(dir / (".stdout" + tag), 1, O_WRONLY | O_CREAT | O_TRUNC) ||
        !redirect(dir / (".stderr" + tag), 2, O_WRONLY | O_CREAT | O_TRUNC))
      _exit(126);
    exec_in_child(dir, args, options);
  }
  return child;
}

inline RunResult finish_program(const fs::path &dir, pid_t child, const std::string &tag = "") {
  RunResult result;
  int raw = 0;
  if (child < 0 || waitpid(child, &raw, 0) != child) return result;
  result.exit = exit_of(raw);
  result.out = read_file(dir / (".stdout" + tag));
  result.err = read_file(dir / (".stderr" + tag));
  return result;
}

inline RunResult run_program(const fs::path &dir, const std::vector<std::string> &args,
                             const RunOptions &options = {}) {
  return finish_program(dir, start_program(dir, args, options));
}

}  // namespace testsupport

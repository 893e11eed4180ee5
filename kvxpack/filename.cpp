#include "filename.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Names in the middle of the work (substituted names, variable and user
// names, the working directory and resolved directories) are held with at
// most 259 characters, the size of the 260-byte buffers that callers and
// stored settings were built around.
constexpr std::size_t kMaxName = 259;

// Copies text into the caller's buffer; null when it does not fit, since a
// cut name would name a different file.
char *copy_out(char *buffer, std::size_t buflen, std::string_view text) {
  if (buffer == nullptr || buflen == 0 || text.size() > buflen - 1) return nullptr;
  std::memmove(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return buffer;
}

// Reads one variable or user name at ps (see env_extract), storing at most
// limit characters.  An extraction that starts with "{" ends after its
// matching "}"; otherwise an unmatched "}" ends the run, and the name stops
// at "/", "$" or the end in both cases.  Inner braces are dropped.
std::optional<std::string> extract_name(const char *&ps, std::size_t limit) {
  std::string name;
  if (limit == 0) return name;
  int depth = 0;
  int runs = *ps == '{' ? 1 : 2;
  while (*ps != '\0' && *ps != '/' && *ps != '$' && runs != 0) {
    const char c = *ps;
    if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (--depth <= 0) --runs;
    } else {
      if (name.size() == limit) return std::nullopt;
      name += c;
    }
    ++ps;
  }
  if (depth != 0) return std::nullopt;
  return name;
}

// The home directory of the current user (empty user name) or of the named
// user, from the user database.
std::optional<std::string> home_directory(const std::string &user) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> storage(static_cast<std::size_t>(size));
  passwd entry{};
  passwd *found = nullptr;
  const int error = user.empty()
                        ? getpwuid_r(getuid(), &entry, storage.data(), storage.size(), &found)
                        : getpwnam_r(user.c_str(), &entry, storage.data(), storage.size(), &found);
  if (error != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

// The substitution of env_subst into a string; null on failure or when the
// result grows beyond limit characters.
std::optional<std::string> substitute(const char *pattern, std::size_t limit) {
  std::string result;
  const char *p = pattern;
  while (*p != '\0') {
    if (*p == '{') {
      auto text = extract_name(p, kMaxName);
      if (!text) return std::nullopt;
      result += *text;
    } else if (*p == '}') {
      return std::nullopt;
    } else if (*p == '$') {
      ++p;
      auto name = extract_name(p, kMaxName);
      if (!name) return std::nullopt;
      if (name->empty()) {
        result += '$';
      } else {
        const char *value = std::getenv(name->c_str());
        if (value == nullptr) return std::nullopt;
        result += value;
      }
    } else if (*p == '~' && result.empty()) {
      ++p;
      auto user = extract_name(p, kMaxName);
      if (!user) return std::nullopt;
      auto home = home_directory(*user);
      if (!home) return std::nullopt;
      result += *home;
    } else {
      result += *p++;
    }
    if (result.size() > limit) return std::nullopt;
  }
  return result;
}

// The working directory, if it can be read within the name limit.
std::optional<std::string> working_directory() {
  char cwd[kMaxName + 1];
  if (getcwd(cwd, sizeof cwd) == nullptr) return std::nullopt;
  return std::string(cwd);
}

// The absolute, physical form of an existing directory that the process may
// enter: the name that changing into it and reading the working directory
// would give, found without changing the working directory.
std::optional<std::string> resolve_directory(const std::string &directory) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(directory.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) return std::nullopt;
  struct stat info {};
  if (stat(resolved.get(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  if (faccessat(AT_FDCWD, resolved.get(), X_OK, AT_EACCESS) != 0) return std::nullopt;
  std::string absolute(resolved.get());
  if (absolute.size() > kMaxName) return std::nullopt;
  return absolute;
}

}  // namespace

char *env_extract(char *buffer, std::size_t buflen, const char **pps) {
  if (buffer == nullptr || buflen == 0 || pps == nullptr || *pps == nullptr) return nullptr;
  const auto name = extract_name(*pps, buflen - 1);
  if (!name) return nullptr;
  return copy_out(buffer, buflen, *name);
}

char *env_subst(char *buffer, std::size_t buflen, const char *filepattern) {
  if (buffer == nullptr || buflen == 0 || filepattern == nullptr) return nullptr;
  if (buflen == 1) return copy_out(buffer, buflen, "");  // room for the terminator only
  const auto result = substitute(filepattern, buflen - 1);
  if (!result) return nullptr;
  return copy_out(buffer, buflen, *result);
}

char *filename_parameter(char *buffer, std::size_t buflen, const char *pattern, int parno) {
  if (buffer == nullptr || buflen == 0 || pattern == nullptr || parno < 0) return nullptr;
  const std::string_view text(pattern, strnlen(pattern, kMaxName));
  std::size_t start = 0;
  for (int field = 0; field < parno; ++field) {
    const std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) return nullptr;
    start = comma + 1;
  }
  std::string_view field = text.substr(start);
  field = field.substr(0, field.find(','));
  return copy_out(buffer, buflen, field.substr(0, buflen - 1));
}

char *filename_unix(char *buffer, std::size_t buflen, const char *pattern) {
  if (pattern == nullptr) return nullptr;
  char substituted[kMaxName + 1];
  char name[kMaxName + 1];
  if (env_subst(substituted, sizeof substituted, pattern) == nullptr) return nullptr;
  if (filename_parameter(name, sizeof name, substituted, 0) == nullptr) return nullptr;
  for (char *c = name; *c != '\0'; ++c) {
    if (*c == '\\') *c = '/';
  }
  return copy_out(buffer, buflen, name);
}

char *filename_full(char *buffer, std::size_t buflen, const char *pattern) {
  char unix_name[kMaxName + 1];
  if (filename_unix(unix_name, sizeof unix_name, pattern) == nullptr) return nullptr;
  const std::string_view name(unix_name);
  if (name == "/dev/null") return copy_out(buffer, buflen, name);

  const auto cwd = working_directory();
  if (!cwd) return nullptr;

  std::string directory;
  std::string_view file = name;
  if (const std::size_t slash = name.rfind('/'); slash == std::string_view::npos) {
    directory = *cwd;
  } else {
    const auto resolved = resolve_directory(slash == 0 ? "/" : std::string(name.substr(0, slash)));
    if (!resolved) return nullptr;
    directory = *resolved;
    file = name.substr(slash + 1);
  }
  if (!directory.empty() && directory.back() == '/') directory.pop_back();
  return copy_out(buffer, buflen, directory + "/" + std::string(file));
}

int filename_has_pattern(const char *filename) {
  return filename != nullptr && std::strchr(filename, '%') != nullptr ? 1 : 0;
}

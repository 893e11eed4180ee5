#include "VexaInput.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>

#include "VexaExpression.h"
#include "report_sink.h"

namespace {

constexpr const char *kInputVersion = "VexaInput V4.40 Ardeny 2007-04-19";

// One typed line: at most 1023 characters and the terminator.  A longer line
// is read in parts, the rest answering the next prompt.
constexpr int kLineSize = 1024;
char buffer[kLineSize];

// Editing applied to every typed answer: comments go, blanks at both ends go.
constexpr int kAnswerEdit = UnComment | Trim;

// Number of leading characters that the abort and empty-text answers are
// looked for in.
constexpr std::size_t kKeywordWindow = 4;

FILE *redirected_input = nullptr;
FILE *redirected_output = nullptr;

FILE *prompt_output() { return redirected_output != nullptr ? redirected_output : stdout; }

// White space and case in the plain ASCII classification.
bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
char to_lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char to_upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The first characters of a line in lower case, where the keyword answers
// are recognised.
std::string_view keyword_window(const char *s1, char (&window)[kKeywordWindow + 1]) {
  std::size_t n = 0;
  for (; n < kKeywordWindow && s1[n] != '\0'; ++n) window[n] = to_lower(s1[n]);
  window[n] = '\0';
  return {window, n};
}

// Writes the question and the default's bracket, then ": ".
template <typename Value>
void show_prompt(const char *Prompt, int Flag, const char *bracket, Value DefVal) {
  FILE *out = prompt_output();
  std::fprintf(out, "%s ", Prompt != nullptr ? Prompt : "");
  if constexpr (std::is_pointer_v<Value>) {
    // A text default may be a file name from the command line.
    if (Flag != 0)
      std::fprintf(out, bracket, report_printable(DefVal != nullptr ? DefVal : "").c_str());
  } else {
    if (Flag != 0) std::fprintf(out, bracket, DefVal);
  }
  std::fputs(": ", out);
  std::fflush(out);
}

// Empties the line buffer and reads one answer into it; end of input leaves
// it empty.
void read_answer(FILE *Fptr) {
  buffer[0] = '\0';
  FILE *in = redirected_input != nullptr ? redirected_input : Fptr;
  if (in == nullptr || std::fgets(buffer, kLineSize, in) == nullptr) buffer[0] = '\0';
}

// The common steps of the number prompts: show, read, check the answer
// conventions and take the default.  Returns the status when that settles
// the answer, or nothing when the edited line holds an expression.
template <typename Value, typename Shown>
std::optional<Status> settle_number_answer(FILE *Fptr, Value *pValue, int Flag, const char *Prompt,
                                           Shown DefVal, const char *bracket) {
  show_prompt(Prompt, Flag, bracket, DefVal);
  read_answer(Fptr);
  if (AbortCheck(buffer) != 0) return Abort;
  if (SkipCheck(buffer) != 0) return SkipInput;
  EditLine(kAnswerEdit, buffer);
  if (DefaultCheck(buffer) == 0) return std::nullopt;
  if (Flag == 0) return NoDefault;
  *pValue = static_cast<Value>(DefVal);
  return Success;
}

// Copies at most len-1 characters of text into sout and terminates it.
void copy_text(std::string_view text, char *sout, int len) {
  if (sout == nullptr || len < 1) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(len - 1));
  std::memmove(sout, text.data(), n);
  sout[n] = '\0';
}

}  // namespace

const char *VexaInputVersion() { return kInputVersion; }

void VexaInputRedirect(FILE *input, FILE *output) {
  redirected_input = input;
  redirected_output = output;
}

void VexaInputResetStreams() { VexaInputRedirect(nullptr, nullptr); }

void CopyLine(const char *s1, char *sout, int len, int conversion) {
  if (sout == nullptr || len < 1) return;
  copy_text(s1 != nullptr ? std::string_view(s1, strnlen(s1, static_cast<std::size_t>(len - 1)))
                          : std::string_view(""),
            sout, len);
  char *end = sout + std::strlen(sout);
  if (conversion == -1) {
    std::transform(sout, end, sout, to_lower);
  } else if (conversion == 1) {
    std::transform(sout, end, sout, to_upper);
  }
}

int AbortCheck(const char *s1) {
  if (s1 == nullptr) return 0;
  if (std::strchr(s1, '\x04') != nullptr) return -1;
  char storage[kKeywordWindow + 1];
  const std::string_view window = keyword_window(s1, storage);
  const bool abort = window.find("$exi") != std::string_view::npos ||
                     window.find("$eod") != std::string_view::npos ||
                     window.find("\\\\") != std::string_view::npos;
  return abort ? -1 : 0;
}

int SkipCheck(const char *s1) {
  if (s1 == nullptr) return 0;
  std::string_view line(s1);
  // The line terminator (or another control character) may follow.
  if (line.size() > 1 && static_cast<unsigned char>(line.back()) <= 15) line.remove_suffix(1);
  return line == "..." ? -1 : 0;
}

int NullCheck(const char *s1) {
  if (s1 == nullptr) return 0;
  char storage[kKeywordWindow + 1];
  const std::string_view window = keyword_window(s1, storage);
  const bool null = window.find("$nul") != std::string_view::npos ||
                    window.find("$nix") != std::string_view::npos;
  return null ? -1 : 0;
}

int DefaultCheck(const char *s1) {
  if (s1 == nullptr) return -1;
  for (const char *c = s1; *c != '\0'; ++c) {
    if (!is_space(*c)) return 0;
  }
  return -1;
}

void EditLine(int EditFlag, char *str) {
  if (str == nullptr) return;
  std::replace(str, str + std::strlen(str), '\t', ' ');
  if ((EditFlag & UnComment) != 0) {
    if (char *comment = std::strchr(str, '#'); comment != nullptr) *comment = '\0';
  }

  bool trim = (EditFlag & Trim) != 0;
  char *out = str;
  if ((EditFlag & Collapse) != 0) {
    trim = true;
    for (const char *in = str; *in != '\0'; ++in) {
      if (!is_space(*in)) *out++ = *in;
    }
  } else if (*str != '\0') {
    // The first character is kept as it is; every later run of white space
    // shrinks to one blank.
    out = str + 1;
    bool in_run = false;
    for (const char *in = str + 1; *in != '\0'; ++in) {
      if (!is_space(*in)) {
        *out++ = *in;
        in_run = false;
      } else if (!in_run) {
        *out++ = ' ';
        in_run = true;
      }
    }
  }
  *out = '\0';

  if (trim) {
    char *end = out;
    while (end > str && is_space(end[-1])) --end;
    *end = '\0';
    const char *start = str;
    while (is_space(*start)) ++start;
    std::memmove(str, start, static_cast<std::size_t>(end - start) + 1);
  }

  const std::size_t length = std::strlen(str);
  if ((EditFlag & LowerCase) != 0) {
    std::transform(str, str + length, str, to_lower);
  } else if ((EditFlag & UpperCase) != 0) {
    std::transform(str, str + length, str, to_upper);
  }
}

const char *RightFR(const char *s1, const char *s2, char *sout, int len) {
  if (s1 == nullptr) s1 = "";
  const char *last = nullptr;
  if (s2 != nullptr && *s2 != '\0') {
    const std::size_t step = std::strlen(s2);
    for (const char *match = std::strstr(s1, s2); match != nullptr;
         match = std::strstr(match + step, s2)) {
      last = match;
    }
  }
  copy_text(last != nullptr ? last + std::strlen(s2) : s1, sout, len);
  return last;
}

const char *LeftFL(const char *s1, const char *s2, char *sout, int len) {
  if (s1 == nullptr) s1 = "";
  const char *first = (s2 != nullptr && *s2 != '\0') ? std::strstr(s1, s2) : nullptr;
  const std::string_view text(s1);
  copy_text(first != nullptr ? text.substr(0, static_cast<std::size_t>(first - s1)) : text, sout,
            len);
  return first;
}

Status GetInteger(FILE *Fptr, int *Value, int Flag, const char *Prompt, int DefVal) {
  if (auto settled = settle_number_answer(Fptr, Value, Flag, Prompt, DefVal, "[%-d] ")) {
    return *settled;
  }
  int status = Success;
  *Value = longexpr(buffer, &status);
  return static_cast<Status>(status);
}

Status GetReal(FILE *Fptr, float *Value, int Flag, const char *Prompt, float DefVal) {
  if (auto settled =
          settle_number_answer(Fptr, Value, Flag, Prompt, static_cast<double>(DefVal), "[%-g] ")) {
    return *settled;
  }
  int status = Success;
  *Value = floatexpr(buffer, &status);
  return static_cast<Status>(status);
}

Status GetLine(FILE *Fptr, char *Value, int Flag, const char *Prompt, const char *DefVal) {
  show_prompt(Prompt, Flag, "[%-s] ", DefVal != nullptr ? DefVal : "");
  read_answer(Fptr);
  if (AbortCheck(buffer) != 0) return Abort;
  if (SkipCheck(buffer) != 0) return SkipInput;
  if (NullCheck(buffer) != 0) {
    Value[0] = '\0';
    return Success;
  }
  EditLine(kAnswerEdit, buffer);
  if (DefaultCheck(buffer) != 0) {
    if (Flag == 0) return NoDefault;
    if (SkipCheck(DefVal) != 0) return SkipInput;
    CopyLine(DefVal, Value, VexaInputLineSize, 0);
    return Success;
  }
  CopyLine(buffer, Value, VexaInputLineSize, 0);
  return Success;
}

// Where the libraries' reports go, and bytes from files and command lines
// made safe to show.
//
// The libraries print their diagnostics (damaged files, failed steps, the
// status report at the end of a run) through one sink.  By default it is
// the standard error stream, so a program that leaves it alone sees the
// reports exactly as written.  A program that gives its own messages
// directs the sink elsewhere, to drop the detail or to show it on request.
//
// A report that quotes bytes read from a file or given on a command line
// passes them through report_printable first: such bytes may hold escape
// sequences that would rewrite the user's terminal.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Receives one formatted piece of a report; `context` as given with it.
using ReportSink = void (*)(std::string_view text, void *context);

// Directs the reports to `sink`; a null sink restores the standard error
// stream.
void report_set_sink(ReportSink sink, void *context);

// A sink that writes to the std::FILE given as context.
void report_to_stream(std::string_view text, void *context);
// A sink that drops every report.
void report_discard(std::string_view text, void *context);

// Formats like printf and hands the text to the sink in one piece.
void report_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Directs the reports to `sink` for the life of the object.
class ReportSinkScope {
 public:
  ReportSinkScope(ReportSink sink, void *context);
  ~ReportSinkScope();
  ReportSinkScope(const ReportSinkScope &) = delete;
  ReportSinkScope &operator=(const ReportSinkScope &) = delete;

 private:
  ReportSink previous_sink_;
  void *previous_context_;
};

// `text` with every control character and every byte that is not part of
// valid UTF-8 shown escaped: line feed, carriage return and tab as "\n",
// "\r", "\t", all others (C1 controls encoded in UTF-8 included) as "\xHH"
// per byte.  With `keep_line_breaks` line feeds pass unchanged, for text
// that is already a report of several lines.  Backslashes are not doubled,
// so escaping twice changes nothing.
std::string report_printable(std::string_view text, bool keep_line_breaks = false);

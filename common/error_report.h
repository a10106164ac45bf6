#pragma once
// One form for every error message of the toolkit's programs:
//
//     program: what failed: cause
//
// Each part is left out, with its colon, when it is empty: riffcat's messages belong to its
// report and carry no program name ("Read error"), and not every failure has a cause.
//
// Typical use:
//     report_error("harmtrace", "error writing standard output at statement 143",
//                  std::strerror(out.error()));
#include <string>
#include <string_view>

class output;

// The message with its line end.
std::string error_message(std::string_view program, std::string_view what,
                          std::string_view cause = {});

// The message into err (a buffer of standard error that keeps a report in order).
void report_error(output& err, std::string_view program, std::string_view what,
                  std::string_view cause = {});

// The message straight to standard error.
void report_error(std::string_view program, std::string_view what, std::string_view cause = {});

// Text as a message can show it: a byte outside printable ASCII, or one of `also`, as \xNN
// (two lowercase hexadecimal digits); every other byte as it is.
// Typical use: printable(item, "\"\\")
std::string printable(std::string_view text, std::string_view also = {});

// A name (a file's) as a person's screen can show it: every byte of a control character (C0,
// DEL, C1) or of no UTF-8 character as \xNN; printable characters, accents and spaces too, as
// they are. Names go into messages and summaries this way, always (a terminal or not); tables
// keep them as given.
// Typical use: "Can't open " + printable_name(arg)
std::string printable_name(std::string_view name);

// A message made by error_message straight to standard error.
void write_error(std::string_view message);

// "program: error writing standard output at statement N: cause", errnum giving the cause.
void report_write_error(std::string_view program, int statement, int errnum);

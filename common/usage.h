#pragma once
// What every program says about its command line: --help and --version (the text on standard
// output, status 0) and a usage error (the reason and the usage line on standard error,
// status 2).
#include <optional>
#include <string>
#include <string_view>

// "PROGRAM (harmtrace toolkit) VERSION" and its line end.
std::string version_line(std::string_view program);

// When an argument, wherever it stands, is --help or --version (or -h, where dash_h), writes the
// help text or the version line of `program` on standard output and gives the exit status: 0, or
// 2 when standard output could not be written. Nothing when no argument asks for either.
// Typical use:
//     if (auto status = answer_help_or_version(argc, argv, "blockcsv", help_text, true))
//         return *status;
std::optional<int> answer_help_or_version(int argc, const char* const* argv,
                                          std::string_view program, std::string_view help,
                                          bool dash_h);

// The reason to give for an argument a program does not take: "unknown option ARG" when it
// starts with a dash, "unexpected argument ARG" otherwise.
std::string unexpected_argument(std::string_view arg);

// Writes "program: what" and the usage line on standard error; returns the status, 2.
// Typical use: return usage_error("blockcsv", unexpected_argument(argv[1]), usage_line);
int usage_error(std::string_view program, std::string_view what, std::string_view usage_line);

// An option's real value: the whole text one finite number, as from_chars reads it ("1.5",
// "-3e2"; not "1.5s", "nan" or "inf").
// Typical use: if (!option_real(value, seconds)) return usage_error(...);
bool option_real(std::string_view text, double& v);

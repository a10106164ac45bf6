#pragma once
// --help and --version, the same in every program: the text on standard output, status 0.
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

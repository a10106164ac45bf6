#pragma once
// Runs a program as a child process with the given standard input and
// collects its standard output, standard error and exit status.
#include <string>
#include <vector>

struct process_result {
    int status = -1;  // exit status, or 128 + signal number when killed by a signal
    std::string out;
    std::string err;
};

// stdout_path, when not empty, is opened as the child's standard output
// instead of a pipe (for example /dev/full); `out` then stays empty.
process_result run_program(const std::string& exe, const std::vector<std::string>& args,
                           const std::string& input, const std::string& stdout_path = "");

// Runs "sh -c command" the same way (for pipelines).
process_result run_shell(const std::string& command, const std::string& input = "");

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
// A path in the test program's temporary directory, which is removed when the program ends.
std::string temp_path(const std::string& name);

// `exe help_args` (which hold --help or -h among other arguments) prints a text starting with
// usage_start on standard output, `exe -h` the same text, and `exe --version` prints `version`;
// each succeeds.
void expect_help_and_version(const std::string& exe, const std::vector<std::string>& help_args,
                             const std::string& usage_start, const std::string& version);

// Writes a recording with tonegen (its arguments without -o) to temp_path(name); returns the path.
std::string tonegen_file(const std::string& name, std::vector<std::string> args);

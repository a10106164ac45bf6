#pragma once
// harmplot's run over many recordings: a pool of threads, each analysing one recording at a time
// (harmtrace then on that thread alone) and writing its table and picture; what each gives is
// shown in the order the files were given (progress on standard error, the reason a file gave
// no summary, the summaries, the --summary rows).

#include <string>

#include "command_line.h"

// Where plot.gp lies, looked for beside the program (argv0, or the running binary) and in its
// ../share/harmtrace/; empty when neither holds it.
std::string find_plot_gp(const std::string& argv0);

// Runs harmplot; returns the exit status.
// Typical use: return run_harmplot(command.o, find_plot_gp(argv[0]));
int run_harmplot(const plot_options& o, const std::string& plot_gp);

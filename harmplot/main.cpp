// harmplot: from recordings of single notes to tables, pictures and a checked summary, in one
// process over the toolkit's libraries (harmplot --help).
#include <string>
#include <vector>

#include "command_line.h"
#include "ending.h"
#include "output.h"
#include "run.h"
#include "usage.h"

int main(int argc, char** argv) {
    watch_signals();
    const parsed_command c = parse_command(std::vector<std::string>(argv + 1, argv + argc));
    output out;
    switch (c.what) {
        case parsed_command::help:
            out.put(harmplot_help);
            return out.flush() ? 0 : 2;
        case parsed_command::version:
            out.put(version_line("harmplot"));
            return out.flush() ? 0 : 2;
        case parsed_command::usage_error:
            return usage_error("harmplot", c.error, harmplot_usage_line);
        case parsed_command::run:
            break;
    }
    return run_harmplot(c.o, find_plot_gp(argv[0]));
}

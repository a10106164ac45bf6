// blockcsv: reads harmtrace's harmonic blocks on standard input and writes them on standard
// output as a comma-separated table, a header row of harmonic frequencies and a row of harmonic
// powers per analysis window; with --fundamental, each row also gives its window's fundamental.
#include <string_view>

#include "error_report.h"
#include "output.h"
#include "record_reader.h"
#include "table.h"
#include "usage.h"

static const char usage_line[] = "usage: blockcsv [--fundamental] < report > table.csv\n";

static const char help_text[] =
    "Usage: blockcsv [--fundamental] < report > table.csv\n"
    "Reads the report lines of harmtrace on standard input and writes a comma-separated table:\n"
    "a header row with the frequencies of harmonics 1 to 10, then one row per analysis window\n"
    "with its start time and the power of each harmonic.\n"
    "\n"
    "  --fundamental  end each row with its window's fundamental (harmonic 1's frequency),\n"
    "                 which harmtrace --follow gives window by window\n"
    "  -h, --help     show this text\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 done, 2 an argument other than these, a malformed number or a failed write.\n";

int main(int argc, char** argv) {
    if (auto status = answer_help_or_version(argc, argv, "blockcsv", help_text, true))
        return *status;
    // Standard input only: a file named here would otherwise be left unread while the program
    // waits on the terminal.
    bool fundamental = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--fundamental")
            return usage_error("blockcsv", unexpected_argument(argv[i]), usage_line);
        fundamental = true;
    }
    output out;
    record_reader in;
    open_reader(in, 0);
    const table_result r = write_table(in, out, fundamental);
    switch (r.end) {
        case table_end::input_ended:
        case table_end::block_limit:
            return 0;
        case table_end::bad_input:
            write_error(describe_read_error(in, r.read, "blockcsv", read_statement));
            return 2;
        case table_end::write_failed:
            report_write_error("blockcsv", r.statement, out.error());
            return 2;
    }
    return 2;
}

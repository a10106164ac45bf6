// blockcsv: reads harmtrace's harmonic blocks on standard input and writes them on standard
// output as a comma-separated table, a header row of harmonic frequencies and a row of harmonic
// powers per analysis window. It takes no argument but --help (-h) and --version.
#include "error_report.h"
#include "output.h"
#include "record_reader.h"
#include "table.h"
#include "usage.h"

static const char usage_line[] = "usage: blockcsv < report > table.csv\n";

static const char help_text[] =
    "Usage: blockcsv < report > table.csv\n"
    "Reads the report lines of harmtrace on standard input and writes a comma-separated table:\n"
    "a header row with the frequencies of harmonics 1 to 10, then one row per analysis window\n"
    "with its start time and the power of each harmonic.\n"
    "\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 done, 2 an argument other than these, a malformed number or a failed write.\n";

int main(int argc, char** argv) {
    if (auto status = answer_help_or_version(argc, argv, "blockcsv", help_text, true))
        return *status;
    // Standard input only: a file named here would otherwise be left unread while the program
    // waits on the terminal.
    if (argc > 1) return usage_error("blockcsv", unexpected_argument(argv[1]), usage_line);
    output out;
    record_reader in;
    open_reader(in, 0);
    const table_result r = write_table(in, out);
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

// blockcsv: reads harmtrace's harmonic blocks on standard input and writes them on standard
// output as a comma-separated table, a header row of harmonic frequencies and a row of harmonic
// powers per analysis window. Arguments are ignored.
#include <cstdio>
#include <memory>

#include "output_buffer.h"
#include "record_reader.h"
#include "table.h"

int main() {
    record_reader in;
    open_reader(in, 0);
    auto out = std::make_unique<output_buffer>();
    const table_result r = write_table(in, *out);
    switch (r.end) {
        case table_end::input_ended:
        case table_end::block_limit:
            return 0;
        case table_end::bad_input:
            std::fputs(describe_read_error(in, r.read, "blockcsv", 6).c_str(), stderr);
            return 2;
        case table_end::write_failed:
            report_write_error(*out, "blockcsv", r.statement);
            return 2;
    }
    return 2;
}

#include "input.h"

#include "error_report.h"

int read_samples(record_reader& in, double* x0, int cap, read_status& status) {
    status = read_status::ok;
    int nx0 = 0;
    record_value v;  // a real; an empty item or a slash leaves it 0
    while (nx0 < cap) {
        v.r = 0;
        status = read_record(in, &v, 1);
        if (status != read_status::ok) break;
        x0[nx0++] = v.r;
    }
    return nx0;
}

int read_standard_input(double* x0) {
    record_reader in;
    open_reader(in, 0);
    read_status status;
    const int nx0 = read_samples(in, x0, max_samples, status);
    if (status == read_status::bad_value || status == read_status::io_error) {
        write_error(describe_read_error(in, status, "harmtrace", read_statement));
        return -1;
    }
    return nx0;
}

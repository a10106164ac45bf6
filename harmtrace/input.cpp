#include "input.h"

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

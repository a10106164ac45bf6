// The free-form record reader on harmtrace's input: 2097152 lines of
// tab-separated stereo integers, one real read per line.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "record_reader.h"

namespace {

std::string stereo_lines(int n) {
    std::string s;
    s.reserve(std::size_t(n) * 14);
    unsigned v = 12345;
    for (int i = 0; i < n; ++i) {
        v = v * 1103515245u + 12345u;
        const int a = int(v >> 16) % 65536 - 32768, b = int(v % 65536) - 32768;
        s += std::to_string(a) + "\t" + std::to_string(b) + "\n";
    }
    return s;
}

void BM_read_samples_from_fd(benchmark::State& st) {
    const std::string text = stereo_lines(2097152);
    const int fd = memfd_create("samples", 0);
    if (write(fd, text.data(), text.size()) != ssize_t(text.size())) st.SkipWithError("write");
    for (auto _ : st) {
        lseek(fd, 0, SEEK_SET);
        record_reader in;
        open_reader(in, fd);
        record_value v;
        double sum = 0;
        while (read_record(in, &v, 1) == read_status::ok) sum += v.r;
        benchmark::DoNotOptimize(sum);
    }
    close(fd);
    st.SetBytesProcessed(st.iterations() * std::int64_t(text.size()));
}
BENCHMARK(BM_read_samples_from_fd)->Unit(benchmark::kMillisecond);

void BM_read_report_records(benchmark::State& st) {
    // blockcsv's free-form read: one integer and seven reals.
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text +=
            "   3  1.234567  1.334567  1.434567    660.00571848    0.71887773E-05   "
            "-0.51482748E-05   -1.396347\n";
    for (auto _ : st) {
        record_reader in;
        open_reader(in, text);
        record_value v[8];
        v[0].integer = true;
        while (read_record(in, v, 8) == read_status::ok) benchmark::DoNotOptimize(v[4].r);
    }
    st.SetItemsProcessed(st.iterations() * 100000);
}
BENCHMARK(BM_read_report_records)->Unit(benchmark::kMillisecond);

}  // namespace

// Cost of the block table at its limit: 999999 blocks of ten report lines (about 990 MB), read
// from memory and, as the program reads standard input, through a file descriptor in 1 MiB
// blocks. The rows go to /dev/null.
//
// The lines are those of 4096 windows of a 440 Hz tone in the report layout, repeated; some
// ratios fill their field and touch the excess sum before them, as harmtrace writes them for
// harmonics at noise level.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "report_line.h"
#include "table.h"

namespace {

constexpr int windows = 4096;

std::string tone_report() {
    const double dt = 1.0 / (1024 * 440.0);
    std::string text;
    text.reserve(std::size_t(windows) * block_lines * (report_line_width + 1));
    for (int w = 0; w < windows; ++w) {
        for (int k = 1; k <= block_lines; ++k) {
            const double pt =
                k == 1 ? 9.0860947e5 * (1 + 1e-6 * w) : 1e-5 * (1.5 + std::sin(w * k));
            const double s = k == 1 ? pt : pt * (w % 50 == 0 ? -1e-3 : 0.5 + 0.4 * std::cos(w + k));
            const double v[report_reals] = {2048 * w * dt,
                                            (2048 * w + 4095) * dt,
                                            (2048 * w + 8191) * dt,
                                            k / (1024 * dt),
                                            pt,
                                            s,
                                            pt / s};
            char line[report_line_width + 1];
            text.append(line, std::size_t(format_report_line(line, k, v)));
        }
    }
    return text;
}

// The report of max_blocks windows.
const std::string& limit_report() {
    static const std::string text = [] {
        const std::string one = tone_report();
        std::string all;
        all.reserve(one.size() / windows * max_blocks);
        for (int b = 0; b < max_blocks; b += windows) {
            const int n = std::min(windows, max_blocks - b);
            all.append(one, 0, one.size() / windows * std::size_t(n));
        }
        return all;
    }();
    return text;
}

void run(benchmark::State& state, record_reader& in) {
    const int null = ::open("/dev/null", O_WRONLY);
    output out(null);
    const table_result r = write_table(in, out);
    ::close(null);
    if (r.end != table_end::block_limit || r.rows != max_blocks)
        state.SkipWithError("not every block was converted");
}

void table_from_memory(benchmark::State& state) {
    const std::string& text = limit_report();
    for (auto _ : state) {
        state.PauseTiming();
        record_reader in;
        open_reader(in, text);
        state.ResumeTiming();
        run(state, in);
    }
    state.SetItemsProcessed(state.iterations() * max_blocks * block_lines);
    state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
}
BENCHMARK(table_from_memory)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

void table_from_descriptor(benchmark::State& state) {
    const std::string& text = limit_report();
    const int fd = memfd_create("blockcsv_bench", 0);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != ssize_t(text.size())) {
        state.SkipWithError("cannot write the input");
        return;
    }
    for (auto _ : state) {
        ::lseek(fd, 0, SEEK_SET);
        record_reader in;
        open_reader(in, fd);
        run(state, in);
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations() * max_blocks * block_lines);
    state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
}
BENCHMARK(table_from_descriptor)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

}  // namespace

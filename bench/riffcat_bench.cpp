// Dump speed: a 47 s 16-bit stereo recording at 44.1 kHz (2072700 frames) from a file on disk
// to sample text that is thrown away after counting. Run with --benchmark_repetitions=N for a
// median.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>

#include "riffcat.h"

namespace {

constexpr std::uint32_t frames = 47 * 44100;

std::string le(std::uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char(v >> 8 * i & 0xff);
    return s;
}

// Two tones, a loud one on the left and a soft one on the right, so that the values have the
// spread of lengths of real music.
const std::string& recording_path() {
    static const std::string path = [] {
        std::string data;
        data.reserve(std::size_t(frames) * 4);
        for (std::uint32_t i = 0; i < frames; ++i) {
            double t = i / 44100.0;
            data += le(std::uint32_t(int(20000 * std::sin(2 * std::numbers::pi * 440 * t))), 2);
            data += le(std::uint32_t(int(900 * std::sin(2 * std::numbers::pi * 660 * t))), 2);
        }
        std::string fmt = le(1, 2) + le(2, 2) + le(44100, 4) + le(176400, 4) + le(4, 2) + le(16, 2);
        std::string body =
            "WAVEfmt " + le(16, 4) + fmt + "data" + le(std::uint32_t(data.size()), 4);
        std::string p = (std::filesystem::temp_directory_path() / "riffcat_bench.wav").string();
        std::FILE* f = std::fopen(p.c_str(), "wb");
        std::string head = "RIFF" + le(std::uint32_t(body.size() + data.size()), 4) + body;
        std::fwrite(head.data(), 1, head.size(), f);
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
        return p;
    }();
    return path;
}

void BM_dump_47s_stereo16(benchmark::State& state) {
    const std::string& path = recording_path();
    const int null = ::open("/dev/null", O_WRONLY);
    for (auto _ : state) {
        std::FILE* fp = std::fopen(path.c_str(), "rb");
        std::setvbuf(fp, nullptr, _IONBF, 0);
        reader f(fp);
        std::string report;
        output out(null), err(report);
        dump_end end = riffcat(f, out, err, -1);
        out.flush();
        std::fclose(fp);
        if (end != dump_end::done) state.SkipWithError("dump failed");
    }
    ::close(null);
    state.counters["frames/s"] = benchmark::Counter(double(frames) * double(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_dump_47s_stereo16)->Unit(benchmark::kMillisecond);

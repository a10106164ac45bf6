// The real riffcat on sound files from another project (tests/data/README.md), against the
// text an independent reader gives: Python's wave module, whose values were printed the way
// riffcat prints them and summed up by frame count, first and last lines and FNV-1a hash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "process.h"

namespace {

std::uint64_t fnv1a64(const std::string& s) {
    std::uint64_t h = 0xcbf29ce484222325;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001b3;
    return h;
}

}  // namespace

TEST(RiffcatFiles, CPythonTestRecordingsGiveTheValuesWaveReads) {
    const struct {
        const char* name;
        std::string first, last;  // the first two and the last two lines
        std::uint64_t hash;
    } files[] = {
        {"pluck-pcm16.wav", "558\t-22\n19292\t249\n", "-817\t19\n3\t-2\n", 0xba20f1a9d85913b3},
        {"pluck-pcm24.wav", "142693\t-5219\n4938255\t64084\n", "-210086\t5850\n0\t0\n",
         0xa49221a3740de613},
        {"pluck-pcm24-ext.wav", "142693\t-5219\n4938255\t64084\n", "-210086\t5850\n0\t0\n",
         0xa49221a3740de613},
        {"pluck-pcm32.wav", "36529596\t-1335918\n1264193408\t16405660\n",
         "-53781992\t1497766\n0\t0\n", 0x6899ca2ef06154c4},
    };
    for (const auto& f : files) {
        const process_result r =
            run_program(RIFFCAT_EXE, {std::string(EXAMPLES_DIR "/../tests/data/") + f.name}, "");
        EXPECT_EQ(r.status, 0) << f.name << "\n" << r.err;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3307) << f.name;
        EXPECT_TRUE(r.out.starts_with(f.first)) << f.name;
        EXPECT_TRUE(r.out.ends_with(f.last)) << f.name;
        EXPECT_EQ(fnv1a64(r.out), f.hash) << f.name;
    }
}

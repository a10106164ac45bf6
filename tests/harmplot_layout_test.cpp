// harmplot end to end: recordings made by tonegen at two rates and a file that is no recording,
// through harmplot installed by cmake --install, and through the build's harmplot with a PATH
// that lacks gnuplot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace {

const std::string harmplot = HARMPLOT;

// A fresh directory holding a tonegen recording per argument list.
std::string recordings(const std::string& name,
                       const std::vector<std::pair<std::string, std::string>>& tones) {
    const std::string dir = temp_path(name);
    run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
    for (const auto& [file, args] : tones) {
        const process_result r =
            run_shell("'" TONEGEN_EXE "' " + args + " -o '" + dir + "/" + file + "'");
        EXPECT_EQ(r.status, 0) << r.err;
    }
    return dir;
}

// The summary of one file: its heading line and the decay rates (dB/s) of the harmonics listed
// before the first that has none.
struct summary {
    std::string heading;
    std::vector<double> decay;
};

summary summary_of(const std::string& out, const std::string& file) {
    summary s;
    std::istringstream in(out.substr(std::min(out.find(file + ": "), out.size())));
    std::getline(in, s.heading);
    std::string line;
    while (std::getline(in, line) && line.find("  harmonic") != 0) {
    }
    int k;
    double hz, level, decay;
    while (std::getline(in, line) &&
           std::sscanf(line.c_str(), "%d %lf %lf %lf", &k, &hz, &level, &decay) == 4)
        s.decay.push_back(decay);
    return s;
}

// tonegen's decay d is the amplitude's, exp(-d t): the power falls by 20 log10(e) d dB a second.
double db_per_second(double d) {
    return -20 * std::log10(std::exp(1.0)) * d;
}

TEST(Harmplot, TablesSummariesAndPicturesOfTwoRecordingsAndAFailure) {
    const std::string dir =
        recordings("harmplot", {{"e4.wav",
                                 "additive --freq 330 --amps 1,0.6,0.5,0.4 --decays "
                                 "0.5,1,2,3 --seconds 2"},
                                {"g3.wav",
                                 "additive --freq 196 --amps 1,0.5,0.3 --decays 1,2,3 "
                                 "--rate 48000 --seconds 2"}});
    write_file(dir + "/notes.wav", "not a recording\n");
    // The installed layout: bin/ with the programs, share/harmtrace/plot.gp.
    const process_result install =
        run_shell("cmake --install '" BUILD_DIR "' --prefix '" + dir + "/usr' >/dev/null");
    ASSERT_EQ(install.status, 0) << install.err;
    ASSERT_EQ(run_shell("ln -s usr/bin '" + dir + "/bin'").status, 0);

    const process_result r =
        run_shell("cd '" + dir + "' && bin/harmplot -o out e4.wav notes.wav " + dir + "/g3.wav");
    EXPECT_EQ(r.status, 1);
    // Progress, and one line for the file that fails (riffcat's reason).
    EXPECT_EQ(r.err.find("[1/3] e4.wav\n[2/3] notes.wav\nharmplot: notes.wav: "), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;
    EXPECT_NE(r.err.find("\n[3/3] " + dir + "/g3.wav\n"), std::string::npos) << r.err;

    const summary e4 = summary_of(r.out, "e4.wav"), g3 = summary_of(r.out, dir + "/g3.wav");
    EXPECT_EQ(e4.heading.find("e4.wav: 330.0 Hz, E4 +2 cents, mono, 2.00 s"), 0u) << r.out;
    EXPECT_NE(e4.heading.find(" Hz, E4 +"), std::string::npos) << e4.heading;
    EXPECT_NE(g3.heading.find(" Hz, G3 "), std::string::npos) << g3.heading;
    const double decays[2][4] = {{0.5, 1, 2, 3}, {1, 2, 3}};
    for (int f = 0; f < 2; ++f) {
        const summary& s = f == 0 ? e4 : g3;
        ASSERT_EQ(s.decay.size(), f == 0 ? 4u : 3u) << r.out;  // the others sink into the floor
        for (std::size_t k = 0; k < 4 && decays[f][k] > 0; ++k)
            EXPECT_NEAR(s.decay[k] / db_per_second(decays[f][k]), 1, 0.03)
                << s.heading << ", harmonic " << k + 1;
    }

    // The table is the followed pipeline's at the file's rate, with each window's fundamental;
    // with gnuplot there is a picture.
    const process_result pipeline =
        run_shell("'" RIFFCAT_EXE "' '" + dir +
                  "/g3.wav' 2>/dev/null | '" HARMTRACE_EXE "' -r 48000 --follow | '" BLOCKCSV_EXE
                  "' --fundamental");
    EXPECT_EQ(read_file(dir + "/out/g3.csv"), pipeline.out);
    EXPECT_GT(read_file(dir + "/out/e4.csv").size(), 1000u);
    EXPECT_FALSE(std::ifstream(dir + "/out/notes.csv").good());
    if (run_shell("command -v gnuplot").status == 0) {
        EXPECT_EQ(read_file(dir + "/out/e4.png").substr(1, 3), "PNG");
        EXPECT_EQ(read_file(dir + "/out/g3.png").substr(1, 3), "PNG");
        EXPECT_NE(r.out.find("picture out/g3.png"), std::string::npos);
    }
    run_shell("rm -rf '" + dir + "'");
}

TEST(Harmplot, RecordingsSideBySideGiveWhatOneAfterAnotherGives) {
    // Notes of different lengths, a file that is no recording, a name given twice and one
    // that does not exist: -j 3 finishes them out of order but shows them in order.
    const std::string dir =
        recordings("harmplot-j", {{"long.wav", "pluck --freq 110 --seconds 4"},
                                  {"short.wav", "additive --freq 440 --amps 1,0.5 --seconds 0.5"},
                                  {"mid.wav", "vibrato --freq 294 --seconds 2"},
                                  {"x.wav", "sine --freq 330 --seconds 1"}});
    write_file(dir + "/notes.wav", "not a recording\n");
    const std::string path = "cd '" + dir + "' && '" + harmplot + "' -o out --summary s.csv ";
    const std::string files = " long.wav notes.wav short.wav x.wav mid.wav ./x.wav missing.wav";
    const process_result one = run_shell(path + "-j 1" + files);
    const std::string table = read_file(dir + "/s.csv");
    const process_result three = run_shell(path + "-j3" + files);
    EXPECT_EQ(three.status, 1);
    EXPECT_EQ(three.status, one.status);
    EXPECT_EQ(three.out, one.out);
    EXPECT_EQ(three.err, one.err);
    EXPECT_EQ(read_file(dir + "/s.csv"), table);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1 + 10 + 1 + 10 + 10 + 10 + 1 + 1)
        << table;
    EXPECT_EQ(run_shell(path + "-j 0 x.wav").status, 2);
    run_shell("rm -rf '" + dir + "'");
}

TEST(Harmplot, WithoutGnuplotTheTablesAreWrittenAndTheRunSucceeds) {
    const std::string dir = recordings("harmplot-tables", {{"a.wav", "pluck --freq 220"}});
    // A PATH without gnuplot: harmplot needs nothing else.
    const process_result r =
        run_shell("PATH='" + dir + "/none' '" + harmplot + "' " + dir + "/a.wav");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "harmplot: gnuplot not found: the pictures were skipped\n");
    EXPECT_NE(r.out.find("/a.wav: 220.0 Hz, A3 +0 cents"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  table " + dir + "/a.csv\n"), std::string::npos) << r.out;
    EXPECT_GT(read_file(dir + "/a.csv").size(), 1000u);
    EXPECT_FALSE(std::ifstream(dir + "/a.png").good());
    run_shell("rm -rf '" + dir + "'");
}

TEST(Harmplot, HelpAndVersionOfHarmplotAndHarmsum) {
    const std::string path = "'" + harmplot + "' ";
    const process_result help = run_shell(path + "-o x --help"), h = run_shell(path + "-h");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: harmplot [OPTION]... FILE...\n")) << help.out;
    EXPECT_EQ(h.out, help.out);
    EXPECT_EQ(run_shell(path + "--version").out, "harmplot (harmtrace toolkit) 1.0\n");
    expect_help_and_version(HARMSUM_EXE, {"--help"}, "Usage: harmsum join",
                            "harmsum (harmtrace toolkit) 1.0\n");
    const process_result bad = run_program(HARMSUM_EXE, {"prepare"}, "");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err,
              "harmsum: unknown command prepare\n"
              "usage: harmsum join [TABLE...] (harmsum --help tells more)\n");
}

}  // namespace

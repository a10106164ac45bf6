// The README's recipe for many machines, as written there, run with GNU parallel on this machine
// as its only host: every recording's table, picture and summary rows come back, the summaries
// in the order of the files, and harmsum join gives one table under one header line.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "process.h"

namespace {

std::string dir_of(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// The README's indented block that begins with `first`, its lines joined as the shell reads them.
std::string readme_block(const std::string& first) {
    std::istringstream in(read_file(EXAMPLES_DIR "/../README.md"));
    std::string line, block;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line == "    " + first) inside = true;
        if (!inside) continue;
        if (line.empty()) break;
        block += line.substr(4) + "\n";
    }
    return block;
}

std::size_t count(const std::string& s, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}

TEST(HarmplotMany, TheReadmesRecipeForManyMachinesRunsHere) {
    if (run_shell("command -v parallel").status != 0)
        GTEST_SKIP() << "GNU parallel is not installed (scripts/install-deps --test)";
    std::string recipe = readme_block("cd recordings");
    const std::string hosts = "--sshlogin 2/host1,2/host2";
    ASSERT_NE(recipe.find(hosts), std::string::npos) << recipe;
    recipe.replace(recipe.find(hosts), hosts.size(), "--sshlogin 2/:");  // this machine alone

    const std::string dir = temp_path("harmplot-many");
    ASSERT_EQ(run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "/recordings' && cd '" + dir +
                        "/recordings' && '" TONEGEN_EXE "' pluck --freq 110 -o a.wav && '" +
                        TONEGEN_EXE "' vibrato --freq 330 -o b.wav && '" TONEGEN_EXE
                                    "' additive --freq 523 --amps 1,0.5,0.3 -o c.wav")
                  .status,
              0);
    const std::string path = dir_of(RIFFCAT_EXE) + ":" + dir_of(HARMTRACE_EXE) + ":" +
                             dir_of(BLOCKCSV_EXE) + ":" + dir_of(HARMSUM_EXE) + ":" +
                             dir_of(HARMPLOT) + ":$PATH";
    const process_result r = run_shell("cd '" + dir + "' && export PATH=" + path + " && " + recipe);
    ASSERT_EQ(r.status, 0) << recipe << r.err;
    const std::string summaries = read_file(dir + "/recordings/summaries.txt");
    EXPECT_LT(summaries.find("a.wav: 110.0 Hz"), summaries.find("b.wav: 330.0 Hz")) << summaries;
    EXPECT_LT(summaries.find("b.wav: 330.0 Hz"), summaries.find("c.wav: ")) << summaries;
    const std::string all = read_file(dir + "/recordings/all.csv");
    EXPECT_EQ(count(all, "file,f0_hz,"), 1u) << all;
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 31) << all;
    for (const char* name : {"a", "b", "c"}) {
        EXPECT_TRUE(std::ifstream(dir + "/recordings/" + name + ".csv").good()) << name;
        EXPECT_EQ(count(all, std::string("\n") + name + ".wav,"), 10u) << name;
    }
    // The tables named rather than read one after another: the same; a file that is no table
    // is refused, and nothing written.
    const process_result named = run_shell("cd '" + dir +
                                           "/recordings' && '" HARMSUM_EXE
                                           "' join a.summary.csv b.summary.csv c.summary.csv");
    EXPECT_EQ(named.out, all);
    const process_result wrong = run_shell(
        "cd '" + dir + "/recordings' && '" HARMSUM_EXE "' join a.summary.csv summaries.txt");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.out, "");
    run_shell("rm -rf '" + dir + "'");
}

}  // namespace

// harmsum and harmplot at the edges: hostile reports, sample files and arguments give a clear
// error and never a crash; a truncated file, awkward names and a table that cannot be written
// are told, not passed over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"

namespace {

std::string dir_of(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

const std::string programs = dir_of(RIFFCAT_EXE) + ":" + dir_of(HARMTRACE_EXE) + ":" +
                             dir_of(BLOCKCSV_EXE) + ":" + dir_of(HARMSUM_EXE) + ":$PATH";

std::string fresh_dir(const std::string& name) {
    const std::string dir = temp_path(name);
    run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
    return dir;
}

// The report with harmonic 1's frequency field (columns 35-50) replaced in every window.
std::string with_f0(const std::string& report, const std::string& f0) {
    std::string out;
    for (std::size_t at = 0; at < report.size();) {
        std::size_t end = report.find('\n', at);
        std::string line = report.substr(at, end - at);
        if (line.starts_with("   1 ") && line.size() >= 50)
            line.replace(34, 16, std::string(16 - f0.size(), ' ') + f0);
        out += line + "\n";
        at = end == std::string::npos ? report.size() : end + 1;
    }
    return out;
}

TEST(HarmsumEdges, HostileReportsSamplesAndArgumentsAreErrorsNotCrashes) {
    const std::string dir = fresh_dir("harmsum-hostile");
    const std::string d = "'" + dir + "/";
    ASSERT_EQ(run_shell("cd '" + dir +
                        "' && '" TONEGEN_EXE
                        "' additive --freq 220 --amps 1,0.5 --seconds 1 -o a.wav && '" RIFFCAT_EXE
                        "' a.wav > samples 2> header && '" HARMSUM_EXE
                        "' prepare --info info header samples > mono && '" HARMTRACE_EXE
                        "' < mono > report")
                  .status,
              0);
    const std::string report = read_file(dir + "/report");
    for (const std::string f0 : {"NaN", "Infinity", "0.00000000", "-220.05000000"}) {
        write_file(dir + "/hostile", with_f0(report, f0));
        for (const char* option : {"--no-check", "--hint", "--partials"}) {
            const process_result r =
                run_shell("'" HARMSUM_EXE "' summary --info " + d + "info' --name a.wav " + option +
                          " " + d + "mono' " + d + "hostile'");
            EXPECT_EQ(r.status, 2) << f0 << " " << option << ": " << r.out << r.err;
            EXPECT_NE(r.err.find(": not a fundamental harmtrace finds\n"), std::string::npos)
                << r.err;
        }
    }
    // A bad sample in a named file: one program name, and the file named.
    write_file(dir + "/bad", "1\n2\nabc\n");
    const process_result bad =
        run_shell("'" HARMSUM_EXE "' summary --info " + d + "info' " + d + "bad' " + d + "report'");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "harmsum: bad sample in " + dir + "/bad, line 3: not a number: \"abc\"\n");
    // Times beyond any recording are usage errors, in harmsum and in harmplot alike.
    const process_result far = run_shell("'" HARMSUM_EXE "' prepare -t 1e300: --info " + d + "i' " +
                                         d + "header' " + d + "samples'");
    EXPECT_EQ(far.status, 2);
    EXPECT_TRUE(far.err.starts_with("harmsum: bad stretch for -t ")) << far.err;
    const process_result plot = run_shell("cd '" + dir + "' && PATH=" + programs +
                                          " '" HARMPLOT "' -t 99999999999999999999: a.wav");
    EXPECT_EQ(plot.status, 2);
    EXPECT_TRUE(plot.err.starts_with("harmplot: bad stretch for -t ")) << plot.err;
    EXPECT_EQ(plot.out, "");
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotEdges, ATruncatedFileOddNamesAndAFullDiskAreTold) {
    const std::string dir = fresh_dir("harmplot-told");
    // A file cut short inside its data, and one whose name holds an escape sequence and a bell.
    const std::string odd = "\x1b[31mred\x07 é.wav";
    ASSERT_EQ(run_shell("cd '" + dir +
                        "' && '" TONEGEN_EXE
                        "' pluck --freq 220 -o whole.wav && head -c 100000 whole.wav > cut.wav "
                        "&& cp whole.wav '" +
                        odd + "'")
                  .status,
              0);
    const std::string run =
        "cd '" + dir + "' && PATH=" + programs + " '" HARMPLOT "' -o out --summary ";
    const process_result r = run_shell(run + "s.csv cut.wav '" + odd + "' missing.wav");
    EXPECT_EQ(r.status, 1);  // missing.wav
    EXPECT_NE(r.out.find("cut.wav: 220.0 Hz, A3 +0 cents, mono, 1.13 s, "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  the file ends inside its data: 99956 of 264600 bytes; analysed as far "
                         "as it goes\n"),
              std::string::npos)
        << r.out;
    // On the screen the control bytes are escaped, in the table the name is as given.
    EXPECT_NE(r.out.find("\\x1b[31mred\\x07 é.wav: 220.0 Hz"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    EXPECT_NE(r.err.find("[2/3] \\x1b[31mred\\x07 é.wav\n"), std::string::npos) << r.err;
    const std::string table = read_file(dir + "/s.csv");
    EXPECT_NE(table.find("\n" + odd + ",219.998,"), std::string::npos) << table;
    EXPECT_NE(table.find(",mono,0.0000,1.1333,data cut short: 99956 of 264600 bytes,decaying,"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("\nmissing.wav,,,,,,,,,,,,,,,,,,,cannot read the file,,,,,,,,,,,\n"),
              std::string::npos)
        << table;

    // A table that cannot be written: said, and the status is not 0; the summary still shows.
    const process_result full = run_shell(run + "/dev/full whole.wav");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find("whole.wav: 220.0 Hz"), std::string::npos) << full.out;
    EXPECT_NE(full.err.find("harmplot: cannot write /dev/full: rows are missing\n"),
              std::string::npos)
        << full.err;
    run_shell("rm -rf '" + dir + "'");
}

}  // namespace

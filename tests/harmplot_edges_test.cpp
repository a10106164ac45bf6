// harmplot at the edges: arguments out of range give a clear error; a truncated file, awkward
// names and a table that cannot be written are told, not passed over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"

namespace {

std::string fresh_dir(const std::string& name) {
    const std::string dir = temp_path(name);
    run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
    return dir;
}

TEST(HarmplotEdges, TimesBeyondAnyRecordingAreUsageErrors) {
    const process_result plot = run_shell("'" HARMPLOT "' -t 99999999999999999999: a.wav");
    EXPECT_EQ(plot.status, 2);
    EXPECT_TRUE(plot.err.starts_with("harmplot: bad stretch for -t ")) << plot.err;
    EXPECT_EQ(plot.out, "");
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
    const std::string run = "cd '" + dir + "' && '" HARMPLOT "' -o out --summary ";
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
    EXPECT_NE(table.find(",1,0.0000,1.1333\n"), std::string::npos) << table;
    EXPECT_NE(table.find("\nmissing.wav,,,,,,,,,,,,,,,,,,,cannot read the file,,,,,,,,,,,,1,,\n"),
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

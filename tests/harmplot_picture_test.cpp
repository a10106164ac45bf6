// The picture of a note: what harmsum writes for it (the title, the kind of note, the stages,
// the legend, the axes, the pitch) against the summary's own numbers, and plot.gp's pictures,
// drawn one by one and in one gnuplot session, against harmplot's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analyse.h"
#include "files.h"
#include "process.h"

namespace {

using fields = std::vector<std::string>;

fields split(const std::string& s, char by) {
    fields f(1);
    for (char c : s)
        if (c == by)
            f.emplace_back();
        else
            f.back().push_back(c);
    return f;
}

// A note through harmplot's analysis: its summary, and its picture's numbers (written to
// `picture` in dir) as blocks (index 0, 1, ...) of lines split at their tabs.
struct note {
    std::string summary, picture;
    std::vector<std::vector<fields>> blocks{1};
};
note analyse(const std::string& dir, const std::string& file, bool follow,
             const std::string& picture) {
    plot_options o;
    o.follow = follow;
    const std::string bytes = read_file(dir + "/" + file);
    worker_pool pool(1);
    note_outcome out;
    analyse_recording(
        {.data = reinterpret_cast<const unsigned char*>(bytes.data()), .size = bytes.size()}, file,
        o, pool, true, out);
    EXPECT_TRUE(out.summarised) << out.reason;
    note n;
    n.summary = out.summary;
    n.picture = out.picture;
    write_file(dir + "/" + picture, n.picture);
    int empty = 0;
    for (const std::string& line : split(n.picture, '\n'))
        if (line.empty() && ++empty == 2)
            n.blocks.emplace_back();
        else if (!line.empty() && line[0] != '#')
            empty = 0, n.blocks.back().push_back(split(line, '\t'));
    return n;
}

void expect_picture_of_summary(const note& n, const std::string& title, bool followed) {
    const auto& b = n.blocks;
    ASSERT_EQ(b.size(), followed ? 5u : 4u) << n.picture;
    std::map<std::string, fields> item;
    for (const fields& line : b[0]) item[line[0]] = line;
    EXPECT_EQ(item["title"].at(1), title);
    EXPECT_NE(n.summary.find("\n  " + item["kind"].at(1) + "\n"), std::string::npos)
        << item["kind"].at(1);
    // The stages: the note's onset first, then each harmonic's.
    ASSERT_FALSE(b[2].empty());
    EXPECT_EQ(b[2][0].at(0) + " " + b[2][0].at(1), "0 onset");
    std::map<std::string, fields> decay;  // by harmonic
    for (const fields& s : b[2])
        if (s.at(1) == "decay") decay[s.at(0)] = s;
    double lowest_line = 0;
    for (int k = 1; k <= 10; ++k) {
        const fields& h = b[1].at(std::size_t(k - 1));
        // The summary's line: "  harmonic  Hz  start dBFS  dB/s ± interval  T60  from-to".
        const std::string num = std::to_string(k);
        std::string at(11 - num.size(), ' ');
        at[0] = '\n';
        const std::size_t from = n.summary.find(at + num + " ") + 1;
        const std::string line = n.summary.substr(from, n.summary.find('\n', from) - from);
        std::istringstream words(line);
        std::string k_shown, hz, start, rate, pm, ci, t60, span;
        words >> k_shown >> hz >> start >> rate >> pm >> ci >> t60 >> span;
        // The legend: the number and Hz, and the rate with its interval or why there is none.
        const std::string head = num + ": " + hz + " Hz, ";
        ASSERT_EQ(h.at(2).substr(0, head.size()), head) << line;
        const std::string rest = h.at(2).substr(head.size());
        EXPECT_EQ(h.at(1), pm == "±" ? "fit" : "faint") << line;
        if (pm != "±") {
            EXPECT_NE(line.find(rest), std::string::npos) << rest;
            EXPECT_EQ(decay.count(num), 0u) << line;
            continue;
        }
        EXPECT_EQ(rest, rate + " ± " + ci + " dB/s");
        // The line: from the start level at the span's start, at the rate, to its end.
        ASSERT_EQ(decay.count(num), 1u) << line;
        const fields& d = decay[num];
        const fields ends = split(span, '-');
        EXPECT_NEAR(std::stod(d.at(2)), std::stod(ends.at(0)), 0.005) << line;
        EXPECT_NEAR(std::stod(d.at(3)), std::stod(start), 0.05) << line;
        EXPECT_NEAR(std::stod(d.at(4)), std::stod(ends.at(1)), 0.005) << line;
        EXPECT_NEAR(
            (std::stod(d.at(5)) - std::stod(d.at(3))) / (std::stod(d.at(4)) - std::stod(d.at(2))),
            std::stod(rate), 0.05)
            << line;
        lowest_line = std::min(lowest_line, std::stod(d.at(5)));
    }
    // The level axis spans the levels and the lines, and no more than a step beyond.
    double high = -1e300, low = 1e300;
    for (const fields& w : b[3])
        for (std::size_t k = 1; k < w.size(); ++k)
            if (w[k] != "NaN")
                high = std::max(high, std::stod(w[k])), low = std::min(low, std::stod(w[k]));
    const double bottom = std::stod(item["level"].at(1)), top = std::stod(item["level"].at(2));
    EXPECT_TRUE(top > high && top <= high + 12 && bottom <= lowest_line && bottom > low - 10)
        << bottom << " " << top << " " << low << " " << high;
    EXPECT_EQ(item.count("pitch"), followed ? 1u : 0u);
    if (!followed) return;
    // The pitch swings as far as the vibrato the summary gives, inside its axis.
    const std::string& said = item["pitch_note"].at(1);
    EXPECT_NE(n.summary.find("\n  " + said + "\n"), std::string::npos) << said;
    double swing = 0;
    for (const fields& p : b[4]) swing = std::max(swing, std::abs(std::stod(p.at(1))));
    EXPECT_NEAR(swing, std::stod(said.substr(said.find("±") + 2)), 5) << said;
    EXPECT_TRUE(std::stod(item["pitch"].at(1)) < -swing && std::stod(item["pitch"].at(2)) > swing);
}

TEST(HarmplotPicture, EveryNumberIsTheSummarysAndASessionDrawsAsOneByOne) {
    const std::string dir = temp_path("harmplot-picture");
    run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir +
              "' && cp '" EXAMPLES_DIR "/pluck220.wav' '" + dir +
              "/a\"b.wav' && '" TONEGEN_EXE
              "' vibrato --freq 196 "
              "--amps 1,0.5,0.3,0.2 --decays 0.5,1,1.5,2 --depth-cents 20 -o '" +
              dir + "/v.wav'");
    const note vibrato = analyse(dir, "v.wav", true, "v.p");
    const note pluck = analyse(dir, "a\"b.wav", false, "a.p");
    expect_picture_of_summary(vibrato, "v.wav: G3 +0 cents, 196.0 Hz", true);
    expect_picture_of_summary(pluck, "a\\x22b.wav: A3 +0 cents, 220.1 Hz", false);

    if (run_shell("command -v gnuplot").status != 0) GTEST_SKIP() << "no gnuplot";
    const std::string gp = "cd '" + dir + "' && gnuplot ",
                      plot = EXAMPLES_DIR "/../scripts/plot.gp";
    EXPECT_EQ(run_shell(gp + "-c '" + plot + "' v.p v.png && " + gp + "-c '" + plot + "' a.p a.png")
                  .status,
              0);
    // One session, the notes in turn: the same pictures, and nothing of plot.gp's left behind.
    const process_result session =
        run_shell(gp, "call '" + plot + "' 'a.p' 's1.png'\ncall '" + plot +
                          "' 'v.p' 's2.png'\ncall '" + plot + "' 'a.p' 's3.png'\nshow variables\n");
    EXPECT_EQ(session.status, 0) << session.err;
    EXPECT_EQ(session.err.find("hp_"), std::string::npos) << session.err;
    const std::string v = read_file(dir + "/v.png"), a = read_file(dir + "/a.png");
    EXPECT_EQ(v.substr(1, 3), "PNG");
    EXPECT_TRUE(read_file(dir + "/s2.png") == v && read_file(dir + "/s1.png") == a &&
                read_file(dir + "/s3.png") == a);
    // harmplot draws the same pictures, with its mark.
    const process_result r = run_shell(
        "cd '" + dir + "' && '" HARMPLOT "' -o o v.wav && '" HARMPLOT "' -o o --fixed 'a\"b.wav'");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string marked_v = v, marked_a = a;
    ASSERT_TRUE(mark_picture(marked_v) && mark_picture(marked_a));
    EXPECT_TRUE(read_file(dir + "/o/v.png") == marked_v &&
                read_file(dir + "/o/a\"b.png") == marked_a);
    run_shell("rm -rf '" + dir + "'");
}

}  // namespace

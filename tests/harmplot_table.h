#pragma once
// harmplot run on recordings in a directory, and its --summary table read back by column name;
// every row must have every column.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

// One row of the summary table, by column name.
using row = std::map<std::string, std::string>;

// Splits a CSV line; a quoted field may hold commas and doubled quotes.
inline std::vector<std::string> csv_fields(const std::string& line) {
    std::vector<std::string> f(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            f.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            f.emplace_back();
        } else {
            f.back() += c;
        }
    }
    return f;
}

struct run_result {
    process_result r;
    std::map<std::string, std::vector<row>> rows;  // by file, harmonic 1 first
};

// harmplot ARGS in `dir`, with --summary.
inline run_result harmplot(const std::string& dir, const std::string& args) {
    run_result res;
    res.r = run_shell("cd '" + dir + "' && '" HARMPLOT "' -o out --summary s.csv " + args);
    std::istringstream in(read_file(dir + "/s.csv"));
    std::string line;
    std::getline(in, line);
    // The 20 columns of each harmonic's first stage, then the note's envelope, then the note's
    // place in a take.
    EXPECT_EQ(line,
              "file,f0_hz,note,cents,check,harmonic,freq_hz,start_dbfs,decay_db_per_s,t60_s,"
              "fit_from_s,fit_to_s,inharmonicity,decay_ci95_db_per_s,vibrato_hz,vibrato_cents,"
              "channels,from_s,to_s,reason,kind,attack_s,peak_dbfs,held_dbfs,held_sd_db,"
              "decay2_db_per_s,decay2_ci95_db_per_s,knee_s,release_db_per_s,"
              "release_ci95_db_per_s,release_from_s,note_index,note_from_s,note_to_s");
    const std::vector<std::string> names = csv_fields(line);
    while (std::getline(in, line)) {
        const std::vector<std::string> f = csv_fields(line);
        EXPECT_EQ(f.size(), names.size()) << line;
        row r;
        for (std::size_t i = 0; i < f.size() && i < names.size(); ++i) r[names[i]] = f[i];
        res.rows[r["file"]].push_back(r);
    }
    return res;
}

inline std::string fresh_dir(const std::string& name) {
    const std::string dir = temp_path(name);
    run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
    return dir;
}

inline double number(const row& r, const std::string& column) {
    return std::stod(r.at(column));
}

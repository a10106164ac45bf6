#pragma once
// Where each recording's table and picture go, decided in the order the files were given before
// any is analysed: NAME.csv and NAME.png beside the file, or in -o's directory. The same file
// named twice is analysed once; another file whose table would have the same name (x.flac after
// x.wav, or a namesake in another folder with -o) gets a name of its own, and its summary says
// so: x-flac.csv, then x-flac-2.csv, ...

#include <string>
#include <vector>

struct output_names {
    // By file, empty for one not analysed: NAME.csv, NAME.png and NAME.levels (--levels), and
    // the same as canonical_target gives them.
    std::vector<std::string> table, picture, levels;
    std::vector<std::string> table_key, picture_key, levels_key;
    std::vector<int> twin;             // by file: the earlier one it is, or -1
    std::vector<std::string> renamed;  // by file: the line that says its table's name
};

// `analysed`: by file, whether it is a file to analyse at all.
// Typical use: output_names n = name_outputs(files, analysed, "out");
output_names name_outputs(const std::vector<std::string>& files, const std::vector<bool>& analysed,
                          const std::string& outdir);

#pragma once
// The files harmplot writes: each to a temporary file beside its target, renamed over it once it
// is whole (a reader sees the old file or the new one, never half of one, and a symbolic link
// there is replaced, never followed), and only over a file harmplot wrote itself: a table whose
// first line is a table's header, a picture that carries harmplot's mark (a PNG text chunk
// "Software: harmplot", which every picture it writes gets), a picture's numbers (--levels)
// whose first line is their heading.

#include <string>
#include <string_view>

enum class target_kind {
    absent,       // nothing there
    ours,         // a file of this kind harmplot wrote
    theirs,       // another file, or a symbolic link
    not_regular,  // a directory, a device, a FIFO
};

enum class output_kind { table, picture, levels };

// What lies at `path` where a file of that kind would go.
target_kind target_at(const std::string& path, output_kind kind);

// A file being written: the temporary one beside the target, open for writing.
struct staged_file {
    std::string path, temp;
    int fd = -1;
};

// Makes the temporary file for `path`. False, with the cause.
bool stage_file(const std::string& path, staged_file& f, std::string& why);
// Writes all of `bytes`; false, with the cause, when they cannot be.
bool write_all(int fd, std::string_view bytes, std::string& why);
// Closes the temporary file and renames it over the target; false, with the cause (the
// temporary file removed).
bool commit_file(staged_file& f, std::string& why);
// Removes the temporary file.
void discard_file(staged_file& f);

// A PNG file's bytes with harmplot's mark before its last chunk; false when they are not a whole
// PNG file (one cut short, say).
bool mark_picture(std::string& png);

// The directory and last part of a path as they name one file whatever way the path is
// written: the directory's real path (symbolic links resolved), then the last part as given.
// Empty when the directory does not exist.
std::string canonical_target(const std::string& path);

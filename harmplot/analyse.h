#pragma once
// One recording through the whole analysis, in memory: its header, the channels and stretch
// analysed, harmtrace's search, pitch track and report, the check of the fundamental (and one
// more search near a better candidate), the summary, its CSV rows and the picture's numbers.
// Nothing is written anywhere: the caller writes the table and draws the picture.

#include <string>

#include "command_line.h"
#include "info.h"
#include "parallel.h"
#include "recording.h"
#include "report_table.h"
#include "take.h"

struct note_outcome {
    bool summarised = false;  // else `reason` says why not
    std::string reason;
    std::string summary;  // the summary's text, its lines ending in line ends
    std::string rows;     // its --summary rows, or the one row of a recording without a summary
    std::string picture;  // the picture's numbers (harmsum/picture.h), when asked for
    bool info_known = false;
    analysis_info info;
    report_table report;    // harmtrace's report: the table's rows
    bool followed = false;  // the report follows the pitch (else it is at one fundamental)
};

// Samples read a block at a time, of all the channels together: a file's header may name tens of
// thousands of channels, and a block still holds this many samples (and at least one frame).
constexpr long long block_samples = 1 << 15;

// Analyses the recording the bytes hold, as the options ask, with the pool's threads; `name` is
// the file as the user gave it. With `picture` the picture's numbers are made too.
// Typical use: analyse_recording({.fd = fd, .size = n}, "a.wav", options, pool, true, outcome);
void analyse_recording(const byte_source& bytes, const std::string& name, const plot_options& o,
                       worker_pool& pool, bool picture, note_outcome& out);

// The row of a recording that gave no summary, with what was analysed when that is known.
std::string failed_row(const std::string& name, const note_outcome& out);

// The notes of the recording the bytes hold, s in the recording (take.h): one, the whole
// recording, with --one-note (or -t), when no note begins again, or when it cannot be read (the
// analysis then says why).
// Typical use: std::vector<note_span> notes = take_notes(bytes, options);
std::vector<note_span> take_notes(const byte_source& bytes, const plot_options& o);

// The rows with note_index, note_from_s and note_to_s at the end of each: the note's number
// and its stretch, s in the recording (empty where it is not known).
std::string with_note(const std::string& rows, int index, double from, double to);

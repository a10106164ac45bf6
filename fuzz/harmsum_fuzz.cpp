// Fuzz target for the summary of any report, on arbitrary text: harmtrace's report read back,
// then the envelopes, the summary and the levels of what was read, whatever its frequencies
// (NaN, infinite, 0, negative), as a followed report on odd sizes (the held pitch, vibrato and
// attack read from its times, whatever they are: a finite held pitch, a vibrato within its
// range), with the pitch follower losing the note in one of its windows on some (the fits and
// the pitch cut there): the summary ends with a line end and every CSV row has all its columns
// but the three of a take's note.
// (harmplot_fuzz gives the same code the reports harmtrace makes of any recording.)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.h"
#include "held.h"
#include "output.h"
#include "picture.h"
#include "record_reader.h"
#include "report.h"
#include "summary.h"
#include "summary_columns.h"

namespace {

void fuzz_report(std::string_view text) {
    record_reader in;
    open_reader(in, text);
    report_table t;
    std::string why;
    if (!read_report(in, t, why) || t.windows() == 0) return;
    summary_request q;
    q.name = "fuzz";
    q.f0 = t.freq[0];
    q.partials = text.size() % 4 >= 2;
    pitch_reading pitch;
    if (text.size() % 2 == 1) {
        pitch = read_pitch(t.t, note_windows(t, 44100));
        if (!std::isfinite(pitch.held_hz) || pitch.held_hz < 0) std::abort();
        if (pitch.vibrato &&
            !(pitch.vibrato_hz >= vibrato_lowest - 0.1 &&
              pitch.vibrato_hz <= vibrato_highest + 0.1 && pitch.vibrato_cents >= vibrato_least))
            std::abort();
        q.pitch = &pitch;
    }
    if (text.size() % 3 == 0) q.check.lost_s = t.t[std::size_t(text.size() / 3) % t.t.size()];
    q.info.facts.rate = 44100;
    q.info.facts.channels = 1;
    q.info.facts.full_scale = 32768;
    q.info.stretch.count = q.info.stretch.frames = 44100;
    std::string text_out, csv_out;
    output text_sink(text_out), csv_sink(csv_out);
    write_summary(t, q, text_sink, &csv_sink);
    write_failed_row(q.name, &q.info, "fuzz", csv_sink);
    std::string levels_out;
    output levels_sink(levels_out);
    // The picture, with its pitch panel for a followed report.
    write_picture(t, q, levels_sink);
    text_sink.flush();
    csv_sink.flush();
    levels_sink.flush();
    if (text_out.empty() || text_out.back() != '\n') std::abort();
    // All the columns but the note's of a take, which harmplot adds.
    const std::string_view all_columns(summary_columns);
    const std::string_view own = all_columns.substr(0, all_columns.find(",note_index"));
    const long columns = std::count(own.begin(), own.end(), ',');
    long commas = 0;
    bool quoted = false;
    for (char c : csv_out) {
        if (c == '"') quoted = !quoted;
        if (c != '\n' || quoted) {
            commas += c == ',' && !quoted;
        } else if (std::exchange(commas, 0) != columns) {
            std::abort();
        }
    }
    // The picture: its blocks apart by two empty lines, ten harmonics of three fields, the
    // stages of six (the note's onset first), a line of eleven for each window, the pitch when it
    // has a panel; no double quote, which gnuplot would take for a string's start.
    std::vector<std::vector<long>> blocks(1);  // the fields of each line, block by block
    long empty = 0;
    std::size_t from = 0;
    for (std::size_t end; (end = levels_out.find('\n', from)) != std::string::npos;
         from = end + 1) {
        const std::string_view line(levels_out.data() + from, end - from);
        if (line.empty() && ++empty == 2) blocks.emplace_back();
        if (line.empty() || line[0] == '#') continue;
        empty = 0;
        blocks.back().push_back(1 + long(std::count(line.begin(), line.end(), '\t')));
    }
    const auto all = [](const std::vector<long>& b, long n) {
        return std::all_of(b.begin(), b.end(), [n](long f) { return f == n; });
    };
    const bool pitch_panel = levels_out.find("\npitch\t") != std::string::npos;
    if (blocks.size() != (pitch_panel ? 5u : 4u) || blocks[1].size() != harmonics ||
        !all(blocks[1], 3) || blocks[2].empty() || !all(blocks[2], 6) ||
        levels_out.find("\n\n\n0\tonset\t") == std::string::npos ||
        long(blocks[3].size()) != t.windows() || !all(blocks[3], 11) ||
        (pitch_panel && !all(blocks[4], 2)) || levels_out.find('"') != std::string::npos)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_report(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}

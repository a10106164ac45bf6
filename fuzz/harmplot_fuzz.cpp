// Fuzz target for harmplot's path for one recording, in memory: any bytes as the file (a WAV
// file through the toolkit's reader, anything else through libsndfile), its header, channels,
// stretch, harmtrace's search, track and report, the check, the summary and the picture's
// numbers, with the options the first byte and the second pick:
//   byte 0  bit 0 --fixed, bit 1 --partials, bit 2 --no-check, bit 3 -f (the note byte 1
//           names, in quarter tones from A0), bits 4-5 -c 1 to 3 (0: the mean), bit 6 -t (from
//           byte 1 hundredths of a second), bit 7 -s (byte 1 two-hundredths)
// Besides the sanitizers' checks: the notes of a take found in it follow one another; a recording
// either gets a summary, whose text ends with a line end, or a reason of one line; every CSV row
// has all the columns once the note's are added; what was analysed lies within the recording and
// the cap (a stretch asked beyond its end analyses nothing); the picture holds its blocks.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "analyse.h"
#include "summary_columns.h"

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "harmplot_fuzz: %s\n", what);
    std::abort();
}

// Every row of a CSV text has all the columns.
void check_rows(const std::string& csv) {
    const long columns = std::count(summary_columns, summary_columns + sizeof summary_columns, ',');
    long commas = 0;
    bool quoted = false;
    for (char c : csv) {
        if (c == '"') quoted = !quoted;
        if (c != '\n' || quoted)
            commas += c == ',' && !quoted;
        else
            check(std::exchange(commas, 0) == columns, "a row without all its columns");
    }
    check(!csv.empty() && csv.back() == '\n' && !quoted, "rows not ended");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static worker_pool pool(1);
    plot_options o;
    const unsigned pick = data[0], value = data[1];
    o.follow = !(pick & 1);
    o.partials = pick & 2;
    o.no_check = pick & 4;
    if (pick & 8) o.hint = double(27.5L * std::pow(2.0L, (long double)(value % 145) / 24));
    o.stretch.channel = int(pick >> 4 & 3);
    if (pick & 64)
        o.stretch.from = value / 100.0, o.stretch.to = value % 3 ? -1 : value / 50.0 + 0.1;
    if (pick & 128) o.start = value / 200.0;
    const byte_source bytes{.data = data + 2, .size = size - 2};
    // The notes of a take: in order, apart, each of some length (none when it is one note).
    double last = -1;
    for (const note_span& n : take_notes(bytes, o)) {
        check(n.from >= 0 && n.from >= last && n.to > n.from, "notes out of order");
        last = n.to;
    }
    note_outcome out;
    analyse_recording(bytes, "fuzz.wav", o, pool, true, out);
    check_rows(with_note(out.rows, 1, -1, -1));
    if (out.info_known) {
        const stretch_result& r = out.info.stretch;
        check(r.count >= 0 && r.count <= max_samples && r.first >= 0 &&
                  (r.count == 0 || r.first + r.count <= r.frames),
              "a stretch beyond the recording or the cap");
        check(out.info.facts.rate >= 1000 && out.info.facts.rate <= 1000000 &&
                  out.info.facts.full_scale > 0,
              "facts out of range");
    }
    if (!out.summarised) {
        check(!out.reason.empty() && out.reason.find('\n') == std::string::npos,
              "no summary, and no reason of one line");
        return 0;
    }
    check(!out.summary.empty() && out.summary.back() == '\n', "a summary not ended");
    check(out.report.windows() > 0, "a summary without windows");
    // The picture's blocks: the picture, the harmonics, the stages, the windows and, followed, the
    // pitch (a note whose pitch moved too little to follow is measured at one fundamental).
    long breaks = 0;
    for (std::size_t at = 0; (at = out.picture.find("\n\n\n", at)) != std::string::npos; ++at)
        ++breaks;
    check(breaks == (out.followed ? 4 : 3), "the picture lacks a block");
    return 0;
}

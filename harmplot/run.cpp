#include "run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analyse.h"
#include "ending.h"
#include "error_report.h"
#include "files.h"
#include "gnuplot.h"
#include "names.h"
#include "note.h"
#include "output.h"
#include "summary.h"
#include "summary_columns.h"
#include "table.h"
#include "usage.h"

namespace {

// What one recording gave, to be shown in order.
struct shown {
    std::string out, err, rows;
    bool summarised = false;
    bool done = false;
};

// The --summary table: written whole beside its name and renamed at the end, or straight into
// a FIFO or character device (/dev/stdout, a pipe).
struct summary_table {
    staged_file file;
    int fd = -1;
    bool staged = false, started = false, failed = false;
};

std::string dir_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
}

bool readable_file(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

// mkdir -p.
bool make_dirs(const std::string& dir) {
    std::string at;
    for (std::size_t i = 0; i <= dir.size(); ++i) {
        if (i < dir.size() && dir[i] != '/') continue;
        at = dir.substr(0, i);
        if (!at.empty() && mkdir(at.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Why --summary may not name `path`, or empty when it may.
std::string summary_refusal(const plot_options& o, const output_names& names) {
    const std::string key = canonical_target(o.summary);
    struct stat st, in;
    const bool exists = stat(o.summary.c_str(), &st) == 0;
    for (std::size_t i = 0; i < o.files.size(); ++i) {
        if ((exists && stat(o.files[i].c_str(), &in) == 0 && in.st_dev == st.st_dev &&
             in.st_ino == st.st_ino) ||
            key == canonical_target(o.files[i]))
            return "it is one of the recordings, " + printable_name(o.files[i]);
        if (!key.empty() && (key == names.table_key[i] || key == names.picture_key[i]))
            return std::string("it is where the ") +
                   (key == names.table_key[i] ? "table" : "picture") + " of " +
                   printable_name(o.files[i]) + " goes";
    }
    if (!exists) return {};
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return {};
    if (!S_ISREG(st.st_mode)) return "it is not a file";
    if (st.st_size == 0) return {};
    const int fd = open(o.summary.c_str(), O_RDONLY | O_CLOEXEC);
    std::string head(sizeof summary_columns, '\0');
    const ssize_t got = fd >= 0 ? read(fd, head.data(), head.size()) : -1;
    if (fd >= 0) close(fd);
    if (got == ssize_t(head.size()) && head == std::string(summary_columns) + "\n") return {};
    return "it is a file that is no summary table (remove it, or name another)";
}

bool open_summary(const plot_options& o, summary_table& s, std::string& why) {
    struct stat st;
    if (stat(o.summary.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        s.fd = open(o.summary.c_str(), O_WRONLY | O_CLOEXEC);
        if (s.fd < 0) why = std::strerror(errno);
        return s.fd >= 0;
    }
    s.staged = stage_file(o.summary, s.file, why);
    s.fd = s.file.fd;
    return s.staged;
}

void add_rows(summary_table& s, const std::string& rows) {
    std::string why;
    if (rows.empty() || s.fd < 0) return;
    if (!s.started && !write_all(s.fd, std::string(summary_columns) + "\n", why)) s.failed = true;
    s.started = true;
    if (!write_all(s.fd, rows, why)) s.failed = true;
}

// Writes to standard output; a closed pipe ends the run (141), any other failure is said at the
// end.
bool put_out(const std::string& text) {
    std::string why;
    if (write_all(1, text, why)) return true;
    if (errno == EPIPE) end_now(141);
    return false;
}

void put_err(const std::string& text) {
    std::string why;
    write_all(2, text, why);
}

// The table of an analysed recording, whole or not at all.
bool write_table(const std::string& path, const note_outcome& n, bool followed, std::string& why) {
    staged_file f;
    if (!stage_file(path, f, why)) return false;
    output out(f.fd);
    if (!write_report_table(n.report, out, followed)) {
        why = std::strerror(out.error());
        discard_file(f);
        return false;
    }
    return commit_file(f, why);
}

// A file of bytes in memory (a picture, a picture's numbers), whole or not at all.
bool write_text(const std::string& path, const std::string& png, std::string& why) {
    staged_file f;
    if (!stage_file(path, f, why)) return false;
    if (!write_all(f.fd, png, why)) {
        discard_file(f);
        return false;
    }
    return commit_file(f, why);
}

struct run_state {
    run_state(const plot_options& o_, const output_names& n, const std::vector<std::string>& r,
              const picture_place* p, int each)
        : o(o_), names(n), refused(r), pictures(p), threads_each(each), results(o_.files.size()) {
        for (const auto* keys : {&n.table_key, &n.picture_key, &n.levels_key})
            for (const std::string& k : *keys)
                if (!k.empty()) planned.insert(k);
    }
    const plot_options& o;
    const output_names& names;
    const std::vector<std::string>& refused;  // by file: why it is not analysed
    const picture_place* pictures;            // null: none are drawn
    std::unordered_set<std::string> planned;  // every file of this run's recordings, canonical
    int threads_each;
    std::atomic<int> sessions{0};  // the gnuplot sessions' numbers, for their pictures' names
    std::vector<shown> results;
    std::mutex m;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
};

// Where one note's table, picture and picture's numbers go.
struct note_files {
    std::string table, picture, levels;
};

// One note (or a recording of one) analysed with the options o, its files written; what it
// gives added to r (`label`, when given, the line after the summary's first). False when it gave
// no summary, or its table or picture could not be written.
bool analyse_note(run_state& st, std::size_t i, const byte_source& bytes, const plot_options& o,
                  const note_files& to, const std::string& label, int index, worker_pool& pool,
                  gnuplot_session& session, shown& r) {
    const std::string& file = st.o.files[i];
    const std::string name = printable_name(file);
    note_outcome n;
    analyse_recording(bytes, file, o, pool, st.pictures != nullptr || o.levels, n);
    const double from = n.info_known ? stretch_from(n.info) : -1;
    const double until = n.info_known ? stretch_to(n.info) : -1;
    auto fail = [&](const std::string& why) {
        r.err +=
            "harmplot: " + name + (label.empty() ? "" : ", " + label.substr(2)) + ": " + why + "\n";
        n.reason = why;
        r.rows += with_note(failed_row(file, n), index, from, until);
        return false;
    };
    if (!n.summarised) return fail(n.reason);
    std::string why;
    for (const std::string* path : {&to.table, &to.picture, &to.levels}) {
        const bool wanted =
            path == &to.table || (path == &to.picture ? st.pictures != nullptr : o.levels);
        const output_kind kind = path == &to.table     ? output_kind::table
                                 : path == &to.picture ? output_kind::picture
                                                       : output_kind::levels;
        const target_kind k = wanted ? target_at(*path, kind) : target_kind::absent;
        if (k == target_kind::not_regular)
            return fail(printable_name(*path) + " is not a regular file: not written");
        if (k == target_kind::theirs && !st.o.force)
            return fail(printable_name(*path) +
                        " is not a file harmplot wrote: kept (--force replaces it)");
    }
    if (!write_table(to.table, n, n.followed, why))
        return fail("cannot write " + printable_name(to.table) + ": " + why);
    if (o.levels && !write_text(to.levels, n.picture, why))
        return fail("cannot write " + printable_name(to.levels) + ": " + why);
    const std::size_t heading = n.summary.find('\n') + 1;
    r.out += (r.out.empty() || label.empty() ? "" : "\n") + n.summary.substr(0, heading) + label +
             n.summary.substr(heading);
    r.rows += with_note(n.rows, index, from, until);
    if (!st.names.renamed[i].empty()) r.out += st.names.renamed[i] + "\n";
    if (!st.pictures) {
        r.out += "  table " + printable_name(to.table) + "\n";
        return true;
    }
    std::string png;
    if (!draw_picture(session, *st.pictures, n.picture, png, why) ||
        !write_text(to.picture, png, why)) {
        r.out += "  table " + printable_name(to.table) + "\n";
        r.err += "harmplot: " + name + ": gnuplot could not draw " + printable_name(to.picture) +
                 ": " + why + "\n";
        return false;
    }
    r.out +=
        "  table " + printable_name(to.table) + ", picture " + printable_name(to.picture) + "\n";
    return true;
}

// The files of note k of a take whose own would be `base`.csv and so on: base-k, unless another
// recording's files go there.
note_files files_of_note(const run_state& st, const std::string& base, std::size_t k) {
    for (int attempt = 0;; ++attempt) {
        const std::string stem =
            base +
            (attempt == 0
                 ? "-"
                 : "-note" + std::string(attempt > 1 ? std::to_string(attempt) : "") + "-") +
            std::to_string(k);
        if (!st.planned.count(canonical_target(stem + ".csv")) &&
            !st.planned.count(canonical_target(stem + ".png")) &&
            !st.planned.count(canonical_target(stem + ".levels")))
            return {stem + ".csv", stem + ".png", stem + ".levels"};
    }
}

void analyse_one(run_state& st, std::size_t i, worker_pool& pool, gnuplot_session& session,
                 shown& r) {
    const plot_options& o = st.o;
    const std::string& file = o.files[i];
    const std::string name = printable_name(file);
    auto fail = [&](const std::string& why) {
        r.err += "harmplot: " + name + ": " + why + "\n";
        note_outcome n;
        n.reason = why;
        r.rows = with_note(failed_row(file, n), 1, -1, -1);
    };
    if (!st.refused[i].empty()) return fail(st.refused[i]);
    const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat s;
    if (fd < 0 || fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
        if (fd >= 0) close(fd);
        return fail(fd < 0 ? "cannot read the file" : "not a regular file");
    }
    const byte_source bytes{.fd = fd, .size = std::uint64_t(s.st_size)};
    const std::vector<note_span> notes = take_notes(bytes, o);
    if (notes.empty()) {
        r.summarised = analyse_note(st, i, bytes, o,
                                    {st.names.table[i], st.names.picture[i], st.names.levels[i]},
                                    "", 1, pool, session, r);
        close(fd);
        return;
    }
    // A take: each note as its own stretch.
    const std::string& table = st.names.table[i];
    const std::string base = table.substr(0, table.size() - 4);
    r.summarised = true;
    r.out = name + ": a take of " + std::to_string(notes.size()) + " notes, " +
            fixed_text(notes.front().from, 2) + "-" + fixed_text(notes.back().to, 2) +
            " s (--one-note analyses it as one)\n";
    // The notes side by side when this recording has the cores to itself, each harmtrace then on
    // one thread: a note's summary and picture take one thread too. Shown in order.
    std::vector<shown> parts(notes.size());
    std::vector<char> summarised(notes.size(), 0);
    std::atomic<std::size_t> next{0};
    auto each = [&](worker_pool& p, gnuplot_session& g) {
        for (std::size_t k; (k = next++) < notes.size();) {
            plot_options one = o;
            one.one_note = true;
            one.stretch.from = notes[k].from;
            one.stretch.to = notes[k].to;
            const std::string count = std::to_string(k + 1) + " of " + std::to_string(notes.size());
            try {
                summarised[k] = analyse_note(st, i, bytes, one, files_of_note(st, base, k + 1),
                                             "  note " + count + "\n", int(k + 1), p, g, parts[k]);
            } catch (const std::bad_alloc&) {
                parts[k] = {};
                note_outcome n;
                n.reason = "out of memory";
                parts[k].err = "harmplot: " + name + ", note " + count + ": out of memory\n";
                parts[k].rows = with_note(failed_row(file, n), int(k + 1), -1, -1);
            }
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < st.threads_each && std::size_t(t) < notes.size(); ++t) {
        try {
            helpers.emplace_back([&] {
                worker_pool one_thread(1);
                gnuplot_session g;
                g.id = st.sessions++;
                each(one_thread, g);
                end_session(g);
            });
        } catch (const std::system_error&) {
            break;  // those there are do the work
        }
    }
    if (helpers.empty()) {
        each(pool, session);
    } else {
        worker_pool one_thread(1);
        each(one_thread, session);
    }
    for (std::thread& t : helpers) t.join();
    for (std::size_t k = 0; k < notes.size(); ++k) {
        if (!parts[k].out.empty()) r.out += "\n" + parts[k].out;
        r.err += parts[k].err;
        r.rows += parts[k].rows;
        r.summarised = r.summarised && summarised[k];
    }
    close(fd);
}

void work(run_state& st) {
    worker_pool pool(st.threads_each);
    gnuplot_session session;
    session.id = st.sessions++;
    for (std::size_t i; (i = st.next++) < st.o.files.size();) {
        shown r;
        try {
            analyse_one(st, i, pool, session, r);
        } catch (const std::bad_alloc&) {
            r = {};
            note_outcome n;
            n.reason = "out of memory";
            r.err = "harmplot: " + printable_name(st.o.files[i]) + ": out of memory\n";
            r.rows = failed_row(st.o.files[i], n);
        }
        std::lock_guard<std::mutex> lock(st.m);
        r.done = true;
        st.results[i] = std::move(r);
        st.ready.notify_all();
    }
    end_session(session);
}

}  // namespace

std::string find_plot_gp(const std::string& argv0) {
    std::vector<std::string> dirs;
    if (argv0.find('/') != std::string::npos) dirs.push_back(dir_of(argv0));
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) dirs.push_back(dir_of(std::string(self, std::size_t(n))));
    for (const std::string& d : dirs)
        for (const char* at : {"/../share/harmtrace/plot.gp", "/plot.gp"}) {
            const std::string p = d + at;
            char real[PATH_MAX];
            if (readable_file(p) && realpath(p.c_str(), real)) return real;
        }
    return {};
}

int run_harmplot(const plot_options& o, const std::string& plot_gp) {
    if (!o.outdir.empty() && !make_dirs(o.outdir)) {
        put_err("harmplot: cannot create " + printable_name(o.outdir) + "\n");
        return 1;
    }
    const std::size_t n = o.files.size();
    std::vector<bool> analysed(n);
    for (std::size_t i = 0; i < n; ++i) {
        struct stat st;
        analysed[i] =
            stat(o.files[i].c_str(), &st) == 0 && S_ISREG(st.st_mode) && readable_file(o.files[i]);
    }
    const output_names names = name_outputs(o.files, analysed, o.outdir);

    // Pictures, when gnuplot and plot.gp are there.
    picture_place place;
    std::string no_pictures;
    if (plot_gp.empty())
        no_pictures = "plot.gp not found beside harmplot or in ../share/harmtrace";
    else if (!prepare_pictures(plot_gp, place, no_pictures))
        remove_pictures(place);
    const bool drawing = no_pictures.empty();

    // Why a file is not analysed: the reasons known before any is.
    std::unordered_map<std::string, std::size_t> inputs;  // by canonical_target
    for (std::size_t i = 0; i < n; ++i) inputs.emplace(canonical_target(o.files[i]), i);
    std::vector<std::string> refused(n);
    for (std::size_t i = 0; i < n; ++i) {
        struct stat st;
        if (!analysed[i]) {
            refused[i] =
                stat(o.files[i].c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)
                    ? "not a regular file"
                    : "cannot read the file";
            continue;
        }
        if (names.twin[i] >= 0) {
            refused[i] = "the same file as " + printable_name(o.files[std::size_t(names.twin[i])]) +
                         ": skipped";
            continue;
        }
        const struct {
            output_kind kind;
            bool wanted;
            const std::string &path, &key;
        } targets[] = {{output_kind::table, true, names.table[i], names.table_key[i]},
                       {output_kind::picture, drawing, names.picture[i], names.picture_key[i]},
                       {output_kind::levels, o.levels, names.levels[i], names.levels_key[i]}};
        for (const auto& t : targets) {
            if (!t.wanted || !refused[i].empty()) continue;
            const auto input = inputs.find(t.key);
            const target_kind k = target_at(t.path, t.kind);
            if (input != inputs.end())
                refused[i] = printable_name(t.path) + " is the recording " +
                             printable_name(o.files[input->second]) + ": not written";
            else if (k == target_kind::not_regular)
                refused[i] = printable_name(t.path) + " is not a regular file: not written";
            else if (k == target_kind::theirs && !o.force)
                refused[i] = printable_name(t.path) +
                             " is not a file harmplot wrote: kept (--force replaces it)";
        }
    }

    summary_table table;
    if (!o.summary.empty()) {
        const std::string why = summary_refusal(o, names);
        if (!why.empty()) {
            remove_pictures(place);
            return usage_error("harmplot", "--summary " + printable_name(o.summary) + ": " + why,
                               harmplot_usage_line);
        }
        std::string cause;
        if (!open_summary(o, table, cause)) {
            remove_pictures(place);
            put_err("harmplot: cannot write " + printable_name(o.summary) + ": " + cause + "\n");
            return 1;
        }
    }

    // Recordings side by side share the cores: each harmtrace then takes one.
    const int at_once =
        int(std::min<std::size_t>(n, std::size_t(o.jobs > 0 ? o.jobs : worker_count(0))));
    run_state st(o, names, refused, drawing ? &place : nullptr, at_once > 1 ? 1 : worker_count(0));
    std::vector<std::thread> threads;
    for (int t = 0; t < at_once; ++t) {
        try {
            threads.emplace_back(work, std::ref(st));
        } catch (const std::system_error&) {
            break;  // those there are do the work
        }
    }
    // This thread shows the results in order; it analyses them itself when no other can.
    if (threads.empty()) work(st);
    int failed = 0, tables = 0, summaries = 0;
    bool out_failed = false;
    for (std::size_t i = 0; i < n; ++i) {
        shown r;
        {
            std::unique_lock<std::mutex> lock(st.m);
            st.ready.wait(lock, [&] { return st.results[i].done; });
            r = std::move(st.results[i]);
        }
        if (n > 1)
            put_err("[" + std::to_string(i + 1) + "/" + std::to_string(n) + "] " +
                    printable_name(o.files[i]) + "\n");
        put_err(r.err);
        if (!r.out.empty() && !put_out((summaries++ ? "\n" : "") + r.out)) out_failed = true;
        add_rows(table, r.rows);
        if (r.summarised)
            ++tables;
        else
            failed = 1;
    }
    for (std::thread& t : threads) t.join();
    remove_pictures(place);

    if (!o.summary.empty()) {
        std::string why;
        if (table.staged && !table.failed && !commit_file(table.file, why)) table.failed = true;
        if (table.staged && table.failed) discard_file(table.file);
        if (!table.staged && table.fd >= 0 && close(table.fd) != 0) table.failed = true;
        if (table.failed) {
            put_err("harmplot: cannot write " + printable_name(o.summary) + ": rows are missing\n");
            failed = 1;
        }
    }
    if (out_failed) {
        put_err("harmplot: cannot write standard output\n");
        failed = 1;
    }
    if (tables > 0 && !drawing)
        put_err("harmplot: " + no_pictures + ": the pictures were skipped\n");
    return failed;
}

#include "options.h"

#include <charconv>
#include <cmath>

#include "usage.h"

const char harmsum_usage_line[] =
    "usage: harmsum prepare|summary|failed|columns|join|args|name ... (harmsum --help tells "
    "more)\n";

const char harmsum_usage[] =
    "Usage: harmsum prepare [-c N] [-t FROM:TO] --info INFO HEADER SAMPLES > MONO\n"
    "       harmsum summary --info INFO --name NAME [--hint] [--no-check] [--found HZ]\n"
    "                       [-s SECONDS] [--partials] [--follow] [--csv FILE] [--levels FILE]\n"
    "                       MONO REPORT\n"
    "       harmsum failed --name NAME --reason WHY [--info INFO] --csv FILE\n"
    "       harmsum columns | join [TABLE...] | args [-c N] [-t FROM:TO] | name NAME\n"
    "harmplot's numbers. prepare reads riffcat's header report and sample lines and writes the\n"
    "samples harmtrace is to analyse: channel N or the mean of the channels that hold the note,\n"
    "from FROM to TO seconds, at most 2097152. summary reads them back with harmtrace's report,\n"
    "checks the fundamental and prints the summary (levels in dBFS, decay rates with their 95 %\n"
    "interval over the windows where each harmonic stands clear of its floor), adding CSV rows\n"
    "to FILE and writing the picture's numbers (levels, decay lines, pitch; plot.gp draws them)\n"
    "to the --levels FILE. --partials says the report measures partials where they lie\n"
    "(harmtrace --partials); their inharmonicity is fitted to the report's frequencies. --follow\n"
    "says the report follows the pitch (harmtrace --follow): the fundamental is the pitch the\n"
    "note is held at, with its vibrato and attack.\n"
    "failed adds the CSV row of a file that gave no summary; columns prints the CSV's header\n"
    "line; join writes the rows of --summary tables of many runs (the files, or standard input\n"
    "holding them one after another) under one header line; args judges -c and -t; name\n"
    "prints NAME as messages show it (control bytes as \\xNN).\n"
    "\n"
    "Exit status: 0 done, 1 no note (the reason on standard error), 2 bad arguments or input,\n"
    "3 the fundamental is better taken near the first frequency printed (the second is the one\n"
    "found): run harmtrace -f there and summary again with --found at the second.\n";

bool parse_stretch(const std::string& s, stretch_request& r) {
    const std::size_t colon = s.find(':');
    if (colon == std::string::npos) return false;
    const std::string a = s.substr(0, colon), b = s.substr(colon + 1);
    if ((!a.empty() && !option_real(a, r.from)) || (!b.empty() && !option_real(b, r.to)))
        return false;
    return r.from >= 0 && r.from < max_seconds &&
           (b.empty() || (r.to > r.from && r.to <= max_seconds));
}

namespace {

struct command_name {
    const char* word;
    decltype(harmsum_options::command) command;
};
constexpr command_name commands[] = {
    {"prepare", harmsum_options::prepare}, {"summary", harmsum_options::summary},
    {"failed", harmsum_options::failed},   {"columns", harmsum_options::columns},
    {"args", harmsum_options::check_args}, {"name", harmsum_options::show_name},
    {"join", harmsum_options::join},
};

// What the command needs besides its options; empty when it has it.
std::string missing(const harmsum_options& o) {
    switch (o.command) {
        case harmsum_options::prepare:
            return o.info.empty()        ? "--info is needed"
                   : o.files.size() != 2 ? "needs HEADER and SAMPLES"
                                         : "";
        case harmsum_options::summary:
            return o.info.empty()        ? "--info is needed"
                   : o.files.size() != 2 ? "needs MONO and REPORT"
                                         : "";
        case harmsum_options::failed:
            return o.csv.empty() || o.reason.empty() ? "needs --csv and --reason"
                   : !o.files.empty()                ? "unexpected argument " + o.files[0]
                                                     : "";
        case harmsum_options::show_name:
            return o.files.size() != 1 ? "needs one NAME" : "";
        case harmsum_options::join:
            return "";  // tables, or standard input
        default:
            return o.files.empty() ? "" : "unexpected argument " + o.files[0];
    }
}

}  // namespace

parsed_options parse_options(const std::vector<std::string>& args) {
    parsed_options p;
    harmsum_options& o = p.o;
    if (args.empty()) {
        p.error = "no command";
        return p;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h") return p;
    if (command == "--version") {
        o.command = harmsum_options::version;
        return p;
    }
    bool known = false;
    for (const command_name& c : commands)
        if (command == c.word) o.command = c.command, known = true;
    if (!known) {
        p.error = "unknown command " + command;
        return p;
    }
    using O = harmsum_options;
    const bool stretch = o.command == O::prepare || o.command == O::check_args;
    const bool names = o.command == O::summary || o.command == O::failed;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (o.command == O::show_name || o.command == O::join) {  // names as given
            o.files.push_back(a);
            continue;
        }
        const bool has_value = i + 1 < args.size();
        const std::string value = has_value ? args[i + 1] : std::string();
        auto need = [&](bool ok) {
            if (!has_value)
                p.error = a + " needs a value";
            else if (!ok && a == "-c")
                p.error = "bad channel for -c: " + value;
            else if (!ok && a == "-t")
                p.error = "bad stretch for -t (FROM:TO in seconds, FROM before TO, at most " +
                          std::to_string(int(max_seconds)) + "): " + value;
            else if (!ok)
                p.error = "bad value for " + a + ": " + value;
            ++i;
            return p.error.empty();
        };
        int channel = 0;
        if (a == "--info" && o.command != O::check_args) {
            if (!need(!value.empty())) return p;
            o.info = value;
        } else if (stretch && a == "-c") {
            auto [e, ec] = std::from_chars(value.data(), value.data() + value.size(), channel);
            if (!need(ec == std::errc() && e == value.data() + value.size() && channel >= 1 &&
                      channel <= 65535))
                return p;
            o.stretch.channel = channel;
        } else if (stretch && a == "-t") {
            if (!need(parse_stretch(value, o.stretch))) return p;
        } else if (names && a == "--name") {
            if (!need(true)) return p;
            o.name = value;
        } else if (names && a == "--csv") {
            if (!need(!value.empty())) return p;
            o.csv = value;
        } else if (o.command == O::failed && a == "--reason") {
            if (!need(!value.empty())) return p;
            o.reason = value;
        } else if (o.command == O::summary && a == "--levels") {
            if (!need(!value.empty())) return p;
            o.levels = value;
        } else if (o.command == O::summary && a == "--found") {
            if (!need(option_real(value, o.found) && o.found > 0)) return p;
        } else if (o.command == O::summary && a == "-s") {
            if (!need(option_real(value, o.search_from) && o.search_from >= 0 &&
                      o.search_from < max_seconds))
                return p;
        } else if (o.command == O::summary && a == "--partials") {
            o.partials = true;
        } else if (o.command == O::summary && a == "--follow") {
            o.follow = true;
        } else if (o.command == O::summary && a == "--inharmonicity") {
            // The older spelling of --partials: B is fitted here now, the value only checked.
            double b;
            if (!need(option_real(value, b))) return p;
            o.partials = true;
        } else if (o.command == O::summary && a == "--hint") {
            o.hint = true;
        } else if (o.command == O::summary && a == "--no-check") {
            o.no_check = true;
        } else if (a.size() > 1 && a[0] == '-') {
            p.error = "unknown option " + a;
            return p;
        } else {
            o.files.push_back(a);
        }
    }
    p.error = missing(o);
    return p;
}

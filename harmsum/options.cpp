#include "options.h"

#include <charconv>
#include <cmath>

const char harmsum_usage_line[] =
    "usage: harmsum prepare|summary ... (harmsum --help tells more)\n";

const char harmsum_usage[] =
    "Usage: harmsum prepare [-c N] [-t FROM:TO] --info INFO HEADER SAMPLES > MONO\n"
    "       harmsum summary --info INFO --name NAME [--hint] [--no-check] [--found HZ]\n"
    "                       [-s SECONDS] [--csv FILE] [--inharmonicity B] MONO REPORT\n"
    "harmplot's numbers. prepare reads riffcat's header report and sample lines and writes the\n"
    "samples harmtrace is to analyse: channel N or the mean of all, from FROM to TO seconds, at\n"
    "most 2097152. summary reads them back with harmtrace's report, checks the fundamental and\n"
    "prints the summary (levels in dBFS, decay rates over the windows where each harmonic\n"
    "stands clear of its floor), adding CSV rows to FILE. --inharmonicity says the report\n"
    "measures partials where they lie (harmtrace --partials), whose inharmonicity is B.\n"
    "\n"
    "Exit status: 0 done, 1 no note (the reason on standard error), 2 bad arguments or input,\n"
    "3 the fundamental is better taken near the first frequency printed (the second is the one\n"
    "found): run harmtrace -f there and summary again with --found at the second.\n";

namespace {

bool real(const std::string& s, double& v) {
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v);
    return ec == std::errc() && p == end && std::isfinite(v);
}

// FROM:TO, either end left out.
bool stretch(const std::string& s, stretch_request& r) {
    const std::size_t colon = s.find(':');
    if (colon == std::string::npos) return false;
    const std::string a = s.substr(0, colon), b = s.substr(colon + 1);
    if ((!a.empty() && !real(a, r.from)) || (!b.empty() && !real(b, r.to))) return false;
    return r.from >= 0 && (b.empty() || r.to > r.from);
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
    if (command != "prepare" && command != "summary") {
        p.error = "unknown command " + command;
        return p;
    }
    o.command = command == "prepare" ? harmsum_options::prepare : harmsum_options::summary;
    const bool prep = o.command == harmsum_options::prepare;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool has_value = i + 1 < args.size();
        const std::string value = has_value ? args[i + 1] : std::string();
        auto need = [&](bool ok) {
            if (!has_value)
                p.error = a + " needs a value";
            else if (!ok)
                p.error = "bad value for " + a + ": " + value;
            ++i;
            return p.error.empty();
        };
        int channel = 0;
        if (a == "--info") {
            if (!need(!value.empty())) return p;
            o.info = value;
        } else if (prep && a == "-c") {
            auto [e, ec] = std::from_chars(value.data(), value.data() + value.size(), channel);
            if (!need(ec == std::errc() && e == value.data() + value.size() && channel >= 1))
                return p;
            o.stretch.channel = channel;
        } else if (prep && a == "-t") {
            if (!need(stretch(value, o.stretch))) return p;
        } else if (!prep && a == "--name") {
            if (!need(true)) return p;
            o.name = value;
        } else if (!prep && a == "--csv") {
            if (!need(!value.empty())) return p;
            o.csv = value;
        } else if (!prep && a == "--found") {
            if (!need(real(value, o.found) && o.found > 0)) return p;
        } else if (!prep && a == "--inharmonicity") {
            if (!need(real(value, o.b))) return p;
            o.partials = true;
        } else if (!prep && a == "-s") {
            if (!need(real(value, o.search_from) && o.search_from >= 0)) return p;
        } else if (!prep && a == "--hint") {
            o.hint = true;
        } else if (!prep && a == "--no-check") {
            o.no_check = true;
        } else if (a.size() > 1 && a[0] == '-') {
            p.error = "unknown option " + a;
            return p;
        } else {
            o.files.push_back(a);
        }
    }
    if (o.info.empty())
        p.error = "--info is needed";
    else if (o.files.size() != 2)
        p.error = prep ? "needs HEADER and SAMPLES" : "needs MONO and REPORT";
    return p;
}

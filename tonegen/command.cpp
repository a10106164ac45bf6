#include "command.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>
#include <system_error>

#include "error_report.h"
#include "usage.h"

namespace tonegen {

namespace {

constexpr int max_harmonics = 64;

template <class Int>
bool parse_int(const std::string& s, Int& v) {
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v);
    return ec == std::errc() && p == end;
}

bool parse_list(const std::string& s, std::vector<double>& v) {
    v.clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = s.find(',', start);
        double x;
        if (!option_real(s.substr(start, comma - start), x)) return false;
        v.push_back(x);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

std::string num(double v) {
    std::ostringstream o;
    o << v;
    return o.str();
}

const char* sound_name(sound s) {
    switch (s) {
        case sound::sine:
            return "sine";
        case sound::additive:
            return "additive";
        case sound::pluck:
            return "pluck";
        case sound::vibrato:
            return "vibrato";
    }
    return "?";
}

// Which sounds take an option; common options take every sound.
bool option_fits(const std::string& name, sound s) {
    if (name == "--amps" || name == "--decays") return s == sound::additive || s == sound::vibrato;
    if (name == "--inharmonicity") return s == sound::additive;
    if (name == "--decay") return s == sound::pluck;
    if (name == "--depth-cents" || name == "--vibrato-hz") return s == sound::vibrato;
    return true;
}

// The flag that an option without a value sets, or null.
bool* switch_of(command& c, const std::string& name) {
    if (name == "--extensible") return &c.form.extensible;
    if (name == "--odd-chunk") return &c.form.odd_chunk;
    if (name == "--trailing-chunk") return &c.form.trailing_chunk;
    return nullptr;
}

// Checks that concern more than one option, once all are read.
std::string check(const command& c) {
    if (c.rate < 1000 || c.rate > 384000) return "--rate must be 1000 to 384000 Hz";
    if (!(c.seconds > 0.0 && c.seconds <= 600.0))
        return "--seconds must be above 0 and at most 600";
    if (frame_count(c) < 1) return "--seconds gives no sample at this --rate";
    if (!(c.amp >= 0.0 && c.amp <= 10.0)) return "--amp must be 0 to 10";
    if (!(c.note.freq >= 1.0)) return "--freq must be at least 1 Hz";
    const double nyquist = c.rate / 2.0;
    if (c.kind == sound::pluck) {
        if (c.note.freq > c.rate / 3.0)
            return "--freq of a plucked string must be at most a third of --rate (" +
                   num(c.rate / 3.0) + " Hz)";
        if (!(c.pluck_decay >= 0.0 && c.pluck_decay <= 1000.0))
            return "--decay must be 0 to 1000 per second";
        return "";
    }
    const auto& a = c.note.amps;
    if (a.empty() || int(a.size()) > max_harmonics)
        return "--amps takes 1 to " + std::to_string(max_harmonics) + " values";
    int top = 0;  // highest harmonic that sounds
    for (std::size_t k = 1; k <= a.size(); ++k) {
        if (a[k - 1] < 0.0) return "--amps values must not be negative";
        if (a[k - 1] > 0.0) top = int(k);
    }
    if (top == 0) return "--amps needs at least one value above 0";
    if (!c.note.decays.empty()) {
        if (c.note.decays.size() != a.size())
            return "--decays needs one value per --amps value (" + std::to_string(a.size()) + ")";
        for (double d : c.note.decays)
            if (!(d >= 0.0 && d <= 1000.0)) return "--decays values must be 0 to 1000 per second";
    }
    if (!(c.note.depth_cents >= 0.0 && c.note.depth_cents <= 1200.0))
        return "--depth-cents must be 0 to 1200";
    if (!(c.note.vibrato_hz > 0.0 && c.note.vibrato_hz <= 100.0) && c.kind == sound::vibrato)
        return "--vibrato-hz must be above 0 and at most 100";
    const double highest = partial_frequency(c.note, top) * std::exp2(c.note.depth_cents / 1200.0);
    if (!(highest < nyquist))
        return "harmonic " + std::to_string(top) + " of " + num(c.note.freq) + " Hz" +
               (c.note.depth_cents > 0.0 ? " with its vibrato" : "") + " reaches " + num(highest) +
               " Hz, not below half of --rate (" + num(nyquist) + " Hz)";
    return "";
}

}  // namespace

std::int64_t frame_count(const command& c) {
    return std::llround(c.seconds * c.rate);
}

parsed parse_command(const std::vector<std::string>& args) {
    parsed r;
    command& c = r.cmd;
    auto fail = [&r](std::string msg) {
        r.error = std::move(msg);
        return r;
    };
    for (const auto& a : args) {
        c.help = a == "-h" || a == "--help";
        c.version = a == "--version";
        if (c.help || c.version) return r;
    }
    if (args.empty()) return fail("no sound given: sine, additive, pluck or vibrato");
    const std::string& name = args[0];
    if (name == "sine") {
        c.kind = sound::sine;
    } else if (name == "additive") {
        c.kind = sound::additive;
    } else if (name == "pluck") {
        c.kind = sound::pluck;
    } else if (name == "vibrato") {
        c.kind = sound::vibrato;
        c.note.depth_cents = 25.0;
        c.note.vibrato_hz = 5.5;
    } else {
        return fail("unknown sound '" + name + "': sine, additive, pluck or vibrato");
    }

    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string opt = args[i], value;
        const std::size_t eq = opt.find('=');
        if (bool* on = switch_of(c, opt)) {
            *on = true;
            continue;
        }
        if (opt.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = opt.substr(eq + 1);
            opt.resize(eq);
        } else if (opt == "-o" || opt.rfind("--", 0) == 0) {
            if (i + 1 == args.size()) return fail("option " + opt + " needs a value");
            value = args[++i];
        } else {
            return fail("unexpected argument '" + opt + "'");
        }
        if (switch_of(c, opt)) return fail("option " + opt + " takes no value");
        if (!option_fits(opt, c.kind))
            return fail("option " + opt + " does not apply to " + sound_name(c.kind));
        const std::string bad = "bad value '" + value + "' for " + opt;
        if (opt == "-o" || opt == "--output") {
            if (value.empty()) return fail("option " + opt + " needs a file name");
            c.output = value;
        } else if (opt == "--freq") {
            if (!option_real(value, c.note.freq)) return fail(bad);
        } else if (opt == "--seconds") {
            if (!option_real(value, c.seconds)) return fail(bad);
        } else if (opt == "--rate") {
            if (!parse_int(value, c.rate)) return fail(bad);
        } else if (opt == "--bits") {
            int& b = c.form.bits;
            if (!parse_int(value, b) || (b != 8 && b != 16 && b != 24 && b != 32))
                return fail("--bits must be 8, 16, 24 or 32, not '" + value + "'");
            c.form.is_float = false;
        } else if (opt == "--float") {
            int& b = c.form.bits;
            if (!parse_int(value, b) || (b != 32 && b != 64))
                return fail("--float must be 32 or 64, not '" + value + "'");
            c.form.is_float = true;
        } else if (opt == "--junk") {
            if (!parse_int(value, c.form.junk) || c.form.junk < 0 || c.form.junk > 1048576)
                return fail("--junk must be 0 to 1048576 bytes, not '" + value + "'");
        } else if (opt == "--channels") {
            if (!parse_int(value, c.channels) || (c.channels != 1 && c.channels != 2))
                return fail("--channels must be 1 or 2, not '" + value + "'");
        } else if (opt == "--amp") {
            if (!option_real(value, c.amp)) return fail(bad);
        } else if (opt == "--amps") {
            if (!parse_list(value, c.note.amps))
                return fail(bad + " (numbers separated by commas)");
        } else if (opt == "--decays") {
            if (!parse_list(value, c.note.decays))
                return fail(bad + " (numbers separated by commas)");
        } else if (opt == "--inharmonicity") {
            if (!option_real(value, c.note.inharmonicity) ||
                !(c.note.inharmonicity >= 0 && c.note.inharmonicity <= 0.1))
                return fail("--inharmonicity must be 0 to 0.1, not '" + value + "'");
        } else if (opt == "--decay") {
            if (!option_real(value, c.pluck_decay)) return fail(bad);
        } else if (opt == "--noise") {
            if (!option_real(value, c.noise_dbfs) || !(c.noise_dbfs < 0 && c.noise_dbfs >= -200))
                return fail("--noise must be below 0 and at least -200 dB, not '" + value + "'");
        } else if (opt == "--seed") {
            if (!parse_int(value, c.seed)) return fail(bad);
        } else if (opt == "--depth-cents") {
            if (!option_real(value, c.note.depth_cents)) return fail(bad);
        } else if (opt == "--vibrato-hz") {
            if (!option_real(value, c.note.vibrato_hz)) return fail(bad);
        } else {
            return fail("unknown option '" + opt + "'");
        }
    }
    if (c.output.empty()) return fail("no output file: give -o FILE (or -o - for standard output)");
    std::string msg = check(c);
    if (!msg.empty()) return fail(std::move(msg));
    return r;
}

std::string render(const command& c) {
    const std::int64_t n = frame_count(c);
    std::vector<double> x;
    switch (c.kind) {
        case sound::sine:
            x = sine(c.note.freq, c.amp, c.rate, n);
            break;
        case sound::pluck:
            x = pluck(c.note.freq, c.pluck_decay, c.seed, c.amp, c.rate, n);
            break;
        case sound::additive:
        case sound::vibrato:
            x = harmonic_tone(c.note, c.amp, c.rate, n);
            break;
    }
    if (c.noise_dbfs < 0) add_noise(x, c.noise_dbfs, c.seed);
    return encode_wav(std::vector<std::vector<double>>(std::size_t(c.channels), x), c.rate, c.form);
}

std::string usage() {
    return R"(Usage: tonegen SOUND [OPTION VALUE]... -o FILE
Writes a test tone as a RIFF/WAVE file, mono or stereo, in the forms recorders write.

Sounds:
  sine       a pure sine
  additive   harmonics with chosen amplitudes and exponential decays
  pluck      a plucked string (Karplus-Strong): upper harmonics die first
  vibrato    a harmonic tone whose pitch swings periodically

Options for every sound (defaults in brackets):
  -o, --output FILE    file to write, - for standard output (required)
  --freq HZ            fundamental frequency [440]
  --seconds S          duration, at most 600 [3]
  --rate HZ            sampling rate, 1000 to 384000 [44100]
  --channels N         1 or 2; both channels carry the same sound [1]
  --amp A              peak level, 1 is full scale; above 1 clips PCM samples [0.8]
  --noise DB           add white noise at this RMS level, dB under full scale (-80)
  --seed N             seed of the noise [1]
additive and vibrato:
  --amps A1,A2,...     relative amplitudes of harmonics 1, 2, ... [1]
  --decays D1,D2,...   decay rate of each harmonic, per second [0,...]
additive:
  --inharmonicity B    a stiff string's: partial k at k HZ sqrt(1 + B k^2) / sqrt(1 + B) [0]
vibrato:
  --depth-cents C      pitch swing either side, in cents [25]
  --vibrato-hz R       swings per second [5.5]
pluck (its --seed seeds the initial noise too):
  --decay D            damping of every harmonic, per second [1]
File form (the last of --bits and --float counts):
  --bits N             PCM of 8, 16, 24 or 32 bits a sample [16]
  --float N            IEEE float of 32 or 64 bits a sample
  --extensible         a WAVE_FORMAT_EXTENSIBLE header
  --junk N             a JUNK chunk of N bytes before the fmt chunk
  --odd-chunk          a LIST chunk of odd size before the data
  --trailing-chunk     a LIST chunk after the data

  -h, --help           show this text
  --version            show the version

Exit status: 0 done, 1 cannot write FILE, 2 bad arguments.
)";
}

int run(const std::vector<std::string>& args, output& out, output& err) {
    const parsed p = parse_command(args);
    if (p.cmd.help || p.cmd.version) {
        out.put(p.cmd.help ? usage() : version_line("tonegen"));
        return out.flush() ? 0 : 1;
    }
    if (!p.error.empty()) {
        report_error(err, "tonegen", p.error);
        err.put("Try 'tonegen --help'.\n");
        return 2;
    }
    const std::string wav = render(p.cmd);
    if (p.cmd.output == "-") {
        out.put(wav);
        if (!out.flush()) {
            report_error(err, "tonegen", "cannot write standard output",
                         std::strerror(out.error()));
            return 1;
        }
        return 0;
    }
    const int fd = ::open(p.cmd.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int error = errno;
    if (fd >= 0) {
        output file(fd);
        file.put(wav);
        error = file.flush() ? 0 : file.error();
        if (::close(fd) != 0 && error == 0) error = errno;
    }
    if (fd < 0 || error != 0) {
        report_error(err, "tonegen", "cannot write '" + p.cmd.output + "'", std::strerror(error));
        return 1;
    }
    return 0;
}

}  // namespace tonegen

#include "note.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

note_name nearest_note(double hz) {
    static const char* const names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                          "F#", "G",  "G#", "A",  "A#", "B"};
    // From C0, within C-1 .. B20, so that the octave and the name stay in range.
    const double semis = std::clamp(12 * std::log2(hz / 440) + 57, -12.0, 251.0);
    const long near = std::isfinite(semis) ? std::lround(semis) : 57;
    const long octave = near >= 0 ? near / 12 : (near - 11) / 12;
    note_name n;
    n.name = std::string(names[near - 12 * octave]) + std::to_string(octave);
    n.exact_cents = std::isfinite(semis) ? 100 * (semis - double(near)) : 0;
    n.cents = int(std::lround(n.exact_cents));
    return n;
}

std::string fixed_text(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    // A value that rounds to zero is written without a sign.
    const std::string text = buf;
    return text.find_first_not_of("-0.") == std::string::npos && text[0] == '-' ? text.substr(1)
                                                                                : text;
}

std::string hz_text(double hz) {
    const int digits = hz > 0 && std::isfinite(hz) ? int(std::floor(std::log10(hz))) + 1 : 1;
    return fixed_text(hz, std::max(0, 4 - digits));
}

std::string signed_text(double v, int decimals) {
    const std::string t = fixed_text(v, decimals);
    return t[0] == '-' || t.find_first_not_of("0.") == std::string::npos ? t : "+" + t;
}

std::string sig_text(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

#include "header.h"

#include <charconv>
#include <cmath>

namespace {

// The number after `key` on the first line that holds it; false when there is none.
bool number_after(std::string_view text, std::string_view key, long long& v) {
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos) return false;
    const char* p = text.data() + at + key.size();
    const char* end = text.data() + text.size();
    while (p < end && *p == ' ') ++p;
    return std::from_chars(p, end, v).ec == std::errc();
}

// The line after the one that holds `key`.
std::string_view line_after(std::string_view text, std::string_view key) {
    std::size_t at = text.find(key);
    if (at == std::string_view::npos || (at = text.find('\n', at)) == std::string_view::npos)
        return {};
    text.remove_prefix(at + 1);
    return text.substr(0, text.find('\n'));
}

// The SubFormat code of an extensible header from its extension bytes as riffcat prints them
// ("16 00 18 00 03 00 00 00 01 00 ..."): the first two bytes of the GUID, after cbSize, the
// valid bits and the channel mask.
long subformat(std::string_view hex) {
    if (hex.size() < 30) return -1;
    unsigned lo = 0, hi = 0;
    if (std::from_chars(hex.data() + 24, hex.data() + 26, lo, 16).ec != std::errc() ||
        std::from_chars(hex.data() + 27, hex.data() + 29, hi, 16).ec != std::errc())
        return -1;
    return long(lo | hi << 8);
}

}  // namespace

bool read_wav_facts(std::string_view report, wav_facts& f, std::string& why) {
    const std::size_t fmt = report.find("[WAVEfmt ]");
    if (fmt == std::string_view::npos) {
        why = "no fmt chunk in riffcat's report";
        return false;
    }
    report.remove_prefix(fmt);
    long long type, channels, rate, bits, frame_bytes;
    if (!number_after(report, "Data type = ", type) ||
        !number_after(report, "Number of channels = ", channels) ||
        !number_after(report, "Sampling rate = ", rate) ||
        !number_after(report, "Bytes x channels = ", frame_bytes) ||
        !number_after(report, "Bits / sample = ", bits)) {
        why = "riffcat's report lacks a format field";
        return false;
    }
    if (type == 0xFFFE) type = subformat(line_after(report, "Bits / sample = "));
    if (channels < 1 || channels > 65535 || rate < 1 || rate > 1000000000 || bits < 1 ||
        bits > 64 || (type != 1 && type != 3)) {
        why = "samples of this form cannot be scaled";
        return false;
    }
    f.rate = int(rate);
    f.channels = int(channels);
    f.bits = int(bits);
    f.is_float = type == 3;
    const int width = bits <= 8 ? 8 : bits <= 16 ? 16 : 8 * int((bits + 7) / 8);
    f.full_scale = f.is_float ? 1.0 : std::ldexp(1.0, width - 1);
    long long data;
    f.frames = -1;
    if (number_after(report, "[data] (", data) && data != 0 && data != 0xFFFFFFFFLL &&
        frame_bytes > 0)
        f.frames = data / frame_bytes;
    long long got, want;
    const std::size_t cut = report.find("Data cut short: ");
    if (cut != std::string_view::npos &&
        number_after(report.substr(cut), "Data cut short: ", got) &&
        number_after(report.substr(cut), " of ", want))
        f.cut_bytes = got, f.data_bytes = want;
    return true;
}

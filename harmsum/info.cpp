#include "info.h"

#include <charconv>

namespace {

template <class T>
bool value_of(std::string_view text, std::string_view key, T& v) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(at, end - at);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=') {
            const char* p = line.data() + key.size() + 1;
            const char* e = line.data() + line.size();
            auto [q, ec] = std::from_chars(p, e, v);
            return ec == std::errc() && q == e;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace

void write_info(const analysis_info& a, output& out) {
    out.print("rate=%d\nchannels=%d\nfloat=%d\nfull_scale=%.17g\nchannel=%d\n", a.facts.rate,
              a.facts.channels, int(a.facts.is_float), a.facts.full_scale, a.channel);
    out.print("first=%lld\ncount=%lld\nframes=%lld\ncapped=%d\nsilent=%d\nonset=%.17g\n",
              a.stretch.first, a.stretch.count, a.stretch.frames, int(a.stretch.capped),
              int(a.stretch.silent), a.stretch.onset);
    out.print("silent_channels=%d\ncancel=%d\ncut_bytes=%lld\ndata_bytes=%lld\n", a.silent_channels,
              int(a.cancel), a.facts.cut_bytes, a.facts.data_bytes);
}

bool read_info(std::string_view text, analysis_info& a, std::string& why) {
    int is_float = 0, capped = 0, silent = 0, cancel = 0;
    const bool ok =
        value_of(text, "rate", a.facts.rate) && value_of(text, "channels", a.facts.channels) &&
        value_of(text, "float", is_float) && value_of(text, "full_scale", a.facts.full_scale) &&
        value_of(text, "channel", a.channel) && value_of(text, "first", a.stretch.first) &&
        value_of(text, "count", a.stretch.count) && value_of(text, "frames", a.stretch.frames) &&
        value_of(text, "capped", capped) && value_of(text, "silent", silent) &&
        value_of(text, "onset", a.stretch.onset) &&
        value_of(text, "silent_channels", a.silent_channels) && value_of(text, "cancel", cancel) &&
        value_of(text, "cut_bytes", a.facts.cut_bytes) &&
        value_of(text, "data_bytes", a.facts.data_bytes);
    a.cancel = cancel != 0;
    a.facts.is_float = is_float != 0;
    a.stretch.capped = capped != 0;
    a.stretch.silent = silent != 0;
    if (!ok || a.facts.rate < 1 || a.facts.channels < 1 || !(a.facts.full_scale > 0))
        why = "not an analysis info file";
    return why.empty();
}

#include "header.h"

#include <cmath>

bool scale_samples(unsigned code, unsigned bits, unsigned rate, unsigned channels, wav_facts& f,
                   std::string& why) {
    if (channels < 1) {
        why = "no channels: its fmt chunk gives 0";
        return false;
    }
    if (bits < 1 || bits > 64 || (code != 1 && code != 3)) {
        why = "samples of this form cannot be scaled (data type " + std::to_string(code) + ", " +
              std::to_string(bits) + " bits)";
        return false;
    }
    f.rate = int(std::min(rate, 2000000000u));
    f.channels = int(channels);
    f.bits = int(bits);
    f.is_float = code == 3;
    const int width = bits <= 8 ? 8 : bits <= 16 ? 16 : 8 * int((bits + 7) / 8);
    f.full_scale = f.is_float ? 1.0 : std::ldexp(1.0, width - 1);
    return true;
}

#include "frame_limit.h"

#include <cstring>

std::int32_t parse_frame_limit(const char* text) {
    while (*text != '\0' && std::strchr(" \t\n\v\f\r", *text) != nullptr) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    // Digits beyond the 32-bit range only keep the value pinned above it.
    const std::int64_t above = std::int64_t(INT32_MAX) + 2;
    std::int64_t v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + (*text - '0');
        if (v > above) v = above;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return std::int32_t(v);
}

#pragma once
// The frame limit argument: a dash and a number, "-5" for at most five frames of each file that
// follows on the command line.
#include <cstdint>

// Reads the text after the dash as a decimal number the way strtol does: leading white space
// skipped, an optional sign, then digits up to the first other character. No digits gives 0.
// A number outside the 32-bit range gives the nearest 32-bit value.
// Typical use: frame_limit = parse_frame_limit(arg + 1);
std::int32_t parse_frame_limit(const char* text);

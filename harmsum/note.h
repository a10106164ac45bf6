#pragma once
// Note names and the text of numbers in the summary, each printed with no more digits than the
// measurement resolves.

#include <string>

struct note_name {
    std::string name;  // "A4", "C#3": equal temperament, A4 = 440 Hz
    int cents = 0;     // from that note, -50 .. 50
};

note_name nearest_note(double hz);

// A frequency to four significant digits, at least to the hertz: 27.50, 220.1, 1760, 17600.
std::string hz_text(double hz);

// A value with a fixed number of decimals ("%.*f").
std::string fixed_text(double v, int decimals);

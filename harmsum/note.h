#pragma once
// Note names and the text of numbers in the summary, each printed with no more digits than the
// measurement resolves.

#include <string>

struct note_name {
    std::string name;  // "A4", "C#3": equal temperament, A4 = 440 Hz
    int cents = 0;     // from that note, -50 .. 50
    double exact_cents = 0;
};

// The note nearest to hz, which must be finite and positive; notes are named from C-1 to B20
// and a frequency beyond them takes the nearest end.
note_name nearest_note(double hz);

// A frequency to four significant digits, at least to the hertz: 27.50, 220.1, 1760, 17600.
std::string hz_text(double hz);

// A value with a fixed number of decimals ("%.*f"); one that rounds to zero has no sign.
std::string fixed_text(double v, int decimals);
// The same with its sign always: +34.5, -0.3, 0.0.
std::string signed_text(double v, int decimals);
// A value to `digits` significant digits ("%.*g").
std::string sig_text(double v, int digits);

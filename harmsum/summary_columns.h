#pragma once
// The columns of harmplot's --summary table, always all of them, in this order, with or without
// --partials. A file that gave no summary has one row with only file, the analysed channels and
// stretch when known, and reason. The first 20 describe each harmonic's first stage: a held
// note's held part, a decaying note's prompt decay; the rest its kind, attack, peak, held level
// and swing, aftersound and knee, and release (envelope.h), empty where it has none.
constexpr char summary_columns[] =
    "file,f0_hz,note,cents,check,harmonic,freq_hz,start_dbfs,decay_db_per_s,t60_s,fit_from_s,"
    "fit_to_s,inharmonicity,decay_ci95_db_per_s,vibrato_hz,vibrato_cents,channels,from_s,to_s,"
    "reason,kind,attack_s,peak_dbfs,held_dbfs,held_sd_db,decay2_db_per_s,decay2_ci95_db_per_s,"
    "knee_s,release_db_per_s,release_ci95_db_per_s,release_from_s,note_index,note_from_s,"
    "note_to_s";

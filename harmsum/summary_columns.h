#pragma once
// The columns of harmplot's --summary table, always all of them, in this order, with or without
// --partials. A file that gave no summary has one row with only file, the analysed channels and
// stretch when known, and reason.
constexpr char summary_columns[] =
    "file,f0_hz,note,cents,check,harmonic,freq_hz,start_dbfs,decay_db_per_s,t60_s,fit_from_s,"
    "fit_to_s,inharmonicity,decay_ci95_db_per_s,vibrato_hz,vibrato_cents,channels,from_s,to_s,"
    "reason,note_index,note_from_s,note_to_s";

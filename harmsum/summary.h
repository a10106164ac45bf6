#pragma once
// The summary of one note: a text block for the reader and, for many files at once, CSV rows of
// one harmonic each:
//
//   file,f0_hz,note,cents,check,harmonic,freq_hz,start_dbfs,decay_db_per_s,t60_s,fit_from_s,fit_to_s
//
// Levels are in dBFS: 0 dB is a full-scale sine on the harmonic's bin. harmtrace's power of a
// sine of amplitude A on the bin of harmonic k at f is A^2 nfft^2 dt / (2 (nfft - 1)) with
// nfft = 8192 and dt = k / (1024 f), the grid step that puts f on that bin (1 / (1024 f1) for
// every harmonic of f1; a partial measured where it lies has a grid of its own), less what the
// straight-line interpolation between samples takes away, sinc^4(f / rate); the level puts both
// back. Harmonics at or above the Nyquist frequency are left out.
//
// For partials (harmtrace --partials), each line also gives the partial's deviation from k times
// partial 1 in cents, a line gives the inharmonicity B, and each CSV row ends with it.

#include <string>

#include "check.h"
#include "info.h"
#include "output.h"
#include "report.h"

struct summary_request {
    std::string name;  // the file as the user gave it
    analysis_info info;
    check_result check;
    double f0 = 0;
    bool partials = false;  // the report measures partials where they lie
    double b = 0;           // their inharmonicity
};

// The level in dBFS of power p of harmonic (or partial) k at frequency f.
double level_dbfs(double p, int k, double f, int rate, double full_scale);

// Typical use: write_summary(table, request, out, &csv);  // csv may be null
void write_summary(const report_table& report, const summary_request& q, output& text, output* csv);

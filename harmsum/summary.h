#pragma once
// The summary of one note: a text block for the reader and, for many files at once, CSV rows of
// one harmonic each:
//
//   file,f0_hz,note,cents,check,harmonic,freq_hz,start_dbfs,decay_db_per_s,t60_s,fit_from_s,fit_to_s
//
// Levels are in dBFS: 0 dB is a full-scale sine on the harmonic's bin. harmtrace's power of a
// sine of amplitude A on its bin is A^2 nfft^2 dt / (2 (nfft - 1)) with nfft = 8192 and
// dt = 1 / (1024 f1), f1 the bin of harmonic 1, less what the straight-line interpolation
// between samples takes away, sinc^4(f / rate); the level puts both back. Harmonics at or above
// the Nyquist frequency are left out.

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
};

constexpr char summary_csv_header[] =
    "file,f0_hz,note,cents,check,harmonic,freq_hz,start_dbfs,decay_db_per_s,t60_s,fit_from_s,"
    "fit_to_s\n";

// The level in dBFS of power p at frequency f in a report whose harmonic 1 lies at f1.
double level_dbfs(double p, double f, double f1, int rate, double full_scale);

// Typical use: write_summary(table, request, out, &csv);  // csv may be null
void write_summary(const report_table& report, const summary_request& q, output& text, output* csv);

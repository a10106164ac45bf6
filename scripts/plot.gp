# Draws harmsum's picture of one note: each harmonic's level over time with the stages fitted to
# it (a held part and its swing, a decay, an aftersound, a release), where its attack ends and
# where an aftersound takes over, and, for a followed note, its pitch in a panel underneath.
#
#   gnuplot -c plot.gp LEVELS PNG
#   call "plot.gp" "LEVELS" "PNG"      (in one gnuplot session, as many times as there are notes)
#
# LEVELS is the file `harmplot --levels` writes (NAME.levels; harmsum/picture.h tells it all):
# tab-separated blocks apart by two empty lines.
#   index 0  one item a line, its name first: title TEXT; kind TEXT; time FROM TO (s); level
#            BOTTOM TOP (dBFS); key WORD; lost FROM (s: where the pitch follower loses the note,
#            when it does); pitch BOTTOM TOP LABEL (cents; a followed note only); pitch_note TEXT
#            (what is said of its pitch, when anything is)
#   index 1  a line per harmonic: K LOOK LEGEND, LOOK fit (its level and stages), faint (its
#            level, drawn faint: no rate) or none (nothing to draw)
#   index 2  a line per stage: K WHAT FROM_S FROM_DBFS TO_S TO_DBFS; WHAT onset (a mark at
#            FROM_S across the levels), swing (a band), held, decay, aftersound, release (a line
#            between the two points), attack, knee (a mark at TO_S, TO_DBFS)
#   index 3  a line per window: its centre (s) and the level of each harmonic (dBFS)
#   index 4  a followed note's pitch: TIME (s) and CENTS from the held pitch
# NaN is a number that is not there. Every number, and every word about the note, comes from that
# file; this file only draws. Optional variables: width and height in pixels (1280 x 800).
#
# Nothing is left for the next picture of a session: every variable set here begins with hp_ and
# is undefined at the end, no function is defined, the settings are reset, and the terminal is
# put back. A LEVELS file that cannot be read is an error (status 1; a session goes on).

if (ARGC < 2) {
    exit error "plot.gp: usage: gnuplot -c plot.gp LEVELS PNG"
}
set terminal push
reset
set datafile separator "\t"
hp_in = ARG1
hp_png = ARG2
hp_title = ""
hp_kind = ""
hp_key = ""
hp_pitch = 0
hp_pitch_label = ""
hp_pitch_note = ""
stats hp_in index 0 using (hp_item = strcol(1), \
    (hp_item eq "title" ? (hp_title = strcol(2)) : 0), \
    (hp_item eq "kind" ? (hp_kind = strcol(2)) : 0), \
    (hp_item eq "time" ? (hp_from = column(2), hp_to = column(3)) : 0), \
    (hp_item eq "level" ? (hp_bottom = column(2), hp_top = column(3)) : 0), \
    (hp_item eq "key" ? (hp_key = strcol(2)) : 0), \
    (hp_item eq "lost" ? (hp_lost = column(2)) : 0), \
    (hp_item eq "pitch" ? (hp_pitch = 1, hp_low = column(2), hp_high = column(3), \
                           hp_pitch_label = strcol(4)) : 0), \
    (hp_item eq "pitch_note" ? (hp_pitch_note = strcol(2)) : 0), 0) nooutput name "hp_S"
if (!exists("hp_S_records") || !exists("hp_from") || !exists("hp_bottom")) {
    reset
    set terminal pop
    undefine hp_*
    exit error sprintf("plot.gp: %s is no picture of harmsum's", ARG1)
}

stats hp_in index 1 using (0) nooutput name "hp_H"
hp_n = exists("hp_H_records") ? int(hp_H_records) : 0
array hp_look[hp_n + 1]
array hp_legend[hp_n + 1]
if (hp_n > 0) {
    stats hp_in index 1 using (hp_k = int(column(0)) + 1, hp_look[hp_k] = strcol(2), \
        hp_legend[hp_k] = strcol(3), 0) nooutput name "hp_H"
}
stats hp_in index 2 using (0) nooutput name "hp_T"
hp_ns = exists("hp_T_records") ? int(hp_T_records) : 0
array hp_sk[hp_ns + 1]
array hp_sw[hp_ns + 1]
array hp_sp[4 * hp_ns + 1]
if (hp_ns > 0) {
    stats hp_in index 2 using (hp_i = int(column(0)) + 1, hp_sk[hp_i] = int(column(1)), \
        hp_sw[hp_i] = strcol(2), hp_sp[4 * hp_i - 3] = column(3), \
        hp_sp[4 * hp_i - 2] = column(4), hp_sp[4 * hp_i - 1] = column(5), \
        hp_sp[4 * hp_i] = column(6), 0) nooutput name "hp_T"
}

# Okabe and Ito's colours, which stay apart for every kind of colour vision (their yellow, too
# pale on white, left out), each with a dash of its own where colours come back, so that ten
# curves stay apart in grey as well: pairs whose greys are alike never share a dash.
array hp_colour[10] = ["000000", "E69F00", "0072B2", "56B4E9", "D55E00", \
                       "009E73", "CC79A7", "000000", "E69F00", "0072B2"]
array hp_dash[10] = [1, 2, 1, 3, 2, 4, 1, 3, 4, 3]
# Colours are written #AARRGGBB, AA the transparency; functions outlive a script, so none is defined.

hp_width = exists("width") ? width : 1280
hp_height = exists("height") ? height : 800
if (strstrt(GPVAL_TERMINALS, "pngcairo") > 0) {
    set terminal pngcairo size hp_width, hp_height enhanced font "sans,11"
} else {
    set terminal png size hp_width, hp_height enhanced
}
set output hp_png

set lmargin at screen 0.06
set rmargin at screen 0.65
set tmargin at screen 0.92
set bmargin at screen (hp_pitch ? 0.36 : 0.09)
set title hp_title . "\n" . hp_kind noenhanced
set xrange [hp_from:hp_to]
set yrange [hp_bottom:hp_top]
set ylabel "level (dBFS)"
set grid
set key at screen 0.665, graph 1 left top Left reverse title hp_key noenhanced samplen 4 font ",10"
# The stages: a decay, an aftersound and a release stand out of the levels around them, their own
# too, as a colour on a white casing; a held part is a pale band behind its levels (its median
# less and plus its swing) with its line, thin, so that the levels it holds at stay in sight; the
# attack's end a triangle and the knee a disc, in the harmonic's colour; the note's onset a
# dashed line across.
hp_lines = 0
hp_bands = 0
hp_marks = 0
hp_knees = 0
do for [i = 1:hp_ns] {
    hp_k = hp_sk[i]
    hp_c = hp_k > 0 ? "#" . hp_colour[(hp_k - 1) % 10 + 1] : "#808080"
    hp_x1 = hp_sp[4 * i - 3]
    hp_y1 = hp_sp[4 * i - 2]
    hp_x2 = hp_sp[4 * i - 1]
    hp_y2 = hp_sp[4 * i]
    if (hp_sw[i] eq "onset") {
        set arrow 2 * i - 1 from hp_x1, graph 0 to hp_x1, graph 1 nohead back \
            linewidth 1.5 linecolor rgb "#808080" dashtype 2
    }
    if (hp_sw[i] eq "swing") {
        hp_bands = hp_bands + 1
        set object i rectangle from hp_x1, hp_y1 to hp_x2, hp_y2 behind noclip \
            fillcolor rgb "#C0" . hp_colour[(hp_k - 1) % 10 + 1] fillstyle solid noborder
    }
    if (hp_sw[i] eq "held") {
        set arrow 2 * i from hp_x1, hp_y1 to hp_x2, hp_y2 nohead back linewidth 1.5 \
            linecolor rgb hp_c dashtype hp_dash[(hp_k - 1) % 10 + 1]
    }
    if (hp_sw[i] eq "decay" || hp_sw[i] eq "aftersound" || hp_sw[i] eq "release") {
        hp_lines = hp_lines + 1
        set arrow 2 * i - 1 from hp_x1, hp_y1 to hp_x2, hp_y2 nohead front linewidth 6 \
            linecolor rgb "#ffffff"
        set arrow 2 * i from hp_x1, hp_y1 to hp_x2, hp_y2 nohead front linewidth 3 \
            linecolor rgb hp_c dashtype hp_dash[(hp_k - 1) % 10 + 1]
    }
    if (hp_sw[i] eq "attack" || hp_sw[i] eq "knee") {
        hp_marks = hp_marks + 1
        hp_knees = hp_knees + (hp_sw[i] eq "knee")
        set label i "" at hp_x2, hp_y2 front point \
            pointtype (hp_sw[i] eq "attack" ? 9 : 7) pointsize 2 linecolor rgb hp_c
    }
}
# Where the pitch follower lost the note nothing is measured: a grey veil over the levels.
if (exists("hp_lost")) {
    set object 2 * hp_ns + 2 rectangle from hp_lost, graph 0 to graph 1, graph 1 front \
        fillcolor rgb "#40C0C0C0" fillstyle solid noborder
    set label 2 * hp_ns + 2 "the note lost: nothing measured" at hp_lost, graph 0.97 \
        offset 0.5, 0 left front noenhanced
}
if (hp_pitch) {
    set multiplot
    set format x ""
} else {
    set xlabel "time (s)"
}
plot for [k = 1:hp_n] hp_in index 3 using 1:(hp_look[k] eq "none" ? NaN : column(k + 1)) \
     with lines linewidth (hp_look[k] eq "fit" ? 2 : 1.5) dashtype hp_dash[(k - 1) % 10 + 1] \
     linecolor rgb "#" . (hp_look[k] eq "fit" ? "00" : hp_look[k] eq "faint" ? "B0" : "FF") \
                   . hp_colour[(k - 1) % 10 + 1] \
     title hp_legend[k], \
     keyentry with lines linewidth 3 linecolor rgb "#808080" \
     title (hp_lines > 0 ? "thick: the decays and releases fitted" : ""), \
     keyentry with boxes fillstyle solid noborder linecolor rgb "#C0808080" \
     title (hp_bands > 0 ? "band: a held part's level and swing" : ""), \
     keyentry with points pointtype 9 pointsize 1.6 linecolor rgb "#808080" \
     title (hp_marks > 0 ? "the attack's end (within 3 dB)" . (hp_knees > 0 ? "; disc: a knee" : "") \
            : ""), \
     keyentry with lines linewidth 1.5 dashtype 2 linecolor rgb "#808080" \
     title "dashed: the note's onset"

if (hp_pitch) {
    unset arrow
    unset object
    unset label
    unset title
    unset key
    set tmargin at screen 0.31
    set bmargin at screen 0.09
    set format x
    set xlabel "time (s)"
    set yrange [hp_low:hp_high]
    set ylabel hp_pitch_label noenhanced
    set xzeroaxis linetype -1
    set label 1 hp_pitch_note at graph 0, graph 1.08 left noenhanced
    plot hp_in index 4 using 1:2 with lines linewidth 1.5 linecolor rgb "#000000" notitle
    unset multiplot
}

unset output
reset
set terminal pop
undefine hp_*

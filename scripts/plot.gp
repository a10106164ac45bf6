# Draws a blockcsv table as a picture: the power of each harmonic over time, in dB.
#
#   gnuplot -e "csv='tone.csv'; png='tone.png'" scripts/plot.gp
#   gnuplot -c scripts/plot.gp tone.csv tone.png [NAME]    (NAME in the title instead of tone.csv)
#
# The table's first row holds the frequencies of harmonics 1 to 10 after an empty first field;
# every other row holds a window's start time in seconds and the ten powers; every row ends
# with a comma. An empty item (a harmonic not found in that window), a power of 0 and a
# non-number (NaN, Infinity) leave a gap in that harmonic's curve. The power axis shows at
# most 100 dB below the loudest point, since a harmonic that has died away falls to the
# analyser's noise floor far below anything audible.
#
# Optional variables: png (default: the table's name with .png), title, width and height in
# pixels (default 1200 x 700). A table without data rows gives a picture that says so.
# harmplot sets two more: dbfs says the table holds levels in dBFS (harmsum's levels table, the
# same layout, times in the recording), drawn as they are; rate (the sampling rate) names the
# harmonics at or above the Nyquist frequency in the key. This file computes no level itself.

if (ARGC >= 1) { csv = ARG1 }
if (ARGC >= 2) { png = ARG2 }
if (ARGC >= 3) { shown = ARG3 }
if (!exists("csv")) {
    print "plot.gp: name the table: gnuplot -c plot.gp in.csv [out.png]"
    exit status 2
}
# gnuplot only warns about a file it cannot open; ask the shell (quoting ' as '\'').
quote(s) = (strstrt(s, "'") == 0) ? s : s[:strstrt(s, "'") - 1] . "'\\''" . quote(s[strstrt(s, "'") + 1:])
if (system("test -r '" . quote(csv) . "' && echo yes") ne "yes") {
    print sprintf("plot.gp: cannot read %s", csv)
    exit status 1
}
if (!exists("png")) {
    png = (strlen(csv) > 4 && csv[strlen(csv) - 3:] eq ".csv") ? csv[:strlen(csv) - 4] . ".png" \
                                                               : csv . ".png"
}
if (!exists("title")) {
    title = (exists("dbfs") && dbfs ? "Harmonic levels over time: " : "Harmonic power over time: ") \
            . (exists("shown") ? shown : csv)
}
if (!exists("width")) { width = 1200 }
if (!exists("height")) { height = 700 }

if (strstrt(GPVAL_TERMINALS, "pngcairo") > 0) {
    set terminal pngcairo size width, height enhanced font "sans,11" linewidth 1.5
} else {
    set terminal png size width, height enhanced
}
set output png
set datafile separator ","

if (!exists("dbfs")) { dbfs = 0 }
if (!exists("rate")) { rate = 0 }

# What is drawn of a table's value: a level as it is; a power in dB, anything but a positive
# finite number no point (NaN fails every comparison).
db(p) = dbfs ? ((p > -1e308 && p < 1e308) ? p : NaN) : ((p > 0 && p < 1e308) ? 10 * log10(p) : NaN)

set title title noenhanced
set xlabel "time (s)"
set ylabel dbfs ? "level (dBFS)" : "power (dB)"
set grid

# Frequencies from the header row (line 0), and the loudest and softest power of the data rows.
array freq[10]
ymax = -1e308
ymin = 1e308
empty = ""
undefine STATS_*
stats csv every ::1 using 1 nooutput
if (!exists("STATS_records")) { empty = "no data rows in " }
xfirst = exists("STATS_min") ? STATS_min : 0
array nyquist[10] = [0, 0, 0, 0, 0, 0, 0, 0, 0, 0]
do for [k = 1:10] {
    freq[k] = NaN
    if (empty eq "") {
        undefine STATS_*
        stats csv every ::0::0 using (column(k + 1)) nooutput
        if (exists("STATS_max")) { freq[k] = STATS_max }
        if (rate > 0 && !(freq[k] < rate / 2.0)) { freq[k] = NaN; nyquist[k] = 1 }
    }
    if (empty eq "" && freq[k] == freq[k]) {
        undefine STATS_*
        stats csv every ::1 using (db(column(k + 1))) nooutput
        if (exists("STATS_max")) {
            ymax = (STATS_max > ymax) ? STATS_max : ymax
            ymin = (STATS_min < ymin) ? STATS_min : ymin
        }
    }
}
if (empty eq "" && ymax < ymin) { empty = "no power above 0 in " }

if (empty ne "") {
    print sprintf("plot.gp: warning: %s%s; %s says so", empty, csv, png)
    unset key
    unset tics
    set xrange [0:1]
    set yrange [0:1]
    set label 1 empty . csv at graph 0.5, 0.5 center noenhanced
    plot NaN notitle
    exit
}

top = 10 * ceil(ymax / 10 + 0.05)
bottom = 10 * floor(((ymin > ymax - 100) ? ymin : ymax - 100) / 10)
set yrange [bottom:top]
set xrange [xfirst:*]
set key outside right top title "harmonic" noenhanced

# Ten colours that stay apart on white, harmonic 1 darkest.
array colour[10] = ["#000000", "#e6194b", "#3cb44b", "#4363d8", "#f58231", \
                    "#911eb4", "#42d4f4", "#f032e6", "#9a6324", "#808000"]
do for [k = 1:10] { set linetype k linecolor rgb colour[k] linewidth 1 }
label(k) = (freq[k] == freq[k]) ? sprintf("%2d: %.2f Hz", k, freq[k]) : \
           nyquist[k] ? sprintf("%2d: above Nyquist", k) : sprintf("%2d: not found", k)

plot for [k = 1:10] csv every ::1 using 1:(freq[k] == freq[k] ? db(column(k + 1)) : NaN) \
     with lines linetype k title label(k)

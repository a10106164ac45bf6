#pragma once
// Pictures drawn by gnuplot with plot.gp, one gnuplot process a thread that draws, kept for as
// many pictures as it has to draw. Each picture's numbers (harmsum/picture.h) go to it as a
// datablock through its standard input, never through a file; it draws into a directory of
// harmplot's own, and harmplot takes the picture from there. Its locale is C, whatever the
// user's.

#include <sys/types.h>

#include <cstdio>
#include <string>

struct picture_place {
    std::string gnuplot;  // the program's path; empty when there is none
    std::string dir;      // harmplot's directory for the pictures, with plot.gp linked in it
};

// Finds gnuplot on PATH and makes the directory, linking plot.gp (`plot_gp`) into it. False,
// with the reason, when pictures cannot be drawn.
bool prepare_pictures(const std::string& plot_gp, picture_place& p, std::string& why);

// Removes the directory.
void remove_pictures(picture_place& p);

struct gnuplot_session {
    pid_t pid = -1;
    int in = -1;               // its standard input
    std::FILE* err = nullptr;  // its standard error, where its messages and prints go
    int drawn = 0;
    int id = 0;  // the session's number, for the pictures' names
};

// Draws the picture of `levels` into png (the file's bytes). False, with gnuplot's first
// message, when it draws none.
bool draw_picture(gnuplot_session& s, const picture_place& p, const std::string& levels,
                  std::string& png, std::string& why);

// Ends the session's gnuplot.
void end_session(gnuplot_session& s);

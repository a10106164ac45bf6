#pragma once
// How harmplot ends: whatever stops it, it leaves no temporary file and no process behind.
//
// SIGINT, SIGTERM, SIGHUP and SIGPIPE are blocked in every thread and taken by one thread of
// their own, which removes the temporary files, kills the child processes (gnuplot) and ends
// the run at once with 128 + the signal's number. A standard output that is closed (harmplot
// ... | head -1) ends it the same way, with 141. Every temporary file and child is named here
// before it exists, so that none is created after the end has begun.

#include <sys/types.h>

#include <string>

// Blocks the signals and starts the thread that takes them; before any other thread starts.
void watch_signals();

// A temporary file about to be made, and one made whole (renamed) or removed. remember_temp
// never returns once the end has begun.
void remember_temp(const std::string& path);
void forget_temp(const std::string& path);

// Starts `program` (a path) with `argv` and `envp` in the directory `cwd`, its standard input,
// output and error on the descriptors given: a child that no signal leaves behind, and that
// ends with harmplot however harmplot ends (it is sent SIGKILL then). -1 when it cannot start.
pid_t start_child(const char* program, char* const* argv, char* const* envp, const char* cwd,
                  int in, int out, int err);

// Waits for a child started so; its status as waitpid gives it.
int wait_child(pid_t pid);

// Ends the run now with `status`, leaving nothing behind.
[[noreturn]] void end_now(int status);

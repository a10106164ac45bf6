#include "ending.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <thread>

namespace {

std::mutex held;
std::set<std::string> temps;
std::set<pid_t> children;
bool ending = false;

sigset_t watched() {
    sigset_t s;
    sigemptyset(&s);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&s, sig);
    return s;
}

}  // namespace

void end_now(int status) {
    std::unique_lock<std::mutex> lock(held);
    if (ending) {
        // Another thread is ending the run already.
        lock.unlock();
        for (;;) pause();
    }
    ending = true;
    for (pid_t pid : children) kill(pid, SIGKILL);
    for (pid_t pid : children) waitpid(pid, nullptr, 0);
    for (const std::string& path : temps) unlink(path.c_str());
    // Temporary directories are named with a trailing slash, and emptied above first.
    for (const std::string& path : temps)
        if (path.ends_with('/')) rmdir(path.c_str());
    _exit(status);
}

void watch_signals() {
    const sigset_t s = watched();
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
    std::thread([s] {
        int sig = 0;
        while (sigwait(&s, &sig) != 0) {
        }
        end_now(128 + sig);
    }).detach();
}

void remember_temp(const std::string& path) {
    std::unique_lock<std::mutex> lock(held);
    if (ending) {
        lock.unlock();
        for (;;) pause();
    }
    temps.insert(path);
}

void forget_temp(const std::string& path) {
    std::lock_guard<std::mutex> lock(held);
    if (!ending) temps.erase(path);
}

pid_t start_child(const char* program, char* const* argv, char* const* envp, const char* cwd,
                  int in, int out, int err) {
    std::unique_lock<std::mutex> lock(held);
    if (ending) {
        lock.unlock();
        for (;;) pause();
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only calls that are safe after a fork in a process with threads, up to the exec.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(cwd) != 0) _exit(127);
        closefrom(3);
        execve(program, argv, envp);
        _exit(127);
    }
    if (pid > 0) children.insert(pid);
    return pid;
}

int wait_child(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(held);
    if (!ending) children.erase(pid);
    return status;
}

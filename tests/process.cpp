#include "process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

process_result run_program(const std::string& exe, const std::vector<std::string>& args,
                           const std::string& input, const std::string& stdout_path) {
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    if (stdout_path.empty())
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, stdout_path.c_str(), O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
        posix_spawn_file_actions_addclose(&fa, fd);

    std::vector<std::string> argv_s{exe};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid;
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + exe);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    close(err[1]);

    // Feed stdin and drain both outputs together so that no pipe fills up.
    signal(SIGPIPE, SIG_IGN);
    process_result r;
    size_t sent = 0;
    int in_fd = in[1];
    if (input.empty()) {
        close(in_fd);
        in_fd = -1;
    } else {
        fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }
    bool out_open = true, err_open = true;
    char buf[65536];
    while (out_open || err_open || in_fd >= 0) {
        pollfd p[3];
        int np = 0;
        if (out_open) p[np++] = {out[0], POLLIN, 0};
        if (err_open) p[np++] = {err[0], POLLIN, 0};
        if (in_fd >= 0) p[np++] = {in_fd, POLLOUT, 0};
        if (poll(p, np, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < np; ++i) {
            if (!p[i].revents) continue;
            if (p[i].fd == in_fd) {
                ssize_t n = write(in_fd, input.data() + sent, input.size() - sent);
                if (n > 0) sent += size_t(n);
                if (n < 0 && errno != EAGAIN) sent = input.size();  // reader went away
                if (sent == input.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            bool is_out = p[i].fd == out[0];
            if (n > 0) {
                (is_out ? r.out : r.err).append(buf, size_t(n));
            } else {
                (is_out ? out_open : err_open) = false;
            }
        }
    }
    close(out[0]);
    close(err[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

process_result run_shell(const std::string& command, const std::string& input) {
    return run_program("/bin/sh", {"-c", command}, input);
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

namespace {

// The test program's own directory for what it writes, removed with everything in it when the
// program ends.
struct scratch_dir {
    std::string path;
    scratch_dir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/toolkit_test_XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make " + pattern);
        path = pattern;
    }
    ~scratch_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

}  // namespace

std::string temp_path(const std::string& name) {
    static const scratch_dir dir;
    return dir.path + "/" + name;
}

std::string tonegen_file(const std::string& name, std::vector<std::string> args) {
    const std::string path = temp_path(name);
    args.insert(args.end(), {"-o", path});
    const process_result r = run_program(TONEGEN_EXE, args, "");
    if (r.status != 0) throw std::runtime_error("tonegen failed: " + r.err);
    return path;
}

void expect_help_and_version(const std::string& exe, const std::vector<std::string>& help_args,
                             const std::string& usage_start, const std::string& version) {
    const process_result help = run_program(exe, help_args, "abc\n");
    EXPECT_EQ(help.status, 0) << exe;
    EXPECT_TRUE(help.out.starts_with(usage_start)) << help.out;
    EXPECT_EQ(run_program(exe, {"-h"}, "abc\n").out, help.out) << exe;
    const process_result v = run_program(exe, {"--version"}, "");
    EXPECT_EQ(v.status, 0) << exe;
    EXPECT_EQ(v.out, version);
}

#include "gnuplot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ending.h"
#include "files.h"

extern char** environ;

namespace {

// The first executable `name` in the directories of PATH.
std::string on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= dirs.size();) {
        std::size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        // An empty entry is the working directory.
        const std::string candidate =
            (end > at ? dirs.substr(at, end - at) : std::string(".")) + "/" + name;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        at = end + 1;
    }
    return {};
}

bool start(gnuplot_session& s, const picture_place& p) {
    int in[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    // The user's environment with the C locale.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "LC_", 3) != 0 && std::strncmp(*e, "LANG", 4) != 0) env.push_back(*e);
    env.push_back("LC_ALL=C");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char name[] = "gnuplot";
    char* argv[] = {name, nullptr};
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    s.pid = start_child(p.gnuplot.c_str(), argv, envp.data(), p.dir.c_str(), in[0], null, err[1]);
    close(in[0]);
    close(err[1]);
    if (null >= 0) close(null);
    if (s.pid < 0) {
        close(in[1]);
        close(err[0]);
        return false;
    }
    s.in = in[1];
    s.err = fdopen(err[0], "r");
    return true;
}

bool send(gnuplot_session& s, const std::string& text) {
    std::string why;
    return write_all(s.in, text, why);
}

bool read_file(const std::string& path, std::string& bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    char buf[1 << 16];
    ssize_t n;
    bytes.clear();
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        bytes.append(buf, std::size_t(n));
    }
    close(fd);
    return n == 0;
}

}  // namespace

bool prepare_pictures(const std::string& plot_gp, picture_place& p, std::string& why) {
    p.gnuplot = on_path("gnuplot");
    if (p.gnuplot.empty()) {
        why = "gnuplot not found";
        return false;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp && *tmp ? tmp : "/tmp";
    for (int attempt = 0; attempt < 100 && p.dir.empty(); ++attempt) {
        const std::string dir = base + "/harmplot." + std::to_string(getpid()) + "." +
                                std::to_string(attempt) + std::to_string(std::rand() % 100000);
        remember_temp(dir + "/");
        if (mkdir(dir.c_str(), 0700) == 0) {
            p.dir = dir;
        } else {
            forget_temp(dir + "/");
            if (errno != EEXIST) {
                why = "cannot make a directory in " + base + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    const std::string link = p.dir + "/plot.gp";
    remember_temp(link);
    if (p.dir.empty() || symlink(plot_gp.c_str(), link.c_str()) != 0) {
        why = "cannot make a directory in " + base + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void remove_pictures(picture_place& p) {
    if (p.dir.empty()) return;
    unlink((p.dir + "/plot.gp").c_str());
    forget_temp(p.dir + "/plot.gp");
    rmdir(p.dir.c_str());
    forget_temp(p.dir + "/");
    p.dir.clear();
}

bool draw_picture(gnuplot_session& s, const picture_place& p, const std::string& levels,
                  std::string& png, std::string& why) {
    if (s.pid < 0 && !start(s, p)) {
        why = std::string("cannot start gnuplot: ") + std::strerror(errno);
        return false;
    }
    const std::string number = std::to_string(s.id) + "-" + std::to_string(++s.drawn);
    const std::string name = number + ".png", path = p.dir + "/" + name;
    const std::string done = "harmplot: drawn " + number;
    remember_temp(path);
    const bool sent =
        send(s, "$hp_levels << EOD\n" + levels + "EOD\ncall 'plot.gp' '$hp_levels' '" + name +
                    "'\nundefine $hp_levels\nprint \"" + done + "\"\n");
    // gnuplot's messages up to the line that says the picture is done.
    std::string first;
    bool finished = false;
    char line[4096];
    while (sent && std::fgets(line, sizeof line, s.err)) {
        std::string l = line;
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
        if (l == done) {
            finished = true;
            break;
        }
        const std::size_t text = l.find_first_not_of(" ^");
        if (first.empty() && text != std::string::npos) first = l.substr(text);
    }
    const bool read = finished && read_file(path, png);
    unlink(path.c_str());
    forget_temp(path);
    if (!finished) end_session(s);
    if (read && !png.empty() && mark_picture(png)) return true;
    struct statvfs fs;
    const bool full = statvfs(p.dir.c_str(), &fs) == 0 && fs.f_bavail == 0;
    why = full             ? "no space left in the temporary directory"
          : !first.empty() ? first
          : !finished      ? "gnuplot ended"
          : !read          ? "no picture was drawn"
                           : "the picture it drew is incomplete";
    return false;
}

void end_session(gnuplot_session& s) {
    if (s.pid < 0) return;
    close(s.in);
    std::fclose(s.err);
    wait_child(s.pid);
    s = {.id = s.id};
}

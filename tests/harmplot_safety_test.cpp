// harmplot as a hostile or unlucky user meets it, through the real program: names that another
// program would read as a command or another file, a --summary that names an input, a table or a
// file of the user's, files and links of the user's where tables and pictures go, a full disk, a
// decimal-comma locale, signals and a closed pipe, a huge chunk before the format. Nothing of the
// user's is overwritten, nothing is left behind, and every failure says why.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "process.h"
#include "tonegen.h"

namespace {

std::string fresh_dir(const std::string& name) {
    const std::string dir = temp_path(name);
    run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "/tmp'");
    return dir;
}

// harmplot ARGS in dir, with its own TMPDIR there.
process_result harmplot(const std::string& dir, const std::string& args) {
    return run_shell("cd '" + dir + "' && TMPDIR='" + dir + "/tmp' '" HARMPLOT "' " + args);
}

void note(const std::string& path, double seconds = 1, double silence = 0) {
    std::vector<double> x = tonegen::harmonic_tone({220.0, {1, 0.5, 0.3}, {1, 2, 3}}, 0.8, 44100,
                                                   std::int64_t(seconds * 44100));
    x.insert(x.begin(), std::size_t(silence * 44100), 0.0);
    write_file(path, tonegen::encode_wav({x}, 44100, 16));
}

bool exists(const std::string& path) {
    return std::ifstream(path).good();
}

// The names in a directory, but . and ..
std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// The processes whose working directory lies under dir (harmplot's gnuplot works in its own
// temporary directory).
int processes_in(const std::string& dir) {
    int n = 0;
    for (const std::string& pid : names_in("/proc")) {
        char cwd[PATH_MAX];
        const ssize_t len = readlink(("/proc/" + pid + "/cwd").c_str(), cwd, sizeof cwd - 1);
        if (len > 0 && std::string(cwd, std::size_t(len)).starts_with(dir)) ++n;
    }
    return n;
}

TEST(HarmplotSafety, NamesAreFilesAndNothingElse) {
    const std::string dir = fresh_dir("safety-names");
    // sox once ran the first as a command, ffmpeg read the second as another file.
    write_file(dir + "/|touch PWNED;x.mp3", "junk");
    write_file(dir + "/secret.flac", "junk");
    write_file(dir + "/concat:secret.flac", "junk");
    run_shell("mkfifo '" + dir + "/fifo.wav'");
    const process_result r = harmplot(dir,
                                      "--summary s.csv -- '|touch PWNED;x.mp3' "
                                      "'concat:secret.flac' fifo.wav -dash.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(exists(dir + "/PWNED"));
    EXPECT_NE(r.err.find("harmplot: |touch PWNED;x.mp3: Not a 'RIFF' format; libsndfile cannot "
                         "read it either ("),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("harmplot: concat:secret.flac: Not a 'RIFF' format;"), std::string::npos);
    EXPECT_NE(r.err.find("harmplot: fifo.wav: not a regular file\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("harmplot: -dash.wav: cannot read the file\n"), std::string::npos);
    const std::string rows = read_file(dir + "/s.csv");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 5) << rows;
    EXPECT_EQ(rows.find(",ok,"), std::string::npos) << rows;
}

TEST(HarmplotSafety, NothingOfTheUsersIsOverwritten) {
    const std::string dir = fresh_dir("safety-files");
    note(dir + "/a.wav");
    note(dir + "/b.wav");
    write_file(dir + "/notes.txt", "my notes\n");
    const std::string a = read_file(dir + "/a.wav");
    // A --summary that names an input, a table of this run or a file that is no summary table
    // is refused before anything is written.
    for (const char* args :
         {"--summary a.wav b.wav", "--summary b.csv a.wav b.wav", "--summary b.png b.wav",
          "--summary notes.txt a.wav", "--summary . a.wav"}) {
        const process_result r = harmplot(dir, args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(r.err.starts_with("harmplot: --summary ")) << r.err;
        EXPECT_FALSE(exists(dir + "/a.csv")) << args;
    }
    EXPECT_EQ(read_file(dir + "/a.wav"), a);
    EXPECT_EQ(read_file(dir + "/notes.txt"), "my notes\n");
    // A summary table is replaced; the tables and pictures harmplot wrote are replaced.
    EXPECT_EQ(harmplot(dir, "--summary s.csv a.wav b.wav").status, 0);
    const std::string table = read_file(dir + "/s.csv");
    const process_result again = harmplot(dir, "--summary s.csv a.wav b.wav");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(read_file(dir + "/s.csv"), table);

    // The user's own file where a table goes, and a link where a picture goes, are kept; the
    // recording gets a row that says so. --force replaces them, the link itself, not its target.
    write_file(dir + "/a.csv", "my table\n");
    run_shell("cd '" + dir + "' && rm b.png && ln -s notes.txt b.png");
    const process_result kept = harmplot(dir, "--summary s.csv a.wav b.wav");
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("harmplot: a.wav: a.csv is not a file harmplot wrote: kept (--force "
                            "replaces it)\n"),
              std::string::npos)
        << kept.err;
    EXPECT_NE(kept.err.find("harmplot: b.wav: b.png is not a file harmplot wrote: kept"),
              std::string::npos);
    EXPECT_EQ(read_file(dir + "/a.csv"), "my table\n");
    EXPECT_NE(read_file(dir + "/s.csv").find("\na.wav,,,,,,,,,,,,,,,,,,,a.csv is not a file"),
              std::string::npos);
    const process_result forced = harmplot(dir, "--force a.wav b.wav");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(read_file(dir + "/notes.txt"), "my notes\n");
    EXPECT_EQ(read_file(dir + "/b.png").substr(1, 3), "PNG");
    EXPECT_NE(read_file(dir + "/a.csv"), "my table\n");
    // Nothing temporary is left, beside the tables or in TMPDIR.
    for (const std::string& name : names_in(dir))
        EXPECT_EQ(name.find(".harmplot-"), std::string::npos) << name;
    EXPECT_TRUE(names_in(dir + "/tmp").empty());
}

TEST(HarmplotSafety, AFullDiskIsAFailureWithItsReason) {
    const std::string dir = fresh_dir("safety-full");
    note(dir + "/long.wav", 8);
    run_shell("mkdir '" + dir + "/full'");
    if (mount("tmpfs", (dir + "/full").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    const process_result r = harmplot(dir, "-o full --summary full/s.csv long.wav");
    const std::vector<std::string> left = names_in(dir + "/full");
    umount((dir + "/full").c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("harmplot: long.wav: cannot write full/long.csv: No space left on "
                         "device\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"s.csv"}) << left.size();
}

TEST(HarmplotSafety, ADecimalCommaLocaleChangesNoNumber) {
    const std::string dir = fresh_dir("safety-locale");
    note(dir + "/late.wav", 1, 0.5);  // begins 0.5 s in: the search starts there
    if (run_shell("localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8'").status != 0)
        GTEST_SKIP() << "no localedef here";
    const process_result c = harmplot(dir, "-o c --summary c.csv late.wav");
    const process_result de =
        run_shell("cd '" + dir + "' && LOCPATH='" + dir +
                  "' LC_ALL=de_DE.UTF-8 '" HARMPLOT "' -o de --summary de.csv late.wav");
    EXPECT_EQ(de.status, 0) << de.err;
    EXPECT_NE(c.out.find("the note begins at 0.50 s"), std::string::npos) << c.out;
    EXPECT_EQ(de.out, std::string(c.out)
                          .replace(c.out.find("c/late"), 6, "de/late")
                          .replace(c.out.find("c/late.png") + 1, 6, "de/late"));
    EXPECT_EQ(read_file(dir + "/de.csv"), read_file(dir + "/c.csv"));
    EXPECT_EQ(read_file(dir + "/de/late.png"), read_file(dir + "/c/late.png"));
}

TEST(HarmplotSafety, ASignalOrAClosedPipeEndsTheRunAndLeavesNothing) {
    const std::string dir = fresh_dir("safety-signals");
    std::string files;
    for (int i = 0; i < 6; ++i) {
        note(dir + "/n" + std::to_string(i) + ".wav", 10);
        files += " n" + std::to_string(i) + ".wav";
    }
    for (int sig : {SIGTERM, SIGINT}) {
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string tmp = "TMPDIR=" + dir + "/tmp";
            putenv(const_cast<char*>(tmp.c_str()));
            if (chdir(dir.c_str()) != 0) _exit(126);
            execl(HARMPLOT, HARMPLOT, "-j", "2", "-o", "out", "--summary", "s.csv", "n0.wav",
                  "n1.wav", "n2.wav", "n3.wav", "n4.wav", "n5.wav", nullptr);
            _exit(127);
        }
        // Once the first tables are written, the rest are under way.
        for (int wait = 0; wait < 400 && !exists(dir + "/out/n0.csv"); ++wait) usleep(10000);
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + sig) << sig;
        usleep(100000);
        EXPECT_TRUE(names_in(dir + "/tmp").empty()) << sig;
        EXPECT_EQ(processes_in(dir + "/tmp"), 0) << sig;
        for (const std::string& name : names_in(dir + "/out"))
            EXPECT_EQ(name.find(".harmplot-"), std::string::npos) << name;
        EXPECT_FALSE(exists(dir + "/s.csv"));  // the summary table is written whole or not at all
        run_shell("rm -rf '" + dir + "/out'");
    }
    // harmplot ... | head -1: ended at once, 141, with nothing written after.
    const process_result r = run_shell("cd '" + dir + "' && TMPDIR='" + dir +
                                       "/tmp' bash -c \"'" HARMPLOT "' -j 1 -o out" + files +
                                       " | head -1; echo status \\${PIPESTATUS[0]}\"");
    EXPECT_NE(r.out.find("\nstatus 141\n"), std::string::npos) << r.out;
    usleep(200000);
    EXPECT_LE(names_in(dir + "/out").size(), 4u);
    EXPECT_TRUE(names_in(dir + "/tmp").empty());
}

TEST(HarmplotSafety, AHugeChunkBeforeTheFormatIsPassedOver) {
    const std::string dir = fresh_dir("safety-chunk");
    note(dir + "/plain.wav");
    // The same note with a 50 MB JUNK chunk before fmt.
    std::string wav = read_file(dir + "/plain.wav");
    const std::uint32_t junk = 50u << 20;
    std::string chunk = "JUNK";
    for (int b = 0; b < 4; ++b) chunk += char((junk >> (8 * b)) & 0xff);
    chunk += std::string(junk, '\0');
    wav.insert(12, chunk);
    const std::uint32_t riff = std::uint32_t(wav.size() - 8);
    for (int b = 0; b < 4; ++b) wav[std::size_t(4 + b)] = char((riff >> (8 * b)) & 0xff);
    write_file(dir + "/junk.wav", wav);
    const process_result r = harmplot(dir, "--summary s.csv plain.wav junk.wav");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string rows = read_file(dir + "/s.csv");
    const std::size_t at = rows.find("\njunk.wav,");
    ASSERT_NE(at, std::string::npos);
    // Its rows are plain.wav's, but for the name.
    std::string plain = rows.substr(rows.find("\nplain.wav,"), at - rows.find("\nplain.wav,"));
    for (std::size_t p = 0; (p = plain.find("plain.wav", p)) != std::string::npos;)
        plain.replace(p, 9, "junk.wav");
    EXPECT_EQ(rows.substr(at), plain + "\n") << rows;
}

}  // namespace

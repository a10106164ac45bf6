// riffcat: dumps the RIFF/WAVE files named on the command line, the header report on standard
// error and the samples on standard output. An argument that starts with a dash (but -h, --help
// and --version) sets the frame limit for the files after it.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "error_report.h"
#include "frame_limit.h"
#include "riffcat.h"
#include "usage.h"

namespace {

const char* const usage_line = "usage: riffcat [-N] FILE.wav ...\n";

const char* const help_text =
    "Usage: riffcat [-N] FILE.wav ...\n"
    "Prints the samples of RIFF/WAVE files as text on standard output, one frame per line,\n"
    "the channels separated by tabs, and reports each file's header and chunks on standard\n"
    "error. -N prints at most N frames of each file that follows (-0 none, negative all).\n"
    "\n"
    "Reads PCM up to 8 bits (printed as the byte less 128) and of 9 to 64 bits (as signed\n"
    "integers, unscaled), IEEE float of 32 and 64 bits (as the shortest decimal that reads\n"
    "back the same, NaN, Infinity), and WAVE_FORMAT_EXTENSIBLE files of these.\n"
    "\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 done; 1 a file could not be opened, was not RIFF/WAVE, had a bad fmt\n"
    "chunk, no data chunk or data of an unsupported type (the run goes on), or could not be\n"
    "read (the run stops); 2 no file named, or standard output could not be written.\n";

// A file to dump, or nothing when it cannot be opened or is no file to read (a directory opens
// on some systems but never reads).
std::FILE* open_file(const char* name) {
    std::FILE* fp = std::fopen(name, "rb");
    struct stat st;
    if (fp != nullptr && fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(fp);
        return nullptr;
    }
    return fp;
}

bool names_a_file(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (auto status = answer_help_or_version(argc, argv, "riffcat", help_text, true))
        return *status;
    if (!names_a_file(argc, argv)) {
        write_error(usage_line);
        return 2;
    }

    output out(1);
    output err(2, 1 << 16);
    std::int32_t frame_limit = -1;
    int status = 0;
    bool rejected = false;  // a file was skipped: status 1 at the end
    for (int i = 1; i < argc && status == 0; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            frame_limit = parse_frame_limit(arg + 1);
            continue;
        }
        std::FILE* fp = open_file(arg);
        if (fp == nullptr) {
            if (!out.flush()) status = 2;
            report_error(err, {}, "Can't open " + printable_name(arg));
            rejected = true;
            continue;
        }
        std::setvbuf(fp, nullptr, _IONBF, 0);
        reader f(fp);
        dump_end end = riffcat(f, out, err, frame_limit);
        std::fclose(fp);
        if (end == dump_end::rejected) rejected = true;
        if (end == dump_end::read_error) status = 1;
        if (end == dump_end::write_error) status = 2;
    }
    // Samples already printed reach standard output before the report's last lines.
    if (!out.flush()) status = 2;
    if (status == 2) report_error(err, {}, "Write error");
    err.flush();
    return status != 0 ? status : rejected ? 1 : 0;
}

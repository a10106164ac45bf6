// riffcat: dumps the RIFF/WAVE files named on the command line, the header report on standard
// error and the samples on standard output. An argument that starts with a dash sets the frame
// limit for the files after it.
#include <cstdint>
#include <cstdio>

#include "frame_limit.h"
#include "riffcat.h"

int main(int argc, char** argv) {
    // The buffers below hand the streams large blocks; stdio need not copy them again.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    out_buffer out(stdout);
    out_buffer err(stderr, 1 << 16);

    std::int32_t frame_limit = -1;
    int status = 0;
    for (int i = 1; i < argc && status == 0; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            frame_limit = parse_frame_limit(arg + 1);
            continue;
        }
        std::FILE* fp = std::fopen(arg, "rb");
        if (fp == nullptr) {
            if (!out.flush()) status = 2;
            err.print("Can't open %s\n", arg);
            continue;
        }
        std::setvbuf(fp, nullptr, _IONBF, 0);
        reader f(fp);
        dump_end end = riffcat(f, out, err, frame_limit);
        std::fclose(fp);
        if (end == dump_end::read_error) status = 1;
        if (end == dump_end::write_error) status = 2;
    }
    // Samples already printed reach standard output before the report's last lines.
    if (!out.flush()) status = 2;
    if (status == 2) err.put("Write error\n");
    err.flush();
    return status;
}

// tonegen: writes a test tone as a RIFF/WAVE file. See command.h and the manual page.
#include <string>
#include <vector>

#include "command.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    output out(1), err(2, 4096);
    const int status = tonegen::run(args, out, err);
    err.flush();
    return status;
}

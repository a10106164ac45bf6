// tonegen: writes a test tone as a RIFF/WAVE file. See command.h and the manual page.
#include <iostream>
#include <string>
#include <vector>

#include "command.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tonegen::run(args, std::cout, std::cerr);
}

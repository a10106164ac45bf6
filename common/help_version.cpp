#include "help_version.h"

#include "output.h"

std::string version_line(std::string_view program) {
    return std::string(program) + " (harmtrace toolkit) " TOOLKIT_VERSION "\n";
}

std::optional<int> answer_help_or_version(int argc, const char* const* argv,
                                          std::string_view program, std::string_view help,
                                          bool dash_h) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a != "--help" && a != "--version" && !(dash_h && a == "-h")) continue;
        output out;
        out.put(a == "--version" ? std::string_view(version_line(program)) : help);
        return out.flush() ? 0 : 2;
    }
    return std::nullopt;
}

#include "usage.h"

#include <charconv>
#include <cmath>

#include "error_report.h"
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

std::string unexpected_argument(std::string_view arg) {
    return (arg.starts_with('-') ? "unknown option " : "unexpected argument ") + std::string(arg);
}

int usage_error(std::string_view program, std::string_view what, std::string_view usage_line) {
    write_error(error_message(program, what) + std::string(usage_line));
    return 2;
}

bool option_real(std::string_view text, double& v) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    return ec == std::errc() && p == end && std::isfinite(v);
}

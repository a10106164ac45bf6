#include "error_report.h"

#include <cstring>
#include <string>

#include "output.h"

std::string error_message(std::string_view program, std::string_view what, std::string_view cause) {
    std::string m;
    for (std::string_view part : {program, what, cause}) {
        if (part.empty()) continue;
        if (!m.empty()) m += ": ";
        m += part;
    }
    return m + '\n';
}

std::string printable(std::string_view text, std::string_view also) {
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && also.find(c) == std::string_view::npos) {
            s += c;
        } else {
            s += "\\x";
            s += hex[u >> 4];
            s += hex[u & 15];
        }
    }
    return s;
}

std::string printable_name(std::string_view name) {
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char u = static_cast<unsigned char>(name[i]);
        // The length of the UTF-8 character that starts here, 0 when none does.
        std::size_t len = u < 0x80                ? 1
                          : u >= 0xC2 && u < 0xE0 ? 2
                          : u >= 0xE0 && u < 0xF0 ? 3
                          : u >= 0xF0 && u < 0xF5 ? 4
                                                  : 0;
        for (std::size_t j = 1; j < len; ++j)
            if (i + j >= name.size() || (static_cast<unsigned char>(name[i + j]) & 0xC0) != 0x80)
                len = 0;
        // Controls: C0, DEL and C1 (U+0080 .. U+009F, C2 80 .. C2 9F).
        const bool control =
            u < 0x20 || u == 0x7f ||
            (len == 2 && u == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0);
        if (len > 0 && !control) {
            s.append(name.substr(i, len));
            i += len;
            continue;
        }
        const std::size_t bytes = len > 0 ? len : 1;
        for (std::size_t j = 0; j < bytes; ++j) {
            const unsigned char b = static_cast<unsigned char>(name[i + j]);
            s += "\\x";
            s += hex[b >> 4];
            s += hex[b & 15];
        }
        i += bytes;
    }
    return s;
}

void report_error(output& err, std::string_view program, std::string_view what,
                  std::string_view cause) {
    err.put(error_message(program, what, cause));
}

void report_error(std::string_view program, std::string_view what, std::string_view cause) {
    write_error(error_message(program, what, cause));
}

void write_error(std::string_view message) {
    output err(2, message.size());
    err.put(message);
    err.flush();
}

void report_write_error(std::string_view program, int statement, int errnum) {
    report_error(program, "error writing standard output at statement " + std::to_string(statement),
                 std::strerror(errnum));
}

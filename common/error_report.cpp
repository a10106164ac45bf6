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

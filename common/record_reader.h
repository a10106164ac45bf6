#pragma once
// Free-form numeric records: lines of numbers separated by blanks, tabs or
// commas, read a fixed list of values at a time.
//
// A read takes its values starting on the next line that holds any, goes on
// over following lines when one line holds too few, and discards the rest of
// the last line it used. An empty item (a comma with nothing before it on the
// line, or nothing between two commas) leaves its value unchanged; a slash
// ends the read and leaves every value not yet read unchanged. A carriage
// return before a line feed is ignored. Reals take an exponent with E or D in
// either case (or a bare sign, as in 0.15-119) and the words NaN, Inf and
// Infinity. Where an integer is asked for, only an optionally signed run of
// digits within 32 bits will do.
//
// Typical use:
//     record_reader in;
//     open_reader(in, 0);
//     record_value v[2] = {{true}, {false}};
//     while (read_record(in, v, 2) == read_status::ok) use(v[0].i, v[1].r);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct record_value {
    bool integer = false;  // what the caller asks for: an integer (i) or a real (r)
    std::int32_t i = 0;
    double r = 0;
};

enum class read_status {
    ok,            // the list is complete
    end_of_input,  // input ended before the list was complete
    bad_value,     // an item is not the number asked for
    io_error       // reading the input failed
};

class record_reader;

// Reads from a file descriptor in blocks of `capacity` bytes.
void open_reader(record_reader& in, int fd, std::size_t capacity = std::size_t(1) << 20);
// Reads from a copy of `text`.
void open_reader(record_reader& in, std::string_view text);

read_status read_record(record_reader& in, record_value* values, int count);

// The next line that holds more than blanks, without its line end, left unread.
// Lines before it that hold only blanks are consumed. Returns false at end of
// input. A line longer than the buffer comes back cut, with complete = false.
bool peek_line(record_reader& in, std::string_view& line, bool& complete);
// Consumes the rest of the current line and its line end.
void skip_line(record_reader& in);

// The input and the reader's place in it. Only the functions below move it; callers see what a
// message or a check needs.
class record_reader {
  public:
    // A token longer than this is cut and rejected.
    static constexpr std::size_t max_token = 128;

    bool io_failed() const { return io_failed_; }
    int io_errno() const { return io_errno_; }  // errno of a failed read
    std::size_t capacity() const { return cap_; }
    long line() const { return line_; }  // line number of the next unread byte
    // Bytes of the input consumed so far.
    std::int64_t position() const { return dropped_ + (p_ - buf_.get()); }

    // What went wrong, for the message of a bad_value or io_error.
    long error_line() const { return error_line_; }
    const std::string& error_text() const { return error_text_; }
    const char* error_reason() const { return error_reason_; }

  private:
    friend void open_reader(record_reader&, int, std::size_t);
    friend void open_reader(record_reader&, std::string_view);
    friend read_status read_record(record_reader&, record_value*, int);
    friend bool peek_line(record_reader&, std::string_view&, bool&);
    friend void skip_line(record_reader&);

    bool fill_more();
    int peek();
    bool cr_ends_line();
    read_status fail(read_status st, std::string_view text, const char* reason);

    int fd_ = -1;  // -1 when reading from memory
    std::unique_ptr<char[]> buf_;
    std::size_t cap_ = 0;
    char* p_ = nullptr;         // first unread byte
    char* end_ = nullptr;       // end of the bytes in buf_
    std::int64_t dropped_ = 0;  // bytes consumed and moved out of buf_
    bool at_eof_ = false;
    bool io_failed_ = false;
    int io_errno_ = 0;
    long line_ = 1;

    long error_line_ = 0;
    std::string error_text_;
    const char* error_reason_ = "";

    char token_[max_token];  // the token being read
};

// "prog: fatal input error at statement N reading standard input, line L: ..."
std::string describe_read_error(const record_reader& in, read_status status, const char* program,
                                int statement);

// Parses a whole token as a real by the rules above. Used by the column reader too.
bool parse_real(std::string_view token, double& value, const char*& reason);
bool parse_integer(std::string_view token, std::int32_t& value, const char*& reason);

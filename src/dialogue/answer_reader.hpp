#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <system_error>

#include "dialogue/descriptor_input.hpp"

namespace scm {

enum class ReadStatus : std::uint8_t {
    number,        // `value` holds the number read
    not_a_number,  // no whole number where one must stand
    out_of_range,  // a number that does not fit in 32 bits
    end_of_input,  // input has ended; every later read returns this at once
    read_failed,   // a script's input could not be read (AnswerReader::read_failure says why)
};

struct Reading {
    ReadStatus status;
    std::int32_t value = 0;  // meaningful only for ReadStatus::number
    // For a script's word, good or bad: the line it stands on (line ends before
    // it, plus 1; LF, CR LF and a lone CR each end a line) and the word as it stood
    // there, quoted by quote_word.
    std::uint64_t line = 0;
    std::string quote;
};

// A word as a message shows it: its first 40 bytes and "..." when `bytes` holds
// more, with '\', '"' and every byte outside 0x20-0x7E written as \xNN, so that
// nothing reaches a terminal raw.
std::string quote_word(std::string_view bytes);

// Reads one signed decimal integer from `in`, through its stream buffer, by the
// rule for a person at a terminal.
//
// Blanks (space, tab, line feed, vertical tab, form feed, carriage return) before
// the number are skipped, and so are blanks between a sign and its digits. The
// first character after the digits stays in `in` for the next read. When no digit
// comes where the number must start, or the number is out of the signed 32-bit
// range, the rest of that line is discarded so that the next read starts afresh.
// Once input ends, `in` keeps its eof state and every later read returns
// end_of_input without touching the stream buffer, so it never waits again.
Reading read_answer(std::istream& in);

// Reads the answers of one run, by the rule for their source.
//
// From a script an answer is one whole word: it starts at the first byte that is
// not blank, ends at the next blank, '#' or the end of input, may have a sign
// directly before its digits, and must be a whole number in range (leading zeros
// are ordinary digits). '#' where an answer would start, or right after its
// digits, starts a comment that runs to the next line feed or carriage return and
// is skipped like a blank. A bad word gives not_a_number or out_of_range with its
// line and quote; it is read only as far as its quote needs, so a huge word is
// never held. Once input ends (or fails), every later read returns at once.
class AnswerReader {
public:
    // `read_failure` is the reason the underlying input last failed, empty while it
    // has not; a failed read looks like the end of input to the stream, so a
    // script's reader asks it to tell the two apart. It must outlive the reader.
    AnswerReader(std::istream& in, Source source, const std::error_code& read_failure) noexcept
        : in_{in}, source_{source}, read_failure_{read_failure} {}

    Reading read();
    Source source() const { return source_; }
    const std::error_code& read_failure() const { return read_failure_; }

private:
    Reading read_word();
    Reading ended();
    std::istream::int_type skip_blanks_and_comments(std::streambuf& buffer);

    std::istream& in_;
    Source source_;
    const std::error_code& read_failure_;
    std::uint64_t line_ends_ = 0;
};

}  // namespace scm

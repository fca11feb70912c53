#pragma once

#include <cstdint>
#include <istream>

namespace scm {

enum class ReadStatus : std::uint8_t {
    number,        // `value` holds the number read
    not_a_number,  // no digit where the number must start; the rest of the line is gone
    out_of_range,  // the number does not fit in 32 bits; the rest of the line is gone
    end_of_input,  // input has ended; every later read returns this at once
};

struct Reading {
    ReadStatus status;
    std::int32_t value;  // meaningful only for ReadStatus::number
};

// Reads one signed decimal integer from `in`, through its stream buffer.
//
// Blanks (space, tab, line feed, vertical tab, form feed, carriage return) before
// the number are skipped, and so are blanks between a sign and its digits. The
// first character after the digits stays in `in` for the next read. When no digit
// comes where the number must start, or the number is out of the signed 32-bit
// range, the rest of that line is discarded so that the next read starts afresh.
// Once input ends, `in` keeps its eof state and every later read returns
// end_of_input without touching the stream buffer, so it never waits again.
Reading read_answer(std::istream& in);

}  // namespace scm

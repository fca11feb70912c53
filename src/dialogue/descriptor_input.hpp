#pragma once

#include <array>
#include <streambuf>
#include <system_error>

#include "dialogue/answer_reader.hpp"

namespace scm {

// What standard input is, asked once at start-up: a script when it is open and
// not a terminal. On Windows a script's input is switched to binary mode, so that
// a 0x1A byte (part of many UTF-16 characters) does not end it; a console keeps
// text mode, where Ctrl-Z ends input.
Source standard_input_source() noexcept;

// An input stream buffer over a file descriptor (standard input in the program)
// that never throws and never ends the run on a read error.
//
// A read interrupted by a signal is made again. A descriptor left non-blocking by
// an earlier program is waited on until input is readable, without spinning, so
// answers that arrive late are taken as from a blocking descriptor. Any other
// failure (a closed descriptor, a folder, a terminal that hung up) ends the input
// like a descriptor that has reached its end, and failure() keeps its reason.
class DescriptorInput : public std::streambuf {
public:
    explicit DescriptorInput(int descriptor) noexcept : descriptor_{descriptor} {}

    // Why the last read failed; empty when none has.
    const std::error_code& failure() const noexcept { return failure_; }

protected:
    int_type underflow() noexcept override;

private:
    int descriptor_;
    std::error_code failure_;
    std::array<char, 8192> buffer_{};
};

}  // namespace scm

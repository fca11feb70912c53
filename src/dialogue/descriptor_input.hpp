#pragma once

#include <array>
#include <cstdint>
#include <streambuf>
#include <system_error>

namespace scm {

// Who gives the answers, decided once at start-up from what standard input is.
enum class Source : std::uint8_t {
    // A terminal, or no standard input at all: a person reads the hint after a
    // bad answer and types again.
    terminal,
    // A pipe, a socket or a device: a script. Nobody reads a hint, and a question
    // asked again would take the next question's answer, so a bad answer ends the
    // run. It may be endless (`yes 0`), or a program that answers each question in
    // turn and waits for the closing message: what follows the last answer is not
    // looked at.
    stream,
    // A file (on Windows a disk file): a script that holds exactly the answers
    // asked, so anything after the last one means they do not line up.
    file,
};

// Whether answers come from a script, by its rule.
constexpr bool is_script(Source source) { return source != Source::terminal; }

// What standard input is. On Windows a script's input is switched to binary mode,
// so that a 0x1A byte (part of many UTF-16 characters) does not end it; a console
// keeps text mode, where Ctrl-Z ends input.
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

#pragma once

#include <array>
#include <streambuf>

namespace scm {

// An input stream buffer over a file descriptor (standard input in the program)
// that never throws and never ends the run on a read error.
//
// A read interrupted by a signal is made again. A descriptor left non-blocking by
// an earlier program is waited on until input is readable, without spinning, so
// answers that arrive late are taken as from a blocking descriptor. Any other
// failure (a closed descriptor, a folder, a terminal that hung up) is reported as
// the end of input, exactly like a descriptor that has reached its end.
class DescriptorInput : public std::streambuf {
public:
    explicit DescriptorInput(int descriptor) noexcept : descriptor_{descriptor} {}

protected:
    int_type underflow() noexcept override;

private:
    int descriptor_;
    std::array<char, 8192> buffer_{};
};

}  // namespace scm

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <streambuf>

namespace scm {

// A filter over another input buffer that hands on plain bytes whatever the
// answers file was saved as. A UTF-8 byte-order mark at the very start is
// skipped. Input that starts with a UTF-16 mark (FF FE little-endian, FE FF
// big-endian) is read two bytes a unit: a unit below 0x80 is that character, any
// other unit becomes one '?', and a lone byte at the end is dropped. Anything
// else passes unchanged. A mark or unit split between reads of the source is
// joined, and each refill asks the source for at most one read, so a pipe fed
// slowly is never waited on for more than it has.
class DecodingInput : public std::streambuf {
public:
    explicit DecodingInput(std::streambuf& source) noexcept : source_{source} {}

protected:
    int_type underflow() override;

private:
    enum class Encoding : std::uint8_t { unknown, plain, utf16_little, utf16_big };

    void detect_encoding();
    // Moves what the source holds now (one read of it when it holds nothing) to
    // `to`; returns how many bytes, 0 at its end.
    std::size_t take_from_source(char* to, std::size_t size);
    std::size_t decode_utf16(std::size_t size);

    std::streambuf& source_;
    Encoding encoding_ = Encoding::unknown;
    // The first bytes taken while looking for a mark that turned out not to be one.
    std::array<char, 3> start_{};
    std::size_t start_size_ = 0;
    int pending_byte_ = -1;  // the first byte of a UTF-16 unit whose second has not come
    std::array<char, 8192> buffer_{};
};

}  // namespace scm

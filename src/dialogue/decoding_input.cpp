#include "dialogue/decoding_input.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

namespace scm {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigMark = "\xFE\xFF";

}  // namespace

void DecodingInput::detect_encoding() {
    encoding_ = Encoding::plain;
    // Takes bytes only while they still begin one of the marks, so that input
    // without a mark is handed on whole.
    for (int_type next = source_.sgetc(); next != traits_type::eof(); next = source_.sgetc()) {
        start_[start_size_] = traits_type::to_char_type(next);
        const std::string_view seen{start_.data(), start_size_ + 1};
        const auto begins = [seen](std::string_view mark) {
            return mark.substr(0, seen.size()) == seen;
        };
        if (!begins(kUtf8Mark) && !begins(kUtf16LittleMark) && !begins(kUtf16BigMark)) {
            return;
        }
        source_.sbumpc();
        ++start_size_;
        if (seen == kUtf8Mark || seen == kUtf16LittleMark || seen == kUtf16BigMark) {
            start_size_ = 0;  // a mark is not input
            encoding_ = seen == kUtf8Mark          ? Encoding::plain
                        : seen == kUtf16LittleMark ? Encoding::utf16_little
                                                   : Encoding::utf16_big;
            return;
        }
    }
}

std::size_t DecodingInput::take_from_source(char* to, std::size_t size) {
    if (source_.sgetc() == traits_type::eof()) {
        return 0;
    }
    // What the source holds after the one read that sgetc may have made.
    const auto held = static_cast<std::size_t>(std::max<std::streamsize>(source_.in_avail(), 1));
    return static_cast<std::size_t>(
        source_.sgetn(to, static_cast<std::streamsize>(std::min(size, held))));
}

// Decodes the `size` bytes at the start of the buffer in place (each character
// takes two bytes, so it never overtakes them); returns how many characters.
std::size_t DecodingInput::decode_utf16(std::size_t size) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const int byte = static_cast<unsigned char>(buffer_[i]);
        if (pending_byte_ < 0) {
            pending_byte_ = byte;
            continue;
        }
        const int unit = encoding_ == Encoding::utf16_little ? byte << 8 | pending_byte_
                                                             : pending_byte_ << 8 | byte;
        pending_byte_ = -1;
        buffer_[characters++] = unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return characters;
}

DecodingInput::int_type DecodingInput::underflow() {
    if (encoding_ == Encoding::unknown) {
        detect_encoding();
    }
    std::size_t count = std::exchange(start_size_, 0);
    std::copy_n(start_.begin(), count, buffer_.begin());
    while (count == 0) {
        count = take_from_source(buffer_.data(), buffer_.size());
        if (count == 0) {
            return traits_type::eof();  // a lone UTF-16 byte at the very end is dropped
        }
        if (encoding_ != Encoding::plain) {
            count = decode_utf16(count);
        }
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data() + count);
    return traits_type::to_int_type(buffer_[0]);
}

}  // namespace scm

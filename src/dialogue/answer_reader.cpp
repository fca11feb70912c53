#include "dialogue/answer_reader.hpp"

#include <streambuf>
#include <string>

namespace scm {
namespace {

using Traits = std::char_traits<char>;

bool is_blank(Traits::int_type c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(Traits::int_type c) { return c >= '0' && c <= '9'; }

// Returns the first character that is not blank, still in the buffer, or eof.
Traits::int_type skip_blanks(std::streambuf& buffer) {
    Traits::int_type c = buffer.sgetc();
    while (is_blank(c)) {
        c = buffer.snextc();
    }
    return c;
}

// Consumes everything up to and including the next line feed. Returns false when
// input ended first.
bool discard_line(std::streambuf& buffer) {
    for (Traits::int_type c = buffer.sgetc(); c != Traits::eof(); c = buffer.snextc()) {
        if (c == '\n') {
            buffer.sbumpc();
            return true;
        }
    }
    return false;
}

Reading end_of_input(std::istream& in) {
    in.setstate(std::ios::eofbit);
    return {ReadStatus::end_of_input, 0};
}

Reading reject_line(std::istream& in, std::streambuf& buffer, ReadStatus status) {
    if (!discard_line(buffer)) {
        in.setstate(std::ios::eofbit);
    }
    return {status, 0};
}

}  // namespace

Reading read_answer(std::istream& in) {
    std::streambuf* const buffer = in.rdbuf();
    if (!in.good() || buffer == nullptr) {
        return end_of_input(in);
    }

    Traits::int_type c = skip_blanks(*buffer);
    const bool negative = c == '-';
    if (c == '-' || c == '+') {
        buffer->sbumpc();
        c = skip_blanks(*buffer);
    }
    if (c == Traits::eof()) {
        return end_of_input(in);
    }
    if (!is_digit(c)) {
        return reject_line(in, *buffer, ReadStatus::not_a_number);
    }

    // The magnitude never exceeds the limit, so it is exact however many digits
    // (leading zeros included) arrive.
    const std::uint32_t limit = negative ? 2147483648U : 2147483647U;
    std::uint32_t magnitude = 0;
    for (; is_digit(c); c = buffer->snextc()) {
        const auto digit = static_cast<std::uint32_t>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            return reject_line(in, *buffer, ReadStatus::out_of_range);
        }
        magnitude = magnitude * 10 + digit;
    }
    if (c == Traits::eof()) {
        // Remember the end now, so that the next read does not wait on a console.
        in.setstate(std::ios::eofbit);
    }
    const std::int64_t value =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return {ReadStatus::number, static_cast<std::int32_t>(value)};
}

}  // namespace scm

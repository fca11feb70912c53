#include "dialogue/answer_reader.hpp"

#include <streambuf>
#include <string>
#include <string_view>

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
    return {ReadStatus::end_of_input, 0, 0, {}};
}

Reading reject_line(std::istream& in, std::streambuf& buffer, ReadStatus status) {
    if (!discard_line(buffer)) {
        in.setstate(std::ios::eofbit);
    }
    return {status, 0, 0, {}};
}

// A number in range: its magnitude is at most 2^31 when negative, 2^31 - 1 otherwise.
Reading number(bool negative, std::uint32_t magnitude) {
    const std::int64_t value =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return {ReadStatus::number, static_cast<std::int32_t>(value), 0, {}};
}

// Where a script's answer ends: a blank, a comment or the end of input.
bool ends_word(Traits::int_type c) { return c == Traits::eof() || c == '#' || is_blank(c); }

// The word's bytes that its quote can show, and one more to tell that it is cut.
constexpr std::size_t kQuotedBytes = 40;
void keep_for_quote(std::string& bytes, Traits::int_type c) {
    if (bytes.size() <= kQuotedBytes) {
        bytes += Traits::to_char_type(c);
    }
}

struct Digits {
    bool any = false;
    bool out_of_range = false;
    std::uint32_t magnitude = 0;  // exact while in range
};

// The one reader of digits, for both rules: takes every digit from `c` on, however
// many leading zeros come first, and leaves the first other character in `c` and
// the buffer. The magnitude never exceeds the limit of the sign, so past it the
// number is only known to be out of range.
Digits read_digits(std::streambuf& buffer, Traits::int_type& c, bool negative, std::string& bytes) {
    const std::uint32_t limit = negative ? 2147483648U : 2147483647U;
    Digits digits;
    for (; is_digit(c); c = buffer.snextc()) {
        keep_for_quote(bytes, c);
        digits.any = true;
        const auto digit = static_cast<std::uint32_t>(c - '0');
        digits.out_of_range = digits.out_of_range || digits.magnitude > (limit - digit) / 10;
        if (!digits.out_of_range) {
            digits.magnitude = digits.magnitude * 10 + digit;
        }
    }
    return digits;
}

}  // namespace

std::string quote_word(std::string_view bytes) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string quote;
    for (const char c : bytes.substr(0, kQuotedBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte <= 0x7E && byte != '\\' && byte != '"') {
            quote += c;
        } else {
            quote += "\\x";
            quote += kHex[byte >> 4];
            quote += kHex[byte & 0xFU];
        }
    }
    return bytes.size() > kQuotedBytes ? quote + "..." : quote;
}

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
    std::string unquoted;
    const Digits digits = read_digits(*buffer, c, negative, unquoted);
    if (!digits.any) {
        return reject_line(in, *buffer, ReadStatus::not_a_number);
    }
    if (digits.out_of_range) {
        return reject_line(in, *buffer, ReadStatus::out_of_range);
    }
    if (c == Traits::eof()) {
        // Remember the end now, so that the next read does not wait on a console.
        in.setstate(std::ios::eofbit);
    }
    return number(negative, digits.magnitude);
}

Reading AnswerReader::read() {
    if (source_ == Source::terminal) {
        return read_answer(in_);
    }
    std::streambuf* const buffer = in_.rdbuf();
    if (!in_.good() || buffer == nullptr) {
        return ended();
    }
    return read_word();
}

Reading AnswerReader::ended() {
    in_.setstate(std::ios::eofbit);
    return {read_failure_ ? ReadStatus::read_failed : ReadStatus::end_of_input, 0, 0, {}};
}

// Counts LF, CR LF and a lone CR as one line end each. A word never takes the blank
// after it, so a CR and its LF always meet here, in whatever reads they came.
Traits::int_type AnswerReader::skip_blanks_and_comments(std::streambuf& buffer) {
    bool after_carriage_return = false;
    for (Traits::int_type c = buffer.sgetc();; c = buffer.snextc()) {
        if (c == '#') {
            after_carriage_return = false;
            do {
                c = buffer.snextc();
            } while (c != Traits::eof() && c != '\n' && c != '\r');
        }
        if (c == '\r' || (c == '\n' && !after_carriage_return)) {
            ++line_ends_;
        }
        after_carriage_return = c == '\r';
        if (!is_blank(c)) {
            return c;
        }
    }
}

Reading AnswerReader::read_word() {
    std::streambuf& buffer = *in_.rdbuf();
    Traits::int_type c = skip_blanks_and_comments(buffer);
    if (c == Traits::eof()) {
        return ended();
    }
    const std::uint64_t line = line_ends_ + 1;
    std::string bytes;
    const bool negative = c == '-';
    if (c == '-' || c == '+') {
        keep_for_quote(bytes, c);
        c = buffer.snextc();
    }
    const Digits digits = read_digits(buffer, c, negative, bytes);
    if (!digits.any || !ends_word(c)) {
        // The rest of the word, only as far as the quote shows it.
        for (; !ends_word(c) && bytes.size() <= kQuotedBytes; c = buffer.snextc()) {
            keep_for_quote(bytes, c);
        }
        return {ReadStatus::not_a_number, 0, line, quote_word(bytes)};
    }
    if (digits.out_of_range) {
        return {ReadStatus::out_of_range, 0, line, quote_word(bytes)};
    }
    if (c == Traits::eof()) {
        in_.setstate(std::ios::eofbit);
    }
    Reading reading = number(negative, digits.magnitude);
    reading.line = line;
    reading.quote = quote_word(bytes);
    return reading;
}

}  // namespace scm

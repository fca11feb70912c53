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

// The quote of a bad word: its first bytes, each one safe to show on a terminal.
class Quote {
public:
    static constexpr std::size_t kLongest = 40;

    void add(Traits::int_type c) {
        if (taken_ == kLongest) {
            cut_ = true;
            return;
        }
        ++taken_;
        const auto byte = static_cast<unsigned char>(Traits::to_char_type(c));
        if (byte >= 0x20 && byte <= 0x7E && byte != '\\' && byte != '"') {
            text_ += static_cast<char>(byte);
            return;
        }
        constexpr std::string_view kHex = "0123456789ABCDEF";
        text_ += "\\x";
        text_ += kHex[byte >> 4];
        text_ += kHex[byte & 0xFU];
    }
    bool cut() const { return cut_; }
    std::string text() const { return cut_ ? text_ + "..." : text_; }

private:
    std::string text_;
    std::size_t taken_ = 0;
    bool cut_ = false;
};

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
    return number(negative, magnitude);
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

Traits::int_type AnswerReader::skip_blanks_and_comments(std::streambuf& buffer) {
    for (Traits::int_type c = buffer.sgetc();; c = buffer.snextc()) {
        if (c == '#') {
            do {
                c = buffer.snextc();
            } while (c != Traits::eof() && c != '\n' && c != '\r');
        }
        if (c == '\n') {
            ++line_feeds_;
        }
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
    Quote quote;
    const bool negative = c == '-';
    if (c == '-' || c == '+') {
        quote.add(c);
        c = buffer.snextc();
    }
    // Every digit is read, however many leading zeros come first; past the limit
    // the number is only known to be out of range.
    const std::uint32_t limit = negative ? 2147483648U : 2147483647U;
    std::uint32_t magnitude = 0;
    bool has_digits = false;
    bool out_of_range = false;
    for (; is_digit(c); c = buffer.snextc()) {
        quote.add(c);
        has_digits = true;
        const auto digit = static_cast<std::uint32_t>(c - '0');
        out_of_range = out_of_range || magnitude > (limit - digit) / 10;
        if (!out_of_range) {
            magnitude = magnitude * 10 + digit;
        }
    }
    const std::uint64_t line = line_feeds_ + 1;
    if (!has_digits || !ends_word(c)) {
        // The rest of the word, only as far as the quote shows it.
        for (; !ends_word(c) && !quote.cut(); c = buffer.snextc()) {
            quote.add(c);
        }
        return {ReadStatus::not_a_number, 0, line, quote.text()};
    }
    if (out_of_range) {
        return {ReadStatus::out_of_range, 0, line, quote.text()};
    }
    if (c == Traits::eof()) {
        in_.setstate(std::ios::eofbit);
    }
    return number(negative, magnitude);
}

}  // namespace scm

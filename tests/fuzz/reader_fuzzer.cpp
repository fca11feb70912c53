// Reads answers from arbitrary bytes until input ends, and checks each reading
// against what the bytes it consumed say.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "dialogue/answer_reader.hpp"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::size_t skip_blanks(std::string_view text, std::size_t at) {
    while (at < text.size() && is_blank(text[at])) {
        ++at;
    }
    return at;
}

// Checks one reading of `text`, which the reader consumed up to `end`.
void check_reading(std::string_view text, std::size_t end, scm::Reading reading) {
    std::size_t at = skip_blanks(text, 0);
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        at = skip_blanks(text, at + 1);
    }
    if (reading.status == scm::ReadStatus::end_of_input) {
        check(at == text.size() && end == text.size());
        return;
    }
    check(at < text.size());
    if (reading.status == scm::ReadStatus::not_a_number) {
        // The rest of the line is gone, and nothing after it.
        const std::size_t line_end = text.find('\n', at);
        check(!is_digit(text[at]) &&
              end == (line_end == std::string_view::npos ? text.size() : line_end + 1));
    }
    if (reading.status != scm::ReadStatus::number &&
        reading.status != scm::ReadStatus::out_of_range) {
        return;
    }
    // The exact value of the digit run, saturated well past the 32-bit range.
    std::int64_t magnitude = 0;
    std::size_t digits_end = at;
    for (; digits_end < text.size() && is_digit(text[digits_end]); ++digits_end) {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (text[digits_end] - '0'), 1LL << 40);
    }
    check(digits_end > at);
    const std::int64_t value = negative ? -magnitude : magnitude;
    const bool in_range = value >= INT32_MIN && value <= INT32_MAX;
    if (reading.status == scm::ReadStatus::out_of_range) {
        check(!in_range);
        return;
    }
    check(in_range && reading.value == value && end == digits_end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::istringstream in{input};
    std::size_t start = 0;
    for (;;) {
        const scm::Reading reading = scm::read_answer(in);
        const auto end =
            static_cast<std::size_t>(in.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in));
        check_reading(std::string_view{input}.substr(start), end - start, reading);
        if (reading.status == scm::ReadStatus::end_of_input) {
            break;
        }
        // Every reading but the end takes at least one character, so reading ends.
        check(end > start);
        start = end;
    }
    return 0;
}

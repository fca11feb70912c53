// Reads answers from arbitrary bytes until input ends, and checks each reading
// against what the bytes it consumed say.
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "dialogue/answer_reader.hpp"
#include "fuzz_checks.hpp"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
using scm::fuzzing::check;
using scm::fuzzing::is_digit;

std::size_t skip_blanks(std::string_view text, std::size_t at) {
    while (at < text.size() && is_blank(text[at])) {
        ++at;
    }
    return at;
}

// Checks one reading of `text`, which the reader consumed up to `end`.
void check_reading(std::string_view text, std::size_t end, const scm::Reading& reading) {
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
    std::size_t digits_end = at;
    const std::int64_t magnitude = scm::fuzzing::digit_run_value(text, digits_end);
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

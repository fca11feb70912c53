#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace scm::fuzzing {

// A failed check is a finding: libFuzzer keeps the input that caused it.
inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value of the digit run that starts at `at`, saturated well past the 32-bit
// range so that it stays exact for every value that fits; `at` moves past the run.
inline std::int64_t digit_run_value(std::string_view text, std::size_t& at) {
    std::int64_t value = 0;
    for (; at < text.size() && is_digit(text[at]); ++at) {
        value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), std::int64_t{1} << 40);
    }
    return value;
}

}  // namespace scm::fuzzing

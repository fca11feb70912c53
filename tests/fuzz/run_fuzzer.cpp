// Runs the whole questionnaire over arbitrary bytes and renders server.cfg, then
// checks what must hold for any input.
#include <algorithm>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "dialogue/questionnaire.hpp"
#include "fuzz_checks.hpp"
#include "output/config_writer.hpp"

namespace {

using scm::fuzzing::check;
using scm::fuzzing::is_digit;

// Every value a digit run of `input` can stand for, with or without a minus.
std::set<std::int64_t> numbers_in(std::string_view input) {
    std::set<std::int64_t> numbers;
    for (std::size_t at = 0; at < input.size();) {
        if (!is_digit(input[at])) {
            ++at;
            continue;
        }
        const std::int64_t value = scm::fuzzing::digit_run_value(input, at);
        numbers.insert(value);
        numbers.insert(-value);
    }
    return numbers;
}

// A value as the file must show it: optional minus, no leading zero, in range.
bool is_plain_int32(std::string_view text) {
    const std::string_view digits = text.substr(!text.empty() && text[0] == '-' ? 1 : 0);
    if (digits.empty() || digits.size() > 10 || (digits[0] == '0' && digits.size() > 1) ||
        (digits == "0" && digits.size() != text.size())) {
        return false;
    }
    std::int64_t value = 0;
    for (char c : digits) {
        if (!is_digit(c)) {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value <= (text[0] == '-' ? 2147483648LL : 2147483647LL);
}

constexpr std::string_view kHint = "Please enter a whole number from -2147483648 to 2147483647.\n";

// Whether a question must have been asked, by the gate rule as stated here rather
// than by the code under test: the knife count opens its questions on any answer
// but 0, every other gate only on exactly 1.
bool expected_asked(std::size_t index, const scm::Answers& answers) {
    const std::string_view opener = scm::kSettings[index].gate.opener;
    if (opener.empty()) {
        return true;
    }
    const std::int32_t answer = answers[scm::index_of(opener)];
    return opener == "g_throwableknives" ? answer != 0 : answer == 1;
}

// A script's failure is one line that a terminal shows as it is.
bool is_printable_line(std::string_view line) {
    constexpr std::string_view kEnd = " server.cfg was not changed.\n";
    if (line.size() < kEnd.size() || line.substr(line.size() - kEnd.size()) != kEnd) {
        return false;
    }
    line.remove_suffix(1);
    return std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

}  // namespace

// The first byte chooses who answers: a person, a stream or a file, by its value
// modulo 3.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    constexpr scm::Source kSources[] = {scm::Source::terminal, scm::Source::stream,
                                        scm::Source::file};
    const scm::Source source = kSources[data[0] % 3];
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::istringstream in{std::string{input}};
    std::ostringstream out;
    const std::error_code no_failure;
    scm::AnswerReader reader{in, source, no_failure};
    const scm::Questionnaire asked = scm::ask_all(reader, out);
    const scm::Answers& answers = asked.answers;
    check(asked.failure.empty() ||
          (source != scm::Source::terminal && is_printable_line(asked.failure)));
    const std::string config = scm::render_config(answers);

    // 57 lines, each ending in CR LF; the key lines in write order, each with a value.
    std::string_view rest = config;
    for (int line = 1; line <= 57; ++line) {
        const std::size_t end = rest.find("\r\n");
        check(end != std::string_view::npos);
        const std::string_view text = rest.substr(0, end);
        check(text.find('\r') == std::string_view::npos &&
              text.find('\n') == std::string_view::npos);
        rest.remove_prefix(end + 2);
        if (line <= 2) {
            check(text.substr(0, 2) == "//");
            continue;
        }
        const std::size_t index = scm::kWriteOrder[static_cast<std::size_t>(line - 3)];
        const std::string_view key = scm::kSettings[index].key;
        check(text.substr(0, key.size()) == key && text.size() > key.size() &&
              text[key.size()] == ' ');
        const std::string_view value = text.substr(key.size() + 1);
        check(is_plain_int32(value) && value == std::to_string(answers[index]));
    }
    check(rest.empty());

    const std::set<std::int64_t> numbers = numbers_in(input);
    for (std::size_t i = 0; i < scm::kSettingCount; ++i) {
        const std::int32_t start = scm::kSettings[i].start_value;
        // A follow-up whose gate stayed closed keeps its starting value.
        check(expected_asked(i, answers) || answers[i] == start);
        // Every value stored came from the input.
        check(answers[i] == start || numbers.count(answers[i]) == 1);
    }
    // The console shows each open question in order, asked again only after a hint
    // to a person; a script's run stops at its bad answer.
    const std::string console = out.str();
    std::string_view shown = console;
    for (std::size_t i = 0; i < scm::kSettingCount; ++i) {
        if (!expected_asked(i, answers)) {
            continue;
        }
        if (shown.empty() && !asked.failure.empty()) {
            break;
        }
        const std::string_view prompt = scm::kSettings[i].prompt;
        check(shown.substr(0, prompt.size()) == prompt);
        shown.remove_prefix(prompt.size());
        while (source == scm::Source::terminal && shown.substr(0, kHint.size()) == kHint) {
            shown.remove_prefix(kHint.size());
            check(shown.substr(0, prompt.size()) == prompt);
            shown.remove_prefix(prompt.size());
        }
    }
    check(shown.empty());
    return 0;
}

#include "dialogue/questionnaire.hpp"

#include <string_view>

#include "dialogue/answer_reader.hpp"

namespace scm {
namespace {

// Shown after a reply that is neither a number in range nor the end of input.
constexpr std::string_view kWholeNumberHint =
    "Please enter a whole number from -2147483648 to 2147483647.\n";

// Shows the setting's question until it gets a number or input ends, and stores
// the number, if any, in `answer`.
void ask(const Setting& setting, std::istream& in, std::ostream& out, std::int32_t& answer) {
    for (;;) {
        out << setting.prompt;
        out.flush();
        const Reading reading = read_answer(in);
        if (reading.status == ReadStatus::number) {
            answer = reading.value;
            return;
        }
        if (reading.status == ReadStatus::end_of_input) {
            return;
        }
        out << kWholeNumberHint;
    }
}

}  // namespace

Answers ask_all(std::istream& in, std::ostream& out) {
    Answers answers = starting_answers();
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        if (is_asked(i, answers)) {
            ask(kSettings[i], in, out, answers[i]);
        }
    }
    return answers;
}

}  // namespace scm

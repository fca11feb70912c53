#include "dialogue/questionnaire.hpp"

#include "dialogue/answer_reader.hpp"

namespace scm {
namespace {

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
        out << kWholeNumberHint << '\n';
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

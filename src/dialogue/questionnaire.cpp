#include "dialogue/questionnaire.hpp"

#include <string_view>

namespace scm {
namespace {

// Shown at a terminal after a reply that is neither a number in range nor the end
// of input.
constexpr std::string_view kWholeNumberHint =
    "Please enter a whole number from -2147483648 to 2147483647.\n";

constexpr std::string_view kNotChanged = " server.cfg was not changed.\n";

// Why a script's run ends at `setting`, or nothing when it goes on.
std::string script_failure(const Reading& reading, const Setting& setting,
                           const AnswerReader& reader) {
    const std::string word =
        "Line " + std::to_string(reading.line) + ": \"" + reading.quote + "\" is ";
    const std::string for_setting = " (for " + std::string{setting.key} + ").";
    switch (reading.status) {
        case ReadStatus::not_a_number:
            return word + "not a whole number" + for_setting + std::string{kNotChanged};
        case ReadStatus::out_of_range:
            return word + "outside -2147483648 to 2147483647" + for_setting +
                   std::string{kNotChanged};
        case ReadStatus::read_failed:
            return "Could not read the answers: " + reader.read_failure().message() + "." +
                   std::string{kNotChanged};
        case ReadStatus::number:
        case ReadStatus::end_of_input:
            break;
    }
    return {};
}

// Shows the setting's question and stores the number it gets, if any, in
// `answer`. A person gets the question again after a hint until a number comes or
// input ends; a script gets it once. Returns why a script's run ends here, if it does.
std::string ask(const Setting& setting, AnswerReader& reader, std::ostream& out,
                std::int32_t& answer) {
    for (;;) {
        out << setting.prompt;
        out.flush();
        const Reading reading = reader.read();
        if (reading.status == ReadStatus::number) {
            answer = reading.value;
            return {};
        }
        if (reader.source() == Source::script || reading.status == ReadStatus::end_of_input) {
            return script_failure(reading, setting, reader);
        }
        out << kWholeNumberHint;
    }
}

}  // namespace

Questionnaire ask_all(AnswerReader& reader, std::ostream& out) {
    Questionnaire result{starting_answers(), {}};
    for (std::size_t i = 0; i < kSettingCount && result.failure.empty(); ++i) {
        if (is_asked(i, result.answers)) {
            result.failure = ask(kSettings[i], reader, out, result.answers[i]);
        }
    }
    return result;
}

}  // namespace scm

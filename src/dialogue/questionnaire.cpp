#include "dialogue/questionnaire.hpp"

#include <string_view>

namespace scm {
namespace {

// Shown at a terminal after a reply that is neither a number in range nor the end
// of input.
constexpr std::string_view kWholeNumberHint =
    "Please enter a whole number from -2147483648 to 2147483647.\n";

constexpr std::string_view kNotChanged = " server.cfg was not changed.\n";

// Why a script's run ends when its input cannot be read.
std::string unreadable(const AnswerReader& reader) {
    return "Could not read the answers: " + reader.read_failure().message() + "." +
           std::string{kNotChanged};
}

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
            return unreadable(reader);
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
        if (is_script(reader.source()) || reading.status == ReadStatus::end_of_input) {
            return script_failure(reading, setting, reader);
        }
        out << kWholeNumberHint;
    }
}

// An answers file holds exactly the answers asked: anything after the last one but
// blanks and comments means that they and the questions do not line up (an answer
// for a follow-up that was not asked, say), and every later setting would have
// taken the answer meant for the one before it.
std::string check_nothing_left(AnswerReader& reader, int asked) {
    const Reading extra = reader.read();
    switch (extra.status) {
        case ReadStatus::end_of_input:
            return {};
        case ReadStatus::read_failed:
            return unreadable(reader);
        case ReadStatus::number:
        case ReadStatus::not_a_number:
        case ReadStatus::out_of_range:
            break;
    }
    return "Line " + std::to_string(extra.line) + ": \"" + extra.quote +
           "\" comes after the last question (" + std::to_string(asked) + " were asked)." +
           std::string{kNotChanged};
}

}  // namespace

Questionnaire ask_all(AnswerReader& reader, std::ostream& out) {
    Questionnaire result{starting_answers(), {}};
    int asked = 0;
    for (std::size_t i = 0; i < kSettingCount && result.failure.empty(); ++i) {
        if (is_asked(i, result.answers)) {
            ++asked;
            result.failure = ask(kSettings[i], reader, out, result.answers[i]);
        }
    }
    if (result.failure.empty() && reader.source() == Source::file) {
        result.failure = check_nothing_left(reader, asked);
    }
    return result;
}

}  // namespace scm

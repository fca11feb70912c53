#pragma once

#include <ostream>
#include <string>

#include "dialogue/answer_reader.hpp"
#include "settings/catalogue.hpp"

namespace scm {

struct Questionnaire {
    Answers answers;
    // Empty when the answers are to be saved. Otherwise the one line that says why
    // a script's run ends before the file is touched: a bad answer (its line, the
    // word and the setting), a word after the last answer of a file, or input that
    // could not be read.
    std::string failure;
};

// Asks every open question in ask order, reading each answer with `reader`. At a
// terminal a reply that is not a number in range gets a hint and the question
// again; from a script it ends the questionnaire there, and so does input that
// fails. When input ends, the remaining questions are still shown and their
// settings keep the values they hold. An answers file must end with its last
// answer (blanks and comments aside): anything more ends the run as a bad answer
// does. Each question shown is one flush of `out`.
Questionnaire ask_all(AnswerReader& reader, std::ostream& out);

}  // namespace scm

#pragma once

#include <ostream>

#include "dialogue/answer_reader.hpp"
#include "settings/catalogue.hpp"

namespace scm {

// Holds the program until one more entry arrives: a number, read and dropped, or
// any other non-blank text. Blank lines (and in a script, comments) keep it
// waiting; at the end of input it returns at once. Whatever it reads, it never
// fails the run.
void closing_pause(AnswerReader& reader);

// Saves the answers as server.cfg in the current folder, says where it went and
// pauses. Returns the exit status: 0 when the file was saved; 1 when it was not,
// after one line on `err` that names the file and the system's reason (the pause
// still comes, so a console window stays open long enough to read it); 2 when the
// text is in place but its folder could not be flushed, said the same way. Where the
// message or line cannot be shown (a reader that left, or the stream is the file
// just written in place), it does not pause.
int save_and_pause(const Answers& answers, AnswerReader& reader, std::ostream& out,
                   std::ostream& err);

}  // namespace scm

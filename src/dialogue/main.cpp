#include <csignal>
#include <iostream>

#include "dialogue/decoding_input.hpp"
#include "dialogue/descriptor_input.hpp"
#include "dialogue/questionnaire.hpp"
#include "output/output_phase.hpp"
#include "save/file_system.hpp"

// Arguments and environment are ignored: the program only asks and writes.
int main() {
#ifdef SIGXFSZ
    // A file-size limit then fails the write, which is reported, instead of
    // killing the run half way through a save.
    static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
#endif
    // Output goes through the library's own buffer and is written once per
    // question, when the questionnaire flushes.
    std::ios::sync_with_stdio(false);
    // Input is read a buffer at a time through a buffer of our own, which turns a
    // failed read into the end of input instead of an exception; a script's input
    // is also decoded from what its editor saved it as.
    const scm::Source source = scm::standard_input_source();
    // Once standard input is told (closed, it stays no input at all), every closed
    // standard stream gets a stand-in, so that no file the save opens takes its number.
    scm::file_system::fill_closed_standard_streams();
    scm::DescriptorInput standard_input{0};
    scm::DecodingInput decoded{standard_input};
    std::istream in{scm::is_script(source) ? static_cast<std::streambuf*>(&decoded)
                                           : &standard_input};
    scm::AnswerReader reader{in, source, standard_input.failure()};

    const scm::Questionnaire asked = scm::ask_all(reader, std::cout);
    if (!asked.failure.empty()) {
        std::cerr << asked.failure;
        return 1;
    }
    return scm::save_and_pause(asked.answers, reader, std::cout, std::cerr);
}

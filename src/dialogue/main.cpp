#include <iostream>

#include "dialogue/descriptor_input.hpp"
#include "dialogue/questionnaire.hpp"
#include "output/output_phase.hpp"

// Arguments and environment are ignored: the program only asks and writes.
int main() {
    // Output goes through the library's own buffer and is written once per
    // question, when the questionnaire flushes.
    std::ios::sync_with_stdio(false);
    // Input is read a buffer at a time through a buffer of our own, which turns a
    // failed read into the end of input instead of an exception.
    scm::DescriptorInput standard_input{0};
    std::istream in{&standard_input};

    const scm::Answers answers = scm::ask_all(in, std::cout);
    return scm::save_and_pause(answers, in, std::cout, std::cerr);
}

#include <iostream>

#include "dialogue/questionnaire.hpp"
#include "output/output_phase.hpp"

// Arguments and environment are ignored: the program only asks and writes.
int main() {
    // Our own stream buffers: input is read a buffer at a time, and output is
    // written once per question, when the questionnaire flushes.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);

    const scm::Answers answers = scm::ask_all(std::cin, std::cout);
    return scm::save_and_pause(answers, std::cin, std::cout, std::cerr);
}

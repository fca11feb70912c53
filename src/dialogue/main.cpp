#include <iostream>

#include "dialogue/questionnaire.hpp"

// Arguments and environment are ignored: the program only asks and writes.
int main() {
    // Our own stream buffers: input is read a buffer at a time, and output is
    // written once per question, when the questionnaire flushes.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);

    scm::ask_all(std::cin, std::cout);
    return 0;
}

// Prints docs/settings.md, or writes it to the path given.
#include <fstream>
#include <iostream>

#include "settings_doc.hpp"

int main(int argc, char** argv) {
    const std::string text = scm::doc::settings_reference();
    if (argc < 2) {
        std::cout << text;
        return std::cout.flush() ? 0 : 1;
    }
    std::ofstream file{argv[1], std::ios::binary};
    file << text;
    file.close();
    if (!file) {
        std::cerr << "settings_doc: could not write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}

// Writes the documents made from the catalogue into the folder given
// (settings.md and the manual page server-config-maker.1), or with
// --debian-changelog or --rpm-changelog, CHANGELOG.md in the format of a Debian
// changelog or of an RPM package's %changelog.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "docs.hpp"

namespace {

bool write(const std::string& path, const std::string& text) {
    std::ofstream file{path, std::ios::binary};
    file << text;
    file.close();
    if (!file) {
        std::cerr << "make_docs: could not write " << path << '\n';
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 4 && (first == "--debian-changelog" || first == "--rpm-changelog")) {
        std::ifstream markdown{argv[2], std::ios::binary};
        const std::string text{std::istreambuf_iterator<char>{markdown}, {}};
        const std::string changelog = first == "--debian-changelog"
                                          ? scm::doc::debian_changelog(text)
                                          : scm::doc::rpm_changelog(text);
        return markdown && write(argv[3], changelog) ? 0 : 1;
    }
    if (argc != 2) {
        std::cerr << "usage: make_docs FOLDER | make_docs --debian-changelog|--rpm-changelog "
                     "CHANGELOG.md OUTPUT\n";
        return 2;
    }
    const bool written = write(first + "/settings.md", scm::doc::settings_reference()) &&
                         write(first + "/server-config-maker.1",
                               scm::doc::manual_page(SCM_VERSION, SCM_RELEASE_DATE));
    return written ? 0 : 1;
}

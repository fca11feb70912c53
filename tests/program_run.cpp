#include "program_run.hpp"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace scm::testing {
namespace {

const char* windows_program() { return std::getenv("SCM_WINDOWS_PROGRAM"); }

std::string program_command() {
    if (const char* program = windows_program()) {
        return "wine '" + std::string{program} + "'";
    }
    return "'" SCM_PROGRAM_PATH "'";
}

// A Windows console ends its lines in CR LF; they are read as '\n', and a bare
// line feed is marked so that no expected text matches it.
std::string console_text(std::string text) {
    if (windows_program() == nullptr) {
        return text;
    }
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            lines += "[bare LF]";
        }
        lines += text[i];
    }
    return lines;
}

}  // namespace

Workspace::Workspace() {
    std::string pattern = (std::filesystem::temp_directory_path() / "scm-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = pattern;
}

Workspace::~Workspace() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::optional<std::string> Workspace::read(std::string_view name) const {
    std::ifstream file{path_ / name, std::ios::binary};
    if (!file) {
        return std::nullopt;
    }
    return std::string{std::istreambuf_iterator<char>{file}, {}};
}

bool testing_windows_build() { return windows_program() != nullptr; }

ProgramRun run_program(const Workspace& workspace, std::string_view input,
                       std::string_view shell_prefix, std::string_view arguments) {
    const std::filesystem::path run_folder = workspace.path() / ".run";
    std::filesystem::create_directory(run_folder);
    std::ofstream{run_folder / "stdin", std::ios::binary} << input;

    const std::string quoted_run = "'" + run_folder.string() + "'";
    const std::string command = "cd '" + workspace.path().string() + "' && " +
                                std::string{shell_prefix} + " " + program_command() + " " +
                                std::string{arguments} + " <" + quoted_run + "/stdin >" +
                                quoted_run + "/stdout 2>" + quoted_run + "/stderr";
    // The command is built from the test's own paths and input file, never from outside.
    const int status = std::system(command.c_str());  // NOLINT(cert-env33-c)

    ProgramRun run;
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = console_text(workspace.read(".run/stdout").value_or(""));
    run.err = console_text(workspace.read(".run/stderr").value_or(""));
    return run;
}

}  // namespace scm::testing

#include "program_run.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace scm::run {
namespace {

const char* windows_program() { return std::getenv("SCM_WINDOWS_PROGRAM"); }

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

std::string_view redirection(Input how) {
    switch (how) {
        case Input::file:
        case Input::read_fails_after_the_input:
            return "<.run/stdin";
        case Input::closed:
            return "<&-";
        case Input::folder:
            return "</";
        case Input::late_nonblocking_pipe:
        case Input::endless_zeros:
        case Input::no_handle:
            break;
    }
    return "";  // the pipe is already the shell's standard input
}

// Starts `command` under /bin/sh with `stdin` as its standard input (none when
// negative) and returns its process id.
pid_t start_shell(const std::string& command, int stdin_descriptor) {
    const pid_t child = fork();
    if (child == 0) {
        if (stdin_descriptor >= 0) {
            dup2(stdin_descriptor, 0);
            close(stdin_descriptor);
        }
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

// The Windows program, started by the holder's start mode, which gives it no
// standard input handle at all.
std::string started_with_no_input() {
    const std::string program = windows_program() == nullptr ? "" : windows_program();
    return "wine '" + program.substr(0, program.rfind('/') + 1) +
           "hold_file.exe' start 'Z:" + program + "'";
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

bool windows_build() { return windows_program() != nullptr; }

std::string program_command() {
    if (const char* program = windows_program()) {
        return "wine '" + std::string{program} + "'";
    }
    if (const char* program = std::getenv("SCM_PROGRAM")) {
        return "'" + std::string{program} + "'";
    }
    return "'" SCM_PROGRAM_PATH "'";
}

ProgramRun run_program(const Workspace& workspace, std::string_view input, Input how,
                       std::string_view shell_prefix, std::string_view arguments) {
    const std::filesystem::path run_folder = workspace.path() / ".run";
    std::filesystem::create_directory(run_folder);
    std::ofstream{run_folder / "stdin", std::ios::binary} << input;

    // The prefix and the program run in a shell of their own, whose process id the
    // program keeps when the prefix ends in exec. Standard output goes through a
    // pipe, so that a limit on the size of the files the program writes does not
    // cut it short. A program that hangs is killed, so that a fault fails the test
    // instead of stopping the whole run.
    std::ofstream{run_folder / "command"}
        << (how == Input::endless_zeros ? "yes 0 | " : "") << shell_prefix << ' '
        << (how == Input::read_fails_after_the_input
                ? "ASAN_OPTIONS=detect_leaks=0 strace -qq -o "
                  "/dev/null -P \"$PWD/.run/stdin\" -e trace=read -e "
                  "inject=read:error=EIO:when=2 "
                : "")
        << (how == Input::no_handle ? started_with_no_input() : program_command()) << ' '
        << arguments << '\n';
    const std::string command = "cd '" + workspace.path().string() +
                                "' && { timeout -s KILL 60 sh .run/command " +
                                std::string{redirection(how)} +
                                " 2>.run/stderr; echo $? >.run/status; } | cat >.run/stdout";
    if (how == Input::late_nonblocking_pipe) {
        int ends[2];
        // Close-on-exec, so that the program holds no write end and sees the end.
        if (pipe2(ends, O_CLOEXEC) != 0 || fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) {
            throw std::runtime_error("cannot make a non-blocking pipe");
        }
        const pid_t child = start_shell(command, ends[0]);
        close(ends[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // A program that stopped reading gets no more: the comparisons tell the rest.
        // Only for this write: the programs the later runs start must not inherit it.
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        static_cast<void>(write(ends[1], input.data(), input.size()));
        static_cast<void>(std::signal(SIGPIPE, previous));
        close(ends[1]);
        waitpid(child, nullptr, 0);
    } else {
        waitpid(start_shell(command, -1), nullptr, 0);
    }

    ProgramRun run;
    run.exit_status = std::stoi(workspace.read(".run/status").value_or("-1"));
    run.out = console_text(workspace.read(".run/stdout").value_or(""));
    run.err = console_text(workspace.read(".run/stderr").value_or(""));
    return run;
}

}  // namespace scm::run

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace scm::run {

// A fresh folder for one run of the program, removed afterwards.
class Workspace {
public:
    Workspace();
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The bytes of a file in the folder, or nothing when there is none.
    std::optional<std::string> read(std::string_view name) const;

private:
    std::filesystem::path path_;
};

// What the program gets as its standard input.
enum class Input : std::uint8_t {
    file,                   // a file holding the input
    closed,                 // no descriptor at all
    folder,                 // a folder, which cannot be read
    late_nonblocking_pipe,  // a non-blocking pipe that gets the input 300 ms after the start
    endless_zeros,          // `yes 0 |`: a pipe that never ends
    // a file whose read fails once the input is all read (needs strace)
    read_fails_after_the_input,
    no_handle,  // Windows: started with no standard input handle at all
};

struct ProgramRun {
    int exit_status = -1;
    std::string out;  // standard output, the console's line ends read as '\n'
    std::string err;
};

// Whether the program under test is a Windows build, run under Wine: set
// SCM_WINDOWS_PROGRAM to its .exe.
bool windows_build();

// The program under test as the start of a shell command line: SCM_PROGRAM, when
// set, names a copy of the native build.
std::string program_command();

// Runs the program in `workspace` with `input` as its standard input, given as
// `how`. `shell_prefix` goes before the program on the shell's command line
// ("umask 0;" for instance); `$$` there is the program's process id when the
// prefix ends in exec and whatever it execs keeps that id (`strace -D`).
ProgramRun run_program(const Workspace& workspace, std::string_view input, Input how = Input::file,
                       std::string_view shell_prefix = {}, std::string_view arguments = {});

}  // namespace scm::run

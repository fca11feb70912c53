// Sessions at a real terminal (a pseudo-terminal): what is on the screen while
// the program waits, and when it waits at all.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "expected_questions.hpp"
#include "program_run.hpp"

namespace scm {
namespace {

using expected::FollowUps;
using expected::kHint;
using expected::kQuestions;
using expected::kSaved;
using expected::questions_from;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kEndOfInput = "\x04";  // Ctrl-D
// Long enough for a slow machine to show a question; a passing step takes no time.
constexpr auto kScreenTimeout = std::chrono::seconds(10);
// How long the program must stay quiet and alive to count as waiting.
constexpr auto kWaitingTime = std::chrono::milliseconds(250);

// The terminal blocking or not, or a pipe for input, fed an answer at a time.
enum class Mode : std::uint8_t { blocking, non_blocking, pipe };

// The program running at a terminal that the test types into and reads.
class Terminal {
public:
    Terminal(const std::filesystem::path& folder, Mode mode) {
        // As under nohup: a hang-up ends input instead of the process.
        const std::string command = "trap '' HUP; exec " + run::program_command();
        int terminal = -1;
        if (openpty(&screen_, &terminal, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        // The terminal's echo of what is typed is not the program's output.
        termios settings{};
        tcgetattr(terminal, &settings);
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(terminal, TCSANOW, &settings);
        if (mode == Mode::non_blocking) {  // shared by all three standard descriptors
            fcntl(terminal, F_SETFL, fcntl(terminal, F_GETFL) | O_NONBLOCK);
        }
        int pipe_ends[2] = {-1, -1};
        if (mode == Mode::pipe && pipe2(pipe_ends, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "no pipe";
        }
        child_ = fork();
        if (child_ == 0) {
            close(screen_);
            if (login_tty(terminal) == 0 && (mode != Mode::pipe || dup2(pipe_ends[0], 0) == 0) &&
                chdir(folder.c_str()) == 0) {
                execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        close(terminal);
        close(pipe_ends[0]);
        input_ = mode == Mode::pipe ? pipe_ends[1] : screen_;
        fcntl(screen_, F_SETFL, O_NONBLOCK);
    }
    ~Terminal() {
        if (!status_) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        close(screen_);
        if (input_ != screen_) {
            close(input_);
        }
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Closes the terminal, as when its window is closed or the line drops, or the
    // pipe, as when the program that answers ends.
    void hang_up() {
        close(input_);
        screen_ = input_ == screen_ ? -1 : screen_;
        input_ = screen_;
    }

    void send(std::string_view keys) const {
        ASSERT_EQ(write(input_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // The text that has come to the screen since the last call, once it is at
    // least `size` characters long or the time is up; line ends read as '\n'.
    std::string new_text(std::size_t size, Clock::duration timeout) {
        const Clock::time_point deadline = Clock::now() + timeout;
        for (;;) {
            char buffer[4096];
            ssize_t count = 0;
            while ((count = read(screen_, buffer, sizeof buffer)) > 0) {
                text_.append(buffer, static_cast<std::size_t>(count));
            }
            if (shown().size() >= size || Clock::now() >= deadline) {
                break;
            }
            pollfd entry{screen_, POLLIN, 0};
            poll(&entry, 1, 10);
        }
        std::string text = shown();
        text_.clear();
        return text;
    }

    bool running() {
        int status = 0;
        if (!status_ && waitpid(child_, &status, WNOHANG) == child_) {
            status_ = status;
        }
        return !status_;
    }

    // Processor time used so far, in clock ticks (user and system, from /proc).
    long processor_ticks() const {
        std::ifstream stat{"/proc/" + std::to_string(child_) + "/stat"};
        std::string field;
        long ticks = 0;
        // Fields 14 and 15; the name in field 2 has no blank here.
        for (int i = 1; i <= 15 && stat >> field; ++i) {
            ticks += i >= 14 ? std::stol(field) : 0;
        }
        return ticks;
    }

    // The exit status, waiting for it up to the screen time-out; -1 if still running.
    int exit_status() {
        const Clock::time_point deadline = Clock::now() + kScreenTimeout;
        while (running() && Clock::now() < deadline) {
            poll(nullptr, 0, 10);
        }
        return running() || !WIFEXITED(*status_) ? -1 : WEXITSTATUS(*status_);
    }

private:
    std::string shown() const {
        std::string text = text_;
        for (std::size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at)) {
            text.erase(at, 1);
        }
        return text;
    }

    pid_t child_ = -1;
    int screen_ = -1;
    int input_ = -1;             // the screen, or the pipe that is standard input
    std::optional<int> status_;  // the wait status, once it has ended
    std::string text_;
};

enum class Do : std::uint8_t {
    send,
    hang_up,
    expect_on_screen,
    expect_still_waiting,
    expect_exit,
    expect_in_file,  // a line of server.cfg
};

struct Step {
    Do what;
    std::string text;     // typed, or expected on the screen
    int exit_status = 0;  // for Do::expect_exit
};

struct Session {
    std::string_view what;
    bool server_cfg_is_a_folder;
    std::vector<Step> steps;
};

std::string zeros(int count) {
    std::string line;
    for (int i = 0; i < count; ++i) {
        line += "0 ";
    }
    return line + "\n";
}

std::string question(std::size_t position) { return std::string{kQuestions.at(position).text}; }
std::string hint() { return std::string{kHint}; }
std::string rest_from(std::size_t position) {
    return questions_from(position, FollowUps::skipped) + std::string{kSaved};
}

std::vector<Session> sessions(Mode mode) {
    const Step waiting{Do::expect_still_waiting, ""};
    if (mode == Mode::pipe) {
        // A program that answers each question as it comes gets the next one at once,
        // and is not held to have given every answer.
        return {{"answers from a pipe, one at a time",
                 false,
                 {{Do::expect_on_screen, question(0)},
                  waiting,
                  {Do::send, "3\n"},
                  {Do::expect_on_screen, question(1)},
                  waiting,
                  {Do::send, "4 # and a comment\r\n"},
                  {Do::expect_on_screen, question(2)},
                  {Do::hang_up, ""},
                  {Do::expect_on_screen, rest_from(3)},
                  {Do::expect_exit, "", 0},
                  {Do::expect_in_file, "\r\ng_medPacks 3\r\ng_ammoPacks 4\r\n"}}}};
    }
    return {
        {"answers typed at the terminal",
         false,
         {{Do::expect_on_screen, question(0)},
          waiting,
          // Two answers on one line: the second question is not waited on.
          {Do::send, "3 4\n"},
          {Do::expect_on_screen, question(1) + question(2)},
          waiting,
          {Do::send, "x\n"},
          {Do::expect_on_screen, hint() + question(2)},
          waiting,
          {Do::send, zeros(45)},
          {Do::expect_on_screen, rest_from(3)},
          waiting,
          {Do::send, "\n"},
          waiting,
          {Do::send, "ok\n"},
          {Do::expect_exit, "", 0}}},
        {"a failed save",
         true,
         {{Do::send, zeros(47)},
          {Do::expect_on_screen,
           questions_from(0, FollowUps::skipped) + "Could not save server.cfg: Is a directory\n"},
          waiting,
          {Do::send, "ok\n"},
          {Do::expect_exit, "", 1}}},
        // The first Ctrl-D hands over the digits, the second one ends input.
        {"Ctrl-D after digits",
         false,
         {{Do::expect_on_screen, question(0)},
          {Do::send, "5" + std::string{kEndOfInput}},
          waiting,
          {Do::send, std::string{kEndOfInput}},
          {Do::expect_on_screen, rest_from(1)},
          {Do::expect_exit, "", 0}}},
        // The answers so far are still saved.
        {"a terminal that hangs up",
         false,
         {{Do::expect_on_screen, question(0)},
          {Do::send, "3\n"},
          {Do::expect_on_screen, question(1)},
          {Do::hang_up, ""},
          {Do::expect_exit, "", 0},
          {Do::expect_in_file, "\r\ng_medPacks 3\r\ng_ammoPacks 0\r\n"}}},
        {"Ctrl-D after a bad answer",
         false,
         {{Do::expect_on_screen, question(0)},
          {Do::send, "abc" + std::string{kEndOfInput}},
          waiting,
          {Do::send, std::string{kEndOfInput}},
          {Do::expect_on_screen, hint() + question(0) + rest_from(1)},
          {Do::expect_exit, "", 0}}},
    };
}

void run_sessions(Mode mode) {
    for (const Session& session : sessions(mode)) {
        SCOPED_TRACE(session.what);
        run::Workspace workspace;
        if (session.server_cfg_is_a_folder) {
            std::filesystem::create_directory(workspace.path() / "server.cfg");
        }
        Terminal terminal{workspace.path(), mode};
        for (std::size_t i = 0; i < session.steps.size(); ++i) {
            const Step& step = session.steps[i];
            SCOPED_TRACE("step " + std::to_string(i + 1));
            switch (step.what) {
                case Do::send:
                    terminal.send(step.text);
                    break;
                case Do::hang_up:
                    terminal.hang_up();
                    break;
                case Do::expect_in_file:
                    EXPECT_NE(workspace.read("server.cfg").value_or("").find(step.text),
                              std::string::npos);
                    break;
                case Do::expect_on_screen:
                    EXPECT_EQ(terminal.new_text(step.text.size(), kScreenTimeout), step.text);
                    break;
                case Do::expect_still_waiting: {
                    // Waiting takes next to no processor time: a busy loop would take it all.
                    const long ticks = terminal.processor_ticks();
                    EXPECT_EQ(terminal.new_text(SIZE_MAX, kWaitingTime), "");
                    EXPECT_TRUE(terminal.running());
                    EXPECT_LE(terminal.processor_ticks() - ticks, 5);
                    break;
                }
                case Do::expect_exit:
                    EXPECT_EQ(terminal.exit_status(), step.exit_status);
                    EXPECT_EQ(terminal.new_text(SIZE_MAX, std::chrono::milliseconds(0)), "");
                    break;
            }
            if (::testing::Test::HasFailure()) {
                return;
            }
        }
    }
}

// With a pipe for input the screen is still the terminal's.
TEST(Terminal, Sessions) {
    if (run::windows_build()) {
        GTEST_SKIP() << "a pseudo-terminal is POSIX only";
    }
    run_sessions(Mode::blocking);
    run_sessions(Mode::pipe);
}

// A terminal left non-blocking by an earlier program: every answer is still taken.
TEST(Terminal, SessionsOnANonBlockingTerminal) {
    if (run::windows_build()) {
        GTEST_SKIP() << "a pseudo-terminal is POSIX only";
    }
    run_sessions(Mode::non_blocking);
}

}  // namespace
}  // namespace scm

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "expected_config.hpp"
#include "expected_questions.hpp"
#include "program_run.hpp"

namespace scm {
namespace {

namespace fs = std::filesystem;
using expected::FollowUps;
using expected::kHint;
using expected::kQuestions;
using expected::kSaved;
using expected::questions_from;
using run::Input;
using run::run_program;
using run::Workspace;

// What an administrator sees when the gates stay closed and every answer is taken.
std::string always_asked_transcript() { return questions_from(0, FollowUps::skipped); }

void replace(std::string& text, std::string_view from, std::string_view to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

std::string repeat(std::string_view text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) {
        repeated += text;
    }
    return repeated;
}

unsigned mode_of(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777U;
}

TEST(EndToEnd, EveryGateOpenWithDistinctAnswers) {
    // The yes/no gates get 1, every other question its own number.
    std::array<std::int32_t, 55> answers = expected::distinct_answers();
    for (std::string_view gate : {"g_privateMsgs", "g_shove", "g_helmetprotects", "g_maxlives"}) {
        answers.at(expected::ask_position(gate)) = 1;
    }
    std::string input;
    for (std::int32_t answer : answers) {
        input += std::to_string(answer) + "\r\n";  // a file made on Windows reads the same
    }
    std::string expected_file{expected::kDistinctConfig};
    replace(expected_file, "g_privateMsgs 113\r\n", "g_privateMsgs 1\r\n");
    replace(expected_file, "g_shove 117\r\n", "g_shove 1\r\n");
    replace(expected_file, "g_helmetprotects 136\r\n", "g_helmetprotects 1\r\n");
    replace(expected_file, "g_maxlives 142\r\n", "g_maxlives 1\r\n");

    // A non-blocking pipe whose answers come late is read as a blocking one.
    for (Input how : {Input::file, Input::late_nonblocking_pipe}) {
        Workspace workspace;
        const run::ProgramRun run = run_program(workspace, input, how);
        const auto row = static_cast<int>(how);
        EXPECT_EQ(run.out, questions_from(0, FollowUps::shown) + std::string{kSaved}) << row;
        EXPECT_EQ(workspace.read("server.cfg"), expected_file) << row;
        EXPECT_EQ(run.err, "") << row;
        EXPECT_EQ(run.exit_status, 0) << row;
    }
}

// Input that ends early, fails or holds a bad answer: the remaining questions are
// still shown, the file is written with the values as they stand, and the pause
// does not wait once input has ended.
TEST(EndToEnd, InputThatEndsOrFails) {
    struct Case {
        std::string_view what;
        Input how;
        std::string input;
        std::string_view asked_again;  // the setting whose question comes again after the hint
        std::vector<std::pair<std::string_view, std::string_view>> file_changes;
    };
    const Case cases[] = {
        {"empty input", Input::file, "", "", {}},
        {"closed input", Input::closed, "", "", {}},
        {"a folder as input", Input::folder, "", "", {}},
        // The sixth question (poison) first gets words, then 5; the pause gets "bye".
        {"a bad answer in the middle",
         Input::file,
         repeat("0\n", 5) + "five damage\n5\n" + repeat("0\n", 41) + "bye\n",
         "g_poison",
         {{"g_poison 0", "g_poison 5"}, {"g_headshotdmg 15", "g_headshotdmg 0"}}},
        // A bad answer leaves the value as it was: the headshot damage starts at 15.
        {"a bad headshot answer, then the end",
         Input::file,
         repeat("0\n", 32) + "x\n",
         "g_headshotdmg",
         {}},
    };
    for (const Case& c : cases) {
        Workspace workspace;
        const run::ProgramRun run =
            run_program(workspace, c.input, c.how, "HOME=/nonexistent", "--help -x");
        std::string expected_out = always_asked_transcript();
        if (!c.asked_again.empty()) {
            const std::string question{kQuestions.at(expected::ask_position(c.asked_again)).text};
            expected_out.insert(expected_out.find(question) + question.size(),
                                std::string{kHint} + question);
        }
        std::string expected_file = expected::starting_config();
        for (const auto& [from, to] : c.file_changes) {
            replace(expected_file, std::string{from} + "\r\n", std::string{to} + "\r\n");
        }
        EXPECT_EQ(run.out, expected_out + std::string{kSaved}) << c.what;
        EXPECT_EQ(workspace.read("server.cfg"), expected_file) << c.what;
        EXPECT_EQ(run.err, "") << c.what;
        EXPECT_EQ(run.exit_status, 0) << c.what;
    }
}

TEST(EndToEnd, NewFileModeFollowsTheUmask) {
    if (run::windows_build()) {
        GTEST_SKIP() << "a Windows build makes an ordinary writable file";
    }
    const std::pair<std::string_view, unsigned> cases[] = {{"0", 0664U}, {"027", 0640U}};
    for (const auto& [umask, mode] : cases) {
        Workspace workspace;
        const run::ProgramRun run =
            run_program(workspace, "", Input::file, "umask " + std::string{umask} + ";");
        ASSERT_EQ(run.exit_status, 0);
        EXPECT_EQ(mode_of(workspace.path() / "server.cfg"), mode) << "umask " << umask;
    }
}

// An administrator may have linked server.cfg into the server's folder: the link
// stays, and the file behind it is rewritten whole, keeping its mode.
TEST(EndToEnd, ExistingFileIsRewrittenInPlace) {
    Workspace workspace;
    const fs::path real = workspace.path() / "real.cfg";
    std::ofstream{real, std::ios::binary} << std::string(10000, '#');
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(real, workspace.path() / "server.cfg");

    const run::ProgramRun run = run_program(workspace, "", Input::file, "umask 0;");
    ASSERT_EQ(run.exit_status, 0);
    EXPECT_TRUE(fs::is_symlink(workspace.path() / "server.cfg"));
    EXPECT_EQ(workspace.read("real.cfg"), expected::starting_config());
    EXPECT_EQ(mode_of(real), 0600U);
}

TEST(EndToEnd, FailedSaveIsReported) {
    struct Case {
        std::string_view what;
        void (*prepare)(const fs::path& server_cfg);
        std::string_view shell_prefix;
        std::string_view error;
    };
    const auto nothing = [](const fs::path&) {};
    const Case cases[] = {
        // Windows gives no more reason than that for a folder.
        {"a folder", [](const fs::path& p) { fs::create_directory(p); }, "",
         run::windows_build() ? "Could not save server.cfg: Permission denied\n"
                              : "Could not save server.cfg: Is a directory\n"},
        {"a full disk", [](const fs::path& p) { fs::create_symlink("/dev/full", p); }, "",
         "Could not save server.cfg: No space left on device\n"},
        // One block of 512 bytes: the first write is cut short, the next one fails
        // (Wine turns that failure into "Invalid argument").
        {"a file-size limit", nothing, "trap '' XFSZ; ulimit -f 1;",
         run::windows_build() ? "Could not save server.cfg: Invalid argument\n"
                              : "Could not save server.cfg: File too large\n"},
    };
    for (const Case& c : cases) {
        Workspace workspace;
        c.prepare(workspace.path() / "server.cfg");
        const run::ProgramRun run = run_program(workspace, "", Input::file, c.shell_prefix);
        EXPECT_EQ(run.out, always_asked_transcript()) << c.what;
        EXPECT_EQ(run.err, c.error) << c.what;
        EXPECT_EQ(run.exit_status, 1) << c.what;
    }
}

}  // namespace
}  // namespace scm

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "expected_config.hpp"
#include "expected_questions.hpp"
#include "program_run.hpp"

namespace scm {
namespace {

namespace fs = std::filesystem;
using testing::FollowUps;
using testing::kHint;
using testing::kQuestions;
using testing::questions_from;
using testing::run_program;
using testing::Workspace;

constexpr std::string_view kSaved =
    "The config is saved as server.cfg in the same folder as this program!";

// What an administrator sees when the gates stay closed and every answer is taken.
std::string always_asked_transcript() { return questions_from(0, FollowUps::skipped); }

void replace(std::string& text, std::string_view from, std::string_view to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

unsigned mode_of(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777U;
}

TEST(EndToEnd, EveryGateOpenWithDistinctAnswers) {
    // The yes/no gates get 1, every other question its own number.
    std::array<std::int32_t, 55> answers = testing::distinct_answers();
    for (std::size_t gate : {12U, 16U, 35U, 41U}) {
        answers.at(gate) = 1;
    }
    std::string input;
    for (std::int32_t answer : answers) {
        input += std::to_string(answer) + "\r\n";  // a file made on Windows reads the same
    }
    std::string expected_file{testing::kDistinctConfig};
    replace(expected_file, "g_privateMsgs 113\r\n", "g_privateMsgs 1\r\n");
    replace(expected_file, "g_shove 117\r\n", "g_shove 1\r\n");
    replace(expected_file, "g_helmetprotects 136\r\n", "g_helmetprotects 1\r\n");
    replace(expected_file, "g_maxlives 142\r\n", "g_maxlives 1\r\n");

    Workspace workspace;
    const testing::ProgramRun run = run_program(workspace, input);
    EXPECT_EQ(run.out, questions_from(0, FollowUps::shown) + std::string{kSaved});
    EXPECT_EQ(workspace.read("server.cfg"), expected_file);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(EndToEnd, BadAnswerInTheMiddleIsAskedAgain) {
    Workspace workspace;
    // The sixth question (poison) first gets words, then 5; the pause gets "bye".
    std::string input = "0\n0\n0\n0\n0\nfive damage\n5\n";
    for (int i = 6; i < 47; ++i) {
        input += "0\n";
    }
    input += "bye\n";
    const testing::ProgramRun run = run_program(workspace, input);

    std::string expected = always_asked_transcript();
    expected.insert(expected.find(kQuestions[6]), std::string{kHint} + std::string{kQuestions[5]});
    EXPECT_EQ(run.out, expected + std::string{kSaved});

    std::string expected_file = testing::starting_config();
    replace(expected_file, "g_poison 0\r\n", "g_poison 5\r\n");
    replace(expected_file, "g_headshotdmg 15\r\n", "g_headshotdmg 0\r\n");
    EXPECT_EQ(workspace.read("server.cfg"), expected_file);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(EndToEnd, EmptyInputWritesStartingValuesAndIgnoresArguments) {
    Workspace workspace;
    const testing::ProgramRun run = run_program(workspace, "", "HOME=/nonexistent", "--help -x");
    EXPECT_EQ(run.out, always_asked_transcript() + std::string{kSaved});
    EXPECT_EQ(workspace.read("server.cfg"), testing::starting_config());
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(EndToEnd, NewFileModeFollowsTheUmask) {
    if (testing::testing_windows_build()) {
        GTEST_SKIP() << "a Windows build makes an ordinary writable file";
    }
    const std::pair<std::string_view, unsigned> cases[] = {{"0", 0664U}, {"027", 0640U}};
    for (const auto& [umask, mode] : cases) {
        Workspace workspace;
        const testing::ProgramRun run =
            run_program(workspace, "", "umask " + std::string{umask} + ";");
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

    const testing::ProgramRun run = run_program(workspace, "", "umask 0;");
    ASSERT_EQ(run.exit_status, 0);
    EXPECT_TRUE(fs::is_symlink(workspace.path() / "server.cfg"));
    EXPECT_EQ(workspace.read("real.cfg"), testing::starting_config());
    EXPECT_EQ(mode_of(real), 0600U);
}

TEST(EndToEnd, FailedSaveIsReportedAndStillPauses) {
    struct Case {
        std::string_view what;
        void (*prepare)(const fs::path& server_cfg);
        std::string_view error;
    };
    const Case cases[] = {
        // Windows gives no more reason than that for a folder.
        {"a folder", [](const fs::path& p) { fs::create_directory(p); },
         testing::testing_windows_build() ? "Could not save server.cfg: Permission denied\n"
                                          : "Could not save server.cfg: Is a directory\n"},
        {"a full disk", [](const fs::path& p) { fs::create_symlink("/dev/full", p); },
         "Could not save server.cfg: No space left on device\n"},
    };
    for (const Case& c : cases) {
        Workspace workspace;
        c.prepare(workspace.path() / "server.cfg");
        const testing::ProgramRun run = run_program(workspace, "");
        EXPECT_EQ(run.out, always_asked_transcript()) << c.what;
        EXPECT_EQ(run.err, c.error) << c.what;
        EXPECT_EQ(run.exit_status, 1) << c.what;
    }
}

}  // namespace
}  // namespace scm

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expected_questions.hpp"
#include "program_run.hpp"

namespace scm {
namespace {

using testing::kHint;
using testing::kQuestions;
using testing::run_program;
using testing::transcript;
using testing::Workspace;

std::vector<std::size_t> every_question() {
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < 55; ++i) {
        positions.push_back(i);
    }
    return positions;
}

TEST(EndToEnd, EveryGateOpen) {
    Workspace workspace;
    std::string input;
    for (int answer = 1; answer <= 55; ++answer) {
        input += "1\r\n";  // CR LF from a file made on Windows reads the same
    }
    const testing::ProgramRun run = run_program(workspace, input);
    EXPECT_EQ(run.out, transcript(every_question()));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(EndToEnd, BadAnswerInTheMiddleIsAskedAgain) {
    Workspace workspace;
    // Six answers, the sixth question (poison) first gets a word, then 5.
    const std::string input = "0\n0\n0\n0\n0\nfive damage\n5\n";
    const testing::ProgramRun run = run_program(workspace, input);

    std::string expected;
    for (std::size_t i = 0; i <= 5; ++i) {
        expected += kQuestions[i];
    }
    expected += kHint;
    expected += kQuestions[5];
    const auto always = testing::always_asked();
    expected += transcript(std::vector<std::size_t>(always.begin() + 6, always.end()));
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(EndToEnd, EmptyInputShowsTheAlwaysAskedQuestionsAndIgnoresArguments) {
    Workspace workspace;
    const testing::ProgramRun run = run_program(workspace, "", "HOME=/nonexistent", "--help -x");
    EXPECT_EQ(run.out, transcript(testing::always_asked()));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
}

}  // namespace
}  // namespace scm

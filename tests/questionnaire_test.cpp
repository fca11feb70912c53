#include "dialogue/questionnaire.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "expected_questions.hpp"

namespace scm {
namespace {

using testing::kHint;
using testing::kQuestions;
using testing::transcript;

// Counts the flushes, to show that each question reaches the console in one piece.
class FlushCountingBuffer : public std::stringbuf {
public:
    int flushes = 0;

protected:
    int sync() override {
        ++flushes;
        return std::stringbuf::sync();
    }
};

std::vector<std::size_t> all_positions() {
    std::vector<std::size_t> positions(55);
    std::iota(positions.begin(), positions.end(), 0);
    return positions;
}

std::string repeated(std::string_view answer, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += answer;
    }
    return text;
}

TEST(Questionnaire, SameAnswerEverywhereOpensTheMatchingGates) {
    const auto always = testing::always_asked();
    std::vector<std::size_t> with_knives(always.begin(), always.end());
    with_knives.insert(with_knives.end() - 1, {51, 52, 53});
    struct Case {
        std::string_view answer;
        std::vector<std::size_t> asked;
    };
    const Case cases[] = {
        {"0\n", {always.begin(), always.end()}},
        {"1\n", all_positions()},
        {"2\n", with_knives},   // only the knife gate opens on 2
        {"-1\n", with_knives},  // and on a negative count
    };
    for (const Case& c : cases) {
        std::istringstream in{repeated(c.answer, 60)};
        std::ostringstream out;
        const Answers answers = ask_all(in, out);
        EXPECT_EQ(out.str(), transcript(c.asked)) << "answer=" << c.answer;
        // The settings never asked keep their starting value 0.
        const std::int32_t value = std::stoi(std::string{c.answer});
        for (std::size_t follow_up : testing::kFollowUps) {
            const bool asked =
                std::find(c.asked.begin(), c.asked.end(), follow_up) != c.asked.end();
            EXPECT_EQ(answers[follow_up], asked ? value : 0) << "answer=" << c.answer;
        }
    }
}

TEST(Questionnaire, EmptyInputShowsTheAlwaysAskedQuestionsAndKeepsStartingValues) {
    std::istringstream in{""};
    std::ostringstream out;
    const Answers answers = ask_all(in, out);
    const std::string shown = out.str();
    EXPECT_EQ(shown, transcript(testing::always_asked()));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 52);
    EXPECT_EQ(answers, starting_answers());
    EXPECT_EQ(answers[34], 15);  // g_headshotdmg
}

TEST(Questionnaire, ABadReplyIsAskedAgainAfterAHint) {
    struct Case {
        std::string_view input;
        std::string expected_start;  // the console text up to the second question
        std::int32_t first_answer;
    };
    const Case cases[] = {
        {"abc\n4\n", std::string{kQuestions[0]} + std::string{kHint} + std::string{kQuestions[0]},
         4},
        {"4294967297\n-3\n",
         std::string{kQuestions[0]} + std::string{kHint} + std::string{kQuestions[0]}, -3},
        {"x\ny\n\n5\n",
         std::string{kQuestions[0]} + std::string{kHint} + std::string{kQuestions[0]} +
             std::string{kHint} + std::string{kQuestions[0]},
         5},
        // A word after a number is the next question's reply.
        {"12abc\n",
         std::string{kQuestions[0]} + std::string{kQuestions[1]} + std::string{kHint} +
             std::string{kQuestions[1]},
         12},
        // A bad reply at the very end: shown once more, then input ends.
        {"junk", std::string{kQuestions[0]} + std::string{kHint} + std::string{kQuestions[0]}, 0},
    };
    for (const Case& c : cases) {
        std::istringstream in{std::string{c.input}};
        std::ostringstream out;
        const Answers answers = ask_all(in, out);
        EXPECT_EQ(out.str().substr(0, c.expected_start.size()), c.expected_start)
            << "input=" << c.input;
        EXPECT_EQ(answers[0], c.first_answer) << "input=" << c.input;
    }
}

TEST(Questionnaire, SeveralAnswersOnOneLineFillSeveralQuestions) {
    std::istringstream in{"7 -8 +9\n"};
    std::ostringstream out;
    const Answers answers = ask_all(in, out);
    EXPECT_EQ(answers[0], 7);
    EXPECT_EQ(answers[1], -8);
    EXPECT_EQ(answers[2], 9);
    EXPECT_EQ(answers[3], 0);
    EXPECT_EQ(out.str(), transcript(testing::always_asked()));
}

TEST(Questionnaire, FlushesOncePerQuestionShown) {
    struct Case {
        std::string input;
        int questions_shown;
    };
    const Case cases[] = {
        {"", 47}, {repeated("1\n", 55), 55}, {"abc\n", 48},  // the first question twice
    };
    for (const Case& c : cases) {
        std::istringstream in{c.input};
        FlushCountingBuffer buffer;
        std::ostream out{&buffer};
        ask_all(in, out);
        EXPECT_EQ(buffer.flushes, c.questions_shown) << "input=" << c.input;
    }
}

}  // namespace
}  // namespace scm

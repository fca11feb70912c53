#include "dialogue/questionnaire.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "expected_questions.hpp"

namespace scm {
namespace {

using expected::kHint;
using expected::kQuestions;

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

TEST(Questionnaire, ABadReplyIsAskedAgainAfterAHint) {
    const std::string first_again = std::string{kQuestions[0]} + std::string{kHint};
    struct Case {
        std::string input;
        std::string expected_start;  // the console text up to the second question
        std::int32_t first_answer;
    };
    const Case cases[] = {
        {"x\n4294967297\n-3\n", first_again + first_again + std::string{kQuestions[0]}, -3},
        // A word after a number is the next question's reply.
        {"12abc\n",
         std::string{kQuestions[0]} + std::string{kQuestions[1]} + std::string{kHint} +
             std::string{kQuestions[1]},
         12},
        // A bad reply at the very end: the question is shown once more, then input ends.
        {"junk", first_again + std::string{kQuestions[0]} + std::string{kQuestions[1]}, 0},
    };
    for (const Case& c : cases) {
        std::istringstream in{c.input};
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
    EXPECT_EQ(out.str(), expected::questions_from(0, expected::FollowUps::skipped));
}

TEST(Questionnaire, FlushesOncePerQuestionShown) {
    struct Case {
        std::string input;
        int questions_shown;
    };
    std::string every_answer_one;
    for (int i = 0; i < 55; ++i) {
        every_answer_one += "1 ";
    }
    const Case cases[] = {
        {"", 47}, {every_answer_one, 55}, {"abc\n", 48},  // the first question twice
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

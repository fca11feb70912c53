// The answer reader, the gates and the questionnaire, driven through string streams.
#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

#include "dialogue/answer_reader.hpp"
#include "dialogue/questionnaire.hpp"
#include "expected_questions.hpp"
#include "settings/catalogue.hpp"

namespace scm {
namespace {

using expected::kHint;
using expected::kQuestions;

struct ReaderCase {
    std::string_view input;
    ReadStatus status;
    std::int32_t value;  // checked only for ReadStatus::number
    std::string_view leftover;
};

const ReaderCase kReaderCases[] = {
    // plain numbers and what follows them
    {"3\n", ReadStatus::number, 3, "\n"},
    {"12abc\n", ReadStatus::number, 12, "abc\n"},
    {"5 word\n", ReadStatus::number, 5, " word\n"},
    {"1 2 3\n", ReadStatus::number, 1, " 2 3\n"},
    // signs, also apart from their digits
    {"+7\n", ReadStatus::number, 7, "\n"},
    {"-0\n", ReadStatus::number, 0, "\n"},
    {"-   12\n", ReadStatus::number, -12, "\n"},
    {"-\n\r\n\t 12;", ReadStatus::number, -12, ";"},
    {"+-3\nnext", ReadStatus::not_a_number, 0, "next"},
    {"--5\n6", ReadStatus::not_a_number, 0, "6"},
    {"- x 1\n2", ReadStatus::not_a_number, 0, "2"},
    // every kind of blank before the number
    {" \t\v\f\r\n42 rest", ReadStatus::number, 42, " rest"},
    {"\n\n\n-8\n", ReadStatus::number, -8, "\n"},
    // line ends and what is discarded after a bad reply
    {"12\r\n13", ReadStatus::number, 12, "\r\n13"},
    {"abc\n7\n", ReadStatus::not_a_number, 0, "7\n"},
    {"abc def\r\n7", ReadStatus::not_a_number, 0, "7"},
    {"  x\n\n", ReadStatus::not_a_number, 0, "\n"},
    {"\xff\n1", ReadStatus::not_a_number, 0, "1"},
    {"abc", ReadStatus::not_a_number, 0, ""},
    // leading zeros are ordinary digits and do not count against the range
    {"010\n", ReadStatus::number, 10, "\n"},
    {"0000000000000000000000000000007\n", ReadStatus::number, 7, "\n"},
    {"-0002147483648\n", ReadStatus::number, -2147483647 - 1, "\n"},
    // only base 10
    {"0x1F\n", ReadStatus::number, 0, "x1F\n"},
    {"1e3\n", ReadStatus::number, 1, "e3\n"},
    {"3.5\n", ReadStatus::number, 3, ".5\n"},
    // the limits and one past them
    {"2147483647\n", ReadStatus::number, 2147483647, "\n"},
    {"-2147483648\n", ReadStatus::number, -2147483647 - 1, "\n"},
    {"2147483648 9\n5", ReadStatus::out_of_range, 0, "5"},
    {"-2147483649\n5", ReadStatus::out_of_range, 0, "5"},
    {"4294967297\n", ReadStatus::out_of_range, 0, ""},
    {"99999999999999999999999999\n-1", ReadStatus::out_of_range, 0, "-1"},
    {"+2147483648", ReadStatus::out_of_range, 0, ""},
    // end of input at each step
    {"", ReadStatus::end_of_input, 0, ""},
    {" \t\r\n\n", ReadStatus::end_of_input, 0, ""},
    {"-", ReadStatus::end_of_input, 0, ""},
    {"+ \n ", ReadStatus::end_of_input, 0, ""},
    {"42", ReadStatus::number, 42, ""},
};

TEST(AnswerReader, ReadsOneAnswerAndLeavesTheRest) {
    for (const ReaderCase& c : kReaderCases) {
        SCOPED_TRACE("input=" + ::testing::PrintToString(c.input));
        std::istringstream in{std::string{c.input}};
        const Reading reading = read_answer(in);
        EXPECT_EQ(reading.status, c.status);
        if (c.status == ReadStatus::number) {
            EXPECT_EQ(reading.value, c.value);
        }
        const std::string leftover{std::istreambuf_iterator<char>{in.rdbuf()}, {}};
        EXPECT_EQ(leftover, c.leftover);
    }
}

TEST(AnswerReader, SuccessiveReadsTakeTheAnswersInTurn) {
    std::istringstream in{"1 -2\t+3\n\n  4x\n5"};
    const std::pair<ReadStatus, std::int32_t> expected[] = {
        {ReadStatus::number, 1},       {ReadStatus::number, -2},      {ReadStatus::number, 3},
        {ReadStatus::number, 4},       {ReadStatus::not_a_number, 0}, {ReadStatus::number, 5},
        {ReadStatus::end_of_input, 0}, {ReadStatus::end_of_input, 0},
    };
    for (const auto& [status, value] : expected) {
        const Reading reading = read_answer(in);
        ASSERT_EQ(reading.status, status);
        if (status == ReadStatus::number) {
            EXPECT_EQ(reading.value, value);
        }
    }
}

// Once input has ended, later reads must not go back to the source: on a console
// that would wait for the user again.
TEST(AnswerReader, EndOfInputIsFinal) {
    for (std::string_view input : {"", "7", "abc", "99999999999"}) {
        std::istringstream in{std::string{input}};
        while (read_answer(in).status != ReadStatus::end_of_input) {
        }
        in.str("8\n");
        EXPECT_EQ(read_answer(in).status, ReadStatus::end_of_input)
            << "input=" << ::testing::PrintToString(input);
    }
}

// Each follow-up question with the setting that opens it.
TEST(Catalogue, GatesOpenOnlyOnTheirValues) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    struct GateCase {
        std::string_view opener;
        std::string_view follow_up;
        std::int32_t answer;
        bool asked;
    };
    const GateCase cases[] = {
        // the yes/no gates open on exactly 1
        {"g_privateMsgs", "g_minMsgChars", 1, true},
        {"g_privateMsgs", "g_minMsgChars", 0, false},
        {"g_privateMsgs", "g_minMsgChars", 2, false},
        {"g_shove", "g_shoveamount", 1, true},
        {"g_shove", "g_shoveamount", -1, false},
        {"g_helmetprotects", "g_helmetdmg", 1, true},
        {"g_helmetprotects", "g_helmetdmg", 2, false},
        {"g_maxlives", "g_axismaxlives", 1, true},
        {"g_maxlives", "g_alliedmaxlives", 1, true},
        {"g_maxlives", "g_alliedmaxlives", 2, false},
        // the knife gate opens on any count but 0
        {"g_throwableknives", "g_maxknives", 0, false},
        {"g_throwableknives", "g_maxknives", 3, true},
        {"g_throwableknives", "g_knifedamage", -1, true},
        {"g_throwableknives", "g_ammoGivesKnife", kMin, true},
        {"g_throwableknives", "g_ammoGivesKnife", 0, false},
    };
    for (const GateCase& c : cases) {
        Answers answers = starting_answers();
        answers[index_of(c.opener)] = c.answer;
        EXPECT_EQ(is_asked(index_of(c.follow_up), answers), c.asked)
            << c.opener << "=" << c.answer << " asks " << c.follow_up;
    }
}

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
    const std::string first_again = std::string{kQuestions[0].text} + std::string{kHint};
    struct Case {
        std::string input;
        std::string expected_start;  // the console text up to the second question
        std::int32_t first_answer;
    };
    const Case cases[] = {
        {"x\n4294967297\n-3\n", first_again + first_again + std::string{kQuestions[0].text}, -3},
        // A word after a number is the next question's reply.
        {"12abc\n",
         std::string{kQuestions[0].text} + std::string{kQuestions[1].text} + std::string{kHint} +
             std::string{kQuestions[1].text},
         12},
        // A bad reply at the very end: the question is shown once more, then input ends.
        {"junk", first_again + std::string{kQuestions[0].text} + std::string{kQuestions[1].text},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("input=" + ::testing::PrintToString(c.input));
        std::istringstream in{c.input};
        std::ostringstream out;
        const Answers answers = ask_all(in, out);
        EXPECT_EQ(out.str().substr(0, c.expected_start.size()), c.expected_start);
        EXPECT_EQ(answers[0], c.first_answer);
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
        EXPECT_EQ(buffer.flushes, c.questions_shown)
            << "input=" << ::testing::PrintToString(c.input);
    }
}

}  // namespace
}  // namespace scm

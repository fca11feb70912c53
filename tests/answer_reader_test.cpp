#include "dialogue/answer_reader.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

namespace scm {
namespace {

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
        std::istringstream in{std::string{c.input}};
        const Reading reading = read_answer(in);
        EXPECT_EQ(reading.status, c.status) << "input=" << c.input;
        if (c.status == ReadStatus::number) {
            EXPECT_EQ(reading.value, c.value) << "input=" << c.input;
        }
        const std::string leftover{std::istreambuf_iterator<char>{in.rdbuf()}, {}};
        EXPECT_EQ(leftover, c.leftover) << "input=" << c.input;
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
        EXPECT_EQ(read_answer(in).status, ReadStatus::end_of_input) << "input=" << input;
    }
}

}  // namespace
}  // namespace scm

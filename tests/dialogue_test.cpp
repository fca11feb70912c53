// The answer reader, the gates and the questionnaire, driven through string streams.
#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

#include "dialogue/answer_reader.hpp"
#include "dialogue/decoding_input.hpp"
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
    {"21474836480\n7", ReadStatus::out_of_range, 0, "7"},
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

// A source that hands out its bytes a few at a time, as a pipe may.
class ChunkedSource : public std::streambuf {
public:
    ChunkedSource(std::string_view bytes, std::size_t chunk) : bytes_{bytes}, chunk_{chunk} {}

protected:
    int_type underflow() override {
        if (gptr() != nullptr && gptr() < egptr()) {
            return traits_type::to_int_type(*gptr());
        }
        if (next_ == bytes_.size()) {
            return traits_type::eof();
        }
        const std::size_t size = std::min(chunk_, bytes_.size() - next_);
        setg(bytes_.data() + next_, bytes_.data() + next_, bytes_.data() + next_ + size);
        next_ += size;
        return traits_type::to_int_type(*gptr());
    }

private:
    std::string bytes_;
    std::size_t chunk_;
    std::size_t next_ = 0;
};

struct ScriptCase {
    std::string_view input;
    ReadStatus status;
    std::int32_t value;  // for ReadStatus::number
    std::uint64_t line;  // 0 at the end of input
    std::string_view quote;
};

// From a script an answer is a whole word, quoted with its line for a message.
const ScriptCase kScriptCases[] = {
    // words that are numbers, with comments around them
    {"7\n", ReadStatus::number, 7, 1, "7"},
    {"# the med packs\n\n  7 # seven\n", ReadStatus::number, 7, 3, "7"},
    {"#a\r5#b", ReadStatus::number, 5, 2, "5"},
    {"+5\t", ReadStatus::number, 5, 1, "+5"},
    {"-0000000000000000000000000000000000000000000000002147483648", ReadStatus::number,
     -2147483647 - 1, 1, "-000000000000000000000000000000000000000..."},
    // every line end counts once: LF, CR LF, a lone CR, also after a comment
    {"\r\r\n\n\r5", ReadStatus::number, 5, 5, "5"},
    {"\r\r\rx", ReadStatus::not_a_number, 0, 4, "x"},
    {"\r\n\r\nx", ReadStatus::not_a_number, 0, 3, "x"},
    {"# a\r\n# b\r\n\rx", ReadStatus::not_a_number, 0, 4, "x"},
    {"\r#a\n\r#b\r\n7", ReadStatus::number, 7, 5, "7"},
    {"6\r# six\n", ReadStatus::number, 6, 1, "6"},
    // words that are not, on the line where they stand
    {"12abc\n", ReadStatus::not_a_number, 0, 1, "12abc"},
    {"\r\n\n# x\n5,000\n", ReadStatus::not_a_number, 0, 4, "5,000"},
    {"1O", ReadStatus::not_a_number, 0, 1, "1O"},
    {"0x10", ReadStatus::not_a_number, 0, 1, "0x10"},
    {"5.5", ReadStatus::not_a_number, 0, 1, "5.5"},
    {"- 5", ReadStatus::not_a_number, 0, 1, "-"},
    {"\n\n+#3", ReadStatus::not_a_number, 0, 3, "+"},
    {"99999999999x", ReadStatus::not_a_number, 0, 1, "99999999999x"},
    {"\xE2\x88\x92"
     "5",
     ReadStatus::not_a_number, 0, 1, R"(\xE2\x88\x925)"},
    // quoted so that nothing reaches the terminal raw, and cut after 40 bytes
    {std::string_view{"\"\\\x00\x1b[2J\x7f", 8}, ReadStatus::not_a_number, 0, 1,
     R"(\x22\x5C\x00\x1B[2J\x7F)"},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa bbb", ReadStatus::not_a_number, 0, 1,
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", ReadStatus::not_a_number, 0, 1,
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa..."},
    // 21 two-byte characters: the first 40 bytes, cut between none of them
    {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3"
     "\xA9"
     "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
     ReadStatus::not_a_number, 0, 1,
     R"(\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9)"
     R"(\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9...)"},
    // out of range, leading zeros or not
    {"2147483648", ReadStatus::out_of_range, 0, 1, "2147483648"},
    {"21474836480", ReadStatus::out_of_range, 0, 1, "21474836480"},
    {"\n-00000000000000000000000000000000000000002147483649", ReadStatus::out_of_range, 0, 2,
     "-000000000000000000000000000000000000000..."},
    // nothing left but blanks and comments
    {"", ReadStatus::end_of_input, 0, 0, ""},
    {"\n# the end", ReadStatus::end_of_input, 0, 0, ""},
};

// Each row whole and a byte a read, so that a CR and its LF come in two reads.
TEST(AnswerReader, ReadsAScriptsWordsWhole) {
    const std::error_code no_failure;
    for (const ScriptCase& c : kScriptCases) {
        for (std::size_t chunk : {std::size_t{1}, c.input.size() + 1}) {
            SCOPED_TRACE("input=" + ::testing::PrintToString(c.input) + " in chunks of " +
                         std::to_string(chunk));
            ChunkedSource source{c.input, chunk};
            std::istream in{&source};
            AnswerReader reader{in, Source::stream, no_failure};
            const Reading reading = reader.read();
            EXPECT_EQ(reading.status, c.status);
            EXPECT_EQ(reading.value, c.value);
            EXPECT_EQ(reading.line, c.line);
            EXPECT_EQ(reading.quote, c.quote);
        }
    }
}

TEST(DecodingInput, HandsOnPlainBytesWhateverTheChunks) {
    using namespace std::string_view_literals;
    const std::pair<std::string_view, std::string_view> cases[] = {
        // a UTF-8 mark at the start is skipped; anywhere else, or cut short, it is input
        {"\xEF\xBB\xBF"
         "12\n",
         "12\n"},
        {"5\xEF\xBB\xBF", "5\xEF\xBB\xBF"},
        {"\xEF\xBB"
         "3\n",
         "\xEF\xBB"
         "3\n"},
        {"\xEF", "\xEF"},
        {"\xFF\n5\n", "\xFF\n5\n"},
        {"\xFE\xFE", "\xFE\xFE"},
        {"", ""},
        // UTF-16: ASCII as it is, every other unit one '?', a lone last byte dropped
        {"\xFF\xFE"
         "1\0\r\0\n\0\x1A\x04"
         "2\0"sv,
         "1\r\n?2"},
        {"\xFE\xFF\0"
         "1\x04\x1A\0#\xD8\x3D\xDE\x00\0"
         "9"sv,
         "1?#??9"},
        {"\xFF\xFE"
         "7\0"
         "8"sv,
         "7"},
        {"\xFF\xFE\xEF\xBB\xBF\0"sv, "??"},
    };
    for (const auto& [input, output] : cases) {
        for (std::size_t chunk : {1, 3, 8192}) {
            ChunkedSource source{input, chunk};
            DecodingInput decoded{source};
            const std::string text{std::istreambuf_iterator<char>{&decoded}, {}};
            EXPECT_EQ(text, output)
                << "input=" << ::testing::PrintToString(input) << " in chunks of " << chunk;
        }
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

Questionnaire ask(const std::string& input, Source source, std::ostream& out) {
    std::istringstream in{input};
    const std::error_code no_failure;
    AnswerReader reader{in, source, no_failure};
    return ask_all(reader, out);
}

std::string repeat(std::string_view text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) {
        repeated += text;
    }
    return repeated;
}

TEST(Questionnaire, ABadReplyIsAskedAgainAfterAHint) {
    const std::string first_again = std::string{kQuestions[0].text} + std::string{kHint};
    const std::string always_asked = expected::questions_from(0, expected::FollowUps::skipped);
    const std::string headshot{kQuestions.at(expected::ask_position("g_headshotdmg")).text};
    const std::string up_to_headshot =
        always_asked.substr(0, always_asked.find(headshot) + headshot.size());
    struct Case {
        std::string input;
        std::string expected_start;  // the console text up to the second question
        std::string_view key;
        std::int32_t answer;
    };
    const Case cases[] = {
        {"x\n4294967297\n-3\n", first_again + first_again + std::string{kQuestions[0].text},
         "g_medPacks", -3},
        // A word after a number is the next question's reply.
        {"12abc\n",
         std::string{kQuestions[0].text} + std::string{kQuestions[1].text} + std::string{kHint} +
             std::string{kQuestions[1].text},
         "g_medPacks", 12},
        // A bad reply at the very end: the question is shown once more, then input ends.
        {"junk", first_again + std::string{kQuestions[0].text} + std::string{kQuestions[1].text},
         "g_medPacks", 0},
        // A bad reply leaves the value as it was: the headshot damage starts at 15.
        {repeat("0\n", 32) + "x\n", up_to_headshot + std::string{kHint} + headshot, "g_headshotdmg",
         15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("input=" + ::testing::PrintToString(c.input));
        std::ostringstream out;
        const Questionnaire asked = ask(c.input, Source::terminal, out);
        EXPECT_EQ(out.str().substr(0, c.expected_start.size()), c.expected_start);
        EXPECT_EQ(asked.answers[index_of(c.key)], c.answer);
        EXPECT_EQ(asked.failure, "");
    }
}

TEST(Questionnaire, SeveralAnswersOnOneLineFillSeveralQuestions) {
    std::ostringstream out;
    const Answers answers = ask("7 -8 +9\n", Source::terminal, out).answers;
    EXPECT_EQ(answers[0], 7);
    EXPECT_EQ(answers[1], -8);
    EXPECT_EQ(answers[2], 9);
    EXPECT_EQ(answers[3], 0);
    EXPECT_EQ(out.str(), expected::questions_from(0, expected::FollowUps::skipped));
}

// A script's bad answer is the last question shown.
TEST(Questionnaire, FlushesOncePerQuestionShown) {
    struct Case {
        std::string input;
        Source source;
        int questions_shown;
    };
    const Case cases[] = {
        {"", Source::terminal, 47},      {repeat("1 ", 55), Source::terminal, 55},
        {"abc\n", Source::terminal, 48},  // the first question twice
        {"", Source::stream, 47},        {"1 1 abc 1 1\n", Source::stream, 3},
    };
    for (const Case& c : cases) {
        FlushCountingBuffer buffer;
        std::ostream out{&buffer};
        ask(c.input, c.source, out);
        EXPECT_EQ(buffer.flushes, c.questions_shown)
            << "input=" << ::testing::PrintToString(c.input);
    }
}

}  // namespace
}  // namespace scm

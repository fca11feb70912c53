#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>

#include "output/output_phase.hpp"

namespace scm {
namespace {

TEST(ClosingPause, EndsOnTheFirstNonBlankEntry) {
    struct Case {
        std::string_view input;
        std::string_view leftover;
    };
    const Case cases[] = {
        {"7\nafter", "\nafter"},              // a number is read and dropped
        {"\n\n  \r\n-12\nafter", "\nafter"},  // empty lines keep it waiting
        {"ok\nafter", "after"},               // a word ends it too, with its line
        {"99999999999\nafter", "after"},      // so does a number too large
        {"", ""},                             // end of input ends it at once
        {"\n\n", ""},
    };
    for (const Case& c : cases) {
        std::istringstream in{std::string{c.input}};
        closing_pause(in);
        const std::string leftover{std::istreambuf_iterator<char>{in.rdbuf()}, {}};
        EXPECT_EQ(leftover, c.leftover) << "input=" << c.input;
    }
}

}  // namespace
}  // namespace scm

// The writer of server.cfg and the closing pause.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>

#include "expected_config.hpp"
#include "output/config_writer.hpp"
#include "output/output_phase.hpp"
#include "program_run.hpp"

namespace scm {
namespace {

TEST(ConfigWriter, EveryKeyLineCarriesItsOwnSettingsValue) {
    const std::string text = render_config(expected::distinct_answers());
    EXPECT_EQ(text, expected::kDistinctConfig);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 57);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 57);
}

TEST(ConfigWriter, SaveReportsTheSystemsReason) {
    run::Workspace workspace;
    const std::filesystem::path folder = workspace.path() / "a-folder";
    std::filesystem::create_directory(folder);
    struct Case {
        std::string path;
        int error;
    };
    const Case cases[] = {
        {folder.string(), EISDIR},
        {"/dev/full", ENOSPC},
        {(workspace.path() / "missing" / "server.cfg").string(), ENOENT},
    };
    for (const Case& c : cases) {
        const std::error_code error = save_file(c.path.c_str(), "text\r\n");
        EXPECT_EQ(error, std::error_code(c.error, std::generic_category())) << "path=" << c.path;
    }
}

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
        EXPECT_EQ(leftover, c.leftover) << "input=" << ::testing::PrintToString(c.input);
    }
}

}  // namespace
}  // namespace scm

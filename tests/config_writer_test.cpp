#include "output/config_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "expected_config.hpp"
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

}  // namespace
}  // namespace scm

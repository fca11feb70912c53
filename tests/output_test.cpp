// The writer of server.cfg and the closing pause.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "docs.hpp"
#include "expected_config.hpp"
#include "output/config_writer.hpp"
#include "output/output_phase.hpp"
#include "program_run.hpp"
#include "save/save_file.hpp"

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
        std::ostringstream waits;
        const std::error_code error = save_file(c.path.c_str(), "text\r\n", waits, waits).error;
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
    const std::error_code no_failure;
    for (const Case& c : cases) {
        std::istringstream in{std::string{c.input}};
        AnswerReader reader{in, Source::terminal, no_failure};
        closing_pause(reader);
        const std::string leftover{std::istreambuf_iterator<char>{in.rdbuf()}, {}};
        EXPECT_EQ(leftover, c.leftover) << "input=" << ::testing::PrintToString(c.input);
    }
}

TEST(Documents, CommittedFilesAreUpToDate) {
    const std::pair<std::string_view, std::string> documents[] = {
        {"settings.md", doc::settings_reference()},
        {"server-config-maker.1", doc::manual_page(SCM_VERSION, SCM_RELEASE_DATE)},
    };
    for (const auto& [name, text] : documents) {
        std::ifstream file{SCM_SOURCE_DIR "/docs/" + std::string{name}, std::ios::binary};
        const std::string committed{std::istreambuf_iterator<char>{file}, {}};
        EXPECT_EQ(committed, text) << "docs/" << name
                                   << " is out of date; bring it up to date with\n"
                                      "  cmake --build <your build folder> --target docs";
    }
}

// A minus a user types is a minus, and catalogue text never reads as a roff request.
TEST(Documents, ManualPageEscapesTheCatalogue) {
    const std::string page = doc::manual_page("9.9.9", "2000-01-31");
    EXPECT_EQ(page.find(".TH SERVER-CONFIG-MAKER 1 \"2000-01-31\" \"server-config-maker 9.9.9\""),
              page.find(".TH"));
    EXPECT_NE(page.find(".TP\n.B g_maxpf\nHow panzers per team?(\\-1=unlimited)\n.br\nStarts at "
                        "0; asked always.\n"),
              std::string::npos);
    EXPECT_NE(
        page.find(".B g_goomba\nShould goomba kills be allowed on the server?\n.br\nA goomba "
                  "kills is when a player jumps on another players head and it kills him.\n.br\n"
                  "(0=no, 1=yes)\n.br\nStarts at 0; asked always.\n"),
        std::string::npos);
    EXPECT_EQ(doc::detail::roff(".x\n'y -1 a\\b"), "\\&.x\n\\&'y \\-1 a\\eb");
    for (const Setting& setting : kSettings) {
        EXPECT_NE(page.find(".TP\n.B " + std::string{setting.key} + "\n"), std::string::npos)
            << setting.key;
    }
}

// One entry a version, changes wrapped at 80, and each Debian entry later than the one
// before; the RPM entries dated with the right weekday.
TEST(Documents, ChangelogsFollowTheMarkdown) {
    const std::string nine = "abcdefghi ";
    std::string ten_words;
    for (int i = 0; i < 10; ++i) {
        ten_words += nine;
    }
    ten_words.pop_back();
    const std::string signed_by =
        " -- server-config-maker authors <maintainers@server-config-maker.invalid>  ";
    EXPECT_EQ(doc::debian_changelog("# Changelog\n\n## 2.0.0 - 2000-01-31\n\n- " + ten_words +
                                    "\n- Fix.\n\n## 1.0.0 - 2000-01-31\n\n- First.\n"),
              "server-config-maker (2.0.0) unstable; urgency=medium\n\n"
              "  * abcdefghi abcdefghi abcdefghi abcdefghi abcdefghi abcdefghi abcdefghi\n"
              "    abcdefghi abcdefghi abcdefghi\n"
              "  * Fix.\n\n" +
                  signed_by + "Mon, 31 Jan 2000 00:00:01 +0000\n\n" +
                  "server-config-maker (1.0.0) unstable; urgency=medium\n\n  * First.\n\n" +
                  signed_by + "Mon, 31 Jan 2000 00:00:00 +0000\n");
    EXPECT_EQ(
        doc::rpm_changelog("# Changelog\n\n## 1.3.0 - 2026-12-07\n\n### Fixed\n\n- " + ten_words +
                           "\n- Fix 100%.\n\n## 1.0.0 - 2024-02-29\n\n- First.\n"),
        "* Mon Dec 07 2026 server-config-maker authors "
        "<maintainers@server-config-maker.invalid> - 1.3.0-1\n"
        "- abcdefghi abcdefghi abcdefghi abcdefghi abcdefghi abcdefghi abcdefghi\n"
        "  abcdefghi abcdefghi abcdefghi\n"
        "- Fix 100%%.\n\n"
        "* Thu Feb 29 2024 server-config-maker authors "
        "<maintainers@server-config-maker.invalid> - 1.0.0-1\n"
        "- First.\n");
    // "  * " and 76 columns of words make a line of exactly 80, which stays whole; one
    // more column wraps the last word.
    const std::string seven_words = ten_words.substr(0, 7 * nine.size());
    EXPECT_EQ(doc::detail::debian_change(seven_words + "abcdef"),
              "  * " + seven_words + "abcdef\n");
    EXPECT_EQ(doc::detail::debian_change(seven_words + "abcdefg"),
              "  * " + seven_words.substr(0, seven_words.size() - 1) + "\n    abcdefg\n");
}

// People read the table instead of the source: it must stay one table, a row a setting.
TEST(SettingsReference, IsOneTableWithARowPerSetting) {
    const std::string text = doc::settings_reference();
    // Rows written out whole, each split over lines of source.
    // NOLINTBEGIN(bugprone-suspicious-missing-comma)
    const std::string_view rows[] = {
        "| `g_medPacks` | How many med packs should be dropped when a med taps out? | 0 | always "
        "| 3 |\n",
        "| `g_goomba` | Should goomba kills be allowed on the server?<br>A goomba kills is when a "
        "player jumps on another players head and it kills him.<br>(0=no, 1=yes)  | 0 | always "
        "| 7 |\n",
        "| `g_shoveamount` | How much should player be shoved?(default: 1) | 0 | when `g_shove` is "
        "1 | 20 |\n",
        "| `g_ammoGivesKnife` | Should ammo packs give a throwing knife?(0=no, 1=yes) | 0 | when "
        "`g_throwableknives` is not 0 | 30 |\n",
        "| `g_headshotdmg` | How much damage should headshots do?(default: 50) | 15 | always | 38 "
        "|\n",
    };
    // NOLINTEND(bugprone-suspicious-missing-comma)
    for (std::string_view row : rows) {
        EXPECT_NE(text.find(row), std::string::npos) << row;
    }
    // From the header on, every line is a row of five cells: six bars not escaped.
    std::istringstream table{text.substr(text.find("| Key |"))};
    int lines = 0;
    for (std::string line; std::getline(table, line); ++lines) {
        int bars = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            bars += line[i] == '|' && (i == 0 || line[i - 1] != '\\') ? 1 : 0;
        }
        EXPECT_EQ(bars, 6) << line;
    }
    EXPECT_EQ(lines, 2 + 55);
    EXPECT_EQ(doc::detail::cell("a|b<c&d\ne\n"), "a\\|b&lt;c&amp;d<br>e");
}

}  // namespace
}  // namespace scm

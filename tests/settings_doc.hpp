#pragma once

#include <string>
#include <string_view>

#include "settings/catalogue.hpp"

namespace scm::doc {

namespace detail {

// A table cell: the question's lines joined by <br>, and nothing that Markdown
// would read as the end of a cell or as HTML.
inline std::string cell(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '|':
                escaped += "\\|";
                break;
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '\n':
                escaped += "<br>";
                break;
            default:
                escaped += c;
        }
    }
    // The last line end of a prompt ends the question, not a line of it.
    constexpr std::string_view kBreak = "<br>";
    if (escaped.size() >= kBreak.size() &&
        escaped.compare(escaped.size() - kBreak.size(), kBreak.size(), kBreak) == 0) {
        escaped.resize(escaped.size() - kBreak.size());
    }
    return escaped;
}

inline std::string asked(const Gate& gate) {
    if (gate.opener.empty()) {
        return "always";
    }
    return "when `" + std::string{gate.opener} + "` is " +
           (gate.opens == Opens::on_one ? "1" : "not 0");
}

inline std::size_t file_line(std::size_t index) {
    for (std::size_t position = 0; position < kSettingCount; ++position) {
        if (kWriteOrder[position] == index) {
            return position + 3;  // after the two comment lines
        }
    }
    return 0;
}

}  // namespace detail

// The text of docs/settings.md: what server.cfg is, then a table with one row per
// setting in ask order, made from the catalogue.
inline std::string settings_reference() {
    std::string text =
        "# Settings reference\n"
        "\n"
        "`server-config-maker` asks one question per setting, in the order of this table, and\n"
        "writes the answers to `server.cfg` in the folder it was started from: two comment\n"
        "lines, then one line per setting, `key value`, on the line of the file given in the\n"
        "last column. Every line of the file ends in CR LF.\n"
        "\n"
        "The program stores any whole number from -2147483648 to 2147483647 that it is\n"
        "given. The hints in the questions, such as \"(0=no, 1=yes)\" or \"(default: 3)\", are\n"
        "for the person answering: the program checks no range and applies no default. A\n"
        "setting whose question is not asked, or gets no number, keeps its starting value.\n"
        "\n"
        "This page is made from the program's own table of settings: do not edit it, run\n"
        "`cmake --build build --target settings-doc` instead.\n"
        "\n"
        "| Key | Question | Starting value | Asked | Line in server.cfg |\n"
        "|---|---|---|---|---|\n";
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        const Setting& setting = kSettings[i];
        text += "| `" + std::string{setting.key} + "` | " + detail::cell(setting.prompt) + " | " +
                std::to_string(setting.start_value) + " | " + detail::asked(setting.gate) + " | " +
                std::to_string(detail::file_line(i)) + " |\n";
    }
    return text;
}

}  // namespace scm::doc

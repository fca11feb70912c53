#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

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

// When the question is asked, the opener's key between `quote` and `unquote`.
inline std::string asked(const Gate& gate, std::string_view quote = "`",
                         std::string_view unquote = "`") {
    if (gate.opener.empty()) {
        return "always";
    }
    return "when " + std::string{quote} + std::string{gate.opener} + std::string{unquote} + " is " +
           (gate.opens == Opens::on_one ? "1" : "not 0");
}

// Text for a manual page: no line starts with a control character, a backslash
// is printed as one, and every minus a user would type is a minus, not a hyphen.
inline std::string roff(std::string_view text) {
    std::string escaped;
    bool line_start = true;
    for (char c : text) {
        if (line_start && (c == '.' || c == '\'')) {
            escaped += "\\&";
        }
        escaped += c == '\\' ? std::string{"\\e"} : c == '-' ? std::string{"\\-"} : std::string{c};
        line_start = c == '\n';
    }
    return escaped;
}

inline std::size_t file_line(std::size_t index) {
    for (std::size_t position = 0; position < kSettingCount; ++position) {
        if (kWriteOrder[position] == index) {
            return position + 3;  // after the two comment lines
        }
    }
    return 0;
}

// Whether two keys differ at most in case.
inline bool same_but_case(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

// A game server may read keys without regard to case, and then takes two keys that
// differ only in case for one: for such a setting, a sentence that says which line
// wins, its keys between `quote` and `unquote`; "" for every other setting.
inline std::string case_note(std::size_t index, std::string_view quote = "`",
                             std::string_view unquote = "`") {
    const auto quoted = [&](std::size_t i) {
        return std::string{quote} + std::string{kSettings[i].key} + std::string{unquote};
    };
    for (std::size_t other = 0; other < kSettingCount; ++other) {
        if (other != index && same_but_case(kSettings[index].key, kSettings[other].key)) {
            const std::size_t later = file_line(index) > file_line(other) ? index : other;
            return "Only its case tells it from " + quoted(other) +
                   ": a game server that ignores case in setting names keeps the later line, " +
                   quoted(later) + " (line " + std::to_string(file_line(later)) + "), for both.";
        }
    }
    return {};
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
        "An answers file (`server-config-maker < answers.txt`) gives one answer per question\n"
        "asked, not one per row of this table: the 47 questions asked always, plus the\n"
        "follow-ups that their gates open (the Asked column). With every gate closed that is\n"
        "47 answers; with every gate open, 55. A file with an answer more than the questions\n"
        "asked (an answer for a follow-up whose gate is closed, say) is refused before\n"
        "`server.cfg` is touched, with the line of the first answer too many.\n"
        "\n"
        "This page is made from the program's own table of settings: do not edit it, run\n"
        "`cmake --build build --target docs` instead.\n"
        "\n"
        "| Key | Question | Starting value | Asked | Line in server.cfg |\n"
        "|---|---|---|---|---|\n";
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        const Setting& setting = kSettings[i];
        const std::string note = detail::case_note(i);
        text += "| `" + std::string{setting.key} + "` | " + detail::cell(setting.prompt) +
                (note.empty() ? "" : "<br>*" + note + "*") + " | " +
                std::to_string(setting.start_value) + " | " + detail::asked(setting.gate) + " | " +
                std::to_string(detail::file_line(i)) + " |\n";
    }
    return text;
}

// The questions of the SETTINGS section, one tagged paragraph a setting.
inline std::string manual_settings() {
    std::string text;
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        const Setting& setting = kSettings[i];
        text += ".TP\n.B " + detail::roff(setting.key) + "\n";
        std::string_view rest = setting.prompt;
        for (std::size_t end = rest.find('\n'); end != std::string_view::npos;
             end = rest.find('\n')) {
            std::string_view line = rest.substr(0, end);
            while (!line.empty() && line.back() == ' ') {
                line.remove_suffix(1);  // roff keeps no blank at a line's end
            }
            text += detail::roff(line) + "\n.br\n";
            rest.remove_prefix(end + 1);
        }
        text += "Starts at " + detail::roff(std::to_string(setting.start_value)) + "; asked " +
                detail::asked(setting.gate, "\\fB", "\\fR") + ".\n";
        const std::string note = detail::case_note(i, "\\fB", "\\fR");
        text += note.empty() ? "" : note + "\n";
    }
    return text;
}

// The manual page server-config-maker(1) of `version`, dated `date` (YYYY-MM-DD).
inline std::string manual_page(std::string_view version, std::string_view date) {
    return R"(.\" Made from the program's own table of settings: run
.\" `cmake --build build --target docs` instead of editing this page.
.TH SERVER-CONFIG-MAKER 1 ")" +
           std::string{date} + R"(" "server-config-maker )" + std::string{version} +
           R"(" "User Commands"
.SH NAME
server\-config\-maker \- ask the settings of a game server and write them to server.cfg
.SH SYNOPSIS
.B server\-config\-maker
.PP
There are no options: arguments are ignored, and
.B server\-config\-maker \-\-help
starts the questions like any other start.
.SH DESCRIPTION
.B server\-config\-maker
asks the administrator of a multiplayer game server that runs a server-side
modification one question per setting, 55 in all, 8 of them only when an earlier
answer opens them, and writes the answers to
.I server.cfg
in the current folder: two comment lines, then one line per setting, its key, a
space and its value, every line ending in CR LF.
Then it says
.RB \(dq "The config is saved as server.cfg in the same folder as this program!" \(dq
and waits for one more entry, so that a console window stays open; when input has
ended it does not wait.
.SH ANSWERING
Each question takes a whole number from \-2147483648 to 2147483647.
The hints in the questions, such as (0=no, 1=yes) or (default: 3), are for the
person answering: the program checks no range and applies no default.
A follow-up question that an earlier answer does not open is not asked and takes no
answer.
.SS At a terminal
A reply that is not a number in range gets the hint
.RB \(dq "Please enter a whole number from \-2147483648 to 2147483647." \(dq
and the same question again; the rest of its line is dropped.
A number ends at the first character that is not a digit, and what follows it
belongs to the next question.
Several answers on one line fill several questions in turn.
.PP
Ctrl-D ends the input: the questions left keep their starting values and the
answers so far are saved.
Ctrl-C stops the program and leaves
.I server.cfg
untouched.
.SS From a file or a pipe
When standard input is not a terminal, an answer is one whole word: from its first
character to the next blank,
.B #
or the end of the input, with a sign directly before its digits, and the whole word
a number in range (leading zeros are fine).
.B #
where an answer would start, or right after its digits, starts a comment that runs
to the end of the line.
A word that is not a number in range, such as yes, 12abc or 5,000, ends the run
without touching
.IR server.cfg :
no further question, exit status 1, and one line on standard error with the line
of the input, the word (at most 40 bytes, every byte outside printable ASCII as
\e\fIxNN\fR) and the setting it was meant for.
Input that cannot be read ends the run the same way.
When the input ends before every question has an answer, the questions left keep
their starting values and the file is saved; standard input closed from the start
counts as empty.
On Windows a program started with no standard input at all has empty input too;
under Wine, which hands a closed standard input the current folder, it cannot be
read and ends the run.
.PP
A file gives one answer per question asked: the 47 questions asked always, plus
the follow-ups that their gates open, so 47 with every gate closed and 55 with
every gate open.
Anything but blanks and comments after its last answer means that the answers and
the questions do not line up (an answer for a follow-up that is not asked moves
every later answer to the setting after its own), and ends the run the same way,
naming the line of the first answer too many.
A pipe is not checked so: it may never end, as from
.BR "yes 0" ,
or come from a program that answers each question in turn and waits for the
closing message.
Line numbers count every line end: LF, CR LF and CR.
.SS Encodings
An answers file may be ASCII or UTF-8, with or without a byte-order mark, or UTF-16
of either byte order with its byte-order mark, as Windows PowerShell writes it.
Line ends may be LF, CR LF or CR.
.SH SETTINGS
The questions in the order they are asked, each with the setting's key, its
starting value (kept when the question is not asked or input ends first) and when
it is asked.
)" + manual_settings() +
           R"(.SH FILES
.TP
.I server.cfg
In the current folder, whatever the closing message says about the program's own
folder.
The system opens an existing name for writing, following links by its own rules, so
its guards against links and files planted in a shared folder apply, and a file the
user may not write is reported and kept; a file or named pipe that another user
planted in a shared sticky folder such as
.I /tmp
is refused as the system's guards for them would refuse it.
Run the program as the user the game server runs as: run as root, it follows a link
that the folder's owner placed, as any program writing the file would.
.IP
A first save writes a new file that has no name yet (mode 0664 less the umask, or
what the folder's default access list gives),
flushes it to the disk, and only then gives it the name, never in the place of a
file another run saved meanwhile.
An existing file is replaced whole: the new text goes to a new file in its folder,
readable by its owner only until it is complete, without what a default access list
gave it, then given the old file's owner, group and mode (set-ID bits included),
flushed, and renamed over the old one, so a failed save keeps the old file byte for
byte.
A link stays a link and the file it names gets the text.
A file with more than one hard link, extended attributes or an access list of its
own, an owner the user cannot give a new file, or in a folder that takes no new
file or no renames, is written in place under a lock, after the room for the text
is reserved and the file-size limit checked; a kill or an I/O error in the middle of
that write can cut it.
A device or a named pipe is written through as it stands, and Ctrl-C ends a write
that stalls.
.IP
A wait says why, once, on standard error:
.RB \(dq "Waiting for another program to release server.cfg..." \(dq
while another program holds the lock or a lease, and
.RB \(dq "Waiting for a program to read server.cfg..." \(dq
while a named pipe has no reader; Ctrl-C ends either wait with the file untouched.
Signals that would end the run wait while a new file has a name of its own and while
the file is written in place.
A run killed outright during the save may leave a
.I .server.cfg.*
file behind; delete it.
A file of the save's own that cannot be removed is named on standard error.
Standard output or error redirected to a file that is written in place gets
nothing after the text.
.I saving.md
beside the settings reference gives the full account.
.SH EXIT STATUS
.TP
.B 0
.I server.cfg
was saved.
.TP
.B 1
.I server.cfg
was not saved: a scripted answer was bad, an answers file had answers left over
after the last question, the answers could not be read, or the save failed; one
line on standard error says which.
.TP
.B 2
.I server.cfg
holds the new settings, but its folder could not be opened or flushed to the disk,
so they may not survive a power cut; one line on standard error says so.
.SH EXAMPLES
Answer from a file, one answer per question actually asked:
.PP
.in +4n
.EX
$ cat answers.txt
# med packs, ammo packs, nade packs
3
4
0
$ server\-config\-maker < answers.txt
.EE
.in
.PP
A follow-up question that is not asked takes no answer: with 0 for private
messages, the next answer goes to the /gib question, not to the minimum name
length.
A file that answers it all the same has one answer too many and is refused.
.SH SEE ALSO
The settings reference,
.IR /usr/share/doc/server\-config\-maker/docs/settings.md ,
how the file is saved,
.IR /usr/share/doc/server\-config\-maker/docs/saving.md ,
and the README.
)";
}

inline constexpr std::string_view kMaintainer =
    "server-config-maker authors <maintainers@server-config-maker.invalid>";

namespace detail {

struct Date {
    std::string weekday;  // "Mon"
    std::string day;      // "07"
    std::string month;    // "Dec"
    std::string year;     // "2026"
};

// The parts of "2026-12-07" that changelogs write.
inline Date date_of(std::string_view iso_date) {
    const int year = std::stoi(std::string{iso_date.substr(0, 4)});
    const int month = std::stoi(std::string{iso_date.substr(5, 2)});
    const int day = std::stoi(std::string{iso_date.substr(8, 2)});
    // Sakamoto's rule for the day of the week, 0 for Sunday.
    constexpr int kMonthOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    const int y = month < 3 ? year - 1 : year;
    const int weekday = (y + y / 4 - y / 100 + y / 400 + kMonthOffsets[month - 1] + day) % 7;
    constexpr std::string_view kDays = "SunMonTueWedThuFriSat";
    constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    return {std::string{kDays.substr(static_cast<std::size_t>(weekday) * 3, 3)},
            std::string{iso_date.substr(8, 2)},
            std::string{kMonths.substr(static_cast<std::size_t>(month - 1) * 3, 3)},
            std::string{iso_date.substr(0, 4)}};
}

// "Mon, 07 Dec 2026 00:00:01 +0000" for "2026-12-07" and 1 second.
inline std::string debian_date(std::string_view iso_date, int second) {
    const Date date = date_of(iso_date);
    return date.weekday + ", " + date.day + " " + date.month + " " + date.year +
           " 00:00:" + (second < 10 ? "0" : "") + std::to_string(second) + " +0000";
}

// `text` as one change of a changelog: `mark` and the words, wrapped at 80, later
// lines indented to the first word.
inline std::string change_lines(std::string_view text, std::string_view mark) {
    std::string change{mark};
    const std::string next_line = "\n" + std::string(mark.size(), ' ');
    std::size_t line_start = 0;
    while (!text.empty()) {
        const std::string_view word = text.substr(0, text.find(' '));
        text.remove_prefix(std::min(text.size(), word.size() + 1));
        if (change.size() - line_start + 1 + word.size() > 80) {
            change += next_line;
            line_start = change.size() - mark.size();
        }
        change += ' ';
        change += word;
    }
    return change + "\n";
}

// `text` as a change of a Debian changelog: "  * " and the words, wrapped at 80.
inline std::string debian_change(std::string_view text) { return change_lines(text, "  *"); }

struct Entry {
    std::string version;
    std::string date;
    std::vector<std::string> changes;
};

// CHANGELOG.md's versions ("## VERSION - YYYY-MM-DD" headings) with their changes
// ("- change" lines), newest first.
inline std::vector<Entry> entries_of(std::string_view markdown) {
    std::vector<Entry> entries;
    while (!markdown.empty()) {
        const std::string_view line = markdown.substr(0, markdown.find('\n'));
        markdown.remove_prefix(std::min(markdown.size(), line.size() + 1));
        const std::size_t dash = line.find(" - ");
        if (line.substr(0, 3) == "## " && dash != std::string_view::npos) {
            entries.push_back(
                {std::string{line.substr(3, dash - 3)}, std::string{line.substr(dash + 3)}, {}});
        } else if (line.substr(0, 2) == "- " && !entries.empty()) {
            entries.back().changes.emplace_back(line.substr(2));
        }
    }
    return entries;
}

}  // namespace detail

// CHANGELOG.md in the format of a Debian changelog, one entry a version, newest
// first. The markdown has no time of day, and Debian wants each entry later than
// the one before: of the versions released on one day, each gets a second more
// than the one before.
inline std::string debian_changelog(std::string_view markdown) {
    const std::vector<detail::Entry> entries = detail::entries_of(markdown);
    std::vector<int> seconds(entries.size());
    for (std::size_t i = entries.size(); i-- > 1;) {
        seconds[i - 1] = entries[i - 1].date == entries[i].date ? seconds[i] + 1 : 0;
    }
    std::string text;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        text += std::string{i == 0 ? "" : "\n"} + "server-config-maker (" + entries[i].version +
                ") unstable; urgency=medium\n\n";
        for (const std::string& change : entries[i].changes) {
            text += detail::debian_change(change);
        }
        text += "\n -- " + std::string{kMaintainer} + "  " +
                detail::debian_date(entries[i].date, seconds[i]) + "\n";
    }
    return text;
}

// CHANGELOG.md as the %changelog of an RPM package: one entry a version, newest first,
// headed "* Mon Dec 07 2026 Name <mail> - VERSION-1", each version being release 1
// of its package.
inline std::string rpm_changelog(std::string_view markdown) {
    std::string text;
    for (const detail::Entry& entry : detail::entries_of(markdown)) {
        const detail::Date date = detail::date_of(entry.date);
        text += std::string{text.empty() ? "" : "\n"} + "* " + date.weekday + " " + date.month +
                " " + date.day + " " + date.year + " " + std::string{kMaintainer} + " - " +
                entry.version + "-1\n";
        for (const std::string& change : entry.changes) {
            // A % would start a macro.
            std::string escaped;
            for (const char c : change) {
                escaped += c == '%' ? std::string{"%%"} : std::string{c};
            }
            text += detail::change_lines(escaped, "-");
        }
    }
    return text;
}

}  // namespace scm::doc

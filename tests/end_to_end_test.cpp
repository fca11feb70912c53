#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "expected_config.hpp"
#include "expected_questions.hpp"
#include "program_run.hpp"

namespace scm {
namespace {

namespace fs = std::filesystem;
using expected::FollowUps;
using expected::kQuestions;
using expected::kSaved;
using expected::questions_from;
using run::Input;
using run::run_program;
using run::Workspace;

// What an administrator sees when the gates stay closed and every answer is taken.
std::string always_asked_transcript() { return questions_from(0, FollowUps::skipped); }

void replace(std::string& text, std::string_view from, std::string_view to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

std::string repeat(std::string_view text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) {
        repeated += text;
    }
    return repeated;
}

unsigned mode_of(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777U;
}

// `text` as UTF-16 code units, little-endian; swap_pairs makes them big-endian.
std::string utf16_little(std::string_view text) {
    std::string units;
    for (char c : text) {
        units += c;
        units += '\0';
    }
    return units;
}
std::string swap_pairs(std::string units) {
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        std::swap(units[i], units[i + 1]);
    }
    return units;
}

// The new files of a save that were left in the folder.
std::vector<std::string> leftovers(const Workspace& workspace) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator{workspace.path()}) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".server.cfg", 0) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

TEST(EndToEnd, EveryGateOpenWithDistinctAnswers) {
    // The yes/no gates get 1, every other question its own number.
    std::array<std::int32_t, 55> answers = expected::distinct_answers();
    for (std::string_view gate : {"g_privateMsgs", "g_shove", "g_helmetprotects", "g_maxlives"}) {
        answers.at(expected::ask_position(gate)) = 1;
    }
    std::string input;
    std::string commented = "# answers for the server\r";  // CR-only line ends
    for (std::int32_t answer : answers) {
        input += std::to_string(answer) + "\r\n";  // a file made on Windows reads the same
        commented += "  # the next question\r" + std::to_string(answer) + "# its answer\r";
    }
    std::string expected_file{expected::kDistinctConfig};
    replace(expected_file, "g_privateMsgs 113\r\n", "g_privateMsgs 1\r\n");
    replace(expected_file, "g_shove 117\r\n", "g_shove 1\r\n");
    replace(expected_file, "g_helmetprotects 136\r\n", "g_helmetprotects 1\r\n");
    replace(expected_file, "g_maxlives 142\r\n", "g_maxlives 1\r\n");

    struct Variant {
        std::string_view what;
        Input how;
        std::string input;
    };
    const Variant variants[] = {
        {"a file", Input::file, input},
        // A non-blocking pipe whose answers come late is read as a blocking one.
        {"a late non-blocking pipe", Input::late_nonblocking_pipe, input},
        {"comments", Input::file, commented},
        {"a UTF-8 mark", Input::file, "\xEF\xBB\xBF" + input},
        // The Cyrillic letter in the comment is 1A 04, the byte that ends text-mode input on
        // Windows.
        {"UTF-16LE with a comment", Input::file,
         "\xFF\xFE" + utf16_little("# ") + "\x1A\x04" + utf16_little("\r\n" + input)},
        {"UTF-16BE", Input::file, "\xFE\xFF" + swap_pairs(utf16_little(input))},
    };
    for (const Variant& variant : variants) {
        Workspace workspace;
        const run::ProgramRun run = run_program(workspace, variant.input, variant.how);
        EXPECT_EQ(run.out, questions_from(0, FollowUps::shown) + std::string{kSaved})
            << variant.what;
        EXPECT_EQ(workspace.read("server.cfg"), expected_file) << variant.what;
        EXPECT_EQ(run.err, "") << variant.what;
        EXPECT_EQ(run.exit_status, 0) << variant.what;
    }
}

// Input that ends early or fails, or a script's bad answer, with an old server.cfg
// in the folder. Input that ends saves the values as they stand; a bad answer or
// unreadable input stops at that question, keeps the old file and says why.
TEST(EndToEnd, InputThatEndsOrFails) {
    constexpr std::string_view kOld = "// the old file\r\ng_medPacks 9\r\n";
    struct Case {
        std::string_view what;
        Input how;
        std::string input;
        std::string_view err;
        std::string_view last_question;  // where a failed run stops; empty when it does not fail
        std::vector<std::pair<std::string_view, std::string_view>> file_changes;
    };
    const Case cases[] = {
        {"empty input", Input::file, "", "", "", {}},
        {"closed input", Input::closed, "", "", "", {}},
        {"a short answers file",
         Input::file,
         "3\n4",
         "",
         "",
         {{"g_medPacks 0", "g_medPacks 3"}, {"g_ammoPacks 0", "g_ammoPacks 4"}}},
        {"a folder as input",
         Input::folder,
         "",
         "Could not read the answers: Is a directory. server.cfg was not changed.\n",
         "g_medPacks",
         {}},
        {"a typo",
         Input::file,
         repeat("0\n", 8) + "yes\n" + repeat("0\n", 38),
         "Line 9: \"yes\" is not a whole number (for g_ltNades). server.cfg was not changed.\n",
         "g_ltNades",
         {}},
        {"a first byte of 0xFF",
         Input::file,
         "\xff\n5\n",
         "Line 1: \"\\xFF\" is not a whole number (for g_medPacks). server.cfg was not changed.\n",
         "g_medPacks",
         {}},
        {"a word after digits",
         Input::file,
         "12abc\n",
         "Line 1: \"12abc\" is not a whole number (for g_medPacks). server.cfg was not changed.\n",
         "g_medPacks",
         {}},
        {"escape bytes",
         Input::file,
         "0\n\x1b]0;title\x07\n",
         "Line 2: \"\\x1B]0;title\\x07\" is not a whole number (for g_ammoPacks). server.cfg was "
         "not changed.\n",
         "g_ammoPacks",
         {}},
        {"a stray Ctrl-Z and NUL",
         Input::file,
         std::string{"0\n\x1A\0\n", 5},
         "Line 2: \"\\x1A\\x00\" is not a whole number (for g_ammoPacks). server.cfg was not "
         "changed.\n",
         "g_ammoPacks",
         {}},
        {"a number too large",
         Input::file,
         "0\n0\n0\n0\n2147483648\n",
         "Line 5: \"2147483648\" is outside -2147483648 to 2147483647 (for g_goomba). server.cfg "
         "was not changed.\n",
         "g_goomba",
         {}},
        // A file holds exactly the answers asked; a stream may go on for ever.
        {"one line per setting, the follow-ups closed",
         Input::file,
         repeat("0\n", 55),
         "Line 48: \"0\" comes after the last question (47 were asked). server.cfg was not "
         "changed.\n",
         "g_nadepacks",
         {}},
        {"an entry for the closing pause after the answers",
         Input::file,
         repeat("0\n", 47) + "ok\n",
         "Line 48: \"ok\" comes after the last question (47 were asked). server.cfg was not "
         "changed.\n",
         "g_nadepacks",
         {}},
        {"the answers, then comments and blank lines",
         Input::file,
         repeat("0\n", 47) + "\n# that was all\r\n  \t\n",
         "",
         "",
         {{"g_headshotdmg 15", "g_headshotdmg 0"}}},
        {"yes 0 |", Input::endless_zeros, "", "", "", {{"g_headshotdmg 15", "g_headshotdmg 0"}}},
        // The closing pause would take anything; the last question must not.
        {"a bad last answer",
         Input::file,
         repeat("0\n", 46) + "5,000\n",
         "Line 47: \"5,000\" is not a whole number (for g_nadepacks). server.cfg was not "
         "changed.\n",
         "g_nadepacks",
         {}},
    };
    for (const Case& c : cases) {
        if (c.how != Input::file && run::windows_build()) {
            continue;  // Wine shows a closed descriptor and a folder alike, as a file it cannot
                       // read
        }
        Workspace workspace;
        std::ofstream{workspace.path() / "server.cfg", std::ios::binary} << kOld;
        const run::ProgramRun run =
            run_program(workspace, c.input, c.how, "HOME=/nonexistent", "--help -x");
        std::string expected_out = always_asked_transcript() + std::string{kSaved};
        std::string expected_file = expected::starting_config();
        if (!c.last_question.empty()) {
            const std::string question{kQuestions.at(expected::ask_position(c.last_question)).text};
            expected_out.resize(expected_out.find(question) + question.size());
            expected_file = kOld;
        }
        for (const auto& [from, to] : c.file_changes) {
            replace(expected_file, std::string{from} + "\r\n", std::string{to} + "\r\n");
        }
        EXPECT_EQ(run.out, expected_out) << c.what;
        EXPECT_EQ(workspace.read("server.cfg"), expected_file) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(run.exit_status, c.last_question.empty() ? 0 : 1) << c.what;
        EXPECT_EQ(leftovers(workspace), std::vector<std::string>{}) << c.what;
    }
}

TEST(EndToEnd, NewFileModeFollowsTheUmask) {
    if (run::windows_build()) {
        GTEST_SKIP() << "a Windows build makes an ordinary writable file";
    }
    const std::pair<std::string_view, unsigned> cases[] = {{"0", 0664U}, {"027", 0640U}};
    for (const auto& [umask, mode] : cases) {
        Workspace workspace;
        const run::ProgramRun run =
            run_program(workspace, "", Input::file, "umask " + std::string{umask} + ";");
        ASSERT_EQ(run.exit_status, 0);
        EXPECT_EQ(mode_of(workspace.path() / "server.cfg"), mode) << "umask " << umask;
    }
}

std::string old_file() { return {std::string(4500, '#')}; }

void write_old_file(const fs::path& path) {
    std::ofstream{path, std::ios::binary} << old_file();
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

struct stat status_of(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status;
}

void hard_link(const fs::path& folder) {
    write_old_file(folder / "real.cfg");
    fs::create_hard_link(folder / "real.cfg", folder / "server.cfg");
}

// Where a row of the save's tables runs. Rows that trace or switch users run in the
// g++ pass only, which keeps the whole run in its time; they run a copy of the
// program that every user may start.
enum class Runs : std::uint8_t { everywhere, posix, root, traced };

bool runs_here(Runs runs, std::string_view what) {
#ifdef __clang__
    constexpr bool kGccPass = false;
#else
    constexpr bool kGccPass = true;
#endif
    static const bool can_trace =
        std::system("strace -qq -o /dev/null true 2>/dev/null") == 0;  // NOLINT(cert-env33-c)
    static const Workspace shared;
    static const bool copied = [] {
        const fs::path copy = shared.path() / "server-config-maker";
        fs::permissions(shared.path(), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
        return fs::copy_file(SCM_PROGRAM_PATH, copy) && setenv("SCM_PROGRAM", copy.c_str(), 1) == 0;
    }();
    static_cast<void>(copied);
    const bool posix = !run::windows_build();
    if (runs == Runs::traced && posix && kGccPass && !can_trace) {
        std::cout << "skipped, strace cannot trace here: " << what << '\n';
    }
    return runs == Runs::everywhere ||
           (posix && (runs == Runs::posix ||
                      (kGccPass && (runs == Runs::root ? geteuid() == 0 : can_trace))));
}

// A traced run of the program under its own process id, so that `$$` names its new
// file; the sanitizers' leak check cannot run under a tracer.
constexpr std::string_view kTraced =
    "export ASAN_OPTIONS=detect_leaks=0; exec strace -D -qq -o .run/trace ";
std::string traced(std::string_view options) { return std::string{kTraced} + std::string{options}; }

// The calls in a trace, one word each.
std::string calls_in(const Workspace& workspace) {
    std::istringstream trace{workspace.read(".run/trace").value_or("")};
    std::string calls;
    for (std::string line; std::getline(trace, line);) {
        calls += line.substr(0, line.find('(')) + ' ';
    }
    return calls;
}

// What an administrator set up around an old server.cfg survives a save: links
// stay links and the file behind them gets the new text with its mode and owner
// kept. A file that replacing would part from its other name, its attributes or
// its owner is written in place, and so is one that cannot be renamed over. A wait
// for another program is announced.
TEST(EndToEnd, ExistingFileKeepsItsLinksModeAndAttributes) {
    // The columns stand in the order a row reads, not the tightest one.
    struct Case {  // NOLINT(clang-analyzer-optin.performance.Padding)
        std::string_view what;
        void (*prepare)(const fs::path& folder);
        std::string_view written;  // the file that must get the text; "" for standard output
        bool in_place;
        Runs runs;
        std::string shell_prefix;
        unsigned mode;       // 0: not checked
        std::int64_t owner;  // user and group; -1: not checked
        std::string_view err;
        std::string_view steps;  // the calls in the trace
    };
    const auto old = [](const fs::path& folder) { write_old_file(folder / "server.cfg"); };
    const auto nobodys = [](const fs::path& folder) {
        write_old_file(folder / "server.cfg");
        ASSERT_EQ(chown((folder / "server.cfg").c_str(), 65534, 65534), 0);
    };
    const Case cases[] = {
        {"a chain of relative links into another folder",
         [](const fs::path& folder) {
             fs::create_directory(folder / "other");
             write_old_file(folder / "other/real.cfg");
             fs::create_symlink("real.cfg", folder / "other/link.cfg");
             fs::create_symlink("other/link.cfg", folder / "server.cfg");
         },
         "other/real.cfg", false, Runs::posix, "umask 0;", 0600, -1, "", ""},
        {"a hard link", hard_link, "real.cfg", true, Runs::everywhere, "umask 0;",
         run::windows_build() ? 0U : 0600U, -1, "", ""},
        {"an extended attribute",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             ASSERT_EQ(setxattr((folder / "server.cfg").c_str(), "user.note", "x", 1, 0), 0);
         },
         "server.cfg", true, Runs::posix, "umask 0;", 0600, -1, "", ""},
        // Only the calls on the folder and on the new file are traced.
        {"the new file flushed and closed, renamed, then the folder flushed", old, "server.cfg",
         false, Runs::traced,
         traced(R"(-P "$PWD" -P "$PWD/.server.cfg.$$.0" -e trace=fsync,close,renameat)"), 0600, -1,
         "", "fsync close renameat fsync close "},
        {"set-ID bits of a user's own file",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             ASSERT_EQ(chown((folder / "server.cfg").c_str(), 65534, 65534), 0);
             fs::permissions(folder / "server.cfg", static_cast<fs::perms>(06754));
             fs::permissions(folder, fs::perms::all);
         },
         "server.cfg", false, Runs::root, "setpriv --reuid=nobody --regid=nogroup --clear-groups",
         06754, 65534, "", ""},
        {"another user's file saved by root", nobodys, "server.cfg", false, Runs::root, "", 0600,
         65534, "", ""},
        {"root that may not give owners", nobodys, "server.cfg", true, Runs::root,
         "setpriv --bounding-set=-chown", 0600, 65534, "", ""},
        // The holder says on standard error if the file changed before it let go.
        {"a lock held by another program", hard_link, "real.cfg", true, Runs::posix,
         "cp real.cfg old.cfg; (flock real.cfg sh -c 'sleep 1; cmp -s real.cfg old.cfg || echo "
         "changed >&2') & sleep 0.3;",
         0600, -1, "Waiting for another program to release server.cfg...\n", ""},
        {"a named pipe that is read late",
         [](const fs::path& folder) {
             ASSERT_EQ(mkfifo((folder / "server.cfg").c_str(), 0600), 0);
         },
         "read.cfg", true, Runs::posix, "(sleep 0.3; cat server.cfg >read.cfg) &", 0, -1,
         "Waiting for a program to read server.cfg...\n", ""},
        {"a link to standard output",
         [](const fs::path& folder) { fs::create_symlink("/dev/stdout", folder / "server.cfg"); },
         "", true, Runs::posix, "", 0, -1, "", ""},
    };
    for (const Case& c : cases) {
        if (!runs_here(c.runs, c.what)) {
            continue;
        }
        Workspace workspace;
        c.prepare(workspace.path());
        const fs::path written = workspace.path() / c.written;
        const bool was_link = fs::is_symlink(workspace.path() / "server.cfg");
        const bool existed = !c.written.empty() && fs::exists(written);
        const ino_t inode = existed ? status_of(written).st_ino : 0;

        const run::ProgramRun run = run_program(workspace, "", Input::file, c.shell_prefix);
        ASSERT_EQ(run.exit_status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(run.err, c.err) << c.what;
        if (c.written.empty()) {
            EXPECT_EQ(run.out,
                      always_asked_transcript() + expected::starting_config() + std::string{kSaved})
                << c.what;
            continue;
        }
        EXPECT_EQ(workspace.read(c.written), expected::starting_config()) << c.what;
        EXPECT_EQ(fs::is_symlink(workspace.path() / "server.cfg"), was_link) << c.what;
        if (c.mode != 0) {
            EXPECT_EQ(mode_of(written), c.mode) << c.what;
        }
        if (existed) {
            EXPECT_EQ(status_of(written).st_ino == inode, c.in_place) << c.what;
        }
        if (c.owner >= 0) {
            EXPECT_EQ(status_of(written).st_uid, c.owner) << c.what;
            EXPECT_EQ(status_of(written).st_gid, c.owner) << c.what;
        }
        EXPECT_EQ(calls_in(workspace), c.steps) << c.what;
        EXPECT_EQ(leftovers(workspace), std::vector<std::string>{}) << c.what;
    }
}

// A save that fails keeps the old file byte for byte and leaves nothing beside it;
// a signal during the save takes effect only once the new file is in place.
TEST(EndToEnd, FailedSaveIsReported) {
    struct Case {  // NOLINT(clang-analyzer-optin.performance.Padding): as above
        std::string_view what;
        Runs runs;
        void (*prepare)(const fs::path& folder);
        std::string shell_prefix;
        std::string_view error;
        int exit_status = 1;
        bool saved = false;  // the file holds the new text
    };
    const auto old = [](const fs::path& p) { write_old_file(p / "server.cfg"); };
    const Case cases[] = {
        // Windows gives no more reason than that for a folder.
        {"a folder", Runs::everywhere,
         [](const fs::path& p) { fs::create_directory(p / "server.cfg"); }, "",
         run::windows_build() ? "Could not save server.cfg: Permission denied\n"
                              : "Could not save server.cfg: Is a directory\n"},
        {"a full disk", Runs::everywhere,
         [](const fs::path& p) { fs::create_symlink("/dev/full", p / "server.cfg"); }, "",
         "Could not save server.cfg: No space left on device\n"},
        // One block of 512 bytes: the first write is cut short, the next one fails
        // (Wine turns that failure into "Invalid argument"). The program itself
        // ignores the signal that the limit sends.
        {"a file-size limit, with an old file", Runs::everywhere, old,
         run::windows_build() ? "trap '' XFSZ; ulimit -f 1;" : "ulimit -f 1;",
         run::windows_build() ? "Could not save server.cfg: Invalid argument\n"
                              : "Could not save server.cfg: File too large\n"},
        // Written in place, the limit is checked before the first byte.
        {"a file-size limit in place", Runs::posix, hard_link, "ulimit -f 1;",
         "Could not save server.cfg: File too large\n"},
        {"a link into a missing folder", Runs::posix,
         [](const fs::path& p) { fs::create_symlink("missing/server.cfg", p / "server.cfg"); }, "",
         "Could not save server.cfg: No such file or directory\n"},
        {"a loop of links", Runs::posix,
         [](const fs::path& p) { fs::create_symlink("server.cfg", p / "server.cfg"); }, "",
         "Could not save server.cfg: Too many levels of symbolic links\n"},
        // Kept although the folder would let the user replace it.
        {"a read-only file of another user's", Runs::root,
         [](const fs::path& p) {
             write_old_file(p / "server.cfg");
             fs::permissions(p / "server.cfg", fs::perms::owner_read);
             fs::permissions(p, fs::perms::all);
             ASSERT_EQ(chown((p / "server.cfg").c_str(), 65534, 65534), 0);
         },
         "setpriv --reuid=nobody --regid=nogroup --clear-groups",
         "Could not save server.cfg: Permission denied\n"},
        // The first fsync is the new file's.
        {"a failed flush of the new file", Runs::traced, old,
         traced("-e trace=fsync -e inject=fsync:error=EIO:when=1"),
         "Could not save server.cfg: Input/output error\n"},
        {"a failed flush where there was no file", Runs::traced, [](const fs::path&) {},
         traced("-e trace=fsync -e inject=fsync:error=EIO:when=1"),
         "Could not save server.cfg: Input/output error\n"},
        {"a failed close of the new file", Runs::traced, old,
         traced(R"(-P "$PWD/.server.cfg.$$.0" -e inject=close:error=EIO:when=1)"),
         "Could not save server.cfg: Input/output error\n"},
        {"no room for the text in place", Runs::traced, hard_link,
         traced("-e trace=fallocate -e inject=fallocate:error=ENOSPC"),
         "Could not save server.cfg: No space left on device\n"},
        {"a signal while the new file is flushed", Runs::traced, old,
         "(sleep 0.3; kill -USR1 $$) & " +
             traced("-e trace=fsync -e inject=fsync:delay_enter=1000000:when=1"),
         "User defined signal 1\n", 128 + SIGUSR1, true},  // the shell's word on how it ended
    };
    for (const Case& c : cases) {
        if (!runs_here(c.runs, c.what)) {
            continue;
        }
        Workspace workspace;
        c.prepare(workspace.path());
        std::error_code no_file;
        const bool regular = fs::is_regular_file(workspace.path() / "server.cfg", no_file);
        const bool existed = fs::exists(fs::symlink_status(workspace.path() / "server.cfg"));
        const run::ProgramRun run = run_program(workspace, "", Input::file, c.shell_prefix);
        EXPECT_EQ(run.out, always_asked_transcript()) << c.what;
        EXPECT_EQ(run.err, c.error) << c.what;
        EXPECT_EQ(run.exit_status, c.exit_status) << c.what;
        if (regular) {
            EXPECT_EQ(workspace.read("server.cfg"),
                      c.saved ? expected::starting_config() : old_file())
                << c.what;
        }
        if (!existed) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(workspace.path() / "server.cfg"))) << c.what;
        }
        EXPECT_EQ(leftovers(workspace), std::vector<std::string>{}) << c.what;
    }
}

// Root saves in a folder of another user's, through a link to a folder that the
// user keeps switching between one of their own and one of root's: each save is
// made in the one folder that holds the file it opened, with that file's owner, so
// nothing of the user's ever lands in root's folder.
TEST(EndToEnd, SwitchedFolderLinkNeverMixesOwners) {
    if (!runs_here(Runs::root, "a switched folder link") ||
        !runs_here(Runs::traced, "a switched folder link")) {
        GTEST_SKIP() << "needs POSIX links, root and strace";
    }
    Workspace users;
    Workspace roots;
    write_old_file(roots.path() / "server.cfg");
    fs::create_directory(users.path() / "mine");
    write_old_file(users.path() / "mine/server.cfg");
    fs::create_symlink("x/server.cfg", users.path() / "server.cfg");
    fs::create_symlink("mine", users.path() / "x");
    for (const fs::path& path :
         {users.path(), users.path() / "mine", users.path() / "mine/server.cfg"}) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    // Twenty saves, each with its opens, looks and flushes slowed, while the link keeps switching.
    const std::string roots_folder = roots.path().string();
    const run::ProgramRun run = run_program(
        users, "", Input::file,
        "(while :; do ln -sfn '" + roots_folder +
            "' x.new; mv -T x.new x; ln -sfn mine x.new; mv -T x.new x; done) & switching=$!; "
            "for save in $(seq 20); do strace -f -qq -o /dev/null "
            "-e trace=openat,newfstatat,fsync -e inject=all:delay_enter=5000",
        "</dev/null >/dev/null 2>&1; done; kill $switching");
    ASSERT_EQ(run.exit_status, 0);
    for (const fs::directory_entry& entry : fs::directory_iterator{roots.path()}) {
        EXPECT_EQ(status_of(entry.path()).st_uid, 0U) << entry.path();
    }
}

}  // namespace
}  // namespace scm

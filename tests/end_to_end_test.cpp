#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <map>
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

bool can_trace() {
    static const bool can =
        std::system("strace -qq -o /dev/null true 2>/dev/null") == 0;  // NOLINT(cert-env33-c)
    return can;
}

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
    constexpr std::string_view kInvalid =
        "Could not read the answers: Invalid argument. server.cfg was not changed.\n";
    const bool wine = run::windows_build();
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
        // Wine hands a closed standard input a handle on the current folder.
        {"closed input", Input::closed, "", wine ? kInvalid : "", wine ? "g_medPacks" : "", {}},
        {"no input handle at all", Input::no_handle, "", "", "", {}},
        {"a short answers file",
         Input::file,
         "3\n4",
         "",
         "",
         {{"g_medPacks 0", "g_medPacks 3"}, {"g_ammoPacks 0", "g_ammoPacks 4"}}},
        {"a folder as input",
         Input::folder,
         "",
         wine ? kInvalid
              : "Could not read the answers: Is a directory. server.cfg was not changed.\n",
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
        {"a read that fails after the answers",
         Input::read_fails_after_the_input,
         repeat("0\n", 47),
         "Could not read the answers: Input/output error. server.cfg was not changed.\n",
         "g_nadepacks",
         {}},
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
        if (c.how == Input::read_fails_after_the_input && !can_trace()) {
            continue;
        }
        if ((c.how == Input::no_handle) != wine && c.how != Input::file && c.how != Input::closed &&
            c.how != Input::folder) {
            continue;
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

void write_file(const fs::path& path, std::string_view text) {
    std::ofstream{path, std::ios::binary} << text;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}
void write_old_file(const fs::path& path) { write_file(path, old_file()); }

struct stat status_of(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status;
}

void hard_link(const fs::path& folder) {
    write_old_file(folder / "real.cfg");
    fs::create_hard_link(folder / "real.cfg", folder / "server.cfg");
}

// Ids and a mode for a file or folder, as root sets them up.
void give(const fs::path& path, uid_t owner, gid_t group, unsigned mode) {
    ASSERT_EQ(chown(path.c_str(), owner, group), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

// Another user's file or named pipe, as planted in a shared folder.
void nobodys_file(const fs::path& folder) {
    write_old_file(folder / "server.cfg");
    ASSERT_EQ(chown((folder / "server.cfg").c_str(), 65534, 65534), 0);
}
void nobodys_pipe(const fs::path& folder) {
    ASSERT_EQ(mkfifo((folder / "server.cfg").c_str(), 0600), 0);
    ASSERT_EQ(chown((folder / "server.cfg").c_str(), 65534, 65534), 0);
}

// Sticky folders that all users, or only the group, may write.
constexpr std::string_view kAll = "chmod 1777 .";
constexpr std::string_view kGroup = "chmod 1770 .";

// The run in the folder `setup` makes sticky, with the kernel's guards for planted files
// and pipes at `level`, for this run alone.
std::string sticky(std::string_view setup, char level) {
    return std::string{setup} + "; echo " + level +
           " >.run/level; unshare -m sh -c 'for guard in regular fifos; do mount --bind "
           ".run/level /proc/sys/fs/protected_$guard; done; exec \"$0\"'";
}

void run_or_fail(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;  // NOLINT(cert-env33-c)
}

// A default access list on the folder gives every new file in it one of its own.
void default_access_list(const fs::path& folder) {
    run_or_fail("setfacl -d -m u:nobody:rw '" + folder.string() + "'");
}

bool has_access_list(const fs::path& path) {
    return getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) >= 0;
}

// Where a row of the save's tables runs. Rows that trace or switch users run in the
// g++ pass only, which keeps the whole run in its time; they run a copy of the
// program that every user may start. That pass's program is static, so a trace
// holds no loader's calls and the save's calls can be counted.
// Rows that the sanitizers cannot run under (too few descriptors) run there too.
// Root rows may trace as well; wine_too rows are traced here, and run under Wine too.
enum class Runs : std::uint8_t { everywhere, posix, unsanitized, root, traced, wine_too, windows };

bool runs_here(Runs runs, std::string_view what) {
#ifdef __clang__
    constexpr bool kGccPass = false;
#else
    constexpr bool kGccPass = true;
#endif
    static const Workspace shared;
    static const bool copied = [] {
        const fs::path copy = shared.path() / "server-config-maker";
        fs::permissions(shared.path(), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
        return fs::copy_file(SCM_PROGRAM_PATH, copy) && setenv("SCM_PROGRAM", copy.c_str(), 1) == 0;
    }();
    static_cast<void>(copied);
    const bool posix = !run::windows_build();
    if ((runs == Runs::traced || runs == Runs::wine_too) && posix && kGccPass && !can_trace()) {
        std::cout << "skipped, strace cannot trace here: " << what << '\n';
    }
    if (!posix) {
        const bool wine =
            runs == Runs::windows || runs == Runs::wine_too || runs == Runs::everywhere;
        if (wine) {
            std::cout << "row: " << what << std::endl;  // named if it runs past its time
        }
        return wine;
    }
    if (runs == Runs::everywhere || runs == Runs::posix) {
        return true;
    }
    if (runs == Runs::windows || !kGccPass) {
        return false;
    }
    return runs == Runs::unsanitized || ((runs != Runs::root || geteuid() == 0) && can_trace());
}

// A traced run of the program under its own process id, so that `$$` names it; the
// sanitizers' leak check cannot run under a tracer.
constexpr std::string_view kTraced =
    "export ASAN_OPTIONS=detect_leaks=0; exec strace -D -qq -o .run/trace ";
std::string traced(std::string_view options) { return std::string{kTraced} + std::string{options}; }

// Waits up to 20 s (Wine may take that long to start on a busy machine) until
// `condition` holds; where it never does, a line on the run's standard error names what
// it waited for, which fails the row.
std::string wait_for(std::string_view condition, std::string_view what) {
    return "i=0; until " + std::string{condition} +
           "; do i=$((i+1)); [ $i -lt 400 ] || { echo 'no " + std::string{what} +
           "' >&2; break; }; sleep 0.05; done; ";
}

// A traced run whose first flush, the new file's, takes a second, and `action` done
// meanwhile: under Wine once the trace shows that flush begun (Wine's calls come from
// threads of its own), here after a moment, as the new file has no name.
std::string during_flush(std::string_view action) {
    const bool wine = run::windows_build();
    return (wine ? "(" + wait_for("grep -qs 'fsync(' .run/trace", "flush")
                 : std::string{"(sleep 0.3; "}) +
           std::string{action} + ") & " + traced(wine ? "-f " : "") +
           "-e trace=fsync -e inject=fsync:delay_enter=1000000:when=1";
}

// Under Wine: the calls of this run's wineserver, which renames and removes files for
// every Windows program of its prefix, traced with `options` while the run lasts. It
// is the one that works in the folder named after the prefix's device and inode.
std::string server_traced(std::string_view options) {
    return R"(server=$(printf '/server-%x-%x' $(stat -c '%d %i' "${WINEPREFIX:-$HOME/.wine}")); )"
           R"(for p in $(pgrep -x 'wineserver(64)?'); do case $(readlink /proc/$p/cwd) in )"
           R"(*$server) wineserver=$p;; esac; done; strace -f -o .run/server -p "$wineserver" )" +
           std::string{options} +
           " 2>.run/tracer & tracer=$!; trap 'kill $tracer; wait $tracer 2>/dev/null' EXIT; until "
           "grep -qs attached .run/tracer || ! kill -0 $tracer; do sleep 0.01; done;";
}

// The calls in a trace, one word each; a call that is given a mode shows it:
// "openat(0600)".
std::string calls_in(const Workspace& workspace) {
    std::istringstream trace{workspace.read(".run/trace").value_or("")};
    std::string calls;
    for (std::string line; std::getline(trace, line);) {
        calls += line.substr(0, line.find('('));
        const std::size_t end = line.find(')');
        const std::size_t last = line.rfind(", ", end);
        const std::string argument =
            last == std::string::npos ? "" : line.substr(last + 2, end - last - 2);
        if (argument.size() >= 4 && argument[0] == '0' &&
            argument.find_first_not_of("01234567") == std::string::npos) {
            calls += "(" + argument + ")";
        }
        calls += ' ';
    }
    return calls;
}

// The regular files of the folder but `except`, with their bytes.
std::map<std::string, std::string> other_files(const Workspace& workspace,
                                               std::initializer_list<std::string_view> except) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator{workspace.path()}) {
        const std::string name = entry.path().filename().string();
        const auto same = [&](std::string_view other) {  // as Windows compares names
            return strcasecmp(std::string{other}.c_str(), name.c_str()) == 0;
        };
        if (entry.is_regular_file() && !entry.is_symlink() &&
            std::none_of(except.begin(), except.end(), same)) {
            files[name] = workspace.read(name).value_or("");
        }
    }
    return files;
}

// Under Wine: another program holds server.cfg as `how` says (see
// hold_file_windows.cpp) for `seconds`.
std::string held(std::string_view how, int seconds) {
    const char* program = std::getenv("SCM_WINDOWS_PROGRAM");
    if (program == nullptr) {
        return {};
    }
    // Its standard output is not the run's, which is read to its end. The lock's holder
    // says whether the file changed when it lets go: the run waits for its word.
    return "wine '" + (fs::path{program}.parent_path() / "hold_file.exe").string() + "' " +
           std::string{how} + ' ' + std::to_string(seconds) + " >/dev/null & " +
           wait_for("[ -e .run/held ]", "holder") + (how == "lock" ? "trap wait EXIT;" : "");
}

// Another program holds the lock on real.cfg for a second, then does `then`; the run
// starts once it holds the lock, however long a busy machine takes to take it.
std::string locked(std::string_view then) {
    return "(flock real.cfg sh -c 'touch .run/locked; sleep 1; " + std::string{then} +
           "') & until [ -e .run/locked ]; do sleep 0.05; done;";
}

// A FIFO that another program holds open for reading and writing, filled with
// 64 KiB that it does not read for a second: a write to it waits. Then it does
// `then`, with the FIFO as its descriptor 3. The run starts once the FIFO is full,
// however long a busy machine takes to fill it.
std::string full_pipe(std::string_view then) {
    return "(exec 3<>server.cfg; head -c 65536 /dev/zero >&3; touch .run/full; sleep 1; " +
           std::string{then} + ") & until [ -e .run/full ]; do sleep 0.05; done;";
}

// What an administrator set up around an old server.cfg survives a save: links
// stay links and the file behind them gets the new text with its mode and owner
// kept, and no other file changes. A file that replacing would part from its other
// name, its attributes or its owner is written in place, and so is one that cannot
// be renamed over. A wait for another program is announced.
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
        std::string_view steps{};  // the calls in the trace, where there is one
        // The file written is the program's standard output: it keeps what it held and
        // gets the questions, the text and the closing message.
        bool output = false;
    };
    const auto old = [](const fs::path& folder) { write_old_file(folder / "server.cfg"); };
    const auto none = [](const fs::path&) {};
    const auto link_beside = [](const fs::path& folder) {
        write_old_file(folder / "real.cfg");
        fs::create_symlink("real.cfg", folder / "server.cfg");
    };
    const std::string as_nobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";
    const std::string_view release = "Waiting for another program to release server.cfg...\n";
    // Another program holds a lease on the file; the open that breaks it tells it to
    // let go, and it goes.
    const std::string leased =
        "python3 -c 'import fcntl, os, time; f = os.open(\"server.cfg\", os.O_RDONLY); "
        "fcntl.fcntl(f, fcntl.F_SETLEASE, fcntl.F_RDLCK); open(\".run/held\", \"w\"); "
        "time.sleep(1)' & while [ ! -e .run/held ]; do sleep 0.05; done;";
    const Case cases[] = {
        {"a chain of relative links into another folder",
         [](const fs::path& folder) {
             fs::create_directory(folder / "other");
             write_old_file(folder / "other/real.cfg");
             fs::create_symlink("real.cfg", folder / "other/link.cfg");
             fs::create_symlink("other/link.cfg", folder / "server.cfg");
         },
         "other/real.cfg", false, Runs::posix, "umask 0;", 0600, -1, ""},
        // Wine shows it as a plain file: it is written in place, not replaced by one.
        {"a link beside the file", link_beside, "real.cfg", run::windows_build(), Runs::everywhere,
         "", 0, -1, ""},
        // The file gets no standard stream's number, and no old tail.
        {"a link beside the file, standard output closed", link_beside, "real.cfg", false,
         Runs::posix, "exec >&-;", 0600, -1, ""},
        // Only a link to it is written through standard output; written in place, it gets
        // nothing after the text.
        {"standard output redirected to the file", old, "server.cfg", false, Runs::posix,
         "exec >server.cfg;", 0600, -1, ""},
        {"standard output redirected to a file of two names", hard_link, "real.cfg", true,
         Runs::everywhere, "exec >server.cfg;", run::windows_build() ? 0U : 0600U, -1, ""},
        {"a file named in capitals",
         [](const fs::path& folder) { write_old_file(folder / "SERVER.CFG"); }, "server.cfg", false,
         Runs::windows, "", 0, -1, ""},
        // The folder is 0700, so its default list gives a new file 0600, whatever the umask.
        {"a folder whose default access list gives others nothing",
         [](const fs::path& f) { run_or_fail("setfacl -d -m o::- '" + f.string() + "'"); },
         "server.cfg", false, Runs::posix, "umask 0;", 0600, -1, ""},
        {"a hard link", hard_link, "real.cfg", true, Runs::everywhere, "umask 0;",
         run::windows_build() ? 0U : 0600U, -1, ""},
        // The backup of a replace on Windows has a name of the save's own.
        {"a file of the user's own beside it",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             write_file(folder / "server.cfg.old", "the user's own\n");
         },
         "server.cfg", false, Runs::everywhere, "", 0, -1, ""},
        {"an extended attribute",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             ASSERT_EQ(setxattr((folder / "server.cfg").c_str(), "user.note", "x", 1, 0), 0);
         },
         "server.cfg", true, Runs::posix, "umask 0;", 0600, -1, ""},
        {"a label of the system's is no reason to keep the file",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             const std::string_view label = "system_u:object_r:tmp_t:s0";
             ASSERT_EQ(setxattr((folder / "server.cfg").c_str(), "security.selinux", label.data(),
                                label.size(), 0),
                       0);
         },
         "server.cfg", false, Runs::root, "", 0600, -1, ""},
        // A first save: made 0664, less the umask, before the text; linked in once flushed.
        {"a first save's calls", none, "server.cfg", false, Runs::traced,
         "umask 002;" + traced("-e trace=openat,fchmod,fsync,linkat,renameat,close"), 0664, -1, "",
         "openat(0664) fchmod(0664) fsync linkat close openat fsync close "},
        // A replace: the new file private until whole, flushed, linked beside the entry,
        // renamed over it, then the folder flushed.
        {"a replace's calls", old, "server.cfg", false, Runs::traced,
         traced("-e trace=openat,fsync,linkat,renameat,close"), 0600, -1, "",
         "openat openat(0600) fsync linkat close renameat openat fsync close close "},
        // Folders that cannot be flushed: nothing to report.
        {"a file system that cannot flush folders", none, "server.cfg", false, Runs::traced,
         traced("-e trace=fsync -e inject=fsync:error=EINVAL:when=2"), 0, -1, ""},
        {"a folder this user may write but not read",
         [](const fs::path& f) { give(f, 0, 0, 0733); }, "server.cfg", false, Runs::root, as_nobody,
         0, 65534, ""},
        {"no unnamed files: a named one", none, "server.cfg", false, Runs::traced,
         "umask 002;" + traced("-e trace=openat -e inject=openat:error=EOPNOTSUPP:when=1"), 0664,
         -1, ""},
        {"no /proc to link from: a named one", none, "server.cfg", false, Runs::traced,
         "umask 002;" + traced("-e trace=linkat -e inject=linkat:error=ENOENT"), 0664, -1, ""},
        {"a file system without links: a named one", old, "server.cfg", false, Runs::traced,
         traced("-e trace=linkat -e inject=linkat:error=EPERM"), 0600, -1, ""},
        // Once the new file is in place, the old one's descriptor cannot fail the save.
        {"a failed close of the old file", old, "server.cfg", false, Runs::traced,
         traced(R"(-P "$PWD/server.cfg" -e inject=close:error=EIO)"), 0600, -1, ""},
        // Written in place: locked, the room reserved, written, cut, the mode, flushed.
        {"a write in place's calls", hard_link, "real.cfg", true, Runs::traced,
         traced(R"(-P "$PWD/server.cfg" -e trace=flock,fallocate,pwrite64,ftruncate,fchmod,fsync)"),
         0600, -1, "", "flock fallocate pwrite64 ftruncate fchmod(0600) fsync "},
        {"no reserving room", hard_link, "real.cfg", true, Runs::traced,
         traced("-e trace=fallocate -e inject=fallocate:error=EOPNOTSUPP"), 0600, -1, ""},
        {"no locks", hard_link, "real.cfg", true, Runs::traced,
         traced("-e trace=flock -e inject=flock:error=ENOLCK"), 0600, -1, ""},
        // Another program's file takes the name first, or the old one goes or is renamed
        // over: the run starts over and replaces what the name holds then.
        {"another program saves first", none, "server.cfg", false, Runs::wine_too,
         during_flush("echo x >server.cfg"), 0, -1, ""},
        {"the name removed during the save", old, "server.cfg", false, Runs::wine_too,
         during_flush("rm server.cfg"), 0, -1, ""},
        // By a file with two names, which is written in place, while the old file lives on.
        {"the name given to another file during the save", old, "other.cfg", true, Runs::wine_too,
         during_flush("mv server.cfg .run/old.cfg; echo x >other.cfg; ln other.cfg server.cfg"), 0,
         -1, ""},
        // Windows leaves a replace half done, then lets the new file in after a moment.
        {"a replace half done, then finished", old, "server.cfg", false, Runs::windows,
         server_traced("-e inject=rename:error=EACCES:when=2..3"), 0, -1, ""},
        {"set-ID bits of a user's own file",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             give(folder / "server.cfg", 65534, 65534, 06754);
             fs::permissions(folder, fs::perms::all);
         },
         "server.cfg", false, Runs::root, as_nobody, 06754, 65534, ""},
        {"set-ID bits of a user's own file in place",
         [](const fs::path& folder) {
             hard_link(folder);
             give(folder / "real.cfg", 65534, 65534, 06754);
             fs::permissions(folder, fs::perms::all);
         },
         "real.cfg", true, Runs::root, as_nobody, 06754, 65534, ""},
        // Only its owner may change its mode.
        {"another user's file that the group may write",
         [](const fs::path& folder) {
             hard_link(folder);
             give(folder / "real.cfg", 0, 65534, 0664);
             fs::permissions(folder, fs::perms::all);
         },
         "real.cfg", true, Runs::root, as_nobody, 0664, -1, ""},
        {"a folder that takes no new file",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             give(folder / "server.cfg", 65534, 65534, 0600);
             give(folder, 0, 0, 0755);
         },
         "server.cfg", true, Runs::root, as_nobody, 0600, 65534, ""},
        {"a folder whose parent may no longer be searched",
         [](const fs::path& folder) {
             fs::create_directories(folder / "d/e");
             write_old_file(folder / "d/e/server.cfg");
             give(folder, 0, 0, 0755);
             give(folder / "d", 0, 0, 0755);
             give(folder / "d/e", 65534, 65534, 0755);
             give(folder / "d/e/server.cfg", 65534, 65534, 0640);
         },
         "d/e/server.cfg", false, Runs::root,
         "(sleep 0.3; chmod 700 d) & " + as_nobody + " sh -c 'cd d/e && sleep 0.6 && exec \"$0\"'",
         0640, 65534, ""},
        {"another user's file saved by root", nobodys_file, "server.cfg", false, Runs::root, "",
         0600, 65534, ""},
        {"root that may not give owners", nobodys_file, "server.cfg", true, Runs::root,
         "setpriv --bounding-set=-chown", 0600, 65534, ""},
        {"an owner that has no name in a user namespace",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             give(folder / "server.cfg", 1000, 1000, 0666);
         },
         "server.cfg", true, Runs::root, "unshare -U -r", 0666, 1000, ""},
        {"a file mounted alone",
         [](const fs::path& folder) {
             write_old_file(folder / "real.cfg");
             write_file(folder / "server.cfg", "");
         },
         "real.cfg", true, Runs::root,
         "unshare -m sh -c 'mount --bind real.cfg server.cfg && exec \"$0\"'", 0600, -1, ""},
        // No one gains access through the folder's default access list.
        {"a folder with a default access list",
         [](const fs::path& folder) {
             write_old_file(folder / "server.cfg");
             fs::permissions(folder / "server.cfg", static_cast<fs::perms>(0640));
             default_access_list(folder);
         },
         "server.cfg", false, Runs::root, "", 0640, -1, ""},
        {"an append-only folder", old, "server.cfg", true, Runs::root,
         "chattr +a .; trap 'chattr -a .' EXIT;", 0600, -1, ""},
        // Its flags tell where statx cannot: no new file is left there for ever.
        {"an append-only folder that statx cannot tell", old, "server.cfg", true, Runs::root,
         "chattr +a .; trap 'chattr -a .' EXIT; strace -o /dev/null -e inject=statx:error=ENOSYS",
         0600, -1, ""},
        // The holder says on standard error if the file changed before it let go.
        {"a lock held by another program", hard_link, "real.cfg", true, Runs::posix,
         "cp real.cfg .run/old;" + locked("cmp -s real.cfg .run/old || echo changed >&2"), 0600, -1,
         release},
        {"a lock held by another program", hard_link, "real.cfg", true, Runs::windows,
         held("lock", 1), 0, -1, release},
        // The mode the owner gives it meanwhile is the one kept.
        {"a mode narrowed during the wait", hard_link, "real.cfg", true, Runs::posix,
         "chmod 644 real.cfg;" + locked("chmod 600 real.cfg"), 0600, -1, release},
        // After the wait the name names another file: that one is saved.
        {"renamed over while locked", hard_link, "server.cfg", false, Runs::posix,
         locked("echo x >new.cfg; mv new.cfg server.cfg"), 0, -1, release},
        {"a file held open, not for deleting", old, "server.cfg", true, Runs::windows,
         held("read-write", 3), 0, -1, ""},
        {"a file held open for a moment", old, "server.cfg", false, Runs::windows, held("read", 1),
         0, -1, ""},
        {"a lease held by another program", old, "server.cfg", false, Runs::posix, leased, 0600, -1,
         release},
        // Saved all the same: the closing message is lost with nobody to read it.
        {"a reader of standard output that leaves during the wait", hard_link, "real.cfg", true,
         Runs::posix,
         locked("true") + "mkfifo .run/out; (cat .run/out >/dev/null & until [ -s .run/stderr ]; "
                          "do sleep 0.05; done; kill $!) & exec >.run/out;",
         0600, -1, release},
        {"a lease, then a lock: one wait line", hard_link, "real.cfg", true, Runs::posix,
         "(flock real.cfg sleep 1.2) & " + leased, 0600, -1, release},
        // In a shared sticky folder, but no plant by the rules of the kernel's guard.
        {"another user's file, at level 0", nobodys_file, "server.cfg", false, Runs::root,
         sticky(kAll, '0'), 0600, 65534, ""},
        {"another user's file in a folder its group may write, at level 1", nobodys_file,
         "server.cfg", false, Runs::root, sticky(kGroup, '1'), 0600, 65534, ""},
        {"the folder owner's file", nobodys_file, "server.cfg", false, Runs::root,
         sticky("chown nobody .; chmod 1777 .", '2'), 0600, 65534, ""},
        {"another user's pipe, at level 0", nobodys_pipe, "read.cfg", true, Runs::root,
         "(timeout 5 sh -c 'until [ -s .run/stderr ]; do sleep 0.05; done'; timeout 5 cat "
         "server.cfg >read.cfg) & " +
             sticky(kAll, '0'),
         0, -1, "Waiting for a program to read server.cfg...\n"},
        {"a named pipe that is read late",
         [](const fs::path& folder) {
             ASSERT_EQ(mkfifo((folder / "server.cfg").c_str(), 0600), 0);
         },
         "read.cfg", true, Runs::posix, "(sleep 0.3; cat server.cfg >read.cfg) &", 0, -1,
         "Waiting for a program to read server.cfg...\n"},
        {"a link to standard output",
         [](const fs::path& folder) { fs::create_symlink("/dev/stdout", folder / "server.cfg"); },
         "", true, Runs::posix, "", 0, -1, "", "", true},
        {"a link to standard output, appended to a log",
         [](const fs::path& folder) {
             write_file(folder / "log.txt", "earlier lines\n");
             fs::create_symlink("/dev/stdout", folder / "server.cfg");
         },
         "log.txt", true, Runs::posix, "exec >>log.txt;", 0, -1, "", "", true},
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
        // Open, the old file's number cannot go to a new file once its name is removed.
        const std::ifstream keep_inode{written};
        const std::string before =
            c.output && !c.written.empty() ? workspace.read(c.written).value_or("") : "";
        const auto others = other_files(workspace, {"server.cfg", c.written});

        const run::ProgramRun run = run_program(workspace, "", Input::file, c.shell_prefix);
        ASSERT_EQ(run.exit_status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(run.err, c.err) << c.what;
        const std::string text = expected::starting_config();
        if (c.output) {
            std::string output = before;
            output += always_asked_transcript();
            output += text;
            output += kSaved;
            EXPECT_EQ(c.written.empty() ? run.out : workspace.read(c.written), output) << c.what;
            continue;
        }
        EXPECT_EQ(workspace.read(c.written), text) << c.what;
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
        if (!run::windows_build()) {
            EXPECT_FALSE(has_access_list(written)) << c.what;
        }
        if (!c.steps.empty()) {
            EXPECT_EQ(calls_in(workspace), c.steps) << c.what;
        }
        EXPECT_EQ(other_files(workspace, {"server.cfg", c.written}), others) << c.what;
        EXPECT_EQ(leftovers(workspace), std::vector<std::string>{}) << c.what;
    }
}

// What a save that did not end as it should leaves under the name: the file as it was
// (or none where there was none), the new text, nothing, or nothing with the new file
// and the old one beside it, named in the message; or the new text with the old one
// beside it, or the old file with the new one beside it, named for NAME in the message.
enum class Left : std::uint8_t { old_file, new_text, nothing, both_named, old_named, new_named };

// A save that fails keeps the file as it was, byte for byte, or no file where there
// was none, and leaves nothing beside it; a kill leaves no file that is not whole.
// A signal ends a write that stalls.
TEST(EndToEnd, FailedSaveIsReported) {
    struct Case {  // NOLINT(clang-analyzer-optin.performance.Padding): as above
        std::string_view what;
        Runs runs;
        void (*prepare)(const fs::path& folder);
        std::string shell_prefix;
        std::string_view error;
        int exit_status = 1;
        Left left = Left::old_file;
    };
    const auto old = [](const fs::path& p) { write_old_file(p / "server.cfg"); };
    const auto none = [](const fs::path&) {};
    const std::string first_fsync = "-e trace=fsync -e inject=fsync:error=EIO:when=1";
    const std::string second_fsync = "-e trace=fsync -e inject=fsync:error=EIO:when=2";
    const std::string_view eio = "Could not save server.cfg: Input/output error\n";
    const std::string_view denied = "Could not save server.cfg: Permission denied\n";
    const std::string_view unflushed =
        "server.cfg holds the new settings, but its folder could not be flushed to the disk "
        "(Input/output error): they may not survive a power cut.\n";

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
        {"a file-size limit, with a short file", Runs::posix,
         [](const fs::path& p) { write_file(p / "server.cfg", "short\r\n"); }, "ulimit -f 1;",
         "Could not save server.cfg: File too large\n"},
        // Written in place, the limit that applies (the soft one) is checked before the
        // first byte.
        {"a file-size limit in place", Runs::posix, hard_link, "ulimit -S -f 1;",
         "Could not save server.cfg: File too large\n"},
        {"too few descriptors", Runs::unsanitized, old, "ulimit -n 4;",
         "Could not save server.cfg: Too many open files\n"},
        {"a link into a missing folder", Runs::posix,
         [](const fs::path& p) { fs::create_symlink("missing/server.cfg", p / "server.cfg"); }, "",
         "Could not save server.cfg: No such file or directory\n"},
        {"a loop of links", Runs::posix,
         [](const fs::path& p) { fs::create_symlink("server.cfg", p / "server.cfg"); }, "",
         "Could not save server.cfg: Too many levels of symbolic links\n"},
        // It gets nothing, as when nothing stood in for it; nobody reads the reason either.
        {"a link to standard error, which is closed", Runs::posix,
         [](const fs::path& p) { fs::create_symlink("/dev/stderr", p / "server.cfg"); },
         "exec 2>&-;", ""},
        // Not told apart from another stream by what stands in for it.
        {"a link to standard output, which is closed, standard error the null device", Runs::posix,
         [](const fs::path& p) { fs::create_symlink("/dev/stdout", p / "server.cfg"); },
         "exec >&- 2>/dev/null;", ""},
        // Nothing could stand in for standard output: the file opened under its number.
        {"no stand-in for a closed standard output", Runs::traced,
         [](const fs::path& p) {
             write_old_file(p / "real.cfg");
             fs::create_symlink("real.cfg", p / "server.cfg");
         },
         "exec >&-;" + traced("-e trace=memfd_create,openat -e inject=memfd_create:error=ENFILE "
                              "-e inject=openat:error=ENFILE:when=1..2"),
         "Could not save server.cfg: Too many open files in system\n"},
        // Planted by another user in a shared sticky folder: refused as the kernel refuses
        // it to an open that may create, by the level of its guard, and never waited for.
        {"a planted file, world-writable", Runs::root, nobodys_file, sticky(kAll, '1'), denied},
        {"a planted pipe, world-writable", Runs::root, nobodys_pipe, sticky(kAll, '1'), denied},
        {"a planted file, group-writable", Runs::root, nobodys_file, sticky(kGroup, '2'), denied},
        {"a planted pipe, group-writable", Runs::root, nobodys_pipe, sticky(kGroup, '2'), denied},
        {"a socket", Runs::posix, none,
         R"(python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind("server.cfg")';)",
         "Could not save server.cfg: No such device or address\n"},
        {"a named pipe whose reader leaves", Runs::posix,
         [](const fs::path& p) { ASSERT_EQ(mkfifo((p / "server.cfg").c_str(), 0600), 0); },
         full_pipe("true") + "exec", "Could not save server.cfg: Broken pipe\n"},
        {"a named pipe that nobody reads, ended by the user", Runs::posix,
         [](const fs::path& p) { ASSERT_EQ(mkfifo((p / "server.cfg").c_str(), 0600), 0); },
         // The reader then finds only what filled the pipe: nothing was written after
         // the signal.
         full_pipe("timeout 0.3 cat <&3 | wc -c | grep -qx 65536 || echo written >&2") +
             "(sleep 0.3; kill -TERM $$) & exec",
         "Terminated\n", 128 + SIGTERM},
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
        {"a file held open, sharing only reading", Runs::windows, old, held("read", 3),
         "Could not save server.cfg: it is in use by another program\n"},
        // A replace that Windows leaves half done: the old file goes back to its name, or,
        // where even that fails, both are named.
        // Wine reads an EIO from a rename as this.
        {"a replace half done", Runs::windows, old,
         server_traced("-e inject=rename:error=EIO:when=2..3"),
         "Could not save server.cfg: No access to memory location\n"},
        {"a replace half done, the old file held away", Runs::windows, old,
         server_traced("-e inject=rename:error=EIO:when=2..4"),
         "Could not save server.cfg: No access to memory location", 1, Left::both_named},
        // Nothing else is tried then, though the reason reads as one to write in place: no
        // new file is made, none would go.
        {"a replace half done, both files held away", Runs::windows, old,
         server_traced("-e inject=rename:error=EACCES:when=2+ -e inject=unlink:error=EACCES"),
         "Could not save server.cfg: Permission denied", 1, Left::both_named},
        {"a failed flush of the new file", Runs::windows, old,
         traced("-f -e trace=fsync -e inject=fsync:error=EIO:when=1"),
         "Could not save server.cfg: Not ready\n"},
        // Held while the new file has a name: the run ends after the replace.
        {"Ctrl-C during a replace", Runs::windows, old, during_flush("kill -INT $$"), "", 58,
         Left::new_text},
        // Sent once the new file's move waits, the old file under the backup's name, it
        // ends the run with the line that says where the settings are.
        {"Ctrl-C during a replace half done", Runs::windows, old,
         server_traced("-e inject=rename:error=EIO:delay_enter=1000000:when=2..4") + "(" +
             wait_for("[ $(grep -c 'rename(' .run/server) -ge 2 ]", "second rename") +
             "kill -INT $(pgrep -P $$ -f server-config-maker)) &",
         "Could not save server.cfg: No access to memory location", 58, Left::both_named},
        // The backup stays; the save stands.
        {"a backup that cannot be removed", Runs::windows, old,
         server_traced("-e inject=unlink:error=EACCES"),
         "The old settings are left in NAME, which could not be removed.\n", 0, Left::old_named},
        // The first fsync is the new file's.
        {"a failed flush of the new file", Runs::traced, old, traced(first_fsync), eio},
        {"a failed flush of a first save", Runs::traced, none, traced(first_fsync), eio},
        {"a failed first save whose named new file cannot be removed", Runs::traced, none,
         traced("-e trace=openat,fsync,unlinkat -e inject=openat:error=EOPNOTSUPP:when=1 -e "
                "inject=unlinkat:error=EACCES -e inject=fsync:error=EIO:when=1"),
         "The new settings are left in NAME, which could not be removed (Permission denied).\n"
         "Could not save server.cfg: Input/output error\n",
         1, Left::new_named},
        {"a failed flush of an empty file's new one", Runs::traced,
         [](const fs::path& p) { write_file(p / "server.cfg", ""); }, traced(first_fsync), eio},
        {"a failed flush of a first save, with a default access list", Runs::traced,
         default_access_list, traced(first_fsync), eio},
        // The first close is the new file's, once it is linked beside the entry.
        {"a failed close of the new file", Runs::traced, old,
         traced("-e trace=close -e inject=close:error=EIO:when=1"), eio},
        {"a failed rename", Runs::traced, old,
         traced("-e trace=renameat -e inject=renameat:error=EIO"), eio},
        // The text is in place, but the name may not survive a power cut.
        {"a failed flush of the folder, a first save", Runs::traced, none, traced(second_fsync),
         unflushed, 2, Left::new_text},
        {"a failed flush of the folder, a replace", Runs::traced, old, traced(second_fsync),
         unflushed, 2, Left::new_text},
        {"a folder that cannot be opened for its flush", Runs::traced, none,
         traced("-e trace=openat -e inject=openat:error=EIO:when=2"), unflushed, 2, Left::new_text},
        // The open creates no file that was removed after the look.
        {"the name removed before the open, then a failed write", Runs::traced, old,
         "ulimit -f 1; (sleep 0.3; rm server.cfg) & " +
             traced("-e trace=openat -e inject=openat:delay_enter=1000000:when=1"),
         "Could not save server.cfg: File too large\n", 1, Left::nothing},
        // Another run saves while this one flushes: its file stays.
        {"a failed first save while another run saves", Runs::traced, none,
         R"((sleep 0.3; "$SCM_PROGRAM" </dev/null >/dev/null 2>&1) & )" +
             traced("-e trace=fsync -e inject=fsync:delay_enter=1000000:error=EIO:when=1"),
         eio, 1, Left::new_text},
        {"a first save killed while it flushes", Runs::traced, none,
         traced("-e trace=fsync -e inject=fsync:signal=SIGKILL:when=1"), "Killed\n", 128 + SIGKILL},
        {"a first save killed as it links", Runs::traced, none,
         traced("-e trace=linkat -e inject=linkat:signal=SIGKILL"), "Killed\n", 128 + SIGKILL},
        {"a first save killed as the folder is flushed", Runs::traced, none,
         traced("-e trace=fsync -e inject=fsync:signal=SIGKILL:when=2"), "Killed\n", 128 + SIGKILL,
         Left::new_text},
        // Nothing is held while the new file has no name.
        {"a signal while the new file is flushed", Runs::traced, old, during_flush("kill -USR1 $$"),
         "User defined signal 1\n", 128 + SIGUSR1},  // the shell's word on how it ended
        // In place: what fails after the first byte is reported, the text written.
        {"no room for the text in place", Runs::traced, hard_link,
         traced("-e trace=fallocate -e inject=fallocate:error=ENOSPC"),
         "Could not save server.cfg: No space left on device\n"},
        {"a failed cut in place", Runs::traced,
         [](const fs::path& p) {
             write_file(p / "real.cfg", "short\r\n");
             fs::create_hard_link(p / "real.cfg", p / "server.cfg");
         },
         traced("-e trace=ftruncate -e inject=ftruncate:error=EIO"), eio, 1, Left::new_text},
        {"a failed flush in place", Runs::traced, hard_link, traced(first_fsync), eio, 1,
         Left::new_text},
        {"a failed close in place", Runs::traced, hard_link,
         traced(R"(-P "$PWD/server.cfg" -e inject=close:error=EIO)"), eio, 1, Left::new_text},
        // Held while written in place: the signal ends the run with the file whole.
        {"a signal while written in place", Runs::traced, hard_link,
         "(sleep 0.3; kill -TERM $$) & " +
             traced("-e trace=pwrite64 -e inject=pwrite64:delay_enter=1000000"),
         "Terminated\n", 128 + SIGTERM, Left::new_text},
        {"a signal while waiting for the lock", Runs::posix, hard_link,
         locked("true") + "(sleep 0.3; kill -TERM $$) & exec",
         "Waiting for another program to release server.cfg...\nTerminated\n", 128 + SIGTERM},
        // The opened file gets no number of standard error's, so no line goes into it.
        {"a signal while waiting for the lock, standard error closed", Runs::posix, hard_link,
         locked("true") + "(sleep 0.3; kill -TERM $$) & exec 2>&-", "Terminated\n", 128 + SIGTERM},
    };
    for (const Case& c : cases) {
        if (!runs_here(c.runs, c.what)) {
            continue;
        }
        Workspace workspace;
        c.prepare(workspace.path());
        const fs::path file = workspace.path() / "server.cfg";
        std::error_code no_file;
        const bool comparable =
            !fs::exists(fs::symlink_status(file)) || fs::is_regular_file(file, no_file);
        const std::optional<std::string> before =
            comparable ? workspace.read("server.cfg") : std::nullopt;
        const run::ProgramRun run = run_program(workspace, "", Input::file, c.shell_prefix);
        std::vector<std::string> left = leftovers(workspace);
        std::sort(left.begin(), left.end());  // the new file's name, then the old one's
        std::string error{c.error};
        if (c.left == Left::both_named && left.size() == 2) {
            error +=
                ". The new settings are in " + left[0] + "; the old ones are in " + left[1] + ".\n";
        }
        if ((c.left == Left::old_named || c.left == Left::new_named) && left.size() == 1) {
            replace(error, "NAME", left[0]);
        }
        const bool output_closed = c.shell_prefix.rfind("exec >&-", 0) == 0;
        EXPECT_EQ(run.out, output_closed        ? ""
                           : c.exit_status == 0 ? always_asked_transcript() + std::string{kSaved}
                                                : always_asked_transcript())
            << c.what;
        EXPECT_EQ(run.err, error) << c.what;
        EXPECT_EQ(run.exit_status, c.exit_status) << c.what;
        if (comparable) {
            const bool new_text = c.left == Left::new_text || c.left == Left::old_named;
            EXPECT_EQ(workspace.read("server.cfg"),
                      new_text ? std::optional{expected::starting_config()}
                      : c.left == Left::old_file || c.left == Left::new_named ? before
                                                                              : std::nullopt)
                << c.what;
        }
        EXPECT_EQ(left.size(), c.left == Left::both_named                               ? 2U
                               : c.left == Left::old_named || c.left == Left::new_named ? 1U
                                                                                        : 0U)
            << c.what;
    }
}

// The run the README shows is a run of this program: it gets the answers typed there,
// each "..." standing for answers of 0 as the README says, and shows the questions and
// writes the first lines of the file as the README does. What follows the closing
// message on its line is typed: the message leaves the cursor there.
TEST(EndToEnd, ReadmeShowsARealRun) {
    constexpr std::array<int, 2> kHidden = {9, 34};  // the answers each "..." stands for
    std::ifstream readme{SCM_SOURCE_DIR "/README.md"};
    std::vector<std::string> screen;
    std::string input;
    std::size_t dots = 0;
    for (std::string line; std::getline(readme, line) && line != "$ head -n 5 server.cfg";) {
        if (!screen.empty() || line == "$ server-config-maker") {
            screen.push_back(line);
        }
        if (line == "..." && dots < kHidden.size()) {
            input += repeat("0\n", kHidden.at(dots++));
        } else if (!screen.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
            input += line + "\n";
        }
    }
    Workspace workspace;
    const run::ProgramRun run = run_program(workspace, input);
    std::istringstream out{run.out};
    std::string shown;
    for (std::size_t i = 1; i < screen.size() && !::testing::Test::HasFailure(); ++i) {
        const bool skipped = screen[i - 1] == "...";
        if (screen[i] != "..." && screen[i].find_first_not_of("0123456789") != std::string::npos) {
            while (std::getline(out, shown) && skipped && screen[i].rfind(shown, 0) != 0) {
            }
            EXPECT_TRUE(screen[i] == shown || (out.eof() && screen[i].rfind(shown, 0) == 0))
                << screen[i] << "\nis not what the program shows: " << shown;
        }
    }
    EXPECT_EQ(dots, kHidden.size());
    // Then the file's first lines, to the end of the block.
    std::istringstream saved{workspace.read("server.cfg").value_or("")};
    for (std::string line; std::getline(readme, line) && line != "```";) {
        std::getline(saved, shown);
        EXPECT_EQ(line + '\r', shown);
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

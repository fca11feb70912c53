#pragma once

// The system calls of a save, one small file of them per platform
// (file_system_posix.cpp, file_system_windows.cpp) behind this one interface. The
// steps that decide how to save live in save_file.cpp and read the same on both.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace scm::file_system {

// Reasons of a save's own, beside the system's.
enum class SaveError : std::uint8_t {
    // The name no longer names the file that was opened, or another run's file took
    // it first: the save starts over.
    start_over = 1,
    // Started over several times: the name kept changing.
    replaced_during_save,
    // A busy file, an owner or an access list that cannot be given, a folder that
    // takes no new file: the file is written in place.
    cannot_replace,
    // A named pipe that nobody reads yet.
    no_reader,
    // Another program holds the file open and shares no writing.
    in_use,
    // The file system makes no unnamed file, or cannot give it a name: a named new
    // file instead.
    unnamed_refused,
    // The text is under the name, but the folder could not be flushed to the disk:
    // the name may not survive a power cut. Never a reason to try another way.
    folder_not_flushed,
};
std::error_code make_error_code(SaveError error) noexcept;

// Closes a descriptor; the descriptor is gone whatever the result, also after EINTR.
std::error_code close_descriptor(int descriptor) noexcept;

// Opens each standard descriptor that is closed on a stand-in of its own: an empty
// memory file, which no link to another file reaches; where the system makes none,
// the null device; where that cannot be opened either, a descriptor that neither reads
// nor writes. So no file the save opens takes a standard stream's number, and no
// message meant for standard error lands in it; where no stand-in can be had, a file
// the save opens under such a number fails the save. Called once at start-up, before
// any file is opened. A link to a stream that was closed stays no way to it: its save
// fails as before.
void fill_closed_standard_streams() noexcept;

// An open file or folder, closed when it goes out of scope.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int descriptor) noexcept : descriptor_{descriptor} {}
    ~Descriptor() { static_cast<void>(close()); }
    Descriptor(Descriptor&& other) noexcept : descriptor_{std::exchange(other.descriptor_, -1)} {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            static_cast<void>(close());
            descriptor_ = std::exchange(other.descriptor_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const noexcept { return descriptor_; }
    explicit operator bool() const noexcept { return descriptor_ >= 0; }
    // A failed close is a failed save: the last error of a full disk may come only now.
    std::error_code close() noexcept {
        return descriptor_ < 0 ? std::error_code{}
                               : close_descriptor(std::exchange(descriptor_, -1));
    }

private:
    int descriptor_ = -1;
};

// What the name turned out to be.
enum class Kind : std::uint8_t {
    none,             // nothing: a first save
    regular,          // a file
    other,            // a device, a pipe, a terminal: written through as it stands
    standard_stream,  // a link to the program's own standard output or error
};

// What a save needs to know of the file its name opened, all of it from that open
// file, never from the name looked up again.
struct FileInfo {
    Kind kind = Kind::none;
    bool keep_in_place = false;  // hard links, attributes, an owner that a new file cannot have
    bool owned_by_me = false;
    int stream = -1;  // Kind::standard_stream: 1 or 2
    std::uint64_t size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint32_t mode = 0;  // permission bits with the set-ID and sticky bits
};

// The folder that holds the file's entry; every step that names a file there goes
// through it.
struct Folder {
    Descriptor descriptor;      // none for the current folder, or where the platform has none
    std::string path;           // the folder's path with its last separator; "" for the current one
    std::string entry;          // the file's name in it
    bool found = true;          // false: a link whose folder cannot be told (written in place)
    bool takes_renames = true;  // false: an append-only or immutable folder
};

struct Target {
    std::string name;  // as given
    Descriptor file;   // none for Kind::none
    FileInfo info;
    Folder folder;
};

// Whether an open may wait for a reader or another program.
enum class Wait : std::uint8_t { no, yes };

// Looks at `name` without following it and, when something is there, opens it for
// writing as 1.0.0 did, without cutting it: the system's guards against planted links
// and files apply, and so does its check that this user may write the file. Only a
// link's target is created (a dangling link's, 0664 less the umask); a name that is no
// link and is gone by the open gives SaveError::start_over. Finds the folder that
// holds the opened file. With Wait::no a named pipe that nobody reads gives
// SaveError::no_reader, and a file another program holds a lease on gives
// errc::resource_unavailable_try_again, instead of waiting.
std::error_code open_existing(const char* name, Wait wait, Target& target);

// Whether the name still names the opened file, which still has links:
// SaveError::start_over when it does not; any other failure with its reason.
std::error_code still_named(const Target& target);

// Reads the opened file's owner and mode anew, after a wait in which its owner may
// have changed them.
std::error_code look_again(Target& target);

// How a new file is named until it is whole: not at all where the system can, or
// under a random name beside the entry.
enum class Naming : std::uint8_t { unnamed, named };
// A first save's new file is readable by all but what the umask takes away; a
// replacing one is private until it is given the old file's owner and mode.
enum class Access : std::uint8_t { shared, owner_only };

// Holds every signal or console event that would end the run while a save could
// be left half done, and lets it take effect right after. Holds never nest.
class SignalHold {
public:
    SignalHold() noexcept;
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;
};

// From here to the end of the run, a reader that leaves makes a write fail with
// "Broken pipe" instead of ending the run: called as the save starts, so that no
// reader turns a save into a killed run, also once the text is in place.
void broken_pipes_are_errors() noexcept;

// Whether the program's standard output or error (`stream`: 1 or 2) is the target's
// file itself, not a stream that was closed at start.
bool is_standard_stream(int stream, const Target& target) noexcept;

// How a replace that the system left half done ended (Windows only): with the old
// file back under its name, or with both texts under other names, which are given.
// Either way the save tries nothing else.
struct Stranded {
    bool settled = false;
    std::string new_file;
    std::string backup;
};

// Which settings a file of the save's own holds.
enum class Settings : std::uint8_t { old_ones, new_ones };
// Told, while ending signals are still held, of a file of the save's own that could
// not be removed: what it holds, its name and the system's reason (none where the
// system gave none).
using LeftBehind =
    std::function<void(Settings settings, const std::string& name, const std::error_code& reason)>;

// The new file of a save, in the folder of the file it is for. It owns its
// descriptor and the name it has, if any, and is ended by one of the keeps; a new
// file that is not kept is removed by its own name, the only name the save ever
// removes, and `left_behind` is told where it stays. While it has a name, ending
// signals are held.
class TempFile {
public:
    explicit TempFile(LeftBehind left_behind) : left_behind_{std::move(left_behind)} {}
    ~TempFile() {
        remove();
        hold_.reset();
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // SaveError::unnamed_refused where the folder takes a named file instead.
    std::error_code create(const Folder& folder, Access access, Naming naming);
    int descriptor() const noexcept { return file_.get(); }
    // Puts the file under the folder's entry where nothing is there:
    // SaveError::start_over when another run's file took it first.
    std::error_code keep_as_new(const Folder& folder);
    // Puts the file in the place of the target's entry. `stranded` names both texts
    // where the system left them apart. Windows keeps the old file under a name of its
    // own, and closes the target's file before it removes that one.
    std::error_code keep_replacing(Target& target, Stranded& stranded);

private:
    // Closes the file and removes its name, if it has one.
    void remove() noexcept;

    LeftBehind left_behind_;
    const Folder* folder_ = nullptr;
    std::string name_;  // empty while unnamed
    Descriptor file_;
    std::optional<SignalHold> hold_;
};

// Takes the access list that the folder's default one gave a new file away:
// SaveError::cannot_replace where it cannot be taken.
std::error_code drop_access_list(int file);
// Gives the new file the old one's owner and group: SaveError::cannot_replace when
// this user cannot, or where the owner would come out wrong.
std::error_code give_owner(int file, const FileInfo& old);
// Gives the old file's mode back, set-ID bits included; after the last write,
// which clears them.
std::error_code give_mode(int file, const FileInfo& old);
// Flushes the file's data to the disk.
std::error_code flush(int file);
// Makes the new name durable. A folder this user may not read, or a file system that
// cannot flush folders, is left unflushed without a failure.
std::error_code flush_folder(const Folder& folder) noexcept;
// Whether a replace failed only because the old file cannot be cut shorter (it is
// mapped into a program's memory), so that a text at least as long can go in place.
bool cannot_cut(const std::error_code& error) noexcept;

// Takes the exclusive lock on the file. With Wait::no, a lock that another
// program holds gives errc::resource_unavailable_try_again. A file system without
// locks is written unlocked.
std::error_code lock(int file, Wait wait);
// Reserves the room for `size` bytes without changing the file's length, so that
// a full disk fails before any byte is written. Where the file system cannot, it
// is no failure.
std::error_code reserve(int file, std::uint64_t size);
// errc::file_too_large when the process may not write a file of `size` bytes.
std::error_code check_size_limit(std::uint64_t size);
// Where a write starts: where the descriptor stands (a new file, a pipe, a device)
// or over the first bytes of the file.
enum class From : std::uint8_t { here, start };
// Writes all of `text`.
std::error_code write_all(int file, std::string_view text, From from);
// Cuts the file to `size` bytes.
std::error_code cut(int file, std::uint64_t size);

}  // namespace scm::file_system

template <>
struct std::is_error_code_enum<scm::file_system::SaveError> : std::true_type {};

#pragma once

// The system calls of a save, one small file of them per platform
// (file_system_posix.cpp, file_system_windows.cpp) behind this one interface. The
// steps that decide how to save live in save_file.cpp and read the same on both.

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace scm::file_system {

// Reasons of a save's own, beside the system's.
enum class SaveError : std::uint8_t {
    // The folder's entry no longer names the file that was opened: another run
    // renamed over it in between.
    entry_changed = 1,
    // Tried again several times: the entry kept changing.
    replaced_during_save,
    // A busy file or an owner that cannot be given: the file is written in place.
    cannot_replace,
    // A named pipe that nobody reads yet.
    no_reader,
};
std::error_code make_error_code(SaveError error) noexcept;

// Closes a descriptor; the descriptor is gone whatever the result, also after EINTR.
std::error_code close_descriptor(int descriptor) noexcept;

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

// What a save needs to know of the file its name opened, all of it from that open
// file, never from the name looked up again.
struct FileInfo {
    bool regular = false;  // anything else (a device, a pipe) is written through the descriptor
    bool created = false;  // there was no file: the open made it
    bool keep_in_place = false;  // hard links, attributes, an owner that a new file cannot have
    bool owned_by_me = false;
    std::uint64_t size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint32_t mode = 0;  // permission bits with the set-ID and sticky bits
};

struct Target {
    Descriptor file;
    FileInfo info;
};

// Whether an open may wait for a reader or a lock may wait for another program.
enum class Wait : std::uint8_t { no, yes };

// Opens `name` for writing, creating it (0664 less the umask) when there is none,
// without cutting it. The system's guards against planted links and files apply,
// and so does its check that this user may write the file. With Wait::no a named
// pipe that nobody reads gives SaveError::no_reader instead of waiting.
std::error_code open_target(const char* name, Wait wait, Target& target);

// The folder that holds the opened file, opened once: every later step of a
// replace is made through it.
struct Folder {
    Descriptor descriptor;  // -1 where the platform works with full paths
    std::string path;       // the folder's path, with its last separator
    std::string entry;      // the file's name in it
    bool can_flush = true;
};

// Finds and opens the folder of `target` and checks that its entry still names
// that file; SaveError::entry_changed when it does not.
std::error_code open_folder(const Target& target, const char* name, Folder& folder);

// Creates a new, empty file in `folder`, readable and writable by its owner only,
// under a name no other file has; `name` receives it.
std::error_code create_in(const Folder& folder, std::string& name, Descriptor& file);

// Removes `name` from `folder`.
void remove_in(const Folder& folder, const std::string& name) noexcept;

// Removes a file the save created if its entry still names it and it is still
// empty, so that another run's file is never removed.
void remove_if_still_empty(const Target& target, const char* name) noexcept;

// Gives the new file the old one's owner and group: SaveError::cannot_replace when
// this user cannot, or where the owner would come out wrong.
std::error_code give_owner(const Descriptor& file, const FileInfo& old);
// Gives the old file's mode back, set-ID bits included; after the last write,
// which clears them.
std::error_code give_mode(const Descriptor& file, const FileInfo& old);

// Flushes the file's data to the disk.
std::error_code flush(const Descriptor& file);

// Puts the new file `name` in the place of the entry of `folder`. A file that
// cannot be replaced now gives SaveError::cannot_replace; where both texts were
// left apart under other names, `stranded_backup` receives the old one's.
std::error_code move_into_place(const Folder& folder, const std::string& name,
                                std::string& stranded_backup);
// Whether a replace failed only because the old file cannot be cut shorter (it is
// mapped into a program's memory), so that a text at least as long can go in place.
bool cannot_cut(const std::error_code& error) noexcept;
// Makes the move itself durable; a folder that cannot be flushed is no failure.
void flush_folder(const Folder& folder) noexcept;

// Takes the exclusive lock on the file. With Wait::no, a lock that another
// program holds gives errc::resource_unavailable_try_again. A file system without
// locks is written unlocked.
std::error_code lock(const Descriptor& file, Wait wait);
// Reserves the room for `size` bytes without changing the file's length, so that
// a full disk fails before any byte is written. Where the file system cannot, it
// is no failure.
std::error_code reserve(const Descriptor& file, std::uint64_t size);
// errc::file_too_large when the process may not write a file of `size` bytes.
std::error_code check_size_limit(std::uint64_t size);
// Where a write starts: where the descriptor stands (a new file, a pipe, a device)
// or over the first bytes of the file.
enum class From : std::uint8_t { here, start };
// Writes all of `text`.
std::error_code write_all(const Descriptor& file, std::string_view text, From from);
// Cuts the file to `size` bytes.
std::error_code cut(const Descriptor& file, std::uint64_t size);

// Holds every signal or console event that would end the run while the save
// changes the file, and lets it take effect right after.
class SignalHold {
public:
    SignalHold() noexcept;
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;
};

}  // namespace scm::file_system

template <>
struct std::is_error_code_enum<scm::file_system::SaveError> : std::true_type {};

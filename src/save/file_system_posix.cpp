// The save's system calls on Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/xattr.h>
#endif

#include "save/file_system.hpp"

namespace scm::file_system {
namespace {

std::error_code error_of(int reason) { return {reason, std::generic_category()}; }
std::error_code last_error() { return error_of(errno); }

// The descriptor that names the folder in the *at calls.
int at(const Folder& folder) { return folder.descriptor ? folder.descriptor.get() : AT_FDCWD; }

// The folder part of `path` with its last separator, or "" for a bare name.
std::string folder_of(const std::string& path) {
    const std::size_t end = path.rfind('/');
    return end == std::string::npos ? std::string{} : path.substr(0, end + 1);
}

// The kernel's own path of an open file, or "" where /proc is not mounted.
std::string path_of(int descriptor) {
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    std::string path(PATH_MAX, '\0');
    const ssize_t size = ::readlink(link.c_str(), path.data(), path.size());
    if (size <= 0 || static_cast<std::size_t>(size) == path.size() || path.front() != '/') {
        return {};
    }
    path.resize(static_cast<std::size_t>(size));
    return path;
}

bool too_few_descriptors(int reason) { return reason == EMFILE || reason == ENFILE; }

// A folder's O_PATH descriptor can neither be flushed nor asked for its flags: the
// folder opened for reading beneath it can, where this user may read it.
Descriptor readable(int folder) {
    return Descriptor{::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
}

// Whether the folder is append-only or immutable, so that a new file there could
// never be renamed over the old one nor removed. Asked of statx, or where that cannot
// tell (older kernels, some file systems), of the folder's own flags.
bool takes_no_renames(int folder) {
#ifdef __linux__
    constexpr std::uint64_t kNoRenames = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    struct statx status {};
    if (::statx(folder, "", AT_EMPTY_PATH, 0, &status) == 0 &&
        (status.stx_attributes_mask & kNoRenames) == kNoRenames) {
        return (status.stx_attributes & kNoRenames) != 0;
    }
    const Descriptor read = readable(folder);
    int flags = 0;
    return read && ::ioctl(read.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
           (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
#else
    static_cast<void>(folder);
    return false;
#endif
}

// Opens the folder part of `path` (none for a bare name: the current folder) and
// asks whether it takes renames.
std::error_code open_folder(const std::string& path, Folder& folder) {
    const std::string part = folder_of(path);
    folder.path = part;
    folder.entry = path.substr(part.size());
    if (!part.empty()) {
        folder.descriptor = Descriptor{::open(part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
        if (!folder.descriptor) {
            return last_error();
        }
    }
    folder.takes_renames = !takes_no_renames(at(folder));
    return {};
}

// The folder of the file a link led to, as the kernel reports it. A folder that
// cannot be told or opened (no /proc) leaves the file to be written in place.
std::error_code open_folder_of_link_target(int file, Folder& folder) {
    const std::string path = path_of(file);
    if (path.empty()) {
        folder.found = false;
        return {};
    }
    if (std::error_code error = open_folder(path, folder)) {
        if (too_few_descriptors(error.value())) {
            return error;
        }
        folder = Folder{};
        folder.found = false;
    }
    return {};
}

// An access list or any other extended attribute, which a new file would not have.
bool has_extended_attributes(int descriptor) {
#ifdef __linux__
    std::array<char, 4096> names{};
    const ssize_t size = ::flistxattr(descriptor, names.data(), names.size());
    if (size < 0) {
        return errno == ERANGE;  // too many to list
    }
    // Each name ends in a NUL.
    for (std::string_view rest{names.data(), static_cast<std::size_t>(size)}; !rest.empty();) {
        const std::string_view name = rest.substr(0, rest.find('\0'));
        if (name != "security.selinux") {
            return true;
        }
        rest.remove_prefix(std::min(rest.size(), name.size() + 1));
    }
#endif
    static_cast<void>(descriptor);
    return false;
}

// The words of a small file of /proc, or none.
std::vector<std::string> words_of(const char* path) {
    const Descriptor file{::open(path, O_RDONLY | O_CLOEXEC)};
    std::array<char, 256> text{};
    const ssize_t size = file ? ::read(file.get(), text.data(), text.size()) : -1;
    std::vector<std::string> words;
    std::string word;
    for (ssize_t i = 0; i < size; ++i) {
        const char c = text[static_cast<std::size_t>(i)];
        if (c != ' ' && c != '\t' && c != '\n') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(std::exchange(word, {}));
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

bool is_id(const std::vector<std::string>& words, std::uint32_t id) {
    return words.size() == 1 && words[0] == std::to_string(id);
}

// In a user namespace an id that has no name inside it shows as the overflow id, and
// giving a new file that id succeeds but gives the wrong owner.
bool owner_is_unmapped(const struct stat& status) {
    if (!is_id(words_of("/proc/sys/kernel/overflowuid"), status.st_uid) &&
        !is_id(words_of("/proc/sys/kernel/overflowgid"), status.st_gid)) {
        return false;
    }
    const std::vector<std::string> identity = {"0", "0", "4294967295"};
    const std::vector<std::string> map = words_of("/proc/self/uid_map");
    return !map.empty() && map != identity;
}

// Whether the kernel's guard for shared sticky folders (fs.protected_regular,
// fs.protected_fifos) would refuse to open the file with O_CREAT in that folder: a
// file or named pipe that belongs neither to this user nor to the folder's owner, in
// a sticky folder that others may write, or at level 2 its group. The kernel judges
// only an open that may create, which the open of an existing name is not (a name
// that vanished is never created again), so the save judges it. A level that cannot
// be read is 1, systemd's default.
bool planted_in_a_sticky_folder(const struct stat& file, const struct stat& folder) {
#ifdef __linux__
    const bool planted = (folder.st_mode & S_ISVTX) != 0 && file.st_uid != ::geteuid() &&
                         file.st_uid != folder.st_uid;
    const char* guard = S_ISREG(file.st_mode)    ? "/proc/sys/fs/protected_regular"
                        : S_ISFIFO(file.st_mode) ? "/proc/sys/fs/protected_fifos"
                                                 : nullptr;
    if (!planted || guard == nullptr) {
        return false;
    }
    const std::vector<std::string> words = words_of(guard);
    const int level =
        words.size() == 1 && words[0].size() == 1 && words[0][0] >= '0' && words[0][0] <= '2'
            ? words[0][0] - '0'
            : 1;
    return (level >= 1 && (folder.st_mode & S_IWOTH) != 0) ||
           (level >= 2 && (folder.st_mode & S_IWGRP) != 0);
#else
    static_cast<void>(file);
    static_cast<void>(folder);
    return false;
#endif
}

// Refuses a file planted in a sticky folder as the kernel would (Permission denied).
// `folder` names the folder that holds it, from `at`. Only a file of another user's
// costs a look at the folder.
std::error_code guard_sticky_folder(const struct stat& file, int at, const char* folder) {
    struct stat status {};
    if (file.st_uid == ::geteuid()) {
        return {};
    }
    if (::fstatat(at, folder, &status, 0) != 0) {
        return last_error();
    }
    return planted_in_a_sticky_folder(file, status) ? error_of(EACCES) : std::error_code{};
}

// What stands in for each standard stream that was closed at start, where one does.
struct StandIn {
    bool filled = false;
    dev_t device = 0;
    ino_t inode = 0;
};
std::array<StandIn, 3> stand_ins;
// Why a closed standard stream got no stand-in, where one did not; 0 otherwise.
int stand_in_refused = 0;

// Whether an opened file is what stands in for a closed standard stream: a link to
// that stream leads there now, where it led nowhere while the stream was closed.
bool stands_in_for_a_stream(const struct stat& status) {
    return std::any_of(stand_ins.begin(), stand_ins.end(), [&](const StandIn& stand_in) {
        return stand_in.filled && stand_in.device == status.st_dev &&
               stand_in.inode == status.st_ino;
    });
}

// An empty file in memory, which has no name; -1 where the system makes none.
int memory_file() {
#ifdef __linux__
    return ::memfd_create("closed standard stream", 0);
#else
    return -1;
#endif
}

// A file the save opened under a standard stream's number, which no stand-in took,
// would get what is meant for that stream (a wait's line, the questions' end): the
// save stops before it waits or writes.
std::error_code takes_a_stream_number(const Descriptor& file) {
    return file.get() > STDERR_FILENO ? std::error_code{}
                                      : error_of(stand_in_refused != 0 ? stand_in_refused : EBADF);
}

// Whether `stream` is open on that file, and was not closed at start.
bool stream_is(int stream, std::uint64_t device, std::uint64_t inode) {
    struct stat standard {};
    return !stand_ins.at(static_cast<std::size_t>(stream)).filled &&
           ::fstat(stream, &standard) == 0 &&
           static_cast<std::uint64_t>(standard.st_dev) == device &&
           static_cast<std::uint64_t>(standard.st_ino) == inode;
}

// A link to the program's own standard output or error: 1 or 2; otherwise -1, also
// for a stream that was closed at start.
int standard_stream_of(const struct stat& status) {
    constexpr std::array<int, 2> kStreams = {STDOUT_FILENO, STDERR_FILENO};
    const auto* const found = std::find_if(kStreams.begin(), kStreams.end(), [&](int stream) {
        return stream_is(stream, static_cast<std::uint64_t>(status.st_dev),
                         static_cast<std::uint64_t>(status.st_ino));
    });
    return found == kStreams.end() ? -1 : *found;
}

void describe(const struct stat& status, int descriptor, bool link, Target& target) {
    FileInfo& info = target.info;
    info.kind = S_ISREG(status.st_mode) ? Kind::regular : Kind::other;
    if (link) {
        info.stream = standard_stream_of(status);
        if (info.stream >= 0) {
            info.kind = Kind::standard_stream;
        }
    }
    info.owned_by_me = status.st_uid == ::geteuid();
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.device = static_cast<std::uint64_t>(status.st_dev);
    info.inode = static_cast<std::uint64_t>(status.st_ino);
    info.owner = status.st_uid;
    info.group = status.st_gid;
    info.mode = status.st_mode & 07777U;
    // An id that is not ours may be one that has no name here; ours always has.
    const bool may_be_unmapped = !info.owned_by_me || status.st_gid != ::getegid();
    info.keep_in_place = status.st_nlink > 1 || has_extended_attributes(descriptor) ||
                         (may_be_unmapped && owner_is_unmapped(status)) || !target.folder.found ||
                         !target.folder.takes_renames;
}

// 16 hexadecimal digits from the system's random source.
std::error_code random_part(std::string& part) {
    std::uint64_t value = 0;
#ifdef __linux__
    while (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
        if (errno != EINTR) {
            return last_error();
        }
    }
#else
    arc4random_buf(&value, sizeof value);
#endif
    std::array<char, 17> digits{};
    static_cast<void>(std::snprintf(digits.data(), digits.size(), "%016llx",
                                    static_cast<unsigned long long>(value)));
    part = digits.data();
    return {};
}

constexpr std::string_view kNewFileStem = ".server.cfg.";

// Where an unnamed file cannot be had or linked, a folder that takes renames takes
// a named one; one that takes none leaves the save with the system's reason.
std::error_code refused(const Folder& folder, int reason) {
    return folder.takes_renames ? std::error_code{SaveError::unnamed_refused} : error_of(reason);
}

// Whether the folder gives its new files a default access list. Where that list
// equals a mode the new file stores none, so the file's own cannot tell.
bool has_default_access_list(const Folder& folder) {
#ifdef __linux__
    // The folder's descriptor has no attributes to read: its path through /proc has.
    const std::string path =
        folder.descriptor ? "/proc/self/fd/" + std::to_string(folder.descriptor.get()) : ".";
    return ::getxattr(path.c_str(), "system.posix_acl_default", nullptr, 0) >= 0;
#else
    static_cast<void>(folder);
    return false;
#endif
}

// Links the unnamed file in as `name`: true when it has the name; otherwise
// `reason` says why not.
bool link_unnamed(int file, const Folder& folder, const std::string& name, int& reason) {
    const std::string self = "/proc/self/fd/" + std::to_string(file);
    if (::linkat(AT_FDCWD, self.c_str(), at(folder), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    reason = errno;
    return false;
}

// Without /proc, without links on this file system, or with a file of too many.
bool cannot_link(int reason) { return reason == ENOENT || reason == EPERM || reason == EMLINK; }

}  // namespace

std::error_code close_descriptor(int descriptor) noexcept {
    return ::close(descriptor) == 0 ? std::error_code{} : last_error();
}

void fill_closed_standard_streams() noexcept {
    // In turn, so that each open takes the lowest free number: the stream's own.
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (::fcntl(stream, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // An empty memory file, which no link to another file can reach; where the
        // system makes none, the null device; where even that cannot be opened, a
        // descriptor that reads and writes nothing, as a closed one.
        int opened = memory_file();
        // cppcheck-suppress knownConditionTrueFalse ; always so only where there is none
        if (opened < 0) {
            opened = ::open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        }
        if (opened < 0) {
            opened = ::open("/", O_PATH);
        }
        struct stat status {};
        if (opened != stream || ::fstat(stream, &status) != 0) {
            stand_in_refused = opened < 0 ? errno : EBADF;
            continue;
        }
        stand_ins.at(static_cast<std::size_t>(stream)) = {true, status.st_dev, status.st_ino};
    }
}

std::error_code open_existing(const char* name, Wait wait, Target& target) {
    target = Target{};
    target.name = name;
    struct stat look {};
    if (::lstat(name, &look) != 0) {
        if (errno != ENOENT) {
            return last_error();
        }
        target.info.kind = Kind::none;
        return open_folder(name, target.folder);
    }
    // Only a link's target may be created, as by any program that writes the file;
    // a name that is no link and is gone by now was removed: the save starts over.
    // The kernel guards what a link leads to, as the open may create it; the program
    // guards the rest, at each look.
    const bool link = S_ISLNK(look.st_mode);
    const std::string folder_part = folder_of(name);
    const char* folder = folder_part.empty() ? "." : folder_part.c_str();
    if (!link) {
        if (std::error_code error = guard_sticky_folder(look, AT_FDCWD, folder)) {
            return error;
        }
    }
    // Never waiting at first, so that a wait can be announced.
    const int flags =
        O_WRONLY | O_CLOEXEC | (link ? O_CREAT : 0) | (wait == Wait::no ? O_NONBLOCK : 0);
    target.file = Descriptor{::open(name, flags, 0664)};
    if (!target.file) {
        const int reason = errno;
        struct stat now {};
        if (reason == ENOENT && !link) {
            return SaveError::start_over;
        }
        if (reason == ENXIO && wait == Wait::no && ::stat(name, &now) == 0 &&
            S_ISFIFO(now.st_mode)) {
            if (std::error_code error =
                    link ? std::error_code{} : guard_sticky_folder(now, AT_FDCWD, folder)) {
                return error;
            }
            return SaveError::no_reader;
        }
        if (reason == EWOULDBLOCK && wait == Wait::no) {  // a lease another program holds
            return std::make_error_code(std::errc::resource_unavailable_try_again);
        }
        return error_of(reason);
    }
    if (std::error_code error = takes_a_stream_number(target.file)) {
        return error;
    }
    const int file = target.file.get();
    struct stat status {};
    if (::fstat(file, &status) != 0) {
        return last_error();
    }
    if ((flags & O_NONBLOCK) != 0 &&
        ::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK) != 0) {
        return last_error();
    }
    const std::error_code error =
        link ? open_folder_of_link_target(file, target.folder) : open_folder(name, target.folder);
    if (error) {
        return error;
    }
    // Another user may have planted a file between the look and the open.
    if (!link) {
        if (std::error_code planted = guard_sticky_folder(status, at(target.folder), ".")) {
            return planted;
        }
    }
    describe(status, file, link, target);
    if (link && target.info.kind != Kind::standard_stream && stands_in_for_a_stream(status)) {
        return error_of(ENOENT);  // a stream closed at start gets nothing, as then
    }
    return target.info.kind == Kind::standard_stream ? std::error_code{} : still_named(target);
}

std::error_code still_named(const Target& target) {
    struct stat entry {};
    const int looked =
        target.folder.found
            ? ::fstatat(at(target.folder), target.folder.entry.c_str(), &entry, AT_SYMLINK_NOFOLLOW)
            : ::stat(target.name.c_str(), &entry);
    if (looked != 0) {
        return errno == ENOENT ? std::error_code{SaveError::start_over} : last_error();
    }
    struct stat opened {};
    if (::fstat(target.file.get(), &opened) != 0) {
        return last_error();
    }
    if (opened.st_nlink == 0 || entry.st_dev != opened.st_dev || entry.st_ino != opened.st_ino) {
        return SaveError::start_over;
    }
    return {};
}

std::error_code look_again(Target& target) {
    struct stat status {};
    if (::fstat(target.file.get(), &status) != 0) {
        return last_error();
    }
    target.info.owned_by_me = status.st_uid == ::geteuid();
    target.info.mode = status.st_mode & 07777U;
    return {};
}

void TempFile::remove() noexcept {
    if (!name_.empty()) {
        static_cast<void>(file_.close());
        if (::unlinkat(at(*folder_), name_.c_str(), 0) != 0) {
            left_behind_(Settings::new_ones, folder_->path + name_, last_error());
        }
        name_.clear();
    }
}

std::error_code TempFile::create(const Folder& folder, Access access, Naming naming) {
    folder_ = &folder;
    const mode_t mode = access == Access::shared ? 0664 : 0600;
    if (naming == Naming::unnamed) {
#ifdef O_TMPFILE
        // Never O_EXCL, which would keep it from ever being linked in.
        file_ = Descriptor{::openat(at(folder), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode)};
        if (!file_) {
            const int reason = errno;
            return reason == EOPNOTSUPP || reason == EISDIR || reason == EINVAL
                       ? refused(folder, reason)
                       : error_of(reason);
        }
        if (std::error_code error = takes_a_stream_number(file_)) {
            return error;
        }
        // Kernels before 6.0 leave the umask out here; a default access list, where
        // there is one, has made the mode already, never to be widened.
        if (access == Access::shared && !has_default_access_list(folder)) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            if (::fchmod(file_.get(), mode & ~mask) != 0) {
                return last_error();
            }
        }
        return {};
#else
        return refused(folder, EOPNOTSUPP);
#endif
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string part;
        if (std::error_code error = random_part(part)) {
            return error;
        }
        const std::string name = std::string{kNewFileStem} + part;
        // From the moment it has a name until that name is the entry's or gone.
        hold_.emplace();
        file_ = Descriptor{::openat(at(folder), name.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode)};
        if (file_) {
            name_ = name;  // removed again if it cannot be kept
            return takes_a_stream_number(file_);
        }
        const std::error_code error = last_error();
        hold_.reset();
        if (error != std::errc::file_exists) {
            return error;
        }
    }
    return error_of(EEXIST);
}

std::error_code TempFile::keep_as_new(const Folder& folder) {
    if (name_.empty()) {
        int reason = 0;
        if (!link_unnamed(file_.get(), folder, folder.entry, reason)) {
            if (reason == EEXIST) {
                return SaveError::start_over;  // another run was faster
            }
            return cannot_link(reason) ? refused(folder, reason) : error_of(reason);
        }
        // It is in place and flushed: nothing is lost if closing fails.
        static_cast<void>(file_.close());
        return {};
    }
    if (std::error_code error = file_.close()) {
        return error;
    }
    if (::renameat(at(folder), name_.c_str(), at(folder), folder.entry.c_str()) != 0) {
        return last_error();
    }
    name_.clear();
    hold_.reset();
    return {};
}

// The target is Windows' to close; here it stays open.
// cppcheck-suppress constParameter
std::error_code TempFile::keep_replacing(Target& target, Stranded& /*stranded*/) {
    const Folder& folder = target.folder;
    if (name_.empty()) {
        // Named beside the entry, then renamed over it; held from the link on.
        for (int attempt = 0; attempt < 100 && name_.empty(); ++attempt) {
            std::string part;
            if (std::error_code error = random_part(part)) {
                return error;
            }
            const std::string name = std::string{kNewFileStem} + part;
            hold_.emplace();
            int reason = 0;
            if (link_unnamed(file_.get(), folder, name, reason)) {
                name_ = name;
                break;
            }
            hold_.reset();
            if (reason != EEXIST) {
                return cannot_link(reason) ? refused(folder, reason) : error_of(reason);
            }
        }
        if (name_.empty()) {
            return error_of(EEXIST);
        }
    }
    if (std::error_code error = file_.close()) {
        return error;
    }
    if (::renameat(at(folder), name_.c_str(), at(folder), folder.entry.c_str()) != 0) {
        // A file mounted on its own (as into a container) cannot be renamed over.
        return errno == EBUSY || errno == EXDEV ? std::error_code{SaveError::cannot_replace}
                                                : last_error();
    }
    name_.clear();
    hold_.reset();
    return {};
}

std::error_code drop_access_list(int file) {
#ifdef __linux__
    if (::fremovexattr(file, "system.posix_acl_access") != 0 && errno != ENODATA &&
        errno != EOPNOTSUPP) {
        return SaveError::cannot_replace;  // nobody may gain access through the new file
    }
#endif
    static_cast<void>(file);
    return {};
}

std::error_code give_owner(int file, const FileInfo& old) {
    if (::fchown(file, old.owner, old.group) == 0) {
        return {};
    }
    // No CAP_CHOWN, or an id that has no name in this user namespace.
    if (errno == EPERM || errno == EINVAL) {
        return SaveError::cannot_replace;
    }
    return last_error();
}

std::error_code give_mode(int file, const FileInfo& old) {
    return ::fchmod(file, old.mode) == 0 ? std::error_code{} : last_error();
}

std::error_code flush(int file) { return ::fsync(file) == 0 ? std::error_code{} : last_error(); }

bool cannot_cut(const std::error_code& /*error*/) noexcept { return false; }

std::error_code flush_folder(const Folder& folder) noexcept {
    const Descriptor read = readable(at(folder));
    if (!read) {
        // A folder this user may write and search but not read cannot be flushed.
        return errno == EACCES || errno == EPERM ? std::error_code{} : last_error();
    }
    return ::fsync(read.get()) == 0 || errno == EINVAL ? std::error_code{} : last_error();
}

std::error_code lock(int file, Wait wait) {
    const int operation = LOCK_EX | (wait == Wait::no ? LOCK_NB : 0);
    while (::flock(file, operation) != 0) {
        if (errno == EWOULDBLOCK && wait == Wait::no) {
            return std::make_error_code(std::errc::resource_unavailable_try_again);
        }
        if (errno != EINTR) {
            return {};  // no locks here (NFS without them): written unlocked
        }
    }
    return {};
}

std::error_code reserve(int file, std::uint64_t size) {
#ifdef FALLOC_FL_KEEP_SIZE
    // Never posix_fallocate: where the file system cannot reserve, it writes zeros
    // over the file.
    while (::fallocate(file, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0) {
        if (errno == EOPNOTSUPP || errno == ENOSYS) {
            return {};
        }
        if (errno != EINTR) {
            return last_error();
        }
    }
#endif
    static_cast<void>(file);
    static_cast<void>(size);
    return {};
}

// The kernel checks the limit against the write position, also over bytes that are
// already there, so a write in place would stop half way.
std::error_code check_size_limit(std::uint64_t size) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size > static_cast<std::uint64_t>(limit.rlim_cur)) {
        return std::make_error_code(std::errc::file_too_large);
    }
    return {};
}

std::error_code write_all(int file, std::string_view text, From from) {
    off_t offset = 0;
    while (!text.empty()) {
        const ssize_t written = from == From::start
                                    ? ::pwrite(file, text.data(), text.size(), offset)
                                    : ::write(file, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return last_error();
        }
        if (written == 0) {  // no progress and no reason: do not spin
            return std::make_error_code(std::errc::io_error);
        }
        text.remove_prefix(static_cast<std::size_t>(written));
        offset += written;
    }
    return {};
}

std::error_code cut(int file, std::uint64_t size) {
    return ::ftruncate(file, static_cast<off_t>(size)) == 0 ? std::error_code{} : last_error();
}

bool is_standard_stream(int stream, const Target& target) noexcept {
    return stream_is(stream, target.info.device, target.info.inode);
}

namespace {
// What a hold put aside; holds never nest.
sigset_t held_previous;
}  // namespace

SignalHold::SignalHold() noexcept {
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &held_previous);
}

SignalHold::~SignalHold() { ::sigprocmask(SIG_SETMASK, &held_previous, nullptr); }

void broken_pipes_are_errors() noexcept { static_cast<void>(std::signal(SIGPIPE, SIG_IGN)); }

}  // namespace scm::file_system

// The save's system calls on Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/xattr.h>
#endif

#include "save/file_system.hpp"

namespace scm::file_system {
namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

// The folder part of `path` with its last separator, or "" for a bare name.
std::string folder_of(const std::string& path) {
    const std::size_t end = path.rfind('/');
    return end == std::string::npos ? std::string{} : path.substr(0, end + 1);
}

// Follows `path` through symbolic links, relative ones from the link's folder, to
// the name of the file itself. Only where /proc cannot say where an open file is.
std::error_code resolve_by_hand(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return {};
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t size = ::readlink(path.c_str(), link.data(), link.size());
        if (size <= 0 || static_cast<std::size_t>(size) == link.size()) {
            return size < 0 ? last_error() : std::make_error_code(std::errc::filename_too_long);
        }
        link.resize(static_cast<std::size_t>(size));
        path = link.front() == '/' ? link : folder_of(path).append(link);
    }
    return std::make_error_code(std::errc::too_many_symbolic_link_levels);
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

FileInfo info_of(const struct stat& status, bool created, int descriptor) {
    FileInfo info;
    info.regular = S_ISREG(status.st_mode);
    info.created = created;
    info.owned_by_me = status.st_uid == ::geteuid();
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.device = static_cast<std::uint64_t>(status.st_dev);
    info.inode = static_cast<std::uint64_t>(status.st_ino);
    info.owner = status.st_uid;
    info.group = status.st_gid;
    info.mode = status.st_mode & 07777U;
    // An id that is not ours may be one that has no name here; ours always has.
    const bool may_be_unmapped = !info.owned_by_me || status.st_gid != ::getegid();
    info.keep_in_place =
        info.regular && (status.st_nlink > 1 || has_extended_attributes(descriptor) ||
                         (may_be_unmapped && owner_is_unmapped(status)));
    return info;
}

}  // namespace

std::error_code close_descriptor(int descriptor) noexcept {
    return ::close(descriptor) == 0 ? std::error_code{} : last_error();
}

std::error_code open_target(const char* name, Wait wait, Target& target) {
    struct stat before {};
    const bool existed = ::stat(name, &before) == 0;
    // A named pipe is first opened without waiting for a reader, so that the wait
    // can be announced.
    const bool pipe = existed && S_ISFIFO(before.st_mode);
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (pipe && wait == Wait::no ? O_NONBLOCK : 0);
    Descriptor file{::open(name, flags, 0664)};
    if (!file) {
        return pipe && errno == ENXIO && wait == Wait::no ? SaveError::no_reader : last_error();
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return last_error();
    }
    if ((flags & O_NONBLOCK) != 0 &&
        ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
        return last_error();
    }
    // An open only ever creates a regular file.
    target.info = info_of(status, !existed && S_ISREG(status.st_mode), file.get());
    target.file = std::move(file);
    return {};
}

std::error_code open_folder(const Target& target, const char* name, Folder& folder) {
    std::string path = path_of(target.file.get());
    if (path.empty()) {
        path = name;
        if (std::error_code error = resolve_by_hand(path)) {
            return error;
        }
    }
    folder.path = folder_of(path);
    folder.entry = path.substr(folder.path.size());
    const std::string opened = folder.path.empty() ? "." : folder.path;
    folder.descriptor = Descriptor{::open(opened.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (!folder.descriptor && errno == EACCES) {
        // A folder this user may not read may still take a new file; it is not flushed.
        folder.can_flush = false;
        folder.descriptor = Descriptor{::open(opened.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
    }
    if (!folder.descriptor) {
        return last_error();
    }
    struct stat entry {};
    if (::fstatat(folder.descriptor.get(), folder.entry.c_str(), &entry, AT_SYMLINK_NOFOLLOW) !=
            0 ||
        static_cast<std::uint64_t>(entry.st_dev) != target.info.device ||
        static_cast<std::uint64_t>(entry.st_ino) != target.info.inode) {
        return SaveError::entry_changed;
    }
    return {};
}

std::error_code create_in(const Folder& folder, std::string& name, Descriptor& file) {
    const std::string stem = ".server.cfg." + std::to_string(::getpid()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = stem + std::to_string(attempt);
        file = Descriptor{::openat(folder.descriptor.get(), name.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)};
        if (file) {
            return {};
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const std::error_code error = last_error();
    name.clear();
    // A folder that admits no new file leaves the old one to be written in place.
    if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted ||
        error == std::errc::read_only_file_system) {
        return SaveError::cannot_replace;
    }
    return error;
}

void remove_in(const Folder& folder, const std::string& name) noexcept {
    static_cast<void>(::unlinkat(folder.descriptor.get(), name.c_str(), 0));
}

void remove_if_still_empty(const Target& target, const char* name) noexcept {
    Folder folder;
    struct stat now {};
    if (open_folder(target, name, folder) || ::fstat(target.file.get(), &now) != 0 ||
        !S_ISREG(now.st_mode) || now.st_size != 0) {
        return;
    }
    remove_in(folder, folder.entry);
}

std::error_code give_owner(const Descriptor& file, const FileInfo& old) {
    if (::fchown(file.get(), old.owner, old.group) == 0) {
        return {};
    }
    // No CAP_CHOWN, or an id that has no name in this user namespace.
    if (errno == EPERM || errno == EINVAL) {
        return SaveError::cannot_replace;
    }
    return last_error();
}

std::error_code give_mode(const Descriptor& file, const FileInfo& old) {
    return ::fchmod(file.get(), old.mode) == 0 ? std::error_code{} : last_error();
}

std::error_code flush(const Descriptor& file) {
    return ::fsync(file.get()) == 0 ? std::error_code{} : last_error();
}

std::error_code move_into_place(const Folder& folder, const std::string& name,
                                std::string& /*stranded_backup*/) {
    if (::renameat(folder.descriptor.get(), name.c_str(), folder.descriptor.get(),
                   folder.entry.c_str()) == 0) {
        return {};
    }
    // A file mounted on its own (as into a container) cannot be renamed over.
    if (errno == EBUSY || errno == EXDEV) {
        return SaveError::cannot_replace;
    }
    return last_error();
}

bool cannot_cut(const std::error_code& /*error*/) noexcept { return false; }

void flush_folder(const Folder& folder) noexcept {
    if (folder.can_flush) {
        static_cast<void>(::fsync(folder.descriptor.get()));
    }
}

std::error_code lock(const Descriptor& file, Wait wait) {
    const int operation = LOCK_EX | (wait == Wait::no ? LOCK_NB : 0);
    while (::flock(file.get(), operation) != 0) {
        if (errno == EWOULDBLOCK && wait == Wait::no) {
            return std::make_error_code(std::errc::resource_unavailable_try_again);
        }
        if (errno != EINTR) {
            return {};  // no locks here (NFS without them): written unlocked
        }
    }
    return {};
}

std::error_code reserve(const Descriptor& file, std::uint64_t size) {
#ifdef FALLOC_FL_KEEP_SIZE
    // Never posix_fallocate: where the file system cannot reserve, it writes zeros
    // over the file.
    while (::fallocate(file.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0) {
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

std::error_code write_all(const Descriptor& file, std::string_view text, From from) {
    off_t offset = 0;
    while (!text.empty()) {
        const ssize_t written = from == From::start
                                    ? ::pwrite(file.get(), text.data(), text.size(), offset)
                                    : ::write(file.get(), text.data(), text.size());
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

std::error_code cut(const Descriptor& file, std::uint64_t size) {
    return ::ftruncate(file.get(), static_cast<off_t>(size)) == 0 ? std::error_code{}
                                                                  : last_error();
}

namespace {
// What a hold put aside; holds never nest.
sigset_t held_previous;
struct sigaction pipe_previous {};
}  // namespace

// Every signal that can be held; a broken pipe is an error of the write instead.
SignalHold::SignalHold() noexcept {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &pipe_previous);
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &held_previous);
}

SignalHold::~SignalHold() {
    ::sigprocmask(SIG_SETMASK, &held_previous, nullptr);
    ::sigaction(SIGPIPE, &pipe_previous, nullptr);
}

}  // namespace scm::file_system

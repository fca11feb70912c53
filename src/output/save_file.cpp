#include "output/save_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <vector>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#endif

namespace scm {
namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

enum class How : std::uint8_t { replace, write_in_place };

struct Plan {
    How how = How::replace;
    bool exists = false;
#ifndef _WIN32
    struct stat old {};  // the existing file's, when there is one
#endif
};

// The folder part of `path` with its last separator, or "" for a bare name.
std::string folder_of(const std::string& path) {
    const std::size_t end = path.find_last_of("/\\");
    return end == std::string::npos ? std::string{} : path.substr(0, end + 1);
}

// ---- The platform's calls -------------------------------------------------

#ifdef _WIN32
HANDLE handle_of(int file) { return reinterpret_cast<HANDLE>(::_get_osfhandle(file)); }

// The full path, as ReplaceFileW needs it; the names are ASCII.
std::wstring wide(const std::string& path) {
    const std::wstring name{path.begin(), path.end()};
    std::wstring full(MAX_PATH, L'\0');
    const DWORD size = ::GetFullPathNameW(name.c_str(), MAX_PATH, full.data(), nullptr);
    if (size == 0 || size >= MAX_PATH) {
        return name;
    }
    full.resize(size);
    return full;
}

std::error_code windows_error(DWORD code) {
    switch (code) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return std::make_error_code(std::errc::permission_denied);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::make_error_code(std::errc::no_space_on_device);
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::make_error_code(std::errc::no_such_file_or_directory);
        default:
            return std::error_code(static_cast<int>(code), std::system_category());
    }
}

// Binary mode: the CR LF in the text is written as it is.
int open_in_place(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int create_new(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
// The file is a few kilobytes; a size that _write cannot take is refused, not cut.
int write_some(int file, const char* data, std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX)) {
        errno = EFBIG;
        return -1;
    }
    return ::_write(file, data, static_cast<unsigned>(size));
}
int close_file(int file) { return ::_close(file); }
int remove_file(const std::string& path) { return ::_unlink(path.c_str()); }
int process_id() { return ::_getpid(); }

std::error_code flush_to_disk(int file) {
    return ::FlushFileBuffers(handle_of(file)) ? std::error_code{}
                                               : windows_error(::GetLastError());
}
void lock(int file) {
    OVERLAPPED whole{};
    ::LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
}
std::error_code truncate_file(int file) {
    if (::GetFileType(handle_of(file)) != FILE_TYPE_DISK || ::_chsize(file, 0) == 0) {
        return {};
    }
    return last_error();
}
std::error_code give_owner_and_mode(int /*file*/, const Plan& /*plan*/) { return {}; }
void sync_folder(const std::string& /*folder*/) {}  // the move is made with write-through

// Ctrl-C in the console waits until the save is done.
class SignalHold {
public:
    SignalHold() noexcept { ::SetConsoleCtrlHandler(nullptr, TRUE); }
    ~SignalHold() { ::SetConsoleCtrlHandler(nullptr, FALSE); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;
};

// Puts `from` in the place of `to`. A file held open by a virus scanner or an
// indexer is tried again for about two seconds, then reported as busy.
std::error_code move_into_place(const std::string& from, const std::string& to, bool exists) {
    const std::wstring source = wide(from);
    const std::wstring target = wide(to);
    for (int attempt = 0;; ++attempt) {
        // ReplaceFileW keeps the old file's access list and attributes.
        const BOOL moved = exists
                               ? ::ReplaceFileW(target.c_str(), source.c_str(), nullptr,
                                                REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                               : ::MoveFileExW(source.c_str(), target.c_str(),
                                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (moved) {
            return {};
        }
        const DWORD code = ::GetLastError();
        if (exists && (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
                       code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)) {
            exists = false;  // the old file is already gone: move the new one there
            continue;
        }
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) {
            return windows_error(code);
        }
        if (attempt == 20) {
            return std::make_error_code(std::errc::device_or_resource_busy);
        }
        ::Sleep(100);
    }
}

// Windows has no links to follow here: the name is the file.
std::error_code resolve_target(std::string& /*path*/) { return {}; }

std::error_code choose_how(const std::string& path, Plan& plan) {
    const HANDLE file =
        ::CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        plan.exists = code != ERROR_FILE_NOT_FOUND;
        // Anything else is for writing in place to report.
        plan.how = plan.exists ? How::write_in_place : How::replace;
        return {};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    const bool on_disk = ::GetFileType(file) == FILE_TYPE_DISK;
    ::CloseHandle(file);
    plan.exists = true;
    // A folder or a read-only file fails there and is reported.
    const bool keep_in_place =
        !known || !on_disk || info.nNumberOfLinks > 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
    plan.how = keep_in_place ? How::write_in_place : How::replace;
    return {};
}
#else
int open_in_place(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0664);
}
int create_new(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
}
ssize_t write_some(int file, const char* data, std::size_t size) {
    return ::write(file, data, size);
}
int close_file(int file) { return ::close(file); }
int remove_file(const std::string& path) { return ::unlink(path.c_str()); }
int process_id() { return static_cast<int>(::getpid()); }

std::error_code flush_to_disk(int file) {
    return ::fsync(file) == 0 ? std::error_code{} : last_error();
}
// Waits while another run writes the file. A file system without locks is
// written unlocked, as it always was.
void lock(int file) {
    while (::flock(file, LOCK_EX) != 0 && errno == EINTR) {
    }
}
std::error_code truncate_file(int file) {
    struct stat status {};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || ::ftruncate(file, 0) == 0) {
        return {};
    }
    return last_error();
}
// The owner first: changing it clears the set-user-ID bits that the mode restores.
std::error_code give_owner_and_mode(int file, const Plan& plan) {
    if (!plan.exists) {
        return {};
    }
    if (::fchown(file, plan.old.st_uid, plan.old.st_gid) != 0 ||
        ::fchmod(file, plan.old.st_mode & 07777) != 0) {
        return last_error();
    }
    return {};
}
// Makes the rename itself durable; a folder that cannot be flushed is no failure.
void sync_folder(const std::string& folder) {
    const int descriptor =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        static_cast<void>(::fsync(descriptor));
        ::close(descriptor);
    }
}

// Interrupt, terminate, hang-up and quit wait until the save is done or undone.
class SignalHold {
public:
    SignalHold() noexcept {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            sigaddset(&held, signal);
        }
        sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~SignalHold() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t previous_{};
};

std::error_code move_into_place(const std::string& from, const std::string& to, bool /*exists*/) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code{} : last_error();
}

// Follows `path` through symbolic links, relative ones from the link's folder, to
// the name of the file itself, whether or not a file stands there.
std::error_code resolve_target(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return {};
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t size = ::readlink(path.c_str(), link.data(), link.size());
        if (size < 0) {
            return last_error();
        }
        if (size == 0 || static_cast<std::size_t>(size) == link.size()) {
            return std::make_error_code(std::errc::filename_too_long);
        }
        link.resize(static_cast<std::size_t>(size));
        path = link.front() == '/' ? link : folder_of(path).append(link);
    }
    return std::make_error_code(std::errc::too_many_symbolic_link_levels);
}

// An access list or any other extended attribute, which a new file would not have.
bool has_extended_attributes(const std::string& path) {
#ifdef __linux__
    std::string names(4096, '\0');
    const ssize_t size = ::listxattr(path.c_str(), names.data(), names.size());
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
    static_cast<void>(path);
    return false;
}

// Whether a new file can be given the old one's owner and group.
bool can_give_owner(const struct stat& old) {
    if (::geteuid() == 0) {
        return true;
    }
    if (old.st_uid != ::geteuid()) {
        return false;
    }
    if (old.st_gid == ::getegid()) {
        return true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return count > 0 &&
           std::find(groups.begin(), groups.begin() + count, old.st_gid) != groups.begin() + count;
}

bool may(const std::string& path, int access) {
    return ::faccessat(AT_FDCWD, path.empty() ? "." : path.c_str(), access, AT_EACCESS) == 0;
}

std::error_code choose_how(const std::string& path, Plan& plan) {
    if (::stat(path.c_str(), &plan.old) != 0) {
        if (errno != ENOENT) {
            return last_error();
        }
        plan.exists = false;
        plan.how = How::replace;
        return {};
    }
    plan.exists = true;
    if (!S_ISREG(plan.old.st_mode) || plan.old.st_nlink > 1 || has_extended_attributes(path) ||
        !can_give_owner(plan.old)) {
        plan.how = How::write_in_place;
        return {};
    }
    // A file this user may not write is never replaced through the folder's permission.
    if (!may(path, W_OK)) {
        return last_error();
    }
    plan.how = may(folder_of(path), W_OK | X_OK) ? How::replace : How::write_in_place;
    return {};
}
#endif

// ---- The steps of a save ---------------------------------------------------

std::error_code write_all(int file, std::string_view text) {
    while (!text.empty()) {
        const auto written = write_some(file, text.data(), text.size());
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
    }
    return {};
}

// A new file beside the one it is to replace: kept by moving it into that one's
// place, and removed by anything else, however the save ends.
class TempFile {
public:
    explicit TempFile(const std::string& folder) {
        const std::string stem = folder + ".server.cfg." + std::to_string(process_id()) + ".";
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = stem + std::to_string(attempt);
            descriptor_ = create_new(path_);
            if (descriptor_ >= 0 || errno != EEXIST) {
                break;
            }
        }
        if (descriptor_ < 0) {
            error_ = last_error();
            path_.clear();
        }
    }
    ~TempFile() {
        if (descriptor_ >= 0) {
            close_file(descriptor_);
        }
        if (!path_.empty()) {
            remove_file(path_);
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::error_code& error() const { return error_; }
    int descriptor() const { return descriptor_; }

    // A failed close is a failed save: the last error of a full disk may come only now.
    std::error_code close() {
        const int result = close_file(descriptor_);
        descriptor_ = -1;
        return result == 0 ? std::error_code{} : last_error();
    }
    std::error_code keep(const std::string& target, bool target_exists) {
        std::error_code moved = move_into_place(path_, target, target_exists);
        if (!moved) {
            path_.clear();
        }
        return moved;
    }

private:
    std::string path_;
    int descriptor_ = -1;
    std::error_code error_;
};

// An early return leaves the new file to TempFile's destructor, which removes it.
std::error_code replace(const std::string& path, const Plan& plan, std::string_view text) {
    const SignalHold hold;
    TempFile temp{folder_of(path)};
    if (temp.error()) {
        return temp.error();
    }
    if (std::error_code error = give_owner_and_mode(temp.descriptor(), plan)) {
        return error;
    }
    if (std::error_code error = write_all(temp.descriptor(), text)) {
        return error;
    }
    if (std::error_code error = flush_to_disk(temp.descriptor())) {
        return error;
    }
    if (std::error_code error = temp.close()) {
        return error;
    }
    if (std::error_code error = temp.keep(path, plan.exists)) {
        return error;
    }
    sync_folder(folder_of(path));
    return {};
}

std::error_code write_in_place(const std::string& path, std::string_view text) {
    const int file = open_in_place(path);
    if (file < 0) {
        return last_error();
    }
    lock(file);
    const SignalHold hold;
    std::error_code error = truncate_file(file);
    if (!error) {
        error = write_all(file, text);
    }
    if (close_file(file) != 0 && !error) {
        error = last_error();
    }
    return error;
}

}  // namespace

std::error_code save_file(const char* path, std::string_view text) {
    std::string target = path;
    Plan plan;
    std::error_code error = resolve_target(target);
    if (!error) {
        error = choose_how(target, plan);
    }
    if (error) {
        return error;
    }
    if (plan.how == How::replace) {
        error = replace(target, plan, text);
        // A file mounted on its own (as into a container) cannot be renamed over,
        // and a file held open on Windows may stay busy: both are written in place.
        if (error != std::errc::device_or_resource_busy && error != std::errc::cross_device_link) {
            return error;
        }
    }
    return write_in_place(target, text);
}

}  // namespace scm

// The save's system calls on Windows.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <string>
#include <string_view>
#include <utility>

#include "save/file_system.hpp"

namespace scm::file_system {
namespace {

HANDLE handle_of(int descriptor) { return reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor)); }

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
std::error_code last_error() { return windows_error(::GetLastError()); }

// The full path, as ReplaceFileW needs it (Wine refuses a relative one); the names
// given here are ASCII.
std::wstring full_path(const std::string& path) {
    const std::wstring name{path.begin(), path.end()};
    const DWORD size = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD written = ::GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
    if (size == 0 || written == 0 || written >= size) {
        return name;
    }
    full.resize(written);
    return full;
}

// A virus scanner or an indexer holds a file open for a moment: one budget of about
// two seconds for the whole save, not one per step.
bool may_try_again() {
    static const ULONGLONG deadline = ::GetTickCount64() + 2000;
    if (::GetTickCount64() >= deadline) {
        return false;
    }
    ::Sleep(100);
    return true;
}

bool is_busy(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
           code == ERROR_UNABLE_TO_REMOVE_REPLACED || code == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// A symbolic link or a junction, which a new file would turn into a plain file.
// Other reparse points (cloud files, say) are ordinary files here.
bool is_link(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
            found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

std::uint64_t size_of(const Descriptor& file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(handle_of(file.get()), &size) ? static_cast<std::uint64_t>(size.QuadPart)
                                                         : 0;
}

// Binary mode: the CR LF in the text is written as it is.
std::error_code adopt(HANDLE handle, Descriptor& file) {
    const int descriptor =
        ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        ::CloseHandle(handle);
        return std::make_error_code(std::errc::too_many_files_open);
    }
    file = Descriptor{descriptor};
    return {};
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Console events that would end the run wait while the save changes the file.
std::atomic<bool> interrupted{false};
HANDLE save_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI hold_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            interrupted = true;
            return TRUE;
        default:
            // Closing the window, logging off, shutting down: Windows gives the
            // handler 5 s, then ends the process.
            ::WaitForSingleObject(save_done, 5000);
            return FALSE;
    }
}

}  // namespace

std::error_code close_descriptor(int descriptor) noexcept {
    return ::_close(descriptor) == 0 ? std::error_code{}
                                     : std::error_code{errno, std::generic_category()};
}

std::error_code open_target(const char* name, Wait /*wait*/, Target& target) {
    const std::wstring path = full_path(name);
    for (;;) {
        // Others may go on reading, writing and renaming it while it is open here.
        const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD code = ::GetLastError();
        if (handle != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info{};
            const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
            target.info.regular = ::GetFileType(handle) == FILE_TYPE_DISK &&
                                  (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
            target.info.created = code != ERROR_ALREADY_EXISTS;
            target.info.owned_by_me = true;
            target.info.keep_in_place = !known || info.nNumberOfLinks > 1 || is_link(path);
            target.info.size =
                static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
            return adopt(handle, target.file);
        }
        if (code != ERROR_SHARING_VIOLATION || !may_try_again()) {
            return windows_error(code);
        }
    }
}

// Windows has no descriptor of a folder: the steps name the files by their full paths
// in the folder of the name.
std::error_code open_folder(const Target& /*target*/, const char* name, Folder& folder) {
    const std::string path = name;
    const std::size_t end = path.find_last_of("/\\");
    folder.path = end == std::string::npos ? std::string{} : path.substr(0, end + 1);
    folder.entry = path.substr(folder.path.size());
    return {};
}

std::error_code create_in(const Folder& folder, std::string& name, Descriptor& file) {
    const std::string stem = ".server.cfg." + std::to_string(::_getpid()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = stem + std::to_string(attempt);
        const HANDLE handle = ::CreateFileW(full_path(folder.path + name).c_str(), GENERIC_WRITE, 0,
                                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            return adopt(handle, file);
        }
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            name.clear();
            // A folder that admits no new file leaves the old one to be written in place.
            return code == ERROR_ACCESS_DENIED ? SaveError::cannot_replace : windows_error(code);
        }
    }
    name.clear();
    return windows_error(ERROR_FILE_EXISTS);
}

void remove_in(const Folder& folder, const std::string& name) noexcept {
    ::DeleteFileW(full_path(folder.path + name).c_str());
}

void remove_if_still_empty(const Target& target, const char* name) noexcept {
    if (size_of(target.file) == 0) {
        // Deleted once the last handle closes; a file another run wrote is not empty.
        ::DeleteFileW(full_path(name).c_str());
    }
}

// A new file in the folder takes the folder's access list; ReplaceFileW keeps the
// old file's.
std::error_code give_owner(const Descriptor& /*file*/, const FileInfo& /*old*/) { return {}; }
std::error_code give_mode(const Descriptor& /*file*/, const FileInfo& /*old*/) { return {}; }

std::error_code flush(const Descriptor& file) {
    return ::FlushFileBuffers(handle_of(file.get())) ? std::error_code{} : last_error();
}

std::error_code move_into_place(const Folder& folder, const std::string& name,
                                std::string& stranded_backup) {
    const std::wstring source = full_path(folder.path + name);
    const std::wstring target = full_path(folder.path + folder.entry);
    const std::string backup = folder.path + name + ".old";
    const std::wstring backup_path = full_path(backup);
    for (;;) {
        // ReplaceFileW keeps the old file's access list and attributes.
        if (::ReplaceFileW(target.c_str(), source.c_str(), backup_path.c_str(),
                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
            ::DeleteFileW(backup_path.c_str());
            return {};
        }
        const DWORD code = ::GetLastError();
        if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            // The old file is at the backup name: the new one must take its place now.
            if (::MoveFileExW(source.c_str(), target.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                ::DeleteFileW(backup_path.c_str());
                return {};
            }
            stranded_backup = backup;
            return last_error();
        }
        if (code == ERROR_FILE_NOT_FOUND) {
            // The old file went away meanwhile: the new one simply takes its name.
            return ::MoveFileExW(source.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                       ? std::error_code{}
                       : last_error();
        }
        if (!is_busy(code)) {
            return windows_error(code);
        }
        if (!may_try_again()) {
            return SaveError::cannot_replace;
        }
    }
}

bool cannot_cut(const std::error_code& error) noexcept {
    return error == std::error_code(ERROR_USER_MAPPED_FILE, std::system_category());
}

void flush_folder(const Folder& /*folder*/) noexcept {}  // the moves are made with write-through

std::error_code lock(const Descriptor& file, Wait wait) {
    OVERLAPPED whole{};
    const DWORD flags =
        LOCKFILE_EXCLUSIVE_LOCK | (wait == Wait::no ? LOCKFILE_FAIL_IMMEDIATELY : 0);
    if (::LockFileEx(handle_of(file.get()), flags, 0, MAXDWORD, MAXDWORD, &whole)) {
        return {};
    }
    const DWORD code = ::GetLastError();
    if (wait == Wait::no && (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)) {
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    }
    return {};  // a file that cannot be locked is written unlocked
}

std::error_code reserve(const Descriptor& file, std::uint64_t size) {
    // Less than the file's length would cut it: only ever more.
    if (size > size_of(file)) {
        FILE_ALLOCATION_INFO room{};
        room.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
        static_cast<void>(::SetFileInformationByHandle(handle_of(file.get()), FileAllocationInfo,
                                                       &room, sizeof room));
    }
    return {};
}

std::error_code check_size_limit(std::uint64_t /*size*/) { return {}; }

std::error_code write_all(const Descriptor& file, std::string_view text, From from) {
    if (from == From::start && ::_lseeki64(file.get(), 0, SEEK_SET) != 0) {
        return {errno, std::generic_category()};
    }
    while (!text.empty()) {
        // The file is a few kilobytes; _write takes at most INT_MAX at a time.
        const auto size = static_cast<unsigned>(std::min<std::size_t>(text.size(), INT_MAX));
        const int written = ::_write(file.get(), text.data(), size);
        if (written < 0) {
            return {errno, std::generic_category()};
        }
        if (written == 0) {  // no progress and no reason: do not spin
            return std::make_error_code(std::errc::io_error);
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// Only ever shorter: a file grown by SetEndOfFile would hold zeros after a kill.
std::error_code cut(const Descriptor& file, std::uint64_t size) {
    if (size_of(file) <= size) {
        return {};
    }
    const HANDLE handle = handle_of(file.get());
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle)) {
        return last_error();
    }
    return {};
}

// A Ctrl-C or Ctrl-Break during the save ends the run right after it, as it would
// have before; the parent's own Ctrl-C setting is left as it was.
SignalHold::SignalHold() noexcept {
    interrupted = false;
    ::ResetEvent(save_done);
    ::SetConsoleCtrlHandler(hold_event, TRUE);
}

SignalHold::~SignalHold() {
    ::SetConsoleCtrlHandler(hold_event, FALSE);
    ::SetEvent(save_done);
    if (interrupted) {
        ::ExitProcess(STATUS_CONTROL_C_EXIT);
    }
}

}  // namespace scm::file_system

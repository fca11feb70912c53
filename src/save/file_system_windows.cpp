// The save's system calls on Windows.
#define _CRT_RAND_S  // rand_s
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "save/file_system.hpp"

namespace scm::file_system {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers lack.
constexpr DWORD kDiskQuotaExceeded = 1295;

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

// Moves a file, written through, tried again while another program holds it for a
// moment: ERROR_SUCCESS, or why it could not.
DWORD move_file(const std::wstring& from, const std::wstring& to, DWORD flags) {
    for (;;) {
        if (::MoveFileExW(from.c_str(), to.c_str(), flags | MOVEFILE_WRITE_THROUGH)) {
            return ERROR_SUCCESS;
        }
        const DWORD code = ::GetLastError();
        if (!is_busy(code) || !may_try_again()) {
            return code;
        }
    }
}

// Removes a file, tried again while another program holds it for a moment: whether it
// is gone, with the system's reason where it gave one. Wine removes a file only once
// its last handle is closed and drops a failure then, so the name is looked for after.
bool remove_file(const std::wstring& path, std::error_code& reason) {
    while (!::DeleteFileW(path.c_str())) {
        const DWORD code = ::GetLastError();
        if (!is_busy(code) || !may_try_again()) {
            reason = windows_error(code);
            break;
        }
    }
    return ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
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

std::uint64_t size_of(int file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(handle_of(file), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

// Whether the folder lists the name, as it lists a link that leads nowhere.
bool is_listed(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::FindClose(search);
    return true;
}

// The system's own path of an open file or folder, or "" where it cannot say.
std::wstring final_path_of(HANDLE handle) {
    const DWORD size = ::GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    std::wstring path(size, L'\0');
    const DWORD written =
        ::GetFinalPathNameByHandleW(handle, path.data(), size, FILE_NAME_NORMALIZED);
    if (size == 0 || written == 0 || written >= size) {
        return {};
    }
    path.resize(written);
    return path;
}

// Whether the opened file is the entry in its folder, not a file a link leads to
// that the system does not show as one (Wine shows a Unix link as a plain file).
bool is_where_named(HANDLE file, const Folder& folder) {
    std::wstring path = full_path(folder.path.empty() ? "." : folder.path);
    const HANDLE opened = ::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return false;
    }
    path = final_path_of(opened);
    ::CloseHandle(opened);
    const std::wstring file_path = final_path_of(file);
    if (path.empty() || file_path.empty()) {
        return false;
    }
    if (path.back() != L'\\') {
        path += L'\\';
    }
    path += std::wstring{folder.entry.begin(), folder.entry.end()};
    return ::CompareStringOrdinal(path.c_str(), -1, file_path.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void describe(HANDLE handle, const std::wstring& path, Target& target) {
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
    FileInfo& file = target.info;
    file.kind = ::GetFileType(handle) == FILE_TYPE_DISK &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0
                    ? Kind::regular
                    : Kind::other;
    file.owned_by_me = true;
    file.keep_in_place = !known || info.nNumberOfLinks > 1 || is_link(path) ||
                         (file.kind == Kind::regular && !is_where_named(handle, target.folder));
    file.size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    file.device = info.dwVolumeSerialNumber;
    file.inode = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
}

// 16 hexadecimal digits from the system's random source, two draws of 32 bits.
std::error_code random_part(std::string& part) {
    std::array<unsigned, 2> draws{};
    for (unsigned& draw : draws) {
        if (const errno_t error = ::rand_s(&draw); error != 0) {
            return {error, std::generic_category()};
        }
    }
    std::array<char, 17> digits{};
    static_cast<void>(std::snprintf(digits.data(), digits.size(), "%08x%08x", draws[0], draws[1]));
    part = digits.data();
    return {};
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

// The C runtime keeps descriptors 0 to 2 for the standard streams, with a handle or
// without one: no file it opens ever takes their numbers.
void fill_closed_standard_streams() noexcept {}

std::error_code open_existing(const char* name, Wait /*wait*/, Target& target) {
    target = Target{};
    target.name = name;
    const std::string given = name;
    const std::size_t end = given.find_last_of("/\\");
    target.folder.path = end == std::string::npos ? std::string{} : given.substr(0, end + 1);
    target.folder.entry = given.substr(target.folder.path.size());
    const std::wstring path = full_path(given);
    for (;;) {
        // Others may go on reading, writing and renaming it while it is open here.
        HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD code = ::GetLastError();
        if (handle == INVALID_HANDLE_VALUE && code == ERROR_FILE_NOT_FOUND) {
            if (!is_listed(path)) {
                target.info.kind = Kind::none;
                return {};
            }
            // A link that leads nowhere: the open creates its target, as 1.0.0 did.
            handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            code = ::GetLastError();
        }
        if (handle != INVALID_HANDLE_VALUE) {
            describe(handle, path, target);
            if (std::error_code error = adopt(handle, target.file)) {
                return error;
            }
            return target.info.kind == Kind::regular ? still_named(target) : std::error_code{};
        }
        if (code != ERROR_SHARING_VIOLATION) {
            return windows_error(code);
        }
        if (!may_try_again()) {
            return SaveError::in_use;
        }
    }
}

std::error_code still_named(const Target& target) {
    const Folder& folder = target.folder;
    // Opened for no access, following links, folders too.
    const HANDLE entry =
        ::CreateFileW(full_path(folder.path + folder.entry).c_str(), FILE_READ_ATTRIBUTES,
                      kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (entry == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? std::error_code{SaveError::start_over}
                                            : windows_error(code);
    }
    BY_HANDLE_FILE_INFORMATION named{};
    const bool known = ::GetFileInformationByHandle(entry, &named) != 0;
    ::CloseHandle(entry);
    BY_HANDLE_FILE_INFORMATION opened{};
    if (!known || !::GetFileInformationByHandle(handle_of(target.file.get()), &opened)) {
        return last_error();
    }
    if (opened.nNumberOfLinks == 0 || opened.dwVolumeSerialNumber != named.dwVolumeSerialNumber ||
        opened.nFileIndexHigh != named.nFileIndexHigh ||
        opened.nFileIndexLow != named.nFileIndexLow) {
        return SaveError::start_over;
    }
    return {};
}

// Windows has no mode bits to give back.
std::error_code look_again(Target& /*target*/) { return {}; }

void TempFile::remove() noexcept {
    if (!name_.empty()) {
        static_cast<void>(file_.close());
        std::error_code reason;
        if (!remove_file(full_path(folder_->path + name_), reason)) {
            left_behind_(Settings::new_ones, folder_->path + name_, reason);
        }
        name_.clear();
    }
}

// Windows makes no unnamed file: always a named one, held from its creation.
std::error_code TempFile::create(const Folder& folder, Access /*access*/, Naming /*naming*/) {
    folder_ = &folder;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string part;
        if (std::error_code error = random_part(part)) {
            return error;
        }
        const std::string name = ".server.cfg." + part;
        hold_.emplace();
        // A new file in the folder takes the folder's access list; ReplaceFileW keeps
        // the old file's.
        const HANDLE handle = ::CreateFileW(full_path(folder.path + name).c_str(), GENERIC_WRITE, 0,
                                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            name_ = name;
            return adopt(handle, file_);
        }
        const DWORD code = ::GetLastError();
        hold_.reset();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            return windows_error(code);
        }
    }
    return windows_error(ERROR_FILE_EXISTS);
}

std::error_code TempFile::keep_as_new(const Folder& folder) {
    if (std::error_code error = file_.close()) {
        return error;
    }
    // Without MOVEFILE_REPLACE_EXISTING: a file another run put there stays.
    const DWORD code =
        move_file(full_path(folder.path + name_), full_path(folder.path + folder.entry), 0);
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
        return SaveError::start_over;  // another run was faster
    }
    if (code != ERROR_SUCCESS) {
        return windows_error(code);
    }
    name_.clear();
    hold_.reset();
    return {};
}

std::error_code TempFile::keep_replacing(Target& target_file, Stranded& stranded) {
    const Folder& folder = target_file.folder;
    // ReplaceFileW does not write through: the new file was flushed before.
    if (std::error_code error = file_.close()) {
        return error;
    }
    const std::wstring source = full_path(folder.path + name_);
    const std::wstring target = full_path(folder.path + folder.entry);
    // A name of this save's own, never one a user may have.
    const std::string backup = folder.path + name_ + ".old";
    const std::wstring backup_path = full_path(backup);
    // ReplaceFileW keeps the old file's access list and attributes.
    while (!::ReplaceFileW(target.c_str(), source.c_str(), backup_path.c_str(),
                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            // Half done: the old file is at the backup name, and the new one must take
            // its place now, or the old one go back. Nothing else is tried after that.
            stranded.settled = true;
            const DWORD moved = move_file(source, target, MOVEFILE_REPLACE_EXISTING);
            if (moved == ERROR_SUCCESS) {
                break;
            }
            // Without replacing anything; the new file is then removed by its name.
            if (move_file(backup_path, target, 0) != ERROR_SUCCESS) {
                stranded.new_file = folder.path + std::exchange(name_, {});
                stranded.backup = backup;
            }
            return windows_error(moved);
        }
        if (code == ERROR_FILE_NOT_FOUND) {
            return SaveError::start_over;  // the old file went away meanwhile
        }
        if (!is_busy(code)) {
            return windows_error(code);
        }
        if (!may_try_again()) {
            return SaveError::cannot_replace;
        }
    }
    // The old file goes while the hold stands, so that a Ctrl-C held meanwhile ends the
    // run with nothing left, or with the line that names it. It goes only once no
    // handle of this program's holds it.
    static_cast<void>(target_file.file.close());
    std::error_code reason;
    if (!remove_file(backup_path, reason)) {
        left_behind_(Settings::old_ones, backup, reason);
    }
    name_.clear();
    hold_.reset();
    return {};
}

std::error_code drop_access_list(int /*file*/) { return {}; }
std::error_code give_owner(int /*file*/, const FileInfo& /*old*/) { return {}; }
std::error_code give_mode(int /*file*/, const FileInfo& /*old*/) { return {}; }

std::error_code flush(int file) {
    return ::FlushFileBuffers(handle_of(file)) ? std::error_code{} : last_error();
}

bool cannot_cut(const std::error_code& error) noexcept {
    return error == std::error_code(ERROR_USER_MAPPED_FILE, std::system_category());
}

// The moves are made with write-through.
std::error_code flush_folder(const Folder& /*folder*/) noexcept { return {}; }

std::error_code lock(int file, Wait wait) {
    OVERLAPPED whole{};
    const DWORD flags =
        LOCKFILE_EXCLUSIVE_LOCK | (wait == Wait::no ? LOCKFILE_FAIL_IMMEDIATELY : 0);
    if (::LockFileEx(handle_of(file), flags, 0, MAXDWORD, MAXDWORD, &whole)) {
        return {};
    }
    const DWORD code = ::GetLastError();
    if (wait == Wait::no && (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)) {
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    }
    return {};  // a file that cannot be locked is written unlocked
}

std::error_code reserve(int file, std::uint64_t size) {
    // Less than the file's length would cut it: only ever more.
    if (size > size_of(file)) {
        FILE_ALLOCATION_INFO room{};
        room.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFileInformationByHandle(handle_of(file), FileAllocationInfo, &room,
                                          sizeof room)) {
            // A full disk or quota fails before any byte; a file system that reserves
            // nothing goes on.
            const DWORD code = ::GetLastError();
            if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ||
                code == kDiskQuotaExceeded) {
                return windows_error(code);
            }
        }
    }
    return {};
}

std::error_code check_size_limit(std::uint64_t /*size*/) { return {}; }

std::error_code write_all(int file, std::string_view text, From from) {
    if (from == From::start && ::_lseeki64(file, 0, SEEK_SET) != 0) {
        return {errno, std::generic_category()};
    }
    while (!text.empty()) {
        // The file is a few kilobytes; _write takes at most INT_MAX at a time.
        const auto size = static_cast<unsigned>(std::min<std::size_t>(text.size(), INT_MAX));
        const int written = ::_write(file, text.data(), size);
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
std::error_code cut(int file, std::uint64_t size) {
    if (size_of(file) <= size) {
        return {};
    }
    const HANDLE handle = handle_of(file);
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

// A Windows program gets no signal for a reader that leaves.
void broken_pipes_are_errors() noexcept {}

// Asked by the file's id: Wine tells no volume of a standard stream that is a file (0)
// and none of its other information, so the volume counts only where both are told.
bool is_standard_stream(int stream, const Target& target) noexcept {
    FILE_ID_INFO standard{};
    FILE_ID_INFO file{};
    return ::GetFileInformationByHandleEx(handle_of(stream), FileIdInfo, &standard,
                                          sizeof standard) &&
           ::GetFileInformationByHandleEx(handle_of(target.file.get()), FileIdInfo, &file,
                                          sizeof file) &&
           std::memcmp(&standard.FileId, &file.FileId, sizeof file.FileId) == 0 &&
           (standard.VolumeSerialNumber == 0 ||
            standard.VolumeSerialNumber == file.VolumeSerialNumber);
}

}  // namespace scm::file_system

// Holds server.cfg for a while, as a virus scanner, an editor or another program on
// Windows may, so that the end-to-end tests under Wine see what a save does
// meanwhile. Built with the Windows build. Usage: hold_file HOW SECONDS, where HOW is
// read-write (open, sharing reading and writing but not deleting), read (sharing
// reading only) or lock (sharing everything, under an exclusive LockFileEx lock; it
// says "changed" on standard error if the file changed before it let go). It makes
// the file .run/held once it holds server.cfg. Or: hold_file start PROGRAM, which
// starts PROGRAM with no standard input handle at all, as a service or a scheduled
// task may, and exits with its status.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string contents(HANDLE file) {
    std::string text(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    const std::string how = argv[1];
    if (how == "start") {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;  // and hStdInput none
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION started{};
        DWORD status = 2;
        if (CreateProcessA(argv[2], nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                           &started)) {
            WaitForSingleObject(started.hProcess, INFINITE);
            GetExitCodeProcess(started.hProcess, &status);
        }
        return static_cast<int>(status);
    }
    const DWORD share = how == "lock" ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                        : how == "read-write" ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                              : FILE_SHARE_READ;
    const HANDLE file = CreateFileW(L"server.cfg", GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    OVERLAPPED whole{};
    if (how == "lock" &&
        !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        return 1;
    }
    const std::string before = contents(file);
    CloseHandle(CreateFileW(L".run\\held", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) * 1000);
    if (how == "lock") {
        if (contents(file) != before) {
            static_cast<void>(std::fputs("changed\n", stderr));
        }
        OVERLAPPED again{};
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &again);
    }
    CloseHandle(file);
    return 0;
}

// Holds server.cfg open for a while, as a virus scanner or an editor on Windows may,
// so that the end-to-end tests under Wine see what a save does meanwhile. Built
// with the Windows build. Usage: hold_file read-write|nothing SECONDS. It shares
// the file with others for reading and writing, or for nothing, and makes the file
// "held" once the file is open.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const DWORD share =
        std::strcmp(argv[1], "read-write") == 0 ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    const HANDLE file =
        CreateFileW(L"server.cfg", GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    CloseHandle(CreateFileW(L"held", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    CloseHandle(file);
    return 0;
}

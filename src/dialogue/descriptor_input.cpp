#include "dialogue/descriptor_input.hpp"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace scm {
namespace {

#ifdef _WIN32
long read_some(int descriptor, char* data, std::size_t size) {
    return ::_read(descriptor, data, static_cast<unsigned>(size));
}
bool wait_until_readable(int /*descriptor*/) { return false; }
#else
long read_some(int descriptor, char* data, std::size_t size) {
    return static_cast<long>(::read(descriptor, data, size));
}
// Blocks in poll, using no processor time, until `descriptor` has input, has
// reached its end or has failed; the read that follows tells which. Returns false
// when even waiting fails.
bool wait_until_readable(int descriptor) {
    pollfd entry{descriptor, POLLIN, 0};
    for (;;) {
        if (::poll(&entry, 1, -1) >= 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}
#endif

}  // namespace

Source standard_input_source() noexcept {
#ifdef _WIN32
    // No handle (-1 with the system's msvcrt, -2 with Wine's), or one that is no
    // file, pipe or console, is no input at all: its reads fail as a console's that
    // has gone, which ends the input. (Wine hands a closed descriptor a handle on the
    // current folder: a file, whose reads fail.)
    const intptr_t handle = ::_get_osfhandle(0);
    const DWORD type =
        handle <= 0 ? FILE_TYPE_UNKNOWN : ::GetFileType(reinterpret_cast<HANDLE>(handle));
    if (type == FILE_TYPE_UNKNOWN || ::_isatty(0)) {
        return Source::terminal;
    }
    ::_setmode(0, _O_BINARY);
    return type == FILE_TYPE_DISK ? Source::file : Source::stream;
#else
    // No standard input at all has nothing to read, as at a terminal.
    struct stat status {};
    if (::fstat(0, &status) != 0 || ::isatty(0)) {
        return Source::terminal;
    }
    return S_ISREG(status.st_mode) ? Source::file : Source::stream;
#endif
}

DescriptorInput::int_type DescriptorInput::underflow() noexcept {
    for (;;) {
        const long count = read_some(descriptor_, buffer_.data(), buffer_.size());
        if (count > 0) {
            setg(buffer_.data(), buffer_.data(), buffer_.data() + count);
            return traits_type::to_int_type(buffer_[0]);
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            wait_until_readable(descriptor_)) {
            continue;
        }
        // The end, or a failure that no retry mends: both end the input.
        if (count < 0) {
            failure_ = std::error_code{errno, std::generic_category()};
        }
        return traits_type::eof();
    }
}

}  // namespace scm

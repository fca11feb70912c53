#include "dialogue/descriptor_input.hpp"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace scm {
namespace {

#ifdef _WIN32
// Standard input stays in the console's text mode: CR LF arrives as a line feed,
// and Ctrl-Z ends input.
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
        return traits_type::eof();
    }
}

}  // namespace scm

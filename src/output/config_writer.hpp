#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "settings/catalogue.hpp"

namespace scm {

inline constexpr const char* kConfigFileName = "server.cfg";

// The whole text of server.cfg: two comment lines, then one "key value" line per
// setting in write order, every line ending in CR LF whatever the platform.
std::string render_config(const Answers& answers);

// Creates `path` (permission bits 0664 less the umask) or truncates it in place,
// so an existing file keeps its mode and a link to it keeps working, then writes
// `text` and closes it. Returns the system's reason for the first open, write or
// close that failed, or an empty error code when all of them succeeded.
std::error_code save_file(const char* path, std::string_view text);

}  // namespace scm

#pragma once

#include <string>

#include "settings/catalogue.hpp"

namespace scm {

inline constexpr const char* kConfigFileName = "server.cfg";

// The whole text of server.cfg: two comment lines, then one "key value" line per
// setting in write order, every line ending in CR LF whatever the platform.
std::string render_config(const Answers& answers);

}  // namespace scm

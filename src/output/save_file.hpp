#pragma once

#include <string_view>
#include <system_error>

namespace scm {

// Saves `text` as the file `path` so that a failure never leaves a part of it.
//
// A link at `path` is followed to the file it names, and stays a link. Where it
// can, the text goes to a new file beside that one (named .server.cfg.*, with the
// old file's mode, owner and group, or mode 0664 less the umask for a new file),
// which is flushed to the disk and renamed over it: the old file keeps every byte
// until the new one is complete, and a failure removes the new one. Where
// replacing would lose something that writing in place keeps (a device or pipe,
// hard links, extended attributes or an access list, an owner or group this user
// cannot give, a folder that admits no new file), the file is rewritten in place
// under an exclusive lock, so that two runs never mix their texts. A file this
// user may not write is never replaced.
//
// Returns the system's reason for the first step that failed, or an empty error
// code when the whole text is saved.
std::error_code save_file(const char* path, std::string_view text);

}  // namespace scm

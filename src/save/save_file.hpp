#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <system_error>

namespace scm {

struct SaveResult {
    // The system's reason for the first step that failed; empty when the whole text
    // is saved.
    std::error_code error;
    // Where the new text and the old one were left when neither could be put back
    // under the file's name (Windows only); empty otherwise.
    std::string new_file;
    std::string backup;
};

// Saves `text` as the file `name` so that a failure never leaves a part of it.
//
// The system opens the name, following links by its own rules, and the file it
// opens is the one saved; a link stays a link. Where it can, the text goes to a new
// file beside that one, private until it is complete, then given the old file's
// owner, group and mode (0664 less the umask for a file the save created), flushed
// to the disk and renamed over it: the old file keeps every byte until then, and a
// failure removes the new one. Where replacing would lose something (a device or a
// pipe, hard links, extended attributes or an access list, an owner this user
// cannot give, a file that cannot be renamed over), the file is written in place
// under an exclusive lock, after the room for the text is reserved and the size
// limit checked, so that a full disk or a limit fails before any byte. A wait for a
// lock or for a reader of a named pipe is announced once on `err`. Signals that
// would end the run wait until the file is kept or the new one removed.
SaveResult save_file(const char* name, std::string_view text, std::ostream& err);

}  // namespace scm

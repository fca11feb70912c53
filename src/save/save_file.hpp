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
    // Where the text is under the name but its folder could not be flushed to the
    // disk (`error` is then that outcome of its own), the system's reason.
    std::error_code folder_flush;
    // Where the new text and the old one were left when neither could be put back
    // under the file's name (Windows only); empty otherwise.
    std::string new_file;
    std::string backup;
};

// Saves `text` as the file `name` so that a failure never leaves a part of it.
//
// Where there was no file, the text goes to a new file (0664 less the umask) that
// gets the name only once it is whole and on the disk, and never in the place of a
// file another run put there meanwhile. An existing name is opened by the system,
// following links by its own rules, and the file it opens is the one saved; a link
// stays a link. Where it can, the text goes to a new file in that file's folder,
// private until it is complete, then given the old file's owner, group and mode,
// flushed to the disk and renamed over it: the old file keeps every byte until
// then. Where replacing would lose something (hard links, extended attributes or an
// access list, an owner this user cannot give, a folder that takes no renames), the
// file is written in place under an exclusive lock, after the room for the text is
// reserved and the size limit checked. A device, a pipe or a link to the program's
// own output is written through as it stands, with `out` flushed first. A wait for
// a lock or for a reader of a named pipe is announced once on `err`. Signals that
// would end the run wait while a new file has a name of its own or the file is
// written in place. Once a new file has the name, its folder is flushed; a flush that
// fails leaves the text in place and is an outcome of its own (`folder_flush`).
SaveResult save_file(const char* name, std::string_view text, std::ostream& out, std::ostream& err);

}  // namespace scm

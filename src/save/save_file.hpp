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
    // The failure's line is on standard error already: the save wrote it while it
    // still held ending signals, as it names where the texts were left (Windows only).
    bool reported = false;
    // The file was written in place, and is the program's standard output or error:
    // nothing more may go to that stream.
    bool out_is_the_file = false;
    bool err_is_the_file = false;
};

// "Could not save NAME: REASON", the start of a failed save's line.
std::string could_not_save(std::string_view name, const std::error_code& error);

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
// a lock or for a reader of a named pipe is announced once on `err`, and so is a file
// of the save's own that could not be removed, or a replace the system left half done
// (with the failure: `reported`). A reader that leaves a pipe the text goes to fails
// the save where the caller has made that a failed write instead of the end of the run
// (file_system::broken_pipes_are_errors). Signals that
// would end the run wait while a new file has a name of its own or the file is
// written in place. Once a new file has the name, its folder is flushed; a flush that
// fails leaves the text in place and is an outcome of its own (`folder_flush`).
SaveResult save_file(const char* name, std::string_view text, std::ostream& out, std::ostream& err);

}  // namespace scm

#include "output/output_phase.hpp"

#include <string>
#include <string_view>

#include "output/config_writer.hpp"
#include "save/file_system.hpp"
#include "save/save_file.hpp"

namespace scm {
namespace {

// Shown on a successful save, with no line end: the cursor waits after it.
constexpr std::string_view kSavedMessage =
    "The config is saved as server.cfg in the same folder as this program!";

// The one line on standard error after a save that did not end as it should.
std::string failure_line(const SaveResult& saved) {
    if (saved.folder_flush) {
        return std::string{kConfigFileName} +
               " holds the new settings, but its folder could not be flushed to the disk (" +
               saved.folder_flush.message() + "): they may not survive a power cut.";
    }
    return could_not_save(kConfigFileName, saved.error);
}

// Writes `text` at once: false where it could not be shown (a reader that left).
bool show(std::ostream& stream, const std::string& text) {
    stream << text;
    stream.flush();
    return !stream.fail();
}

}  // namespace

void closing_pause(AnswerReader& reader) { reader.read(); }

int save_and_pause(const Answers& answers, AnswerReader& reader, std::ostream& out,
                   std::ostream& err) {
    // From here on, a reader that leaves is a failed write, not the end of the run: a
    // file that is saved stays an exit status of the save's.
    file_system::broken_pipes_are_errors();
    const SaveResult saved = save_file(kConfigFileName, render_config(answers), out, err);
    // Nothing goes into a file just written in place, and a closing message or line
    // that nobody can read is not waited on.
    bool shown = saved.reported;
    if (saved.error && !saved.reported && !saved.err_is_the_file) {
        // One string, so that the unbuffered error stream writes the line at once.
        shown = show(err, failure_line(saved) + '\n');
    } else if (!saved.error && !saved.out_is_the_file) {
        shown = show(out, std::string{kSavedMessage});
    }
    if (shown) {
        closing_pause(reader);
    }
    return !saved.error ? 0 : saved.folder_flush ? 2 : 1;
}

}  // namespace scm

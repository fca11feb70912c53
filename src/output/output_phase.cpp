#include "output/output_phase.hpp"

#include <string>
#include <string_view>

#include "output/config_writer.hpp"
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
    std::string line =
        std::string{"Could not save "} + kConfigFileName + ": " + saved.error.message();
    if (!saved.new_file.empty()) {
        line += ". The new settings are in " + saved.new_file + "; the old ones are in " +
                saved.backup + ".";
    }
    return line;
}

}  // namespace

void closing_pause(AnswerReader& reader) { reader.read(); }

int save_and_pause(const Answers& answers, AnswerReader& reader, std::ostream& out,
                   std::ostream& err) {
    const SaveResult saved = save_file(kConfigFileName, render_config(answers), out, err);
    if (saved.error) {
        // One string, so that the unbuffered error stream writes the line at once.
        err << failure_line(saved) + '\n';
        err.flush();
    } else {
        out << kSavedMessage;
        out.flush();
    }
    closing_pause(reader);
    return !saved.error ? 0 : saved.folder_flush ? 2 : 1;
}

}  // namespace scm

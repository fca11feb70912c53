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

}  // namespace

void closing_pause(AnswerReader& reader) { reader.read(); }

int save_and_pause(const Answers& answers, AnswerReader& reader, std::ostream& out,
                   std::ostream& err) {
    const SaveResult saved = save_file(kConfigFileName, render_config(answers), out, err);
    const std::error_code& error = saved.error;
    if (error) {
        // One string, so that the unbuffered error stream writes the line at once.
        std::string line =
            std::string{"Could not save "} + kConfigFileName + ": " + error.message();
        if (!saved.new_file.empty()) {
            line += ". The new settings are in " + saved.new_file + "; the old ones are in " +
                    saved.backup + ".";
        }
        err << line + '\n';
        err.flush();
    } else {
        out << kSavedMessage;
        out.flush();
    }
    closing_pause(reader);
    return error ? 1 : 0;
}

}  // namespace scm

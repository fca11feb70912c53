#include "save/save_file.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "save/file_system.hpp"

namespace scm {
namespace {

namespace fsys = file_system;
using fsys::Kind;
using fsys::Naming;
using fsys::SaveError;
using fsys::Wait;

enum class How : std::uint8_t { first_save, to_standard_stream, through, replace, in_place };

// A new file replaces the old one unless it would part from something the old one
// has: hard links would keep the old text, attributes and access lists would be
// lost, and so would an owner that a new file cannot be given. A device or a pipe
// is no file to replace.
How choose_how(const fsys::FileInfo& info) {
    switch (info.kind) {
        case Kind::none:
            return How::first_save;
        case Kind::standard_stream:
            return How::to_standard_stream;
        case Kind::other:
            return How::through;
        case Kind::regular:
            break;
    }
    return info.keep_in_place ? How::in_place : How::replace;
}

// The lines a save writes on standard error while it runs, each at once: the two
// waits, each announced once in a run however often it starts over; a file of its
// own that it leaves behind; a replace left half done. The last two come while
// ending signals are held, so that one that ends the run right after leaves them.
class Lines {
public:
    Lines(const char* name, std::ostream& err) : name_{name}, err_{err} {}

    void for_reader() { announce(reader_announced_, "Waiting for a program to read "); }
    void for_release() { announce(release_announced_, "Waiting for another program to release "); }
    fsys::LeftBehind left_behind() {
        return [this](fsys::Settings settings, const std::string& file,
                      const std::error_code& reason) {
            write(std::string{"The "} + (settings == fsys::Settings::old_ones ? "old" : "new") +
                  " settings are left in " + file + ", which could not be removed" +
                  (reason ? " (" + reason.message() + ")" : std::string{}) + ".");
        };
    }
    void stranded(const std::error_code& error, const fsys::Stranded& stranded) {
        write(could_not_save(name_, error) + ". The new settings are in " + stranded.new_file +
              "; the old ones are in " + stranded.backup + ".");
    }

private:
    void announce(bool& announced, const char* words) {
        if (!announced) {
            write(words + name_ + "...");
            announced = true;
        }
    }
    // One string, so that the unbuffered error stream writes the line at once.
    void write(const std::string& line) {
        err_ << line + '\n';
        err_.flush();
    }

    std::string name_;
    std::ostream& err_;
    bool reader_announced_ = false;
    bool release_announced_ = false;
};

// Opens the name; a named pipe that nobody reads yet and a file another program
// holds are announced, then waited for.
std::error_code open_existing(const char* name, fsys::Target& target, Lines& lines) {
    const std::error_code error = fsys::open_existing(name, Wait::no, target);
    if (error == SaveError::no_reader) {
        lines.for_reader();
    } else if (error == std::errc::resource_unavailable_try_again) {
        lines.for_release();
    } else {
        return error;
    }
    return fsys::open_existing(name, Wait::yes, target);
}

// The new file of a first save: written, flushed, and given the name only if it is
// still free.
std::error_code make_first(fsys::TempFile& temp, Naming naming, const fsys::Folder& folder,
                           std::string_view text) {
    if (std::error_code error = temp.create(folder, fsys::Access::shared, naming)) {
        return error;
    }
    if (std::error_code error = fsys::write_all(temp.descriptor(), text, fsys::From::here)) {
        return error;
    }
    if (std::error_code error = fsys::flush(temp.descriptor())) {
        return error;
    }
    return temp.keep_as_new(folder);
}

// Makes the new file with `make`: unnamed where the file system allows, otherwise
// named; then flushes the folder that got it. A flush that fails leaves the text in
// place: an outcome of its own, with the reason in `result`.
template <typename Make>
std::error_code with_a_new_file(const fsys::Folder& folder, Lines& lines, SaveResult& result,
                                Make make) {
    std::error_code error;
    for (const Naming naming : {Naming::unnamed, Naming::named}) {
        fsys::TempFile temp{lines.left_behind()};
        error = make(temp, naming);
        if (error != SaveError::unnamed_refused) {
            break;
        }
    }
    if (error) {
        return error;
    }
    result.folder_flush = fsys::flush_folder(folder);
    return result.folder_flush ? SaveError::folder_not_flushed : std::error_code{};
}

// The new file of a replace, private from the first moment: it loses what a
// default access list gave it, gets the owner, then the mode after the last write
// (a write clears set-ID bits), goes to the disk, and replaces the entry if that
// still names the file the save opened. `stranded` says how a replace the system
// left half done ended; where both texts are left apart, the line that names them is
// written while signals are still held.
std::error_code make_replacing(fsys::TempFile& temp, Naming naming, fsys::Target& target,
                               std::string_view text, fsys::Stranded& stranded, Lines& lines) {
    if (std::error_code error = temp.create(target.folder, fsys::Access::owner_only, naming)) {
        return error;
    }
    const int file = temp.descriptor();
    if (std::error_code error = fsys::write_all(file, text, fsys::From::here)) {
        return error;
    }
    if (std::error_code error = fsys::drop_access_list(file)) {
        return error;
    }
    if (std::error_code error = fsys::give_owner(file, target.info)) {
        return error;
    }
    if (std::error_code error = fsys::give_mode(file, target.info)) {
        return error;
    }
    if (std::error_code error = fsys::flush(file)) {
        return error;
    }
    if (std::error_code error = fsys::still_named(target)) {
        return error;
    }
    const std::error_code error = temp.keep_replacing(target, stranded);
    if (!stranded.new_file.empty()) {
        lines.stranded(error, stranded);
    }
    return error;
}

std::error_code first_save(const fsys::Folder& folder, std::string_view text, Lines& lines,
                           SaveResult& result) {
    return with_a_new_file(folder, lines, result, [&](fsys::TempFile& temp, Naming naming) {
        return make_first(temp, naming, folder, text);
    });
}

std::error_code replace(fsys::Target& target, std::string_view text, fsys::Stranded& stranded,
                        Lines& lines, SaveResult& result) {
    return with_a_new_file(target.folder, lines, result, [&](fsys::TempFile& temp, Naming naming) {
        return make_replacing(temp, naming, target, text, stranded, lines);
    });
}

// A folder that admits no new file leaves the old one to be written in place.
bool keeps_the_old_file_in_place(const std::error_code& error, const fsys::Target& target,
                                 std::string_view text) {
    return error == SaveError::cannot_replace || error == std::errc::permission_denied ||
           error == std::errc::operation_not_permitted ||
           error == std::errc::read_only_file_system ||
           (fsys::cannot_cut(error) && text.size() >= target.info.size);
}

std::error_code take_lock(int file, Lines& lines) {
    const std::error_code error = fsys::lock(file, Wait::no);
    if (error != std::errc::resource_unavailable_try_again) {
        return error;
    }
    lines.for_release();
    return fsys::lock(file, Wait::yes);
}

// Rewrites the file through the descriptor its name opened, once the lock is taken
// and the name still names it. The room is reserved and the size limit checked
// before the first byte, so that a fault that can be foreseen leaves it whole; then
// the text goes over its start and the file is cut to the text's length and
// flushed. What can still cut it: an I/O error, a kill or a power cut in the middle
// of the write.
std::error_code write_in_place(fsys::Target& target, std::string_view text, Lines& lines) {
    const int file = target.file.get();
    if (std::error_code error = take_lock(file, lines)) {
        return error;
    }
    const fsys::SignalHold hold;
    if (std::error_code error = fsys::still_named(target)) {
        return error;
    }
    // The owner may have changed the mode during the wait: that one is given back.
    if (std::error_code error = fsys::look_again(target)) {
        return error;
    }
    if (std::error_code error = fsys::reserve(file, text.size())) {
        return error;
    }
    if (std::error_code error = fsys::check_size_limit(text.size())) {
        return error;
    }
    if (std::error_code error = fsys::write_all(file, text, fsys::From::start)) {
        return error;
    }
    if (std::error_code error = fsys::cut(file, text.size())) {
        return error;
    }
    if (target.info.owned_by_me) {
        if (std::error_code error = fsys::give_mode(file, target.info)) {
            return error;
        }
    }
    if (std::error_code error = fsys::flush(file)) {
        return error;
    }
    return target.file.close();
}

// A device or a pipe takes the text as it comes, with nothing held: Ctrl-C ends a
// write that stalls.
std::error_code write_through(fsys::Target& target, std::string_view text) {
    if (std::error_code error = fsys::write_all(target.file.get(), text, fsys::From::here)) {
        return error;
    }
    return target.file.close();
}

// One try at the whole save, from the look at the name.
std::error_code save_once(const char* name, std::string_view text, std::ostream& out, Lines& lines,
                          SaveResult& result) {
    fsys::Target target;
    if (std::error_code error = open_existing(name, target, lines)) {
        return error;
    }
    switch (choose_how(target.info)) {
        case How::first_save:
            return first_save(target.folder, text, lines, result);
        case How::to_standard_stream:
            // After the questions, in the order they were written.
            out.flush();
            return fsys::write_all(target.info.stream, text, fsys::From::here);
        case How::through:
            return write_through(target, text);
        case How::replace: {
            fsys::Stranded stranded;
            const std::error_code error = replace(target, text, stranded, lines, result);
            result.reported = !stranded.new_file.empty();
            if (stranded.settled || !keeps_the_old_file_in_place(error, target, text)) {
                // Once the new file is in place, closing the old one cannot fail the save.
                return error;
            }
            break;
        }
        case How::in_place:
            break;
    }
    // Whatever the program writes after this to a standard stream that is the file
    // would land in it after the text, or past its end.
    result.out_is_the_file = fsys::is_standard_stream(1, target);
    result.err_is_the_file = fsys::is_standard_stream(2, target);
    return write_in_place(target, text, lines);
}

class SaveCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "save"; }
    std::string message(int value) const override {
        switch (static_cast<SaveError>(value)) {
            case SaveError::start_over:
            case SaveError::replaced_during_save:
                return "it was replaced by another program during the save";
            case SaveError::cannot_replace:
                return "it cannot be replaced";
            case SaveError::no_reader:
                return "nobody reads it";
            case SaveError::in_use:
                return "it is in use by another program";
            case SaveError::unnamed_refused:
                return "the file system makes no unnamed file";
            case SaveError::folder_not_flushed:
                return "its folder could not be flushed to the disk";
        }
        return "unknown error";
    }
};

}  // namespace

std::error_code file_system::make_error_code(SaveError error) noexcept {
    static const SaveCategory category;
    return {static_cast<int>(error), category};
}

std::string could_not_save(std::string_view name, const std::error_code& error) {
    return "Could not save " + std::string{name} + ": " + error.message();
}

SaveResult save_file(const char* name, std::string_view text, std::ostream& out,
                     std::ostream& err) {
    Lines lines{name, err};
    SaveResult result;
    for (int attempt = 0; attempt < 3; ++attempt) {
        result = SaveResult{};
        result.error = save_once(name, text, out, lines, result);
        if (result.error != SaveError::start_over) {
            return result;
        }
    }
    result.error = SaveError::replaced_during_save;
    return result;
}

}  // namespace scm

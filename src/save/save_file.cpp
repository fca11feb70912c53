#include "save/save_file.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "save/file_system.hpp"

namespace scm {
namespace {

namespace fsys = file_system;
using fsys::SaveError;
using fsys::Wait;

enum class How : std::uint8_t { replace, write_in_place };

// A new file replaces the old one unless it would part from something the old one
// has: a device or a pipe is no file to replace, hard links would keep the old
// text, attributes and access lists would be lost, and so would an owner that a new
// file cannot be given.
How choose_how(const fsys::FileInfo& info) {
    return info.regular && !info.keep_in_place ? How::replace : How::write_in_place;
}

// The new file beside the one it is to replace: kept by moving it into that one's
// place, and removed by anything else, however the save ends.
class TempFile {
public:
    explicit TempFile(const fsys::Folder& folder) : folder_{folder} {}
    ~TempFile() {
        if (!name_.empty()) {
            static_cast<void>(file_.close());
            fsys::remove_in(folder_, name_);
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::error_code create() { return fsys::create_in(folder_, name_, file_); }
    const fsys::Descriptor& file() const { return file_; }
    std::error_code close() { return file_.close(); }

    // Where the move left both texts apart, nothing is removed: `result` names them.
    std::error_code keep(SaveResult& result) {
        std::string stranded_backup;
        const std::error_code error = fsys::move_into_place(folder_, name_, stranded_backup);
        if (!error) {
            name_.clear();
        } else if (!stranded_backup.empty()) {
            result.new_file = folder_.path + std::exchange(name_, {});
            result.backup = std::move(stranded_backup);
        }
        return error;
    }

private:
    const fsys::Folder& folder_;
    std::string name_;
    fsys::Descriptor file_;
};

// Writes the text to a new file in the folder and renames it over the entry. The
// new file is private from the first moment; it gets the owner first, then the mode
// after the last write (a write clears set-ID bits), then goes to the disk.
std::error_code replace(const fsys::Folder& folder, const fsys::FileInfo& old,
                        std::string_view text, SaveResult& result) {
    const fsys::SignalHold hold;
    TempFile temp{folder};
    if (std::error_code error = temp.create()) {
        return error;
    }
    if (std::error_code error = fsys::write_all(temp.file(), text, fsys::From::here)) {
        return error;
    }
    if (std::error_code error = fsys::give_owner(temp.file(), old)) {
        return error;
    }
    if (std::error_code error = fsys::give_mode(temp.file(), old)) {
        return error;
    }
    if (std::error_code error = fsys::flush(temp.file())) {
        return error;
    }
    if (std::error_code error = temp.close()) {
        return error;
    }
    if (std::error_code error = temp.keep(result)) {
        return error;
    }
    fsys::flush_folder(folder);
    return {};
}

std::error_code take_lock(const fsys::Descriptor& file, const char* name, std::ostream& err) {
    std::error_code error = fsys::lock(file, Wait::no);
    if (error != std::errc::resource_unavailable_try_again) {
        return error;
    }
    err << (std::string{"Waiting for another program to release "} + name + "...\n");
    err.flush();
    return fsys::lock(file, Wait::yes);
}

// Rewrites the file through the descriptor its name opened. A regular file gets its
// room reserved and the size limit checked before the first byte, so that a fault
// that can be foreseen leaves it whole; then the text goes over its start and the
// file is cut to the text's length and flushed. What can still cut it: an I/O
// error, a kill or a power cut in the middle of the write.
std::error_code write_in_place(const fsys::Target& target, const char* name, std::string_view text,
                               std::ostream& err) {
    if (std::error_code error = take_lock(target.file, name, err)) {
        return error;
    }
    const fsys::SignalHold hold;
    const fsys::FileInfo& info = target.info;
    if (!info.regular) {
        return fsys::write_all(target.file, text, fsys::From::here);
    }
    if (std::error_code error = fsys::reserve(target.file, text.size())) {
        return error;
    }
    if (std::error_code error = fsys::check_size_limit(text.size())) {
        return error;
    }
    if (std::error_code error = fsys::write_all(target.file, text, fsys::From::start)) {
        return error;
    }
    if (std::error_code error = fsys::cut(target.file, text.size())) {
        return error;
    }
    if (info.owned_by_me) {
        if (std::error_code error = fsys::give_mode(target.file, info)) {
            return error;
        }
    }
    return fsys::flush(target.file);
}

// Opens the name; a named pipe that nobody reads yet is announced, then waited for.
std::error_code open_target(const char* name, fsys::Target& target, std::ostream& err) {
    const std::error_code error = fsys::open_target(name, Wait::no, target);
    if (error != SaveError::no_reader) {
        return error;
    }
    err << (std::string{"Waiting for a program to read "} + name + "...\n");
    err.flush();
    return fsys::open_target(name, Wait::yes, target);
}

// One try at the whole save, from the open of the name.
std::error_code save_once(const char* name, std::string_view text, std::ostream& err,
                          SaveResult& result) {
    fsys::Target target;
    if (std::error_code error = open_target(name, target, err)) {
        return error;
    }
    std::error_code error;
    if (choose_how(target.info) == How::replace) {
        fsys::Folder folder;
        error = fsys::open_folder(target, name, folder);
        if (!error) {
            error = replace(folder, target.info, text, result);
        }
        if (error == SaveError::cannot_replace ||
            (fsys::cannot_cut(error) && text.size() >= target.info.size)) {
            error = write_in_place(target, name, text, err);
        }
    } else {
        error = write_in_place(target, name, text, err);
    }
    // There was no file, and there is none again; another run's is never removed.
    if (error && error != SaveError::entry_changed && target.info.created &&
        result.new_file.empty()) {
        fsys::remove_if_still_empty(target, name);
    }
    if (!error) {
        return target.file.close();
    }
    return error;
}

class SaveCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "save"; }
    std::string message(int value) const override {
        switch (static_cast<SaveError>(value)) {
            case SaveError::entry_changed:
            case SaveError::replaced_during_save:
                return "it was replaced by another program during the save";
            case SaveError::cannot_replace:
                return "it cannot be replaced";
            case SaveError::no_reader:
                return "nobody reads it";
        }
        return "unknown error";
    }
};

}  // namespace

std::error_code file_system::make_error_code(SaveError error) noexcept {
    static const SaveCategory category;
    return {static_cast<int>(error), category};
}

SaveResult save_file(const char* name, std::string_view text, std::ostream& err) {
    SaveResult result;
    for (int attempt = 0; attempt < 3; ++attempt) {
        result.error = save_once(name, text, err, result);
        if (result.error != SaveError::entry_changed) {
            return result;
        }
    }
    result.error = SaveError::replaced_during_save;
    return result;
}

}  // namespace scm

// The undo store on disk: records/<id>.txt, one per operation, and versions/<id>-<n>-before|after, the files
// an operation replaced and, once it is taken back, the files it had left.
#include "undo/UndoStore.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "engine/EngineError.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Program.h"

namespace orv::undo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMagic = "orvandel-undo-record 1";

using platform::PathFromUtf8;
using platform::Utf8FromPath;

fs::path RecordsOf(const std::string& folder) { return PathFromUtf8(folder) / "records"; }
fs::path VersionsOf(const std::string& folder) { return PathFromUtf8(folder) / "versions"; }

std::string Name(const std::string& path) { return platform::FileNameOf(path); }

std::string NewId() {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    char id[48];
    std::snprintf(id, sizeof id, "%020lld-%d", static_cast<long long>(ns),
                  static_cast<int>(platform::ProcessId()));
    return id;
}

// Keeps the file at `path` as `version`: a hard link when `mayLink` (the save renames a new file into place,
// so the link keeps the old bytes), else a copy, as also when the store is on another file system; a copy
// only of a file not larger than `copyLimit`. Returns "" or what kept it from being kept.
std::string Keep(const std::string& path, const fs::path& version, std::uint64_t copyLimit,
                 bool mayLink = true) {
    std::error_code ec;
    fs::remove(version, ec);
    if (mayLink) {
        fs::create_hard_link(PathFromUtf8(path), version, ec);
        if (!ec) return "";
        if (!platform::IsOtherVolume(ec))
            return "\"" + Name(path) + "\" could not be kept (" + ec.message() + ")";
    }
    const auto size = fs::file_size(PathFromUtf8(path), ec);
    if (ec || size > copyLimit) {
        return "\"" + Name(path) + "\" was not kept: the file is too large to copy into the undo store";
    }
    if (const std::string why = platform::CopyNewFile(path, Utf8FromPath(version)); !why.empty())
        return "\"" + Name(path) + "\" could not be kept (" + why + ")";
    return "";
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[i + 1] == 'n' ? '\n' : text[i + 1];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string StateText(const FileState& s) {
    return std::to_string(s.size) + " " + std::to_string(s.mtimeNs) + " " + std::to_string(s.crc);
}

bool ParseState(const std::string& text, FileState& s) {
    std::istringstream in(text);
    unsigned long long size = 0, crc = 0;
    long long mtime = 0;
    if (!(in >> size >> mtime >> crc) || crc > 0xFFFFFFFFull) return false;
    s = {size, mtime, static_cast<std::uint32_t>(crc)};
    return true;
}

std::optional<Record> ParseRecord(const std::string& text, const std::string& id) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) return std::nullopt;
    Record record;
    record.id = id;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "what") {
            record.what = Unescape(value);
        } else if (key == "when") {
            record.when = std::atoll(value.c_str());
        } else if (key == "undone") {
            record.undone = value == "1";
        } else if (key == "note") {
            record.note = Unescape(value);
        } else if (key == "file") {
            record.files.push_back({});
            record.files.back().path = Unescape(value);
        } else if (record.files.empty()) {
            return std::nullopt;
        } else if (key == "before") {
            record.files.back().before = value == "-" ? "" : value;
        } else if (key == "after") {
            record.files.back().after = value == "-" ? "" : value;
        } else if (key == "left") {
            if (!ParseState(value, record.files.back().left)) return std::nullopt;
        } else if (key == "restored") {
            if (!ParseState(value, record.files.back().restored)) return std::nullopt;
        } else if (key == "created") {
            record.files.back().created = value == "1";
        } else if (!key.empty()) {
            return std::nullopt;
        }
    }
    // A version name must be a plain name of the store, never a path out of it.
    for (const auto& file : record.files) {
        for (const auto* version : {&file.before, &file.after}) {
            if (version->find_first_of("/\\") != std::string::npos || *version == "." || *version == "..") return std::nullopt;
        }
        if (!PathFromUtf8(file.path).is_absolute()) return std::nullopt;
    }
    if (record.files.empty() || record.what.empty()) return std::nullopt;
    return record;
}

// Puts the bytes of `version` in place of `path`, whole or not at all.
void Restore(const fs::path& version, const std::string& path) {
    platform::ReplaceFileWithCopyOf(path, Utf8FromPath(version), Name(path));
    // The version's time comes back with its bytes, so that the record of the operation before this one finds the
    // file as that operation left it.
    std::error_code ec;
    fs::last_write_time(PathFromUtf8(path), fs::last_write_time(version, ec), ec);
}

// Takes away a file an operation made; one that cannot be taken away is left whole.
void Remove(const std::string& path) {
    std::error_code ec;
    fs::remove(PathFromUtf8(path), ec);
    if (ec) throw engine::EngineError("\"" + Name(path) + "\" could not be removed (" + ec.message() + ").");
}

void RemoveRecord(const std::string& folder, const Record& record) {
    std::error_code ec;
    for (const auto& file : record.files) {
        if (!file.before.empty()) fs::remove(VersionsOf(folder) / file.before, ec);
        if (!file.after.empty()) fs::remove(VersionsOf(folder) / file.after, ec);
    }
    fs::remove(RecordsOf(folder) / (record.id + ".txt"), ec);
}

std::uint64_t VersionBytes(const std::string& folder, const Record& record) {
    std::uint64_t total = 0;
    std::error_code ec;
    for (const auto& file : record.files) {
        for (const auto* version : {&file.before, &file.after}) {
            if (version->empty()) continue;
            const auto size = fs::file_size(VersionsOf(folder) / *version, ec);
            if (!ec) total += size;
        }
    }
    return total;
}

// Keeps the newest records within the limits; never throws.
void Prune(const std::string& folder, const Limits& limits) noexcept {
    try {
        auto records = Store(folder, limits).History();
        std::uint64_t bytes = 0;
        for (std::size_t i = 0; i < records.size(); ++i) {
            bytes += VersionBytes(folder, records[i]);
            if (i >= limits.records || (i > 0 && bytes > limits.bytes)) RemoveRecord(folder, records[i]);
        }
        // Files no record names (left by a program that stopped halfway) go too.
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(VersionsOf(folder), ec)) {
            const std::string name = Utf8FromPath(entry.path().filename());
            const bool named = std::any_of(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(
                                                                                    std::min(records.size(), limits.records)),
                                           [&](const Record& r) { return name.rfind(r.id + "-", 0) == 0; });
            const auto age = fs::file_time_type::clock::now() - fs::last_write_time(entry.path(), ec);
            if (!named && age > std::chrono::hours(1)) fs::remove(entry.path(), ec);
        }
    } catch (...) {
    }
}

std::string Describe(const Record& record) { return record.what; }

// Refuses, naming the file, when one of `record`'s files is not as `expected` says.
void CheckUnchanged(const Record& record, bool undoing) {
    for (const auto& file : record.files) {
        if (!undoing && file.created) {
            // The redo makes the file again, so it must not take the place of one made since.
            std::error_code ec;
            const auto type = fs::symlink_status(PathFromUtf8(file.path), ec).type();
            if (type == fs::file_type::not_found) continue;
            throw UndoError("Redo of the " + record.what + " is not possible: \"" + file.path + "\" " +
                            (ec ? "cannot be read"
                                : "was made again since it was taken back, by another program or another operation") +
                            ". Nothing was changed.");
        }
        FileState now;
        const FileState& expected = undoing ? file.left : file.restored;
        if (!ReadFileState(file.path, now)) {
            throw UndoError(std::string(undoing ? "Undo" : "Redo") + " of the " + record.what + " is not possible: \"" +
                            file.path + "\" cannot be read. Nothing was changed.");
        }
        if (!(now == expected)) {
            throw UndoError(std::string(undoing ? "Undo" : "Redo") + " of the " + record.what + " is not possible: \"" +
                            file.path + "\" was changed since" + (undoing ? "" : " it was taken back") +
                            ", by another program or another operation. Nothing was changed.");
        }
    }
}

// Puts every file of `record` back to its `before` (undo) or `after` (redo) version; on a failure the files
// already put back are returned to how they stood, and the failure is thrown.
void PutBack(const std::string& folder, Record& record, bool undoing) {
    std::vector<std::size_t> done;
    // An operation that only made files kept nothing, so its versions may have no folder yet.
    std::error_code ec;
    if (undoing) fs::create_directories(VersionsOf(folder), ec);
    try {
        for (std::size_t i = 0; i < record.files.size(); ++i) {
            auto& file = record.files[i];
            const std::string& version = undoing ? file.before : file.after;
            if (undoing) {
                // What the operation left is kept first, for a redo.
                file.after = record.id + "-" + std::to_string(i) + "-after";
                const std::string problem = Keep(file.path, VersionsOf(folder) / file.after, UINT64_MAX);
                if (!problem.empty()) {
                    file.after.clear();
                    // A made file taken away unkept would be gone for good, and so could not come back either
                    // when a later file fails.
                    if (file.created) throw engine::EngineError(problem + ".");
                }
            }
            if (undoing && file.created) {
                Remove(file.path);
            } else {
                Restore(VersionsOf(folder) / version, file.path);
            }
            done.push_back(i);
        }
    } catch (const engine::EngineError& e) {
        for (std::size_t i : done) {
            auto& file = record.files[i];
            const std::string& back = undoing ? file.after : file.before;
            try {
                if (!undoing && file.created) {
                    Remove(file.path);
                } else if (!back.empty()) {
                    Restore(VersionsOf(folder) / back, file.path);
                }
            } catch (...) {
            }
        }
        throw UndoError(std::string(undoing ? "Undo" : "Redo") + " of the " + record.what + " failed: " + e.what());
    }
}

}  // namespace

bool ReadFileState(const std::string& path, FileState& state) {
    const auto facts = platform::FactsOf(path);
    if (!facts || !facts->regular) return false;
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) return false;
    uLong crc = crc32(0, nullptr, 0);
    std::vector<char> buffer(1 << 20);
    std::uint64_t size = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto n = static_cast<std::size_t>(in.gcount());
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(buffer.data()), n);
        size += n;
    }
    if (!in.eof()) return false;
    state.size = size;
    state.mtimeNs = facts->modifiedNs;
    state.crc = static_cast<std::uint32_t>(crc);
    return true;
}

std::string DefaultStoreFolder() { return Utf8FromPath(platform::StateFolder("orvandel") / "undo"); }

void WriteRecord(const std::string& folder, const Record& record) {
    std::ostringstream text;
    text << kMagic << "\nwhat " << Escape(record.what) << "\nwhen " << record.when << "\nundone "
         << (record.undone ? 1 : 0) << "\n";
    if (!record.note.empty()) text << "note " << Escape(record.note) << "\n";
    for (const auto& file : record.files) {
        text << "file " << Escape(file.path) << "\nbefore " << (file.before.empty() ? "-" : file.before)
             << "\nafter " << (file.after.empty() ? "-" : file.after) << "\nleft " << StateText(file.left)
             << "\nrestored " << StateText(file.restored) << "\n";
        if (file.created) text << "created 1\n";
    }
    const std::string bytes = text.str();
    try {
        fs::create_directories(RecordsOf(folder));
        const fs::path file = RecordsOf(folder) / (record.id + ".txt");
        const std::string path = Utf8FromPath(file);
        if (!fs::exists(file)) std::ofstream(file).flush();
        platform::ReplaceFileAtomically(
            path, [&](int fd) { return platform::WriteAll(fd, bytes.data(), bytes.size()); }, Name(path));
    } catch (const std::exception& e) {
        throw UndoError(std::string("The undo history could not be written (") + e.what() + ").");
    }
}

Journal::Journal(std::string folder, std::string what, Limits limits)
    : m_folder(std::move(folder)), m_limits(limits) {
    m_record.id = NewId();
    m_record.what = std::move(what);
}

namespace {

// The path as the history names it: absolute, so that it finds the file again from any folder.
std::string Absolute(const std::string& given) {
    std::error_code absent;
    return Utf8FromPath(fs::absolute(PathFromUtf8(given), absent).lexically_normal());
}

}  // namespace

void Journal::BeforeSave(const std::string& given, bool replacedWhole) {
    const std::string path = Absolute(given);
    for (const auto& file : m_record.files) {
        if (file.path == path) return;  // kept at its first save in this operation
    }
    RecordedFile file;
    file.path = path;
    std::error_code absent;
    if (fs::symlink_status(PathFromUtf8(path), absent).type() == fs::file_type::not_found) {
        // The save makes the file: there is nothing to keep, as taking it back takes it away.
        file.created = true;
        m_record.files.push_back(std::move(file));
        m_replaced.push_back(false);
        return;
    }
    try {
        std::error_code ec;
        fs::create_directories(VersionsOf(m_folder), ec);
        const std::string version = m_record.id + "-" + std::to_string(m_record.files.size()) + "-before";
        const std::uint64_t copyLimit = replacedWhole ? m_limits.copyAcrossFileSystems : m_limits.bytes;
        const std::string problem = Keep(path, VersionsOf(m_folder) / version, copyLimit, replacedWhole);
        if (problem.empty()) {
            file.before = version;
        } else {
            m_record.note += (m_record.note.empty() ? "" : "; ") + problem;
        }
    } catch (...) {
        m_record.note += (m_record.note.empty() ? "" : "; ") + std::string("\"") + Name(path) + "\" could not be kept";
    }
    m_record.files.push_back(std::move(file));
    m_replaced.push_back(false);
}

void Journal::AfterSave(const std::string& given, bool succeeded) {
    const std::string path = Absolute(given);
    for (std::size_t i = 0; i < m_record.files.size(); ++i) {
        if (m_record.files[i].path != path || m_replaced[i]) continue;
        if (m_record.files[i].created) {
            // Even a failed save leaves a file to take away when it got as far as making one.
            const auto facts = platform::FactsOf(path);
            m_replaced[i] = facts && facts->regular;
            continue;
        }
        // A failed save may still have replaced the file (a backend that checks the file it wrote): the kept
        // version tells, when there is one.
        FileState now, kept;
        const auto& before = m_record.files[i].before;
        m_replaced[i] = succeeded || (!before.empty() && ReadFileState(path, now) &&
                                      ReadFileState(Utf8FromPath(VersionsOf(m_folder) / before), kept) &&
                                      (now.size != kept.size || now.crc != kept.crc));
    }
}

void Journal::Commit() noexcept {
    try {
        Record record = m_record;
        record.files.clear();
        for (std::size_t i = 0; i < m_record.files.size(); ++i) {
            const auto& file = m_record.files[i];
            if (!m_replaced[i]) {
                // A save that failed after all: the file is as it was.
                std::error_code ec;
                if (!file.before.empty()) fs::remove(VersionsOf(m_folder) / file.before, ec);
                continue;
            }
            RecordedFile kept = file;
            // A file made and gone again before the operation ended leaves nothing to take back.
            if (!ReadFileState(file.path, kept.left) && file.created) continue;
            record.files.push_back(std::move(kept));
        }
        if (record.files.empty()) return;
        record.when = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
        // A new operation ends what could be redone: the operations taken back before it are dropped.
        for (const auto& earlier : Store(m_folder, m_limits).History()) {
            if (earlier.undone) RemoveRecord(m_folder, earlier);
        }
        WriteRecord(m_folder, record);
        Prune(m_folder, m_limits);
    } catch (...) {
    }
}

Store::Store(std::string folder, Limits limits) : m_folder(std::move(folder)), m_limits(limits) {}

std::vector<Record> Store::History() const {
    std::vector<Record> records;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(RecordsOf(m_folder), ec)) {
        if (entry.path().extension() != ".txt") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (auto record = ParseRecord(text.str(), Utf8FromPath(entry.path().stem()))) records.push_back(std::move(*record));
    }
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.id > b.id; });
    return records;
}

std::string Store::Undo() { return TakeBack(true); }

std::string Store::Redo() { return TakeBack(false); }

std::string Store::TakeBack(bool undoing) {
    const auto records = History();
    // The operations taken back are the newest ones: an undo takes the newest one not taken back, a redo the one
    // taken back last (the oldest of them).
    const auto firstDone = std::find_if(records.begin(), records.end(), [](const Record& r) { return !r.undone; });
    if (undoing ? firstDone == records.end() : firstDone == records.begin())
        throw UndoError(std::string("There is no operation to ") + (undoing ? "undo." : "redo."));
    Record record = undoing ? *firstDone : *(firstDone - 1);
    for (const auto& file : record.files) {
        if (undoing && file.created) continue;  // nothing was there to keep
        const std::string& version = undoing ? file.before : file.after;
        if (version.empty() || !fs::exists(VersionsOf(m_folder) / version)) {
            throw UndoError(undoing ? "Undo of the " + record.what + " is not possible: the earlier version of \"" +
                                          file.path + "\" was not kept" +
                                          (record.note.empty() ? "" : " (" + record.note + ")") +
                                          ". Nothing was changed."
                                    : "Redo of the " + record.what + " is not possible: the version of \"" +
                                          file.path + "\" it had left was not kept. Nothing was changed.");
        }
    }
    CheckUnchanged(record, undoing);
    PutBack(m_folder, record, undoing);
    for (auto& file : record.files) {
        if (undoing && file.created) file.restored = {};
        else ReadFileState(file.path, undoing ? file.restored : file.left);
    }
    record.undone = undoing;
    WriteRecord(m_folder, record);
    return Describe(record);
}

}  // namespace orv::undo

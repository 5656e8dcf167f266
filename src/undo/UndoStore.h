// The undo history: before a save replaces a workbook, the file it replaces is kept (a hard link, so keeping it
// costs no copy on the same file system); one record per operation says what was done and how it left each
// file, so that the operation can be taken back, and redone, only while the files are still as it left them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/ObjectModel.h"

namespace orv::undo {

// A refused or failed undo or redo; the text says what and why, and nothing was changed.
class UndoError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How a file stood: its size, modification time and a CRC-32 of its bytes.
struct FileState {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::uint32_t crc = 0;
    bool operator==(const FileState&) const = default;
};

// The state of the file at `path`; nullopt-like `ok` false when it cannot be read.
bool ReadFileState(const std::string& path, FileState& state);

struct RecordedFile {
    std::string path;
    std::string before;  // the kept version (a file name in the store), "" when none could be kept
    std::string after;   // the version the operation left, kept when it is undone
    FileState left;      // the file as the operation (or a redo) left it
    FileState restored;  // the file as the undo left it
    bool created = false;  // the operation made the file: undoing takes it away, redoing makes it again
};

struct Record {
    std::string id;  // sorts by time
    std::string what;
    std::int64_t when = 0;  // seconds since the epoch
    bool undone = false;
    std::string note;  // what could not be kept, if anything
    std::vector<RecordedFile> files;
};

// The per-user store's folder: $XDG_STATE_HOME/orvandel/undo, else ~/.local/state/orvandel/undo;
// %LOCALAPPDATA%\Orvandel\undo on Windows.
std::string DefaultStoreFolder();

// The limits the store keeps to.
struct Limits {
    std::size_t records = 20;
    std::uint64_t bytes = 2ull << 30;
    std::uint64_t copyAcrossFileSystems = 256ull << 20;  // a larger file on another file system is not kept
};

// One operation's record, filled by the workbook saves made while it is installed (see
// automation::ScopedSaveObserver), whichever backend saves, and written by Commit. Never fails an operation:
// what it cannot keep, it notes.
class Journal : public automation::SaveObserver {
  public:
    Journal(std::string folder, std::string what, Limits limits = {});
    void BeforeSave(const std::string& path, bool replacedWhole) override;
    void AfterSave(const std::string& path, bool succeeded) override;
    // Writes the record when a file was replaced or made, and prunes the store to its limits. Never throws.
    void Commit() noexcept;

  private:
    std::string m_folder;
    Limits m_limits;
    Record m_record;
    std::vector<bool> m_replaced;
};

class Store {
  public:
    explicit Store(std::string folder, Limits limits = {});
    // The records, newest first; a damaged or foreign record is skipped.
    std::vector<Record> History() const;
    // Takes back the newest operation not yet taken back; returns its description. Throws UndoError, with
    // nothing changed, when there is none or a file changed since the operation.
    std::string Undo();
    // Does again the operation taken back last, when nothing was done since; same rules.
    std::string Redo();

  private:
    std::string TakeBack(bool undoing);

    std::string m_folder;
    Limits m_limits;
};

// Writes `record` into the store at `folder` (replacing its earlier text). Throws UndoError.
void WriteRecord(const std::string& folder, const Record& record);

}  // namespace orv::undo

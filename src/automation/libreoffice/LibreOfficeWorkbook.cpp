// Workbooks and sheets of a LibreOffice session: the sheet records that sheet handles point at, kept in step
// with the office's document, and the session that starts and ends the office.
#include "automation/libreoffice/LibreOfficeWorkbook.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>

#include "automation/libreoffice/SheetStates.h"
#include "automation/libreoffice/WarmOffice.h"
#include "engine/EngineError.h"
#include "engine/workbook/SheetNames.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace orv::libreoffice {

using automation::AutomationError;
using automation::FileFormat;
using automation::SheetKind;
using automation::SheetVisibility;

Office& SessionState::EnsureOffice() {
    if (quit) throw AutomationError("The LibreOffice instance has already quit; open the workbook again.");
    if (!office) office = TakeWarmOffice();
    if (!office) office = StartOffice();
    return *office;
}

LoWorkbook::LoWorkbook(std::shared_ptr<SessionState> session, std::string path, FileFormat format,
                       std::vector<ListedSheet> listing)
    : m_session(std::move(session)), m_path(std::move(path)), m_format(format) {
    for (auto& sheet : listing) m_records.push_back({m_nextId++, std::move(sheet)});
}

namespace {

// The export filter that writes a new workbook of `format`; nullptr for a format LibreOffice makes no new
// workbook in (it writes no macro-enabled template).
const char* NewWorkbookFilter(FileFormat format) {
    switch (format) {
        case FileFormat::Xls:
            return "MS Excel 97";
        case FileFormat::Ods:
            return "calc8";
        case FileFormat::Xlsx:
            return "Calc MS Excel 2007 XML";
        case FileFormat::Xlsm:
            return "Calc MS Excel 2007 VBA XML";
        case FileFormat::Xltx:
            return "Calc MS Excel 2007 XML Template";
        default:
            return nullptr;
    }
}

}  // namespace

std::shared_ptr<LoWorkbook> LoWorkbook::CreateNew(std::shared_ptr<SessionState> session, std::string path) {
    const FileFormat format = automation::FormatOfPath(path);
    const std::string name = platform::FileNameOf(path);
    const char* filter = NewWorkbookFilter(format);
    if (!filter) {
        throw AutomationError("\"" + name + "\" cannot be created: LibreOffice makes no new " +
                              automation::DescribeFormat(format) +
                              " workbooks. Name a new .xlsx, .xlsm, .xls or .ods workbook instead.");
    }
    std::error_code ec;
    const auto full = platform::PathFromUtf8(path);
    if (std::filesystem::exists(full, ec) || ec)
        throw AutomationError("\"" + name + "\" already exists; a new workbook is never written over a file.");
    if (!std::filesystem::is_directory(full.parent_path(), ec)) {
        throw AutomationError("\"" + name + "\" cannot be created: the folder \"" +
                              platform::Utf8FromPath(full.parent_path()) +
                              "\" does not exist. Create the folder first, or name a workbook in one that does.");
    }
    auto workbook = std::make_shared<LoWorkbook>(session, std::move(path), format, std::vector<ListedSheet>{});
    workbook->m_document = session->EnsureOffice().Create(workbook->m_path, filter);
    workbook->m_new = true;
    workbook->Resync();
    return workbook;
}

std::string LoWorkbook::FileName() const { return platform::FileNameOf(m_path); }

void LoWorkbook::ThrowIfClosed() const {
    if (m_closed)
        throw AutomationError("The workbook \"" + FileName() + "\" has been closed; open it again.");
}

int LoWorkbook::IndexOf(int id) const {
    ThrowIfClosed();
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].id == id) return static_cast<int>(i);
    }
    throw AutomationError("The sheet no longer exists in \"" + FileName() + "\": it was deleted.");
}

std::vector<std::string> LoWorkbook::Names() const {
    std::vector<std::string> names;
    for (const auto& record : m_records) names.push_back(record.sheet.name);
    return names;
}

int LoWorkbook::sheetCount() const {
    ThrowIfClosed();
    return static_cast<int>(m_records.size());
}

std::shared_ptr<automation::Sheet> LoWorkbook::sheetAt(int position) {
    ThrowIfClosed();
    if (position < 1 || position > static_cast<int>(m_records.size())) {
        throw AutomationError("The workbook \"" + FileName() + "\" has no sheet number " +
                              std::to_string(position) + " (it has " + std::to_string(m_records.size()) +
                              ").");
    }
    return std::make_shared<LoSheet>(shared_from_this(),
                                     m_records[static_cast<std::size_t>(position - 1)].id);
}

const ListedSheet& LoWorkbook::SheetOf(int id) const {
    return m_records[static_cast<std::size_t>(IndexOf(id))].sheet;
}

namespace {

// True when the user may replace the file: write it, and create the temporary file beside it.
bool MayReplace(const std::string& path) {
    std::error_code ec;
    const auto folder = std::filesystem::absolute(platform::PathFromUtf8(path), ec).parent_path();
    return platform::MayWrite(path) && platform::FolderTakesNewFiles(platform::Utf8FromPath(folder));
}

}  // namespace

void LoWorkbook::ThrowIfReadOnly() {
    Load();
    if (m_readOnly) {
        throw AutomationError("\"" + FileName() +
                              "\" cannot be changed: the file or its folder is read-only. Make both writable, or "
                              "work on a copy of the workbook, then try again.");
    }
}

void LoWorkbook::Load() {
    ThrowIfClosed();
    if (m_document) return;
    // A workbook the user may only read is still a source: LibreOffice refuses to open it for writing, so it
    // is opened read-only, and only a save of it is refused.
    m_readOnly = !MayReplace(m_path);
    m_document = m_session->EnsureOffice().Load(m_path, m_readOnly);
    Resync();
}

OfficeDocument& LoWorkbook::Document() {
    Load();
    return *m_document;
}

void LoWorkbook::Resync() {
    const auto names = m_document->sheetNames();
    const auto visible = m_document->sheetsVisible();
    if (names == Names()) {
        // The office knows no "very hidden": keep that state from the file for sheets it reports hidden.
        for (std::size_t i = 0; i < names.size() && i < visible.size(); ++i) {
            auto& state = m_records[i].sheet.visibility;
            if (visible[i])
                state = SheetVisibility::Visible;
            else if (state == SheetVisibility::Visible)
                state = SheetVisibility::Hidden;
        }
        return;
    }
    // The office sees the workbook differently from its file (an old format, a sheet it cannot keep): its
    // view wins; records keep their identity and kind where the name matches.
    std::vector<Record> records;
    for (const auto& name : names) {
        Record record{0, {name, SheetKind::Worksheet, SheetVisibility::Visible}};
        for (const auto& old : m_records) {
            if (engine::SheetNamesEqual(old.sheet.name, name)) {
                record.id = old.id;
                record.sheet.kind = old.sheet.kind;
                record.sheet.placeholder = old.sheet.placeholder;
                record.sheet.visibility = old.sheet.visibility;
            }
        }
        if (record.id == 0) record.id = m_nextId++;
        const std::size_t at = records.size();
        if (at < visible.size() && visible[at]) record.sheet.visibility = SheetVisibility::Visible;
        if (at < visible.size() && !visible[at] && record.sheet.visibility == SheetVisibility::Visible) {
            record.sheet.visibility = SheetVisibility::Hidden;
        }
        records.push_back(std::move(record));
    }
    m_records = std::move(records);
}

void LoWorkbook::RenameSheet(int id, const std::string& name) {
    const int index = IndexOf(id);
    if (m_records[static_cast<std::size_t>(index)].sheet.name == name) return;
    if (auto problem = engine::SheetRenameProblem(name, Names(), index)) {
        throw AutomationError("The sheet \"" + m_records[static_cast<std::size_t>(index)].sheet.name +
                              "\" cannot be renamed to \"" + name + "\": " + *problem);
    }
    ThrowIfReadOnly();
    Document().renameSheet(IndexOf(id), name);
    m_records[static_cast<std::size_t>(IndexOf(id))].sheet.name = name;
    Resync();
}

std::string LoWorkbook::FreeCopyName(const std::string& name) const { return engine::FreeSheetName(name, Names()); }

void LoWorkbook::CheckCopyInto(LoWorkbook& target, const std::string& sheetName) {
    if (!target.servedBy(m_session.get())) {
        throw AutomationError(
            "The sheet \"" + sheetName + "\" cannot be copied into \"" + target.FileName() +
            "\": the two workbooks are open in different LibreOffice instances. Open both in the "
            "same instance.");
    }
    target.ThrowIfReadOnly();
}

int LoWorkbook::RecordInsertedSheet(int index, const std::string& name, SheetVisibility visibility) {
    m_records.insert(m_records.begin() + index, Record{m_nextId++, ListedSheet{name, SheetKind::Worksheet, visibility}});
    const int id = m_records[static_cast<std::size_t>(index)].id;
    Resync();
    return id;
}

std::string LoWorkbook::CopyNotice(const std::string& sheetName, const LoWorkbook& target,
                                   const std::vector<std::string>& notices) {
    std::string text = "The sheet \"" + sheetName + "\" was copied into \"" + target.FileName() + "\", but ";
    for (std::size_t i = 0; i < notices.size(); ++i) text += (i == 0 ? "" : " Also, ") + notices[i];
    return text;
}

int LoWorkbook::ImportInto(int id, LoWorkbook& target, int destination, const std::string& name) {
    const std::string copyName = target.FreeCopyName(name.empty() ? SheetOf(id).name : name);
    const int copied = target.m_document->importSheet(Document(), IndexOf(id), destination);
    // The office names a copy whose name is taken "Name_2"; the object model's rule is "Name (2)".
    if (target.m_document->sheetNames()[static_cast<std::size_t>(copied)] != copyName) {
        target.m_document->renameSheet(copied, copyName);
    }
    // The import shows every copy; a hidden sheet's copy stays hidden, as the engine's copies do.
    if (SheetOf(id).visibility != SheetVisibility::Visible) target.m_document->setSheetVisible(copied, false);
    return target.RecordInsertedSheet(copied, copyName, SheetOf(id).visibility);
}

std::shared_ptr<automation::Sheet> LoWorkbook::CopySheet(int id, LoWorkbook& target, int afterId) {
    const int destination = target.IndexOf(afterId) + 1;
    const std::string sourceName = SheetOf(id).name;
    CheckCopyInto(target, sourceName);
    if (&target == this) {
        const std::string name = FreeCopyName(sourceName);
        const int copied = Document().copySheet(IndexOf(id), name, destination);
        return std::make_shared<LoSheet>(shared_from_this(), RecordInsertedSheet(copied, name, SheetOf(id).visibility));
    }
    Document();  // the source is loaded before the target, as the office expects to find them
    const auto namesBefore = target.Document().workbookNames();
    const int copyId = ImportInto(id, target, destination);
    const auto notices = CheckCopy(Document(), IndexOf(id), target, target.IndexOf(copyId), namesBefore);
    if (!notices.empty()) throw AutomationError(CopyNotice(sourceName, target, notices));
    return std::make_shared<LoSheet>(target.shared_from_this(), copyId);
}

std::vector<std::shared_ptr<automation::Sheet>> LoWorkbook::CopySheets(
    const std::vector<std::shared_ptr<automation::Sheet>>& sheets, automation::After after,
    const std::vector<std::string>& names, const automation::CopyOptions& options) {
    if (options.any()) return automation::Workbook::CopySheets(sheets, after, names, options);  // refused there
    std::vector<int> ids;
    for (const auto& sheet : sheets) {
        auto* own = dynamic_cast<LoSheet*>(sheet.get());
        if (!own || own->m_workbook.get() != this)
            throw AutomationError("The sheets to copy together must all belong to one workbook.");
        ids.push_back(own->m_id);
    }
    auto* anchor = dynamic_cast<LoSheet*>(&after.sheet);
    // Inside one document the office keeps references among copies by itself; elsewhere one at a time is all.
    if (!anchor || anchor->m_workbook.get() == this || ids.size() < 2)
        return automation::Workbook::CopySheets(sheets, after, names);
    LoWorkbook& target = *anchor->m_workbook;
    CheckCopyInto(target, SheetOf(ids.front()).name);
    Document();
    const auto namesBefore = target.Document().workbookNames();
    // Every sheet arrives first, under its name, so that the links the import makes between them can lead to
    // the copies.
    std::vector<int> copyIds;
    std::vector<std::pair<std::string, std::string>> renames;
    int destination = target.IndexOf(anchor->m_id) + 1;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        copyIds.push_back(ImportInto(ids[i], target, destination, i < names.size() ? names[i] : ""));
        renames.emplace_back(SheetOf(ids[i]).name, target.SheetOf(copyIds.back()).name);
        destination = target.IndexOf(copyIds.back()) + 1;
    }
    std::string text;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const int copied = target.IndexOf(copyIds[i]);
        target.m_document->relinkToCopies(Document(), copied, renames);
        const auto notices = CheckCopy(Document(), IndexOf(ids[i]), target, copied, namesBefore);
        if (!notices.empty()) text += (text.empty() ? "" : " ") + CopyNotice(renames[i].first, target, notices);
    }
    std::vector<std::shared_ptr<automation::Sheet>> copies;
    for (const int copyId : copyIds) copies.push_back(std::make_shared<LoSheet>(target.shared_from_this(), copyId));
    // The copies stand, whole but not faithful: they may be saved, and a move keeps its sheets.
    if (!text.empty()) throw automation::UnfaithfulCopy(text, copies);
    return copies;
}

std::vector<std::string> LoWorkbook::CheckCopy(OfficeDocument& source, int sourceIndex, LoWorkbook& target,
                                               int copied,
                                               const std::map<std::string, std::string>& namesBefore) {
    std::vector<std::string> notices;
    OfficeDocument& document = *target.m_document;
    // The office turns some references it cannot carry into another document (a link the source holds to a
    // third workbook, for one) into #REF! without a word; the copy keeps the source's values instead.
    const auto lost = document.keepValuesOfLostReferences(source, sourceIndex, copied);
    if (!lost.empty()) {
        std::string cells;
        for (const auto& entry : lost) cells += (cells.empty() ? "" : ", ") + entry.first;
        notices.push_back(std::to_string(lost.size()) + " of its formulas lost references that LibreOffice could "
                          "not carry into \"" + target.FileName() + "\" (first: " + lost.front().first + " " +
                          lost.front().second + "; cells " + cells +
                          "), so these cells now hold their values. Use .xlsx files to keep such formulas.");
    }
    // The office gives formulas the target's meaning of a workbook-scoped name both define; the copy gets its
    // own names where the source's meaning can be kept.
    const auto names = document.mendCopiedNames(source, sourceIndex, copied, namesBefore);
    if (!names.empty()) {
        std::string list;
        for (const auto& name : names) list += (list.empty() ? "" : "; ") + name;
        notices.push_back(
            "its formulas use names that \"" + target.FileName() + "\" defines differently (" + list +
            "), so they now compute with the target's meaning. Give the names different names in "
            "one of the workbooks and copy the sheet again.");
    }
    // The office gives the copy an empty module of its own: the sheet's code stays behind.
    if (const std::string code = source.sheetCode(sourceIndex); !code.empty() && document.sheetCode(copied) != code) {
        notices.push_back("its code (the sheet's own module) stayed behind: LibreOffice does not carry a sheet's "
                          "code into another workbook. Copy the sheet between .xlsm workbooks to keep its code.");
    }
    const auto styles = document.differingCellStyles(source, copied);
    if (!styles.empty()) {
        std::string list;
        for (const auto& style : styles) list += (list.empty() ? "\"" : ", \"") + style + "\"";
        notices.push_back(
            "the cell styles " + list + " look different in \"" + target.FileName() +
            "\", so the copied cells now take the target's look. Rename the styles in one of the "
            "workbooks to keep both looks.");
    }
    if (target.m_format == FileFormat::Xls) {
        // Formulas that pointed at other sheets of the source now point into the source file, and
        // LibreOffice's Excel 97-2003 export writes such links so that they break on reopening: keep their
        // values instead.
        const auto external = document.externalFormulas(copied);
        if (!external.empty()) {
            document.freezeExternalFormulas(copied);
            // Links into the source name its file; any other link leads to a third workbook.
            std::string encoded;
            for (char c : FileName()) encoded += c == ' ' ? std::string("%20") : std::string(1, c);
            std::size_t intoSource = 0;
            std::string cells;
            for (const auto& [cell, formula] : external) {
                if (formula.find(FileName()) != std::string::npos || formula.find(encoded) != std::string::npos)
                    ++intoSource;
                cells += (cells.empty() ? "" : ", ") + cell;
            }
            const std::string what = intoSource == external.size() ? "other sheets of \"" + FileName() + "\""
                                     : intoSource == 0 ? std::string("other workbooks")
                                                       : "other sheets of \"" + FileName() + "\" or other workbooks";
            notices.insert(
                notices.begin(),
                std::to_string(external.size()) + " of its formulas referred to " + what + " (first: " +
                    external.front().first + " " + external.front().second + "; cells " + cells +
                    "). An Excel 97-2003 workbook saved by LibreOffice cannot keep such links, so these "
                    "cells now hold their values. Copy the sheets they refer to as well, or use .xlsx "
                    "files, to keep the formulas.");
        }
    }
    return notices;
}

void LoWorkbook::MoveSheet(int id, int otherId, bool after) {
    const int index = IndexOf(id);
    int destination = IndexOf(otherId) + (after ? 1 : 0);
    if (otherId == id) return;
    ThrowIfReadOnly();
    Document().moveSheet(index, destination);
    Record record = m_records[static_cast<std::size_t>(index)];
    m_records.erase(m_records.begin() + index);
    if (destination > index) --destination;
    m_records.insert(m_records.begin() + destination, std::move(record));
    Resync();
}

void LoWorkbook::SetSheetVisibility(int id, SheetVisibility visibility) {
    const int index = IndexOf(id);
    const auto& sheet = m_records[static_cast<std::size_t>(index)].sheet;
    if (sheet.visibility == visibility) return;
    if (sheet.placeholder) {
        throw AutomationError("The sheet \"" + sheet.name +
                              "\" cannot be shown or hidden: it stands for a module of the workbook's code, "
                              "which has nothing to show.");
    }
    if (visibility != SheetVisibility::Visible) {
        const bool otherVisible = std::any_of(m_records.begin(), m_records.end(), [&](const Record& record) {
            return record.id != id && automation::KeepsWorkbookVisible(LoSheet(shared_from_this(), record.id));
        });
        if (!otherVisible) {
            throw AutomationError("The sheet \"" + sheet.name +
                                  "\" cannot be hidden: a workbook must keep at least one visible sheet. Show "
                                  "another sheet first.");
        }
    }
    ThrowIfReadOnly();
    Document().setSheetVisible(IndexOf(id), visibility == SheetVisibility::Visible);
    // The office knows no "very hidden": the record keeps it, and the save writes it into the file.
    m_records[static_cast<std::size_t>(IndexOf(id))].sheet.visibility = visibility;
    Resync();
}

void LoWorkbook::DeleteSheet(int id) {
    const int index = IndexOf(id);
    // The rule of moves and of the engine: another sheet must keep the workbook visible.
    const bool otherVisible = std::any_of(m_records.begin(), m_records.end(), [&](const Record& record) {
        return record.id != id && automation::KeepsWorkbookVisible(LoSheet(shared_from_this(), record.id));
    });
    const auto& sheet = m_records[static_cast<std::size_t>(index)].sheet;
    if (!otherVisible) {
        throw AutomationError("The sheet \"" + sheet.name +
                              "\" cannot be deleted: a workbook must keep at least one "
                              "visible sheet. Add or unhide another sheet first.");
    }
    ThrowIfReadOnly();
    Document().removeSheet(index);
    m_records.erase(m_records.begin() + index);
    Resync();
}

namespace {

std::optional<std::string> RestoreSheetStates(FileFormat format, const std::string& path,
                                              const std::vector<ListedSheet>& sheets) {
    if (format == FileFormat::Xls) return RestoreXlsSheetStates(path, sheets);
    if (automation::IsOoxml(format)) return RestoreOoxmlSheetStates(path, sheets);
    return std::nullopt;
}

std::string HiddenSheetsProblem(const std::string& file, const std::string& problem) {
    return "\"" + file +
           "\" was not saved: LibreOffice changed which of its sheets are hidden and this could not be set right "
           "again (" +
           problem + "). The file is as it was; check its hidden sheets in a spreadsheet application.";
}

}  // namespace

void LoWorkbook::Save() {
    ThrowIfClosed();
    // A workbook never loaded was never changed: its file already is what Save would write.
    if (!m_document) return;
    ThrowIfReadOnly();
    std::vector<ListedSheet> sheets;
    for (const auto& record : m_records) sheets.push_back(record.sheet);
    // LibreOffice writes over a file in place, so that a failure halfway would leave it cut short: it writes
    // a new file aside, which then replaces the workbook whole. Aside means in the workbook's own folder,
    // since LibreOffice stores links to other files relative to the file it writes.
    static std::atomic<int> counter{0};
    const std::string unique = std::to_string(platform::ProcessId()) + "-" + std::to_string(++counter);
    const std::filesystem::path staged =
        platform::PathFromUtf8(m_path).parent_path() /
        platform::PathFromUtf8(".~orvandel-" + unique + "-save-" + FileName());
    // Made here first, so that a folder that takes no new file is told apart from a failure of LibreOffice.
    if (const std::string why = platform::CreateNewFile(platform::Utf8FromPath(staged)); !why.empty()) {
        throw AutomationError("\"" + FileName() + "\" could not be saved: no new file can be written in its folder (" +
                              why + "). Make the folder writable, then try again.");
    }
    struct Remove {
        std::filesystem::path path;
        ~Remove() {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    } remove{staged};
    if (!m_document->storeTo(platform::Utf8FromPath(staged))) {
        SaveInPlace(sheets, unique);
        return;
    }
    if (const auto problem = RestoreSheetStates(m_format, platform::Utf8FromPath(staged), sheets))
        throw AutomationError(HiddenSheetsProblem(FileName(), *problem));
    if (m_new) {
        PlaceNewFile(staged, unique);
        m_new = false;
        return;
    }
    try {
        platform::ReplaceFileWithCopyOf(m_path, platform::Utf8FromPath(staged), FileName());
    } catch (const engine::EngineError& e) {
        throw AutomationError(e.what());
    }
}

void LoWorkbook::PlaceNewFile(const std::filesystem::path& staged, const std::string& unique) {
    namespace fs = std::filesystem;
    const std::string taken = "\"" + FileName() +
                              "\" could not be saved: a file of that name was made by another program meanwhile. "
                              "Nothing was written; choose another name.";
    std::error_code ec;
    if (fs::exists(platform::PathFromUtf8(m_path), ec) || ec) throw AutomationError(taken);
    // The staged file is private to this user; a copy beside it gets a new file's permissions and reaches the
    // disk before it takes the name. A link takes the name only where none is (a rename would replace a
    // file that appeared meanwhile).
    const fs::path ready =
        staged.parent_path() / platform::PathFromUtf8(".~orvandel-" + unique + "-new-" + FileName());
    struct Remove {
        fs::path path;
        ~Remove() {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    } remove{ready};
    try {
        platform::ReplaceFileWithCopyOf(platform::Utf8FromPath(ready), platform::Utf8FromPath(staged), FileName());
    } catch (const engine::EngineError& e) {
        throw AutomationError(e.what());
    }
    fs::create_hard_link(ready, platform::PathFromUtf8(m_path), ec);
    if (ec == std::errc::file_exists) throw AutomationError(taken);
    if (ec) {
        // A folder without links: a rename, once more sure that no file took the name.
        if (fs::exists(platform::PathFromUtf8(m_path), ec) || ec) throw AutomationError(taken);
        fs::rename(ready, platform::PathFromUtf8(m_path), ec);
        if (ec) {
            throw AutomationError("\"" + FileName() + "\" could not be saved: the new file could not take its name (" +
                                  ec.message() + "). Nothing was written; try again.");
        }
    }
}

void LoWorkbook::SaveInPlace(const std::vector<ListedSheet>& sheets, const std::string& unique) {
    namespace fs = std::filesystem;
    // The old file stays aside under a second name (a link, no copy) while LibreOffice writes over a copy of
    // it, and comes back when the save fails.
    const fs::path path = platform::PathFromUtf8(m_path);
    const fs::path aside =
        path.parent_path() / platform::PathFromUtf8(".~orvandel-" + unique + "-" + FileName());
    const fs::path fresh =
        path.parent_path() / platform::PathFromUtf8(".~orvandel-" + unique + "-new-" + FileName());
    std::error_code ec;
    fs::create_hard_link(path, aside, ec);
    if (!ec) fs::copy_file(path, fresh, ec);
    if (!ec) fs::permissions(fresh, fs::status(path).permissions(), ec);
    // LibreOffice refuses to save over a file whose time changed since it loaded it.
    if (!ec) fs::last_write_time(fresh, fs::last_write_time(path), ec);
    if (!ec) fs::rename(fresh, path, ec);
    if (ec) {
        fs::remove(fresh, ec);
        fs::remove(aside, ec);
        throw AutomationError("\"" + FileName() + "\" could not be saved: its folder does not let a copy of it be "
                              "made while it is written. Make the folder writable, then try again.");
    }
    auto putBack = [&] {
        std::error_code ignored;
        fs::rename(aside, path, ignored);
    };
    try {
        m_document->store();
    } catch (...) {
        putBack();
        throw;
    }
    if (const auto problem = RestoreSheetStates(m_format, m_path, sheets)) {
        putBack();
        throw AutomationError(HiddenSheetsProblem(FileName(), *problem));
    }
    fs::remove(aside, ec);
}

void LoWorkbook::Close() {
    ThrowIfClosed();
    Detach();
}

void LoWorkbook::Detach() noexcept {
    if (m_document) m_document->close();
    m_document.reset();
    m_closed = true;
    m_records.clear();
}

std::shared_ptr<automation::Sheet> LoSheet::Copy(automation::After after) {
    const LoSheet& target = Peer(after.sheet, "copied");
    return m_workbook->CopySheet(m_id, *target.m_workbook, target.m_id);
}

void LoSheet::Move(automation::Before before) {
    const LoSheet& target = Peer(before.sheet, "moved");
    if (target.m_workbook != m_workbook) {
        throw AutomationError("A sheet can only be moved before a sheet of its own workbook.");
    }
    m_workbook->MoveSheet(m_id, target.m_id, false);
}

void LoSheet::Move(automation::After after) {
    const LoSheet& target = Peer(after.sheet, "moved");
    if (target.m_workbook != m_workbook) {
        throw AutomationError("A sheet can only be moved after a sheet of its own workbook.");
    }
    m_workbook->MoveSheet(m_id, target.m_id, true);
}

const LoSheet& LoSheet::Peer(automation::Sheet& other, const char* operation) const {
    const auto* peer = dynamic_cast<const LoSheet*>(&other);
    if (!peer) {
        throw AutomationError(
            "The sheet \"" + name() + "\" cannot be " + operation +
            " next to a sheet of a workbook that another backend serves (for example an .xlsx file "
            "next to an .xls file): both workbooks must be open in LibreOffice.");
    }
    return *peer;
}

LoSession::LoSession() : m_state(std::make_shared<SessionState>()) {}

LoSession::~LoSession() {
    try {
        Quit();
    } catch (...) {
    }
}

std::shared_ptr<automation::Workbook> LoSession::Open(const std::string& path) {
    if (m_state->quit) throw AutomationError("The LibreOffice instance has already quit; start a new one.");
    const std::string full =
        platform::Utf8FromPath(std::filesystem::absolute(platform::PathFromUtf8(path)).lexically_normal());
    // Opening a workbook that is open already gives that workbook, as the spreadsheet application does.
    for (const auto& weak : m_state->workbooks) {
        if (auto open = weak.lock(); open && !open->closed() && open->fullName() == full) return open;
    }
    const FileFormat format = automation::FormatOfPath(full);
    auto listing = ListSheets(full, format);
    auto workbook =
        std::make_shared<LoWorkbook>(m_state, full, format, listing.value_or(std::vector<ListedSheet>{}));
    // Only the office can read this file: load it now, so that its sheets are known.
    if (!listing) workbook->Load();
    m_state->workbooks.push_back(workbook);
    return workbook;
}

std::shared_ptr<automation::Workbook> LoSession::Create(const std::string& path) {
    if (m_state->quit) throw AutomationError("The LibreOffice instance has already quit; start a new one.");
    auto workbook = LoWorkbook::CreateNew(
        m_state, platform::Utf8FromPath(std::filesystem::absolute(platform::PathFromUtf8(path)).lexically_normal()));
    m_state->workbooks.push_back(workbook);
    return workbook;
}

void LoSession::Quit() {
    if (m_state->quit) return;
    m_state->quit = true;
    for (const auto& weak : m_state->workbooks) {
        if (auto workbook = weak.lock()) workbook->Detach();
    }
    m_state->workbooks.clear();
    const bool used = m_state->office != nullptr;
    if (m_state->office) m_state->office->Quit();
    m_state->office.reset();
    // The window keeps one started ahead for its next operation.
    if (used) WarmAgain();
}

}  // namespace orv::libreoffice

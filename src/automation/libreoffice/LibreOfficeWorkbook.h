// The object model over LibreOffice: workbooks and sheets of one private session. A workbook is listed from
// its file at once and loaded into the office only when something is to change, so a listing never starts
// LibreOffice.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/Backend.h"
#include "automation/libreoffice/Office.h"
#include "legacy/SheetListing.h"

namespace orv::libreoffice {

using legacy::CannotOpen;
using legacy::ListedSheet;
using legacy::ListSheets;

class LoWorkbook;

// What the session's workbooks share: the office, started on first need, and whether the session has ended.
struct SessionState {
    std::unique_ptr<Office> office;
    std::vector<std::weak_ptr<LoWorkbook>> workbooks;
    bool quit = false;

    // The running office, started now when it is not yet; throws when the session has ended or none starts.
    Office& EnsureOffice();
};

class LoWorkbook : public automation::Workbook, public std::enable_shared_from_this<LoWorkbook> {
  public:
    LoWorkbook(std::shared_ptr<SessionState> session, std::string path, automation::FileFormat format,
               std::vector<ListedSheet> listing);
    // A new workbook for `path` (absolute, a file that does not exist yet), made in the session's office
    // with one empty sheet; its first Save writes the file. Throws AutomationError when it cannot be made.
    static std::shared_ptr<LoWorkbook> CreateNew(std::shared_ptr<SessionState> session, std::string path);

    std::string fullName() const override { return m_path; }
    void Save() override;
    void Close() override;
    int sheetCount() const override;
    std::shared_ptr<automation::Sheet> sheetAt(int position) override;
    // Into another workbook of the session, the sheets arrive first and their links to each other in the
    // source file then lead to the copies.
    std::vector<std::shared_ptr<automation::Sheet>> CopySheets(
        const std::vector<std::shared_ptr<automation::Sheet>>& sheets, automation::After after,
        const std::vector<std::string>& names,
        const automation::CopyOptions& options) override;

    // Loads the workbook into the office now (done by itself before the first change). Throws on failure.
    void Load();
    // Closes the office's document without a word (the session is ending).
    void Detach() noexcept;
    bool servedBy(const SessionState* session) const { return m_session.get() == session; }
    bool closed() const { return m_closed; }

    // The operations of the sheet with identity `id`; see automation::Sheet.
    const ListedSheet& SheetOf(int id) const;
    void RenameSheet(int id, const std::string& name);
    std::shared_ptr<automation::Sheet> CopySheet(int id, LoWorkbook& target, int afterId);
    void MoveSheet(int id, int otherId, bool after);
    void DeleteSheet(int id);
    void SetSheetVisibility(int id, automation::SheetVisibility visibility);

  private:
    // Save for a format LibreOffice writes only over the workbook's own file.
    void SaveInPlace(const std::vector<ListedSheet>& sheets, const std::string& unique);
    // Puts the saved `staged` file at the path of a workbook never saved, refusing a file that took the path
    // meanwhile.
    void PlaceNewFile(const std::filesystem::path& staged, const std::string& unique);

    struct Record {
        int id = 0;
        ListedSheet sheet;
    };

    void ThrowIfClosed() const;
    // Throws AutomationError when the workbook was opened read-only (the user may not replace its file).
    void ThrowIfReadOnly();
    int IndexOf(int id) const;
    OfficeDocument& Document();
    // Matches the records to the office's sheets after a change, by name, so handles follow their sheets.
    void Resync();
    std::vector<std::string> Names() const;
    std::string FreeCopyName(const std::string& name) const;
    // Throws when sheets of this workbook cannot be copied into `target`.
    void CheckCopyInto(LoWorkbook& target, const std::string& sheetName);
    // Imports sheet `id` into `target` at `destination` under a free name (`name`, or its own when empty);
    // returns the copy's id there.
    int ImportInto(int id, LoWorkbook& target, int destination, const std::string& name = "");
    // Records a sheet the office inserted at `index` (a copy named `name`), following it; returns its id.
    int RecordInsertedSheet(int index, const std::string& name, automation::SheetVisibility visibility);
    // The description of what a copy into `target` could not keep, one sentence per notice.
    static std::string CopyNotice(const std::string& sheetName, const LoWorkbook& target,
                                  const std::vector<std::string>& notices);
    // The defects of the office a copy into `target` may suffer, checked and mended where possible; returns a
    // sentence for each that the user must know of.
    std::vector<std::string> CheckCopy(OfficeDocument& source, int sourceIndex, LoWorkbook& target,
                                       int copied, const std::map<std::string, std::string>& namesBefore);
    std::string FileName() const;

    std::shared_ptr<SessionState> m_session;
    std::string m_path;
    automation::FileFormat m_format;
    std::vector<Record> m_records;
    int m_nextId = 1;
    std::unique_ptr<OfficeDocument> m_document;
    bool m_closed = false;
    bool m_readOnly = false;  // opened read-only: the user may not replace its file
    bool m_new = false;       // made by CreateNew and not saved yet: its file does not exist
};

class LoSheet : public automation::Sheet {
  public:
    LoSheet(std::shared_ptr<LoWorkbook> workbook, int id) : m_workbook(std::move(workbook)), m_id(id) {}

    std::string name() const override { return m_workbook->SheetOf(m_id).name; }
    void setName(const std::string& name) override { m_workbook->RenameSheet(m_id, name); }
    automation::SheetKind kind() const override { return m_workbook->SheetOf(m_id).kind; }
    automation::SheetVisibility visibility() const override { return m_workbook->SheetOf(m_id).visibility; }
    void setVisibility(automation::SheetVisibility visibility) override {
        m_workbook->SetSheetVisibility(m_id, visibility);
    }
    bool isPlaceholder() const override { return m_workbook->SheetOf(m_id).placeholder; }
    std::shared_ptr<Sheet> Copy(automation::After after) override;
    void Move(automation::Before before) override;
    void Move(automation::After after) override;
    void Delete() override { m_workbook->DeleteSheet(m_id); }

  private:
    friend class LoWorkbook;
    // The LibreOffice sheet behind `other`; throws when it belongs to another backend.
    const LoSheet& Peer(automation::Sheet& other, const char* operation) const;

    std::shared_ptr<LoWorkbook> m_workbook;
    int m_id;
};

// One private LibreOffice session: workbooks opened in it share one office, started on the first change.
class LoSession : public automation::BackendSession {
  public:
    LoSession();
    ~LoSession() override;

    std::shared_ptr<automation::Workbook> Open(const std::string& path) override;
    std::shared_ptr<automation::Workbook> Create(const std::string& path) override;
    void Quit() override;

  private:
    std::shared_ptr<SessionState> m_state;
};

}  // namespace orv::libreoffice

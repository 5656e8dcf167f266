// The object model's Workbook and Sheet implemented on the workbook engine: handles that follow their sheet
// across renames and moves, and engine failures passed on as AutomationError.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/ObjectModel.h"
#include "engine/workbook/Workbook.h"

namespace orv::ooxml {

class OoxmlWorkbook;

class OoxmlSheet : public automation::Sheet {
  public:
    explicit OoxmlSheet(std::weak_ptr<OoxmlWorkbook> workbook) : m_workbook(std::move(workbook)) {}

    std::string name() const override;
    void setName(const std::string& name) override;
    automation::SheetKind kind() const override;
    automation::SheetVisibility visibility() const override;
    void setVisibility(automation::SheetVisibility visibility) override;
    bool isPlaceholder() const override;
    std::shared_ptr<automation::Sheet> Copy(automation::After after) override;
    void Move(automation::Before before) override;
    void Move(automation::After after) override;
    void Delete() override;

    // The workbook this sheet belongs to and its 0-based position there; throws when deleted or closed.
    OoxmlWorkbook& workbook() const;
    int index() const;
    void markDeleted() { m_deleted = true; }

  private:
    const engine::SheetInfo& info() const;
    std::weak_ptr<OoxmlWorkbook> m_workbook;
    bool m_deleted = false;
};

class OoxmlWorkbook : public automation::Workbook, public std::enable_shared_from_this<OoxmlWorkbook> {
  public:
    // Opens the workbook file; throws AutomationError with the engine's description when it cannot.
    static std::shared_ptr<OoxmlWorkbook> Open(const std::string& path);
    // A new workbook that its first save writes to `path` (see engine::WorkbookDocument::Create).
    static std::shared_ptr<OoxmlWorkbook> Create(const std::string& path);

    std::string fullName() const override;
    void Save() override;
    void Close() override;
    std::vector<std::string> TakeNotices() override;
    int sheetCount() const override;
    std::shared_ptr<automation::Sheet> sheetAt(int position) override;
    // The engine copies the group in one go, so that references among the sheets lead to the copies, and
    // checks every sheet before the target changes.
    std::vector<std::shared_ptr<automation::Sheet>> CopySheets(
        const std::vector<std::shared_ptr<automation::Sheet>>& sheets, automation::After after,
        const std::vector<std::string>& names,
        const automation::CopyOptions& options) override;

    // The engine document; throws AutomationError once the workbook is closed.
    engine::WorkbookDocument& document() const;
    // The position of a sheet handle, 0-based, or -1 when it is not one of this workbook's.
    int indexOf(const OoxmlSheet* sheet) const;
    // Moves the handle list as the engine moved the sheets.
    void moveHandle(int from, int to);
    void removeHandle(int index);
    // Adds a handle for a sheet the engine inserted at `index` and returns it.
    std::shared_ptr<OoxmlSheet> insertHandle(int index);
    bool closed() const { return !m_document; }

  private:
    explicit OoxmlWorkbook(std::unique_ptr<engine::WorkbookDocument> document);
    static std::shared_ptr<OoxmlWorkbook> Over(std::unique_ptr<engine::WorkbookDocument> document);
    std::unique_ptr<engine::WorkbookDocument> m_document;
    std::string m_path;
    std::vector<std::shared_ptr<OoxmlSheet>> m_sheets;
};

}  // namespace orv::ooxml

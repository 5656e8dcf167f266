// A workbook file opened by the engine: its sheet list, and the in-place operations on sheets (rename, move,
// delete) that are saved back as a new package with every untouched part byte-identical.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/package/Package.h"

namespace orv::engine {

enum class SheetKind { Worksheet, Chartsheet, Dialogsheet, Macrosheet };
enum class SheetState { Visible, Hidden, VeryHidden };

struct SheetInfo {
    std::string name;
    SheetKind kind = SheetKind::Worksheet;
    SheetState state = SheetState::Visible;
    std::string relId;  // "" for a sheet without a relationship
    std::string part;   // "" when the sheet has no part
};

class WorkbookDocument {
  public:
    // Opens the workbook at `path`, reading only the zip directory, the relationships and the workbook part.
    // Throws EngineError with a clear description when it is not a workbook this engine can change.
    static std::unique_ptr<WorkbookDocument> Open(const std::string& path, InflateLimits limits = {});
    // A new workbook of the kind `path`'s extension names (.xlsx, .xlsm, .xltx, .xltm) holding one empty
    // worksheet, "Sheet1", that its first save writes to `path` (which must not exist then). Throws EngineError
    // for another extension.
    static std::unique_ptr<WorkbookDocument> Create(const std::string& path);
    // True for a workbook made by Create that no copy has arrived in yet: the first copy brings its source's
    // look (styles and theme) with it, so that it looks there as it did at home.
    bool fresh() const { return m_fresh; }
    void setFresh(bool fresh) { m_fresh = fresh; }
    // Copies arriving in a workbook made by Create bring its only formulas, and those name no sheet but the
    // sheets of their source and the copies themselves: a sheet of another name (its own empty first sheet)
    // is deleted without reading every part for references to it.
    void NoteNamesCopiesMayCite(const std::vector<std::string>& names);

    const std::string& path() const { return m_package->path(); }
    const std::string& displayName() const { return m_package->displayName(); }
    Package& package() { return *m_package; }
    const std::string& workbookPart() const { return m_workbookPart; }

    // Every sheet in workbook order (the full sheet collection).
    const std::vector<SheetInfo>& sheets() const { return m_sheets; }

    // Renames sheet `index` (0-based) and every reference to it; throws EngineError when the name is refused.
    // In a workbook whose structure is protected, the save refuses a sheet left under another name.
    void Rename(int index, const std::string& newName);
    // Moves sheet `index` so that it ends at position `newIndex` of the collection (0-based).
    void Move(int index, int newIndex);
    // Shows or hides sheet `index`; throws EngineError when that would leave no visible sheet.
    void SetState(int index, SheetState state);
    // Deletes sheet `index`, the parts only it used, and turns references to it into #REF!; throws
    // EngineError for the last visible sheet.
    void Delete(int index);

    // Registers the worksheet (or chart sheet) part `part` (already in the package) as a new sheet named `name`
    // directly after sheet `afterIndex`, with a new sheetId; sheet-indexed attributes and app.xml follow.
    // Returns its index.
    int InsertSheet(int afterIndex, const std::string& name, const std::string& part,
                    SheetState state = SheetState::Visible, SheetKind kind = SheetKind::Worksheet);
    // Puts the sheet list back as sheets() gave it before changes that the package was then put back from (a
    // discarded checkpoint), so that the list follows the package again. Never fails.
    void RestoreSheets(std::vector<SheetInfo> sheets) noexcept { m_sheets = std::move(sheets); }
    // Throws EngineError when the workbook's structure is protected against `operation` ("copy"...).
    void CheckStructureUnlocked(const char* operation);

    // What a change did that the user must be told though it succeeded (a macro project's signature removed);
    // handed over once.
    void AddNotice(std::string notice) { m_notices.push_back(std::move(notice)); }
    std::vector<std::string> TakeNotices() { return std::exchange(m_notices, {}); }

    // True when something was changed since opening or the last save.
    bool changed() const { return m_package->changed(); }
    // Writes the workbook back to its own file atomically; throws EngineError (file untouched) on failure.
    void Save();
    // Writes the workbook to another path atomically (tests, save-as).
    void SaveTo(const std::string& path);

  private:
    explicit WorkbookDocument(std::unique_ptr<Package> package);
    void Load();
    void CheckIndex(int index) const;
    // False only for a sheet name no formula of the workbook can hold (see NoteNamesCopiesMayCite).
    bool MayBeCited(const std::string& name) const;

  public:
    // The sheet names in workbook order.
    std::vector<std::string> SheetNames() const;

  private:
    std::unique_ptr<Package> m_package;
    std::string m_workbookPart;
    std::vector<SheetInfo> m_sheets;
    std::vector<std::string> m_savedNames;  // as the file holds them
    std::vector<std::string> m_notices;
    bool m_fresh = false;
    std::optional<std::set<std::string>> m_citable;  // folded; engaged for a workbook made by Create
};

// The name of a kind and of a state as the command-line tool prints them.
const char* KindName(SheetKind kind);
const char* StateName(SheetState state);

}  // namespace orv::engine

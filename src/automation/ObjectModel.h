// The spreadsheet object model the procedures use: sheets, workbooks and the private application instance.
// Every member mirrors one operation of the object model the program was designed against; a failure is an
// AutomationError whose text is the description the error report shows. Backends (our own OOXML engine,
// LibreOffice) implement Sheet and Workbook; the procedures never know which backend serves them.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::automation {

// A failed object-model call. what() is a description a user can act on.
class AutomationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Sheet;

// Copies a backend made that differ from their sources (what() says how, for instance code that stayed behind):
// they stand in the target, which may be saved, but a move must keep the sheets in their source.
class UnfaithfulCopy : public AutomationError {
  public:
    UnfaithfulCopy(const std::string& what, std::vector<std::shared_ptr<Sheet>> copies)
        : AutomationError(what), m_copies(std::move(copies)) {}
    const std::vector<std::shared_ptr<Sheet>>& copies() const { return m_copies; }

  private:
    std::vector<std::shared_ptr<Sheet>> m_copies;
};

enum class SheetKind { Worksheet, Chartsheet, Dialogsheet, Macrosheet };
enum class SheetVisibility { Visible, Hidden, VeryHidden };

// "worksheet", "chartsheet", ... and "visible", "hidden", "veryHidden": the words the command-line tool
// prints.
const char* ToString(SheetKind kind);
const char* ToString(SheetVisibility visibility);

class Sheet;

// How a copy treats what its formulas read; the default copies them as they are.
struct CopyOptions {
    // Every cell formula of the copies gives way to the value it last showed (its cached value): the copies
    // read nothing, so no link to the source is made for their cells.
    bool valuesOnly = false;
    // References to sheets of the source that are not copied lead to the target's sheet of the same name
    // (compared as sheet names are) where the target has one, instead of to the source file.
    bool referToTarget = false;

    bool any() const { return valuesOnly || referToTarget; }
};

// Named arguments of Copy and Move.
struct After {
    Sheet& sheet;
};
struct Before {
    Sheet& sheet;
};

// One sheet of an open workbook. A handle stays bound to its sheet across renames and moves; once the sheet
// is deleted or its workbook closed, every call fails with AutomationError.
class Sheet {
  public:
    virtual ~Sheet() = default;

    // The name as shown on the sheet's tab.
    virtual std::string name() const = 0;
    // Renames the sheet; throws when the name is refused (invalid, or taken by another sheet ignoring case).
    virtual void setName(const std::string& name) = 0;

    virtual SheetKind kind() const = 0;
    virtual SheetVisibility visibility() const = 0;
    // Shows or hides the sheet; throws AutomationError when that would leave its workbook no visible sheet, or
    // the backend cannot (the default says so).
    virtual void setVisibility(SheetVisibility visibility);
    // True for an entry that stands for no sheet of its own (a workbook may list the modules of its VBA
    // project so): it has nothing to show.
    virtual bool isPlaceholder() const { return false; }

    // Inserts a copy of this sheet directly after `after.sheet`, which may belong to another workbook open in
    // the same application. Returns the copy; its name is this sheet's name unless the target workbook
    // already has that name in another case, when it gets a free one ("Data (2)"). Throws UnfaithfulCopy for
    // a copy made that differs from the sheet.
    virtual std::shared_ptr<Sheet> Copy(After after) = 0;
    // Moves this sheet to directly before / after another sheet of the same workbook.
    virtual void Move(Before before) = 0;
    virtual void Move(After after) = 0;
    // Removes the sheet from its workbook without asking anything.
    virtual void Delete() = 0;
};

class Workbook;

// True when `sheet` keeps its workbook visible: it is shown and is not a placeholder (a worksheet, chart
// sheet, macro sheet or dialog sheet does). Deletions and moves keep at least one such sheet in every
// workbook.
bool KeepsWorkbookVisible(const Sheet& sheet);

// Refuses, before anything is written, a move (or, with `operation` "deleted", a deletion) of `leaving` (sheets
// of `source`, the workbook at `path`) that would leave it without a sheet that KeepsWorkbookVisible: throws
// AutomationError saying so.
void RefuseLeavingNoVisibleSheet(Workbook& source, const std::vector<std::shared_ptr<Sheet>>& leaving,
                                 const std::string& path, const char* operation = "moved");

// A view of a workbook's sheets: Sheets (every sheet) or Worksheets (worksheets only), in workbook order.
class SheetCollection {
  public:
    SheetCollection(Workbook& workbook, bool worksheetsOnly)
        : m_workbook(workbook), m_worksheetsOnly(worksheetsOnly) {}

    int count() const;
    // The sheet at a 1-based position of this collection; throws when there is none.
    std::shared_ptr<Sheet> operator()(int position) const;
    // The sheet of that name (compared ignoring case, as the spreadsheet application does); throws when none.
    std::shared_ptr<Sheet> operator()(const std::string& name) const;

  private:
    Workbook& m_workbook;
    bool m_worksheetsOnly;
};

// One workbook open in an application instance.
class Workbook {
  public:
    virtual ~Workbook() = default;

    // The full path the workbook was opened from.
    virtual std::string fullName() const = 0;

    SheetCollection Sheets() { return SheetCollection(*this, false); }
    SheetCollection Worksheets() { return SheetCollection(*this, true); }

    // The position in Sheets of the position-th worksheet, so that a list of worksheets addresses the sheet
    // its entry stands for. Throws when there is no such worksheet.
    virtual int SheetsIndexOfWorksheet(int worksheetPosition);

    // What Worksheets and the lookup by name rest on. The defaults walk the full collection; a backend whose
    // application keeps these collections itself answers from them, one call each.
    virtual int worksheetCount();
    virtual std::shared_ptr<Sheet> worksheetAt(int worksheetPosition);
    // The sheet of that name (compared ignoring case), among worksheets only when `worksheetsOnly`; throws
    // when there is none.
    virtual std::shared_ptr<Sheet> sheetNamed(const std::string& name, bool worksheetsOnly);

    // Inserts copies of `sheets` (sheets of this workbook, in the order they are to arrive) side by side,
    // directly after `after.sheet`, named `names` (one per sheet, "" or none for Copy's naming); returns the
    // copies in that order. References among the sheets lead to their copies, under the names they arrive
    // with, where the backend can carry them so (the workbook engine does); the default copies one sheet
    // after the other and renames the copies, and refuses `options` it cannot honour. A failure can leave the
    // first copies in the target: do not save it then. A copy with values only whose formulas had no cached
    // value throws UnfaithfulCopy naming those cells, which stay empty.
    virtual std::vector<std::shared_ptr<Sheet>> CopySheets(const std::vector<std::shared_ptr<Sheet>>& sheets,
                                                           After after,
                                                           const std::vector<std::string>& names = {},
                                                           const CopyOptions& options = {});

    // Writes the workbook back to its own file, in place and in its own format; the file is replaced whole or
    // not at all. The instance's workbooks tell the thread's SaveObserver of every save.
    virtual void Save() = 0;
    // Closes the workbook, discarding unsaved changes.
    virtual void Close() = 0;
    // What the changes so far did that the user must be told though they succeeded (a macro project's
    // signature removed), each once.
    virtual std::vector<std::string> TakeNotices() { return {}; }

    // The full sheet collection, 1-based, in workbook order. sheetAt throws when position is out of range.
    virtual int sheetCount() const = 0;
    virtual std::shared_ptr<Sheet> sheetAt(int position) = 0;
};

// Told of every save of a workbook of an instance, on the thread where it is installed, whichever backend
// writes the file: the undo history keeps the version a save replaces. Observers never fail a save.
class SaveObserver {
  public:
    virtual ~SaveObserver() = default;
    // `path` is about to be saved and still holds its old content. `replacedWhole`: the backend writes the
    // new content to another file and renames it into place, so the old bytes stay as they are under any
    // second name of the file; otherwise the backend may write into the file itself.
    virtual void BeforeSave(const std::string& path, bool replacedWhole) = 0;
    // The save of `path` ended; `succeeded` false when it failed (the file may or may not have been
    // replaced).
    virtual void AfterSave(const std::string& path, bool succeeded) = 0;
};

// Installs `observer` for this thread while it lives (nullptr: none), putting back the one before.
class ScopedSaveObserver {
  public:
    explicit ScopedSaveObserver(SaveObserver* observer);
    ~ScopedSaveObserver();
    ScopedSaveObserver(const ScopedSaveObserver&) = delete;
    ScopedSaveObserver& operator=(const ScopedSaveObserver&) = delete;

  private:
    SaveObserver* m_previous;
};

// The observer installed on this thread, or nullptr.
SaveObserver* CurrentSaveObserver();

}  // namespace orv::automation

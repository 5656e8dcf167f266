// The rules of copying, moving and deleting sheets that the window and the command line share: what is
// refused before anything is written, the order of the saves (the target before the source), and what stays
// after a partial failure (a sheet leaves its workbook only once its copy is saved whole in the other).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/Application.h"
#include "automation/ObjectModel.h"

namespace orv::transfers {

using automation::Sheet;
using automation::Workbook;

// The workbook a step needs; throws AutomationError when it was never opened (an earlier step failed).
Workbook& Need(const std::shared_ptr<Workbook>& workbook);

// True when both paths name one existing file (however they spell it).
bool SameFile(const std::string& a, const std::string& b);

// Throws AutomationError when `source` and `target` name one file, before either is opened.
void RefuseSameFile(const std::string& source, const std::string& target);

// Opens the transfer's target in `application`, which holds the source (`sourcePath`); refuses the same file
// first. Throws AutomationError.
std::shared_ptr<Workbook> OpenTarget(automation::Application& application, const std::string& sourcePath,
                                     const std::string& targetPath);

// `sheets` (sheets of `source`) in the order they stand in it; throws AutomationError when one is named
// twice.
std::vector<std::shared_ptr<Sheet>> InWorkbookOrder(Workbook& source,
                                                    std::vector<std::shared_ptr<Sheet>> sheets);

// Deletes `sheets` from `workbook` (the file at `path`): refuses, before anything changes, to leave it
// without a visible sheet. A deletion that fails part way must not be saved. Throws AutomationError.
void DeleteSheets(Workbook& workbook, const std::vector<std::shared_ptr<Sheet>>& sheets,
                  const std::string& path);

// One copy or move of a sheet or a group from one open workbook into another.
class SheetTransfer {
  public:
    enum class Kind { Copy, Move };

    SheetTransfer(Kind kind, std::shared_ptr<Workbook> source, std::shared_ptr<Workbook> target);

    Workbook& source() const { return Need(m_source); }
    Workbook& target() const { return Need(m_target); }

    // Copies `sheet` (of the source; the caller may have renamed it for the moment) to directly after
    // `anchor` of the target. A move that would leave the source no visible sheet is refused first. A copy
    // the backend made but reported as not faithful stands: it is kept in copies(), and the report is thrown
    // as AutomationError (problem() says it again). Throws when no copy stands.
    void CopyOne(const std::shared_ptr<Sheet>& sheet, Sheet& anchor);
    // Copies `sheets` side by side directly after `anchor`, named `names` ("" or none: the backend's naming),
    // after the same refusal; one sheet goes as CopyOne does (its report kept in problem(), not thrown), a
    // group whole or not at all (nothing of it may be saved then), a group made but not faithfully with its
    // report kept in problem(). `options` other than the default go to the backend as for a group. Throws
    // AutomationError.
    const std::vector<std::shared_ptr<Sheet>>& Copy(const std::vector<std::shared_ptr<Sheet>>& sheets,
                                                    Sheet& anchor,
                                                    const std::vector<std::string>& names = {},
                                                    const automation::CopyOptions& options = {});

    const std::vector<std::shared_ptr<Sheet>>& copies() const { return m_copies; }
    // What the backend reported of a copy it made, "" when every copy is faithful.
    const std::string& problem() const { return m_problem; }
    // What the user is told of a copy kept with a problem: where it was saved, and that a moved sheet stays.
    std::string KeptUnfaithfully() const;
    // What the changes to either workbook did that the user must be told though they succeeded (see
    // Workbook::TakeNotices).
    std::vector<std::string> TakeNotices();

    // Saves the target. Throws AutomationError.
    void SaveTarget();
    bool targetSaved() const { return m_targetSaved; }

    // True when the moved sheets may leave the source: every copy stands and arrived whole.
    bool SourceMayLoseSheets() const;
    // Deletes the moved sheets from the source in memory; refuses unless SourceMayLoseSheets. Throws
    // AutomationError, saying where the copies are when they are saved already.
    void DeleteFromSource();
    // Saves the source without the moved sheets: the target first, when it is not saved yet (a target that
    // cannot be saved leaves the source file as it was). Throws AutomationError saying what each file holds.
    void SaveSource();

  private:
    void RefuseEmptyingSource(const std::vector<std::shared_ptr<Sheet>>& sheets);
    std::string StillInSource(const std::string& failure) const;

    Kind m_kind;
    std::shared_ptr<Workbook> m_source;
    std::shared_ptr<Workbook> m_target;
    std::vector<std::shared_ptr<Sheet>> m_sheets;
    std::vector<std::shared_ptr<Sheet>> m_copies;
    std::string m_problem;
    bool m_targetSaved = false;
    bool m_deleted = false;
};

}  // namespace orv::transfers

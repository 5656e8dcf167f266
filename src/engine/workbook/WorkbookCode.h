// A workbook's macro project as its package holds it, and the code name that ties a sheet to its module.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/vba/Project.h"

namespace orv::engine {

class Package;
class WorkbookDocument;

// The code name a sheet part records ("" when none), read from the first bytes of the part only.
std::string SheetCodeName(Package& package, const std::string& part);

// A workbook's macro project: read when the workbook has one, changed in memory, written back by Commit.
class WorkbookCode {
  public:
    // Reads the project of `document`; throws EngineError for a damaged one.
    explicit WorkbookCode(WorkbookDocument& document);

    // True when the workbook's format can hold macros (.xlsm, .xltm).
    bool macroEnabled() const { return m_macroEnabled; }
    bool hasProject() const { return m_project.has_value(); }
    vba::Project& project() { return *m_project; }
    // The workbook's own code name ("" when it records none).
    std::string workbookCodeName();

    // Gives the workbook a project like `like` (see vba::Project::NewLike) when it has none.
    void CreateLike(const vba::Project& like);
    // True when `name` is taken as a code name: by a module or stream of the project, the workbook or one of
    // its sheets.
    bool CodeNameTaken(const std::string& name);
    // `wanted` when free, else as the application names a copy's code name: "Sheet1" becomes "Sheet11", then
    // "Sheet12"..., within 31 characters.
    std::string FreeCodeName(const std::string& wanted);
    // Reserves a code name chosen for a sheet that is not in the workbook yet.
    void Reserve(const std::string& name) { m_reserved.push_back(name); }

    // Writes the changed project into the package, without the signature it can no longer carry. Returns
    // what the user must be told (the signature removed), "" for nothing.
    std::string Commit();

  private:
    WorkbookDocument& m_document;
    Package& m_package;
    std::string m_workbookPart;
    std::string m_part;  // the project's part, "" when none
    bool m_macroEnabled = false;
    bool m_created = false;
    std::optional<vba::Project> m_project;
    std::optional<std::vector<std::string>> m_sheetCodeNames;
    std::vector<std::string> m_reserved;
};

// The project of `document` without the module of its sheet `part`, to Commit once the sheet is gone; nullopt
// when the sheet has no module. Throws EngineError for a damaged project, before anything changes.
std::optional<WorkbookCode> WithoutSheetModule(WorkbookDocument& document, const std::string& part);

}  // namespace orv::engine

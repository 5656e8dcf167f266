// Renaming and deleting sheets, with every reference to the sheet rewritten.
#include <algorithm>
#include <set>
#include <vector>

#include "engine/EngineError.h"
#include "engine/formula/Formula.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/PartGraph.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/workbook/AppProperties.h"
#include "engine/workbook/References.h"
#include "engine/workbook/SheetNames.h"
#include "engine/workbook/Workbook.h"
#include "engine/workbook/WorkbookCode.h"
#include "engine/workbook/WorkbookPart.h"

namespace orv::engine {

void WorkbookDocument::NoteNamesCopiesMayCite(const std::vector<std::string>& names) {
    if (!m_citable) return;
    for (const auto& name : names) m_citable->insert(platform::FoldCase(name));
}

bool WorkbookDocument::MayBeCited(const std::string& name) const {
    return !m_citable || m_citable->count(platform::FoldCase(name)) > 0;
}

void WorkbookDocument::Rename(int index, const std::string& newName) {
    CheckIndex(index);
    const std::string oldName = m_sheets[static_cast<std::size_t>(index)].name;
    if (newName == oldName) return;
    if (auto problem = SheetRenameProblem(newName, SheetNames(), index)) {
        throw EngineError("Sheet \"" + oldName + "\" cannot be renamed to \"" + newName + "\": " + *problem);
    }
    // A protected structure is checked when the workbook is saved: a name given for a moment (to copy the
    // sheet under it) and taken back changes nothing the protection guards.
    ReferenceEdit edit;
    edit.formula = [&](std::string_view f) { return formula::RenameSheet(f, oldName, newName); };
    edit.sheetAttribute = [&](std::string_view sheet) -> std::optional<std::string> {
        if (SheetNamesEqual(sheet, oldName)) return newName;
        return std::nullopt;
    };
    // Everything that can fail (reading damaged parts) happens before the first change.
    const bool cited = MayBeCited(oldName);
    auto rewritten = cited ? StageReferenceRewrite(*m_package, m_workbookPart, oldName, {}, edit)
                           : std::vector<RewrittenPart>{};
    if (cited && m_citable) m_citable->insert(platform::FoldCase(newName));
    CommitRewrites(*m_package, std::move(rewritten));
    RewriteReferences(*m_package, {m_workbookPart}, edit);

    auto& workbook = m_package->Xml(m_workbookPart);
    SheetElements(workbook)[static_cast<std::size_t>(index)].attribute("name") = newName.c_str();
    m_package->MarkChanged(m_workbookPart);
    AppRenameSheet(*m_package, oldName, newName);
    m_sheets[static_cast<std::size_t>(index)].name = newName;
}

void WorkbookDocument::SetState(int index, SheetState state) {
    CheckIndex(index);
    auto& sheet = m_sheets[static_cast<std::size_t>(index)];
    if (sheet.state == state) return;
    if (state != SheetState::Visible) {
        const bool otherVisible = std::any_of(m_sheets.begin(), m_sheets.end(), [&](const SheetInfo& s) {
            return &s != &sheet && s.state == SheetState::Visible && !s.part.empty();
        });
        if (!otherVisible) {
            throw EngineError("Sheet \"" + sheet.name +
                              "\" cannot be hidden: a workbook must keep at least one visible sheet.");
        }
    }
    auto& workbook = m_package->Xml(m_workbookPart);
    auto element = SheetElements(workbook)[static_cast<std::size_t>(index)];
    element.remove_attribute("state");
    if (state != SheetState::Visible)
        element.append_attribute("state") = state == SheetState::Hidden ? "hidden" : "veryHidden";
    m_package->MarkChanged(m_workbookPart);
    sheet.state = state;
}

void WorkbookDocument::Delete(int index) {
    CheckIndex(index);
    const SheetInfo gone = m_sheets[static_cast<std::size_t>(index)];
    const bool otherVisible = std::any_of(m_sheets.begin(), m_sheets.end(), [&](const SheetInfo& s) {
        return &s != &m_sheets[static_cast<std::size_t>(index)] && s.state == SheetState::Visible &&
               !s.part.empty();
    });
    if (!otherVisible) {
        throw EngineError("Sheet \"" + gone.name +
                          "\" cannot be deleted: a workbook must keep at least one visible "
                          "sheet. Insert or unhide another sheet first.");
    }
    CheckStructureUnlocked("delete");
    const std::vector<std::string> orderBefore = SheetNames();
    // Everything that can fail (reading damaged parts) happens before the first change.
    const auto reachableBefore = ReachableParts(*m_package);
    // Its tables go with it: structured references to them become #REF! as well.
    std::set<std::string> tables;
    if (!gone.part.empty()) {
        for (const auto& rel : Relationships(*m_package, gone.part).All()) {
            if (rel.external || !RelTypeIs(rel.type, "table") || !m_package->Has(rel.targetPart)) continue;
            const std::string table = Root(m_package->Xml(rel.targetPart)).attribute("displayName").value();
            if (!table.empty()) tables.insert(platform::FoldCase(table));
        }
    }
    ReferenceEdit edit;
    edit.formula = [&](std::string_view f) {
        return TableReferencesToErrors(formula::DeleteSheet(f, gone.name, orderBefore), tables);
    };
    auto rewritten = !tables.empty() || MayBeCited(gone.name)
                         ? StageReferenceRewrite(*m_package, m_workbookPart, gone.name, tables, edit, gone.part)
                         : std::vector<RewrittenPart>{};
    // Its module goes with it; the project is read (and refused when damaged) before anything changes.
    auto code = WithoutSheetModule(*this, gone.part);

    // Detach the sheet, then drop the parts nobody refers to any more (its drawings, comments, tables...).
    auto& workbook = m_package->Xml(m_workbookPart);
    auto element = SheetElements(workbook)[static_cast<std::size_t>(index)];
    element.parent().remove_child(element);
    Relationships rels(*m_package, m_workbookPart);
    if (!gone.relId.empty()) rels.Remove(gone.relId);
    // Its cells leave the calculation chain stale; the application rebuilds a missing one.
    if (auto chain = rels.FirstOfKind("calcChain")) {
        rels.Remove(chain->id);
        if (!chain->targetPart.empty()) RemovePartCompletely(*m_package, chain->targetPart);
    }
    RemoveOrphanedParts(*m_package, reachableBefore);

    RemapLocalSheetIds(workbook, [&](int id) { return id == index ? -1 : id > index ? id - 1 : id; });
    m_sheets.erase(m_sheets.begin() + index);
    std::vector<bool> visible;
    for (const auto& s : m_sheets) visible.push_back(s.state == SheetState::Visible && !s.part.empty());
    RemapBookViews(
        workbook, [&](int old) { return old > index ? old - 1 : old; }, visible);
    m_package->MarkChanged(m_workbookPart);

    // The parts that went with the sheet are skipped.
    CommitRewrites(*m_package, std::move(rewritten));
    RewriteReferences(*m_package, {m_workbookPart}, edit);
    AppDeleteSheet(*m_package, gone.name);
    if (code) {
        if (auto notice = code->Commit(); !notice.empty()) AddNotice(std::move(notice));
    }
}

}  // namespace orv::engine

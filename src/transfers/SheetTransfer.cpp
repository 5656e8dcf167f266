// The shared rules of a transfer, each written once with the words the user is shown.
#include "transfers/SheetTransfer.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Paths.h"

namespace orv::transfers {

using automation::AutomationError;

namespace {

std::string Quoted(const Workbook& workbook) {
    return "\"" + platform::FileNameOf(workbook.fullName()) + "\"";
}

// The position of `sheet` in `workbook`'s full collection, or 0.
int PositionOf(Workbook& workbook, const Sheet& sheet) {
    const std::string name = sheet.name();
    for (int i = 1; i <= workbook.sheetCount(); ++i) {
        if (workbook.sheetAt(i)->name() == name) return i;
    }
    return 0;
}

}  // namespace

Workbook& Need(const std::shared_ptr<Workbook>& workbook) {
    if (!workbook) throw AutomationError("The workbook was not opened, so this step cannot be done.");
    return *workbook;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(platform::PathFromUtf8(a), platform::PathFromUtf8(b), ec);
}

void RefuseSameFile(const std::string& source, const std::string& target) {
    if (SameFile(source, target))
        throw AutomationError(
            "The source and the target are the same file; copy or move between two workbooks.");
}

std::shared_ptr<Workbook> OpenTarget(automation::Application& application, const std::string& sourcePath,
                                     const std::string& targetPath) {
    RefuseSameFile(sourcePath, targetPath);
    return application.Workbooks().Open(targetPath);
}

std::vector<std::shared_ptr<Sheet>> InWorkbookOrder(Workbook& source,
                                                    std::vector<std::shared_ptr<Sheet>> sheets) {
    for (auto it = sheets.begin(); it != sheets.end(); ++it) {
        if (std::any_of(sheets.begin(), it, [&](const auto& earlier) { return earlier.get() == it->get(); }))
            throw AutomationError("Sheet \"" + (*it)->name() + "\" is named twice; name each sheet once.");
    }
    std::vector<std::pair<int, std::shared_ptr<Sheet>>> placed;
    for (auto& sheet : sheets) placed.emplace_back(PositionOf(source, *sheet), std::move(sheet));
    std::stable_sort(placed.begin(), placed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::shared_ptr<Sheet>> ordered;
    for (auto& [position, sheet] : placed) ordered.push_back(std::move(sheet));
    return ordered;
}

void DeleteSheets(Workbook& workbook, const std::vector<std::shared_ptr<Sheet>>& sheets,
                  const std::string& path) {
    automation::RefuseLeavingNoVisibleSheet(workbook, sheets, path, "deleted");
    for (const auto& sheet : sheets) sheet->Delete();
}

SheetTransfer::SheetTransfer(Kind kind, std::shared_ptr<Workbook> source, std::shared_ptr<Workbook> target)
    : m_kind(kind), m_source(std::move(source)), m_target(std::move(target)) {}

void SheetTransfer::RefuseEmptyingSource(const std::vector<std::shared_ptr<Sheet>>& sheets) {
    if (m_kind == Kind::Move) automation::RefuseLeavingNoVisibleSheet(source(), sheets, source().fullName());
    m_sheets = sheets;
}

void SheetTransfer::CopyOne(const std::shared_ptr<Sheet>& sheet, Sheet& anchor) {
    RefuseEmptyingSource({sheet});
    const int sheetsBefore = target().sheetCount();
    try {
        m_copies = {sheet->Copy(automation::After{anchor})};
    } catch (const automation::UnfaithfulCopy& e) {
        m_copies = e.copies();
        m_problem = e.what();
        throw AutomationError(m_problem);
    } catch (const std::exception& e) {
        // A backend may report a problem with a copy it did make (formulas it had to keep as values): the
        // copy stands in the target, so it is kept and shown, but a move must not take the source sheet away.
        // The anchor is looked for only now: a copy placed after it leaves its position as it was.
        std::shared_ptr<Sheet> standing;
        try {
            const int anchorPosition = PositionOf(target(), anchor);
            if (anchorPosition > 0 && target().sheetCount() == sheetsBefore + 1)
                standing = target().sheetAt(anchorPosition + 1);
        } catch (const std::exception&) {
        }
        if (!standing) throw;
        m_copies = {standing};
        m_problem = e.what();
        throw AutomationError(m_problem);
    }
}

const std::vector<std::shared_ptr<Sheet>>& SheetTransfer::Copy(
    const std::vector<std::shared_ptr<Sheet>>& sheets, Sheet& anchor, const std::vector<std::string>& names,
    const automation::CopyOptions& options) {
    if (sheets.size() == 1 && !options.any()) {
        try {
            CopyOne(sheets.front(), anchor);
        } catch (const std::exception&) {
            if (m_copies.empty()) throw;
        }
        const std::string name = names.empty() ? "" : names.front();
        if (!name.empty() && name != m_copies.front()->name()) m_copies.front()->setName(name);
    } else {
        RefuseEmptyingSource(sheets);
        try {
            m_copies = source().CopySheets(sheets, automation::After{anchor}, names, options);
        } catch (const automation::UnfaithfulCopy& e) {
            m_copies = e.copies();
            m_problem = e.what();
        }
    }
    return m_copies;
}

std::string SheetTransfer::KeptUnfaithfully() const {
    const bool one = m_copies.size() <= 1;
    std::string names;
    for (const auto& copy : m_copies) names += (names.empty() ? "\"" : ", \"") + copy->name() + "\"";
    return m_problem + (one ? " The copy " : " The copies ") + names + (one ? " was" : " were") +
           " saved in " + Quoted(target()) +
           (m_kind == Kind::Move ? (one ? "; the sheet stays in " : "; the sheets stay in ") + Quoted(source()) +
                                       ", which was not changed."
                                 : ".");
}

std::vector<std::string> SheetTransfer::TakeNotices() {
    std::vector<std::string> notices;
    for (const auto* book : {&m_target, &m_source}) {
        if (!*book) continue;
        for (auto& notice : (*book)->TakeNotices()) notices.push_back(std::move(notice));
    }
    return notices;
}

void SheetTransfer::SaveTarget() {
    target().Save();
    m_targetSaved = true;
}

bool SheetTransfer::SourceMayLoseSheets() const {
    return m_kind == Kind::Move && !m_copies.empty() && m_copies.size() == m_sheets.size() &&
           m_problem.empty();
}

std::string SheetTransfer::StillInSource(const std::string& failure) const {
    const bool one = m_copies.size() == 1;
    return failure + " The " + (one ? "copy was" : "copies were") + " saved in " + Quoted(target()) + "; " +
           Quoted(source()) + " still holds the " + (one ? "sheet." : "sheets.");
}

void SheetTransfer::DeleteFromSource() {
    if (!SourceMayLoseSheets()) {
        throw AutomationError("The " + std::string(m_sheets.size() == 1 ? "sheet stays" : "sheets stay") +
                              " in " + Quoted(source()) + ": not every copy arrived whole in " +
                              Quoted(target()) + ".");
    }
    try {
        for (const auto& sheet : m_sheets) sheet->Delete();
    } catch (const std::exception& e) {
        // Copies saved by now: the user must not take the sheets for lost, nor move them again into second
        // copies.
        if (m_targetSaved) throw AutomationError(StillInSource(e.what()));
        throw;
    }
    m_deleted = true;
}

void SheetTransfer::SaveSource() {
    if (!m_deleted)
        throw AutomationError("The sheets to move were not removed from " + Quoted(source()) + ".");
    if (!m_targetSaved) {
        try {
            SaveTarget();
        } catch (const std::exception& e) {
            throw AutomationError(std::string(e.what()) +
                                  "\r\nThe sheet was therefore not removed from the source workbook's file.");
        }
    }
    try {
        source().Save();
    } catch (const std::exception& e) {
        throw AutomationError(StillInSource(e.what()));
    }
}

}  // namespace orv::transfers

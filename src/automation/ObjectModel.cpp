// The parts of the object model that every backend shares: the Sheets and Worksheets collections.
#include "automation/ObjectModel.h"

#include <algorithm>
#include <filesystem>

#include "engine/workbook/SheetNames.h"
#include "platform/Paths.h"

namespace orv::automation {

namespace {
thread_local SaveObserver* t_saveObserver = nullptr;
}

ScopedSaveObserver::ScopedSaveObserver(SaveObserver* observer) : m_previous(t_saveObserver) {
    t_saveObserver = observer;
}

ScopedSaveObserver::~ScopedSaveObserver() { t_saveObserver = m_previous; }

SaveObserver* CurrentSaveObserver() { return t_saveObserver; }

const char* ToString(SheetKind kind) {
    switch (kind) {
        case SheetKind::Worksheet:
            return "worksheet";
        case SheetKind::Chartsheet:
            return "chartsheet";
        case SheetKind::Dialogsheet:
            return "dialogsheet";
        case SheetKind::Macrosheet:
            return "macrosheet";
    }
    return "worksheet";
}

const char* ToString(SheetVisibility visibility) {
    switch (visibility) {
        case SheetVisibility::Visible:
            return "visible";
        case SheetVisibility::Hidden:
            return "hidden";
        case SheetVisibility::VeryHidden:
            return "veryHidden";
    }
    return "visible";
}

bool KeepsWorkbookVisible(const Sheet& sheet) {
    return sheet.visibility() == SheetVisibility::Visible && !sheet.isPlaceholder();
}

void RefuseLeavingNoVisibleSheet(Workbook& source, const std::vector<std::shared_ptr<Sheet>>& leaving,
                                 const std::string& path, const char* operation) {
    for (int i = 1; i <= source.sheetCount(); ++i) {
        auto sheet = source.sheetAt(i);
        const bool goes = std::any_of(leaving.begin(), leaving.end(),
                                      [&](const auto& s) { return s->name() == sheet->name(); });
        if (!goes && KeepsWorkbookVisible(*sheet)) return;
    }
    const std::string what =
        leaving.size() == 1 ? "Sheet \"" + leaving.front()->name() + "\" cannot be " + operation
                            : "These " + std::to_string(leaving.size()) + " sheets cannot be " + operation + " together";
    throw AutomationError(what + ": \"" + platform::FileNameOf(path) +
                          "\" must keep at least one visible sheet. Insert or unhide another sheet first; "
                          "nothing was changed.");
}

int SheetCollection::count() const {
    return m_worksheetsOnly ? m_workbook.worksheetCount() : m_workbook.sheetCount();
}

std::shared_ptr<Sheet> SheetCollection::operator()(int position) const {
    return m_worksheetsOnly ? m_workbook.worksheetAt(position) : m_workbook.sheetAt(position);
}

std::shared_ptr<Sheet> SheetCollection::operator()(const std::string& name) const {
    return m_workbook.sheetNamed(name, m_worksheetsOnly);
}

int Workbook::worksheetCount() {
    const int all = sheetCount();
    int worksheets = 0;
    for (int i = 1; i <= all; ++i) {
        if (sheetAt(i)->kind() == SheetKind::Worksheet) ++worksheets;
    }
    return worksheets;
}

std::shared_ptr<Sheet> Workbook::worksheetAt(int worksheetPosition) {
    return sheetAt(SheetsIndexOfWorksheet(worksheetPosition));
}

std::shared_ptr<Sheet> Workbook::sheetNamed(const std::string& name, bool worksheetsOnly) {
    const int all = sheetCount();
    for (int i = 1; i <= all; ++i) {
        auto sheet = sheetAt(i);
        if (worksheetsOnly && sheet->kind() != SheetKind::Worksheet) continue;
        if (engine::SheetNamesEqual(sheet->name(), name)) return sheet;
    }
    throw AutomationError("The workbook has no sheet named \"" + name + "\".");
}

void Sheet::setVisibility(SheetVisibility) {
    throw AutomationError("Sheet \"" + name() + "\" cannot be shown or hidden by this program in a workbook of its kind.");
}

std::vector<std::shared_ptr<Sheet>> Workbook::CopySheets(const std::vector<std::shared_ptr<Sheet>>& sheets,
                                                         After after, const std::vector<std::string>& names,
                                                         const CopyOptions& options) {
    if (options.any()) {
        throw AutomationError(
            std::string("Copies ") +
            (options.valuesOnly ? "with values only" : "whose references lead to the target's own sheets") +
            " are made by the built-in workbook engine, for .xlsx, .xlsm, .xltx and .xltm workbooks; \"" +
            platform::FileNameOf(fullName()) + "\" is not one. Copy the sheets as they are, or save both "
            "workbooks as .xlsx first.");
    }
    std::vector<std::shared_ptr<Sheet>> copies;
    Sheet* anchor = &after.sheet;
    for (const auto& sheet : sheets) {
        copies.push_back(sheet->Copy(After{*anchor}));
        anchor = copies.back().get();
    }
    for (std::size_t i = 0; i < copies.size() && i < names.size(); ++i) {
        if (!names[i].empty() && copies[i]->name() != names[i]) copies[i]->setName(names[i]);
    }
    return copies;
}

int Workbook::SheetsIndexOfWorksheet(int worksheetPosition) {
    const int all = sheetCount();
    int seen = 0;
    for (int i = 1; i <= all; ++i) {
        if (sheetAt(i)->kind() == SheetKind::Worksheet && ++seen == worksheetPosition) return i;
    }
    throw AutomationError("The workbook has no worksheet number " + std::to_string(worksheetPosition) +
                          " (it has " + std::to_string(seen) + ").");
}

}  // namespace orv::automation

// Sheet and workbook handles over the engine.
#include "automation/ooxml/OoxmlWorkbook.h"

#include <filesystem>

#include "engine/EngineError.h"
#include "engine/transfer/SheetCopy.h"
#include "platform/Paths.h"

namespace orv::ooxml {

using automation::AutomationError;

namespace {

// Runs an engine call and passes its failure on with the same description.
template <typename F>
auto Engine(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const engine::EngineError& e) {
        throw AutomationError(e.what());
    }
}

}  // namespace

std::shared_ptr<OoxmlWorkbook> OoxmlWorkbook::Open(const std::string& path) {
    return Over(Engine([&] { return engine::WorkbookDocument::Open(path); }));
}

std::shared_ptr<OoxmlWorkbook> OoxmlWorkbook::Create(const std::string& path) {
    return Over(Engine([&] { return engine::WorkbookDocument::Create(path); }));
}

std::shared_ptr<OoxmlWorkbook> OoxmlWorkbook::Over(std::unique_ptr<engine::WorkbookDocument> document) {
    std::shared_ptr<OoxmlWorkbook> workbook(new OoxmlWorkbook(std::move(document)));
    for (std::size_t i = 0; i < workbook->m_document->sheets().size(); ++i) {
        workbook->m_sheets.push_back(std::make_shared<OoxmlSheet>(workbook));
    }
    return workbook;
}

OoxmlWorkbook::OoxmlWorkbook(std::unique_ptr<engine::WorkbookDocument> document)
    : m_document(std::move(document)), m_path(m_document->path()) {}

std::string OoxmlWorkbook::fullName() const {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(platform::PathFromUtf8(m_path), ec);
    return ec ? m_path : platform::Utf8FromPath(absolute);
}

engine::WorkbookDocument& OoxmlWorkbook::document() const {
    if (!m_document) {
        throw AutomationError("The workbook \"" + platform::FileNameOf(m_path) + "\" has been closed.");
    }
    return *m_document;
}

void OoxmlWorkbook::Save() {
    auto& doc = document();
    Engine([&] { doc.Save(); });
}

void OoxmlWorkbook::Close() {
    for (auto& sheet : m_sheets) sheet->markDeleted();
    m_sheets.clear();
    m_document.reset();
}

std::vector<std::string> OoxmlWorkbook::TakeNotices() {
    return m_document ? m_document->TakeNotices() : std::vector<std::string>{};
}

int OoxmlWorkbook::sheetCount() const { return static_cast<int>(document().sheets().size()); }

std::shared_ptr<automation::Sheet> OoxmlWorkbook::sheetAt(int position) {
    const int count = sheetCount();
    if (position < 1 || position > count) {
        throw AutomationError("The workbook \"" + document().displayName() + "\" has no sheet number " +
                              std::to_string(position) + " (it has " + std::to_string(count) + ").");
    }
    return m_sheets[static_cast<std::size_t>(position - 1)];
}

int OoxmlWorkbook::indexOf(const OoxmlSheet* sheet) const {
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        if (m_sheets[i].get() == sheet) return static_cast<int>(i);
    }
    return -1;
}

void OoxmlWorkbook::moveHandle(int from, int to) {
    auto handle = m_sheets[static_cast<std::size_t>(from)];
    m_sheets.erase(m_sheets.begin() + from);
    m_sheets.insert(m_sheets.begin() + to, std::move(handle));
}

void OoxmlWorkbook::removeHandle(int index) {
    m_sheets[static_cast<std::size_t>(index)]->markDeleted();
    m_sheets.erase(m_sheets.begin() + index);
}

OoxmlWorkbook& OoxmlSheet::workbook() const {
    auto workbook = m_workbook.lock();
    if (m_deleted || !workbook || workbook->closed()) {
        throw AutomationError("The sheet no longer exists: it was deleted or its workbook was closed.");
    }
    return *workbook;
}

int OoxmlSheet::index() const { return workbook().indexOf(this); }

const engine::SheetInfo& OoxmlSheet::info() const {
    return workbook().document().sheets()[static_cast<std::size_t>(index())];
}

std::string OoxmlSheet::name() const { return info().name; }

void OoxmlSheet::setName(const std::string& name) {
    auto& doc = workbook().document();
    const int i = index();
    Engine([&] { doc.Rename(i, name); });
}

automation::SheetKind OoxmlSheet::kind() const {
    switch (info().kind) {
        case engine::SheetKind::Worksheet:
            return automation::SheetKind::Worksheet;
        case engine::SheetKind::Chartsheet:
            return automation::SheetKind::Chartsheet;
        case engine::SheetKind::Dialogsheet:
            return automation::SheetKind::Dialogsheet;
        case engine::SheetKind::Macrosheet:
            return automation::SheetKind::Macrosheet;
    }
    return automation::SheetKind::Worksheet;
}

automation::SheetVisibility OoxmlSheet::visibility() const {
    switch (info().state) {
        case engine::SheetState::Visible:
            return automation::SheetVisibility::Visible;
        case engine::SheetState::Hidden:
            return automation::SheetVisibility::Hidden;
        case engine::SheetState::VeryHidden:
            return automation::SheetVisibility::VeryHidden;
    }
    return automation::SheetVisibility::Visible;
}

void OoxmlSheet::setVisibility(automation::SheetVisibility visibility) {
    auto& doc = workbook().document();
    const int i = index();
    const auto state = visibility == automation::SheetVisibility::Visible  ? engine::SheetState::Visible
                       : visibility == automation::SheetVisibility::Hidden ? engine::SheetState::Hidden
                                                                           : engine::SheetState::VeryHidden;
    Engine([&] { doc.SetState(i, state); });
}

// The engine's placeholders are the entries without a part.
bool OoxmlSheet::isPlaceholder() const { return info().part.empty(); }

std::shared_ptr<OoxmlSheet> OoxmlWorkbook::insertHandle(int index) {
    auto handle = std::make_shared<OoxmlSheet>(weak_from_this());
    m_sheets.insert(m_sheets.begin() + index, handle);
    return handle;
}

std::shared_ptr<automation::Sheet> OoxmlSheet::Copy(automation::After after) {
    auto& from = workbook();
    auto* anchor = dynamic_cast<OoxmlSheet*>(&after.sheet);
    if (!anchor) {
        throw AutomationError(
            "Sheet \"" + name() +
            "\" cannot be copied there: the target workbook is not open in the built-in workbook engine.");
    }
    auto& to = anchor->workbook();
    const int source = index();
    const int target = anchor->index();
    const auto copied =
        Engine([&] { return engine::CopySheet(from.document(), source, to.document(), target); });
    auto copy = to.insertHandle(copied.index);
    if (!copied.codeLeftBehind.empty()) throw automation::UnfaithfulCopy(copied.codeLeftBehind, {copy});
    return copy;
}

std::vector<std::shared_ptr<automation::Sheet>> OoxmlWorkbook::CopySheets(
    const std::vector<std::shared_ptr<automation::Sheet>>& sheets, automation::After after,
    const std::vector<std::string>& names, const automation::CopyOptions& options) {
    auto* anchor = dynamic_cast<OoxmlSheet*>(&after.sheet);
    if (!anchor) {
        throw AutomationError(
            "The sheets cannot be copied there: the target workbook is not open in the built-in workbook engine.");
    }
    std::vector<int> indices;
    for (const auto& sheet : sheets) {
        auto* own = dynamic_cast<OoxmlSheet*>(sheet.get());
        const int index = own ? indexOf(own) : -1;
        if (index < 0) throw AutomationError("The sheets to copy together must all belong to one workbook.");
        indices.push_back(index);
    }
    auto& to = anchor->workbook();
    const int target = anchor->index();
    // Named as they arrive, so that the references among them are written once, with those names.
    std::vector<std::string> given = names;
    given.resize(indices.size());
    engine::SheetCopyOptions engineOptions;
    engineOptions.valuesOnly = options.valuesOnly;
    engineOptions.referToTarget = options.referToTarget;
    const auto copied = Engine(
        [&] { return engine::CopySheets(document(), indices, to.document(), target, given, engineOptions); });
    std::vector<std::shared_ptr<automation::Sheet>> copies;
    std::string leftBehind;
    for (const auto& copy : copied) {
        copies.push_back(to.insertHandle(copy.index));
        if (!copy.codeLeftBehind.empty()) leftBehind += (leftBehind.empty() ? "" : " ") + copy.codeLeftBehind;
        if (!copy.cellsWithoutValue.empty()) {
            std::string cells;
            for (const auto& cell : copy.cellsWithoutValue) cells += (cells.empty() ? "" : ", ") + cell;
            leftBehind += (leftBehind.empty() ? "" : " ") + std::string("The copy \"") + copy.name +
                          "\" has empty cells where a formula had no value kept in \"" +
                          platform::FileNameOf(fullName()) + "\": " + cells +
                          ". Open and save that workbook in a spreadsheet application, which works out every "
                          "value, then copy again.";
        }
    }
    if (!leftBehind.empty()) throw automation::UnfaithfulCopy(leftBehind, copies);
    return copies;
}

namespace {

// The position in the same workbook of the sheet a named argument gives; throws when it is elsewhere.
int SiblingIndex(OoxmlSheet& self, automation::Sheet& other, const char* argument) {
    auto* sibling = dynamic_cast<OoxmlSheet*>(&other);
    const int index = sibling ? self.workbook().indexOf(sibling) : -1;
    if (index < 0) {
        throw AutomationError(std::string("Sheet \"") + self.name() + "\" can only be moved " + argument +
                              " a sheet of its own workbook.");
    }
    return index;
}

}  // namespace

void OoxmlSheet::Move(automation::Before before) {
    const int from = index();
    const int anchor = SiblingIndex(*this, before.sheet, "before");
    const int to = from < anchor ? anchor - 1 : anchor;
    auto& book = workbook();
    Engine([&] { book.document().Move(from, to); });
    book.moveHandle(from, to);
}

void OoxmlSheet::Move(automation::After after) {
    const int from = index();
    const int anchor = SiblingIndex(*this, after.sheet, "after");
    const int to = from <= anchor ? anchor : anchor + 1;
    auto& book = workbook();
    if (from == anchor) return;
    Engine([&] { book.document().Move(from, to); });
    book.moveHandle(from, to);
}

void OoxmlSheet::Delete() {
    auto& book = workbook();
    const int i = index();
    Engine([&] { book.document().Delete(i); });
    book.removeHandle(i);
}

}  // namespace orv::ooxml

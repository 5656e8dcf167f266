// The shared pieces of the sheet operations.
#include "operations/Common.h"

#include "errors/Dialogs.h"
#include "errors/Messages.h"

namespace orv::operations {

std::vector<int> SheetList::selectedPositions() const {
    try {
        return {selectedPosition()};
    } catch (const std::exception&) {
        return {};
    }
}

void ShowMessage(const Environment& env, const std::string& text) {
    env.dialogs.messageBox(text, errors::ApplicationTitle(), errors::Buttons::Ok, errors::Icon::None);
}

void ShowNotices(const Environment& env, const std::vector<std::string>& notices) {
    for (const auto& notice : notices) {
        try {
            ShowMessage(env, notice);
        } catch (const std::exception&) {
        }
    }
}

std::string TransferBadPathMessage(const Panel& panel) {
    return panel.number() == 1 ? errors::msg::kFile1NotValid : errors::msg::kSelectFile2;
}

std::string BadPathMessage(const Panel& panel) {
    return panel.number() == 1 ? errors::msg::kFile1NotValid : errors::msg::kFile2NotValid;
}

bool SheetListContains(const SheetList& list, const std::string& name) {
    const int count = list.count();
    bool found = false;
    for (int i = 1; i <= count; ++i) {
        if (list.text(i) == name) found = true;
    }
    return found;
}

std::shared_ptr<automation::Sheet> SheetOfEntry(automation::Workbook& workbook, int position) {
    return workbook.Sheets()(workbook.SheetsIndexOfWorksheet(position));
}

Instance OpenInstance(errors::GuardedProcedure& p, const Environment& env, const std::string& path,
                      int first) {
    Instance instance;
    p.Step(first, [&] { instance.application = automation::OpenWorkbookInstance(env.backends, path); });
    p.Step(first + 2, [&] {
        auto& workbooks = Need(instance.application).Workbooks();
        instance.workbook = workbooks(workbooks.count());
    });
    return instance;
}

automation::Application& Need(const std::shared_ptr<automation::Application>& application) {
    if (!application) {
        throw automation::AutomationError(
            "The spreadsheet application was not started, so this step cannot be done.");
    }
    return *application;
}

}  // namespace orv::operations

// The operations as object-model calls, backend-neutral.
#include "Operations.h"

#include "transfers/Commands.h"

namespace orv::bench {

namespace {

// One instance with `file` open; quits it whatever happens, as the procedures do.
template <typename F>
void WithWorkbook(const Registry& registry, const std::string& file, F&& f) {
    auto application = automation::OpenWorkbookInstance(registry, file);
    try {
        auto& workbooks = application->Workbooks();
        f(*workbooks(workbooks.count()));
    } catch (...) {
        application->Quit();
        throw;
    }
    application->Quit();
}

}  // namespace

int ListSheets(const Registry& registry, const std::string& file) {
    int listed = 0;
    WithWorkbook(registry, file, [&](automation::Workbook& workbook) {
        const int count = workbook.Sheets().count();
        for (int i = 1; i <= count; ++i) {
            auto sheet = workbook.Sheets()(i);
            // What the sheet list shows for each entry.
            if (!sheet->name().empty() && automation::ToString(sheet->kind()) &&
                automation::ToString(sheet->visibility())) {
                ++listed;
            }
        }
    });
    return listed;
}

void RenameSheet(const Registry& registry, const std::string& file, const std::string& sheet,
                 const std::string& newName) {
    WithWorkbook(registry, file, [&](automation::Workbook& workbook) {
        workbook.Sheets()(sheet)->setName(newName);
        workbook.Save();
    });
}

void MoveSheetUp(const Registry& registry, const std::string& file, const std::string& sheet) {
    WithWorkbook(registry, file, [&](automation::Workbook& workbook) {
        auto moving = workbook.Sheets()(sheet);
        int position = 0;
        for (int i = 1; i <= workbook.Sheets().count(); ++i) {
            if (workbook.Sheets()(i)->name() == moving->name()) position = i;
        }
        if (position < 2) throw automation::AutomationError("Sheet \"" + sheet + "\" is already the first.");
        moving->Move(automation::Before{*workbook.Sheets()(position - 1)});
        workbook.Save();
    });
}

void DeleteSheet(const Registry& registry, const std::string& file, const std::string& sheet) {
    WithWorkbook(registry, file, [&](automation::Workbook& workbook) {
        workbook.Sheets()(sheet)->Delete();
        workbook.Save();
    });
}

void TransferSheet(const Registry& registry, const std::string& source, const std::string& sheet,
                   const std::string& target, bool move) {
    auto application = automation::OpenWorkbookInstance(registry, source);
    try {
        auto& workbooks = application->Workbooks();
        auto from = workbooks(workbooks.count());
        auto to = workbooks.Open(target);
        auto moving = from->Sheets()(sheet);
        moving->Copy(automation::After{*to->Sheets()(to->Sheets().count())});
        // As the move procedure: the target holds the copy on disk before the source loses the sheet.
        to->Save();
        if (move) {
            moving->Delete();
            from->Save();
        }
    } catch (...) {
        application->Quit();
        throw;
    }
    application->Quit();
}

void CopyIntoNew(const Registry& registry, const std::string& source, const std::string& sheet,
                 const std::string& target) {
    transfers::TransferRequest request;
    request.source = source;
    request.sheets = {sheet};
    request.target = target;
    transfers::Transfer(registry, request);
}

void SplitWorkbook(const Registry& registry, const std::string& source, const std::string& folder) {
    transfers::Split(registry, source, folder);
}

}  // namespace orv::bench

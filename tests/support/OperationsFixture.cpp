// Loads workbooks into the window under test and reads files back.
#include "OperationsFixture.h"

#include <QTest>
#include <iterator>

#include "automation/DefaultBackends.h"

namespace orv::testing {

void OperationsFixture::LoadReal(const std::string& workbook1, const std::string& workbook2) {
    Start();
    path1 = Workbook(workbook1, "one" + std::filesystem::path(workbook1).extension().string());
    form->panel1()->setPath(path1);
    if (!workbook2.empty()) {
        path2 = Workbook(workbook2, "two" + std::filesystem::path(workbook2).extension().string());
        form->panel2()->setPath(path2);
    }
    ASSERT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;
}

void OperationsFixture::LoadLongListShown(int count) {
    std::vector<MemorySheet> many;
    for (int i = 1; i <= count; ++i) many.push_back({"Sheet" + std::to_string(i)});
    LoadMemory(many);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
}

void OperationsFixture::LoadMemory(std::vector<MemorySheet> sheets1, std::vector<MemorySheet> sheets2) {
    store = std::make_shared<MemoryStore>();
    path1 = (workFolder() / "one.xlsx").string();
    path2 = (workFolder() / "two.xlsx").string();
    std::ofstream(path1) << "memory";
    std::ofstream(path2) << "memory";
    store->files[path1] = std::move(sheets1);
    store->files[path2] = std::move(sheets2);
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(MakeMemoryBackend(store));
    Start(registry);
    form->panel1()->setPath(path1);
    form->panel2()->setPath(path2);
    store->ResetCalls();
}

std::vector<std::string> OperationsFixture::SheetsOnDisk(const std::string& path) {
    auto application = automation::OpenWorkbookInstance(automation::DefaultBackends(), path);
    auto book = application->Workbooks()(1);
    std::vector<std::string> names;
    for (int i = 1; i <= book->Sheets().count(); ++i) names.push_back(book->Sheets()(i)->name());
    application->Quit();
    return names;
}

std::string OperationsFixture::Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int OperationsFixture::Selected(int panel) const {
    auto& list = (panel == 1 ? form->panel1() : form->panel2())->list();
    try {
        return list.selectedPosition();
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace orv::testing

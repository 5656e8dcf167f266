// The lists' context menus: the Move or Copy dialog on its own (the name check, a new book, the keyboard),
// and the transfers it and "Duplicate" make, checked in the files through the automation boundary.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <functional>

#include "WindowFixture.h"
#include "app/MoveOrCopyDialog.h"
#include "automation/DefaultBackends.h"
#include "undo/UndoStore.h"

namespace orv::testing {
namespace {

using app::MoveOrCopyDialog;

class MoveOrCopyTest : public WindowFixture {
  protected:
    void TearDown() override { m_watch.reset(); }

    // Every sheet of the workbook at `path`, in order, as the automation boundary reads them.
    static QStringList AllSheets(const std::string& path) {
        auto application = automation::OpenWorkbookInstance(automation::DefaultBackends(), path);
        auto workbook = application->Workbooks()(application->Workbooks().count());
        QStringList names;
        for (int i = 1; i <= workbook->sheetCount(); ++i)
            names << QString::fromStdString(workbook->sheetAt(i)->name());
        application->Quit();
        return names;
    }

    // The two samples side by side, `sheets` selected in the first list.
    void LoadSamples(const std::vector<int>& sheets) {
        Start();
        book1 = Workbook("samples/sample1.xlsx");
        book2 = Workbook("samples/sample2.xlsx");
        form->panel1()->setPath(book1);
        form->panel2()->setPath(book2);
        form->panel1()->sheetList()->selectPositions(sheets);
    }

    // Runs `answer` on the Move or Copy dialog once the window shows it; the dialog is cancelled if `answer`
    // leaves it open.
    void WhenTheDialogOpens(std::function<void(MoveOrCopyDialog&)> answer) {
        m_watch = std::make_unique<QTimer>();
        QObject::connect(m_watch.get(), &QTimer::timeout, [this, answer] {
            auto* dialog = qobject_cast<MoveOrCopyDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            m_watch->stop();
            ++dialogsOpened;
            answer(*dialog);
            if (dialog->isVisible()) dialog->reject();
        });
        m_watch->start(10);
    }

    static void ChooseBefore(MoveOrCopyDialog& dialog, const QString& sheet) {
        const auto found = dialog.beforeList()->findItems(sheet, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << sheet.toStdString();
        dialog.beforeList()->setCurrentItem(found.front());
    }

    static void ChooseNewBook(MoveOrCopyDialog& dialog) {
        const int index = dialog.bookBox()->findText("(new book)");
        dialog.bookBox()->setCurrentIndex(index);
        emit dialog.bookBox()->activated(index);
    }

    // A dialog over sample2's sheets, as the window would offer them, with `sheetCount` sheets selected.
    std::unique_ptr<MoveOrCopyDialog> Dialog(int sheetCount = 1) {
        const std::string source = Workbook("samples/sample1.xlsx");
        app::TargetBook book{Workbook("samples/sample2.xlsx"),
                             {{"Mar", "Apr", "Totals", "Archive"}, {1, 2, 3, 4}}};
        return std::make_unique<MoveOrCopyDialog>(dialogs, std::vector<app::TargetBook>{book}, sheetCount,
                                                  source);
    }

    std::string book1, book2;
    int dialogsOpened = 0;

  private:
    std::unique_ptr<QTimer> m_watch;
};

TEST_F(MoveOrCopyTest, TheNewNameIsCheckedAgainstTheTargetAsItIsTyped) {
    auto dialog = Dialog();
    QStringList offered;
    for (int i = 0; i < dialog->beforeList()->count(); ++i) offered << dialog->beforeList()->item(i)->text();
    EXPECT_EQ(offered, (QStringList{"Mar", "Apr", "Totals", "Archive", "(move to end)"}));
    EXPECT_EQ(dialog->beforeList()->currentItem()->text(), "(move to end)");
    EXPECT_FALSE(dialog->valuesOnlyBox()->isEnabled()) << "a move has no copy options";
    struct Case {
        const char* typed;
        const char* problem;  // a part of the words shown under the name; nullptr when the name is accepted
    };
    const Case cases[] = {
        {"Budget", nullptr},
        {"totals", "The name \"totals\" is already taken by sheet \"Totals\"."},
        {"Q1/Q2", "cannot contain any of these characters"},
        {"'Quoted'", "cannot begin or end with an apostrophe"},
        {"An extraordinarily long sheet name", "cannot be longer than 31 characters"},
        {"", nullptr},  // the application names the copy
    };
    for (const auto& c : cases) {
        dialog->nameEdit()->clear();
        QTest::keyClicks(dialog->nameEdit(), QString::fromUtf8(c.typed));
        EXPECT_EQ(dialog->okButton()->isEnabled(), c.problem == nullptr) << c.typed;
        EXPECT_EQ(dialog->nameProblemLabel()->isVisibleTo(dialog.get()), c.problem != nullptr) << c.typed;
        if (c.problem) {
            EXPECT_TRUE(dialog->nameProblemLabel()->text().contains(QString::fromUtf8(c.problem))) << c.typed;
        }
    }

    // A new book holds none of the target's names.
    dialog->nameEdit()->setText("Totals");
    EXPECT_FALSE(dialog->okButton()->isEnabled());
    dialogs.saveAnswers = {(workFolder() / "Fresh.xlsx").string()};
    ChooseNewBook(*dialog);
    EXPECT_TRUE(dialog->okButton()->isEnabled());
    EXPECT_EQ(dialog->choice().newName, "Totals");

    // Several sheets cannot share one name.
    auto group = Dialog(2);
    EXPECT_FALSE(group->nameEdit()->isEnabled());
}

TEST_F(MoveOrCopyTest, ANewBookTakesAFileThatDoesNotExistYet) {
    auto dialog = Dialog();
    // Cancelled: the other workbook stays chosen.
    ChooseNewBook(*dialog);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Kind::SaveFile);
    EXPECT_EQ(dialogs.shown[0].save.fileName, (workFolder() / "Book1.xlsx").string());
    for (const char* extension : {"*.xlsx", "*.xlsm", "*.xltx", "*.xltm", "*.xls", "*.ods"})
        EXPECT_NE(dialogs.shown[0].save.filter.find(extension), std::string::npos) << extension;
    EXPECT_EQ(dialog->bookBox()->currentText(), "sample2.xlsx");

    // A file that exists is refused in words, and so is a format that cannot be written.
    dialogs.saveAnswers = {Workbook("samples/sample2.xlsx", "Taken.xlsx"),
                           (workFolder() / "notes.txt").string()};
    ChooseNewBook(*dialog);
    ChooseNewBook(*dialog);
    ASSERT_EQ(dialogs.messages().size(), 2u);
    EXPECT_NE(dialogs.messages()[0].find("\"Taken.xlsx\" exists already"), std::string::npos);
    EXPECT_NE(dialogs.messages()[1].find("\"notes.txt\" cannot be created"), std::string::npos);
    EXPECT_EQ(dialog->bookBox()->currentText(), "sample2.xlsx");

    const std::string fresh = (workFolder() / "Fresh.ods").string();
    dialogs.saveAnswers = {fresh};
    ChooseNewBook(*dialog);
    ASSERT_EQ(dialog->beforeList()->count(), 1);
    EXPECT_EQ(dialog->beforeList()->item(0)->text(), "(move to end)");
    EXPECT_TRUE(dialog->newBookLabel()->text().contains("Fresh.ods"));
    const auto choice = dialog->choice();
    EXPECT_TRUE(choice.newBook);
    EXPECT_EQ(choice.target, fresh);
    EXPECT_EQ(choice.position.kind, transfers::Position::Kind::AtEnd);

    // Without another workbook "(new book)" is all there is, and OK asks for its file until one is given.
    MoveOrCopyDialog alone(dialogs, {}, 1, Workbook("samples/sample1.xlsx"));
    EXPECT_EQ(alone.bookBox()->count(), 1);
    alone.okButton()->click();
    EXPECT_EQ(alone.result(), QDialog::Rejected);
    dialogs.saveAnswers = {fresh};
    alone.okButton()->click();
    EXPECT_EQ(alone.result(), QDialog::Accepted);
    EXPECT_EQ(alone.choice().target, fresh);
}

TEST_F(MoveOrCopyTest, IsUsableByKeyboardAloneAndNamesEveryControl) {
    auto dialog = Dialog();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->activateWindow();
    auto focused = [] { return QApplication::focusWidget(); };
    // Tab goes down the dialog; space on "Create a copy" makes its greyed options reachable in their place.
    QStringList visited{focused()->objectName()};
    for (int i = 0; i < 9; ++i) {
        EXPECT_FALSE(focused()->accessibleName().isEmpty()) << focused()->objectName().toStdString();
        if (focused() == dialog->copyBox()) QTest::keyClick(focused(), Qt::Key_Space);
        QTest::keyClick(focused(), Qt::Key_Tab);
        visited << focused()->objectName();
    }
    EXPECT_EQ(visited, (QStringList{"ToBook", "BeforeSheet", "CreateCopy", "ValuesOnly", "ReferToTarget",
                                    "NewName", "OK", "Cancel", "ToBook", "BeforeSheet"}));
    EXPECT_TRUE(dialog->copyBox()->isChecked());

    // Every control has an accelerator of its own: on a label for the control beside it, or on its text.
    QSet<QString> accelerators;
    int controls = 0;
    for (auto* label : dialog->findChildren<QLabel*>()) {
        if (!label->buddy()) continue;
        ++controls;
        accelerators << QKeySequence::mnemonic(label->text()).toString();
    }
    for (auto* button : dialog->findChildren<QAbstractButton*>()) {
        ++controls;
        accelerators << QKeySequence::mnemonic(button->text()).toString();
    }
    accelerators.remove(QString());
    EXPECT_EQ(controls, 8);
    EXPECT_EQ(accelerators.size(), controls);

    struct Accelerator {
        Qt::Key key;
        const char* control;
    };
    for (const Accelerator& a : {Accelerator{Qt::Key_N, "NewName"}, Accelerator{Qt::Key_T, "ToBook"},
                                 Accelerator{Qt::Key_B, "BeforeSheet"}}) {
        QTest::keyClick(focused(), a.key, Qt::AltModifier);
        EXPECT_EQ(focused()->objectName(), a.control);
    }
    // Arrows choose the sheet, space ticks the box with the focus, a box's accelerator ticks it (the click
    // comes once the button has shown itself pressed), and Enter confirms from the name box.
    QTest::keyClick(focused(), Qt::Key_Up);
    QTest::keyClick(focused(), Qt::Key_Tab);
    QTest::keyClick(focused(), Qt::Key_Tab);
    QTest::keyClick(focused(), Qt::Key_Space);
    QTest::keyClick(focused(), Qt::Key_R, Qt::AltModifier);
    for (QDeadlineTimer shown(2000); !shown.hasExpired() && !dialog->referToTargetBox()->isChecked();)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::keyClick(focused(), Qt::Key_N, Qt::AltModifier);
    QTest::keyClicks(focused(), "Jan copy");
    QTest::keyClick(focused(), Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    const auto choice = dialog->choice();
    EXPECT_EQ(choice.kind, transfers::SheetTransfer::Kind::Copy);
    EXPECT_EQ(choice.position.sheet, "#4");
    EXPECT_EQ(choice.newName, "Jan copy");
    EXPECT_TRUE(choice.options.valuesOnly);
    EXPECT_TRUE(choice.options.referToTarget);
    for (QWidget* label : std::initializer_list<QWidget*>{dialog->newBookLabel(), dialog->nameProblemLabel()})
        EXPECT_FALSE(label->accessibleName().isEmpty()) << label->objectName().toStdString();
}

// Renders the guide's picture of the dialog when ORVANDEL_GUIDE_PICTURES names the folder to write it to.
TEST_F(MoveOrCopyTest, DrawsTheDialogForTheGuide) {
    auto dialog = Dialog();
    dialog->copyBox()->setChecked(true);
    ChooseBefore(*dialog, "Totals");
    dialog->nameEdit()->setText("Summary 2024");
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    const QPixmap picture = dialog->grab();
    EXPECT_GE(picture.width(), dialog->minimumSizeHint().width());
    const QString folder = qEnvironmentVariable("ORVANDEL_GUIDE_PICTURES");
    if (!folder.isEmpty()) {
        EXPECT_TRUE(picture.save(QDir(folder).filePath("move-or-copy.png")));
    }
}

TEST_F(MoveOrCopyTest, EachListsMenuOffersItsItemsFromTheKeyboard) {
    Start();
    auto* list = form->panel1()->sheetList();
    auto item = [&](const char* name) { return list->findChild<QAction*>(name); };
    ASSERT_NE(item("MoveOrCopy"), nullptr);
    EXPECT_FALSE(item("MoveOrCopy")->isEnabled()) << "nothing is selected in an empty list";
    EXPECT_FALSE(item("Duplicate")->isEnabled());
    form->panel1()->setPath(Workbook("samples/sample1.xlsx"));
    EXPECT_TRUE(item("MoveOrCopy")->isEnabled());

    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    list->setFocus();
    QStringList offered;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (auto* action : menu->actions()) offered << (action->isSeparator() ? "-" : action->text());
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    WhenTheDialogOpens([](MoveOrCopyDialog&) {});
    QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(offered, (QStringList{"&Move or Copy…", "&Duplicate", "-", "Undo", "Redo"}));
    EXPECT_EQ(dialogsOpened, 1) << "Enter on the first item opened the dialog";
    EXPECT_EQ(list1(), (QStringList{"Jan", "Feb", "Rates", "Summary"})) << "cancelled: nothing changed";
}

// OK transfers the first list's selection into the second workbook as the dialog says; the file is read back,
// the lists show it, the copies are selected where they arrived, and the history names the operation.
TEST_F(MoveOrCopyTest, OkPutsTheSheetsWhereTheDialogSays) {
    struct Case {
        std::vector<int> selected;
        bool copy;
        const char* before;  // nullptr: "(move to end)"
        const char* newName;
        QStringList target;
        QStringList source;
        QStringList arrived;  // selected afterwards in the list of the workbook they went to
        const char* history;
        bool ownBook = false;  // "To book:" names the sheets' own workbook
    };
    const QStringList all1{"Jan", "Feb", "Rates", "Summary"};
    const Case cases[] = {
        {{1},
         true,
         nullptr,
         "",
         {"Mar", "Apr", "Totals", "Archive", "Jan"},
         all1,
         {"Jan"},
         "copy of \"Jan\" from sample1.xlsx to sample2.xlsx"},
        {{2},
         true,
         "Totals",
         "February",
         {"Mar", "Apr", "February", "Totals", "Archive"},
         all1,
         {"February"},
         "copy of \"Feb\" from sample1.xlsx to sample2.xlsx"},
        {{1},
         false,
         "Apr",
         "",
         {"Mar", "Jan", "Apr", "Totals", "Archive"},
         {"Feb", "Rates", "Summary"},
         {"Jan"},
         "move of \"Jan\" from sample1.xlsx to sample2.xlsx"},
        {{1, 4},
         true,
         "Mar",
         "",
         {"Jan", "Summary", "Mar", "Apr", "Totals", "Archive"},
         all1,
         {"Jan", "Summary"},
         "copy of \"Jan\", \"Summary\" from sample1.xlsx to sample2.xlsx"},
        {{1},
         true,
         "Rates",
         "",
         {"Mar", "Apr", "Totals", "Archive"},
         {"Jan", "Feb", "Jan (2)", "Rates", "Summary"},
         {"Jan (2)"},
         "copy of \"Jan\" from sample1.xlsx to sample1.xlsx",
         true},
        {{1},
         false,
         "Summary",
         "",
         {"Mar", "Apr", "Totals", "Archive"},
         {"Feb", "Rates", "Jan", "Summary"},
         {"Jan"},
         "move of \"Jan\" from sample1.xlsx to sample1.xlsx",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.history);
        undoFolder = workFolder() / ("undo" + std::to_string(&c - cases));
        LoadSamples(c.selected);
        WhenTheDialogOpens([&](MoveOrCopyDialog& dialog) {
            EXPECT_EQ(dialog.bookBox()->count(), 3);  // the other workbook, their own, a new one
            if (c.ownBook) dialog.bookBox()->setCurrentIndex(dialog.bookBox()->findText("sample1.xlsx"));
            dialog.copyBox()->setChecked(c.copy);
            // Inside its own workbook every sheet is the target's.
            EXPECT_EQ(dialog.referToTargetBox()->isEnabled(), c.copy && !c.ownBook);
            if (c.before) ChooseBefore(dialog, c.before);
            dialog.nameEdit()->setText(c.newName);
            dialog.okButton()->click();
        });
        form->MoveOrCopySheets(*form->panel1());
        EXPECT_EQ(dialogsOpened, 1);
        dialogsOpened = 0;
        EXPECT_EQ(dialogs.messages(), std::vector<std::string>{});
        EXPECT_EQ(AllSheets(book2), c.target);
        EXPECT_EQ(AllSheets(book1), c.source);
        EXPECT_EQ(list2(), c.target);
        EXPECT_EQ(list1(), c.source);
        QStringList selected;
        auto* arrivedIn = c.ownBook ? form->panel1() : form->panel2();
        for (const int position : arrivedIn->list().selectedPositions())
            selected << (c.ownBook ? list1() : list2())[position - 1];
        EXPECT_EQ(selected, c.arrived);
        const auto history = undo::Store(undoFolder.string()).History();
        ASSERT_EQ(history.size(), 1u);
        EXPECT_EQ(history.front().what, c.history);
    }
}

TEST_F(MoveOrCopyTest, ANewBookIsMadeAtTheFileAnsweredAndLeftOutOfThePanels) {
    undoFolder = workFolder() / "undo";
    LoadSamples({2});
    const std::string fresh = (workFolder() / "Fresh.xlsx").string();
    dialogs.saveAnswers = {fresh};
    WhenTheDialogOpens([&](MoveOrCopyDialog& dialog) {
        ChooseNewBook(dialog);
        dialog.copyBox()->setChecked(true);
        dialog.okButton()->click();
    });
    form->MoveOrCopySheets(*form->panel1());
    EXPECT_EQ(AllSheets(fresh), QStringList{"Feb"}) << "the new book's own sheet gave way";
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(form->panel2()->path(), book2);
    EXPECT_EQ(undo::Store(undoFolder.string()).History().front().what,
              "copy of \"Feb\" from sample1.xlsx to Fresh.xlsx");
}

// Duplicate puts copies named as the application names them directly after the last selected sheet, which
// the list addresses among worksheets only.
TEST_F(MoveOrCopyTest, DuplicateCopiesRightAfterTheSelection) {
    struct Case {
        const char* workbook;
        std::vector<int> selected;
        QStringList sheets;  // the file's every sheet afterwards
        QStringList copies;  // selected afterwards
    };
    const Case cases[] = {
        {"samples/sample1.xlsx", {1}, {"Jan", "Jan (2)", "Feb", "Rates", "Summary"}, {"Jan (2)"}},
        {"ooxml/chartsheets-interleaved.xlsx",
         {3},
         {"Sheet1", "Chart1", "Sheet2", "Sheet3", "Sheet3 (2)", "Chart2", "Sheet4"},
         {"Sheet3 (2)"}},
        {"ooxml/chartsheets-interleaved.xlsx",
         {1, 2},
         {"Sheet1", "Chart1", "Sheet2", "Sheet1 (2)", "Sheet2 (2)", "Sheet3", "Chart2", "Sheet4"},
         {"Sheet1 (2)", "Sheet2 (2)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.workbook);
        Start();
        const std::string path = Workbook(c.workbook);
        form->panel1()->setPath(path);
        form->panel1()->sheetList()->selectPositions(c.selected);
        form->DuplicateSheets(*form->panel1());
        EXPECT_EQ(dialogs.messages(), std::vector<std::string>{});
        EXPECT_EQ(AllSheets(path), c.sheets);
        QStringList selected;
        for (const int position : form->panel1()->list().selectedPositions())
            selected << list1()[position - 1];
        EXPECT_EQ(selected, c.copies);
    }
}

TEST_F(MoveOrCopyTest, AListBehindItsFileIsReportedAndListedAgain) {
    LoadSamples({4});
    Workbook("samples/sample2.xlsx", "sample1.xlsx");  // another program rewrote the file
    form->DuplicateSheets(*form->panel1());
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{104});
    EXPECT_EQ(AllSheets(book1), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(list1(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
}

}  // namespace
}  // namespace orv::testing

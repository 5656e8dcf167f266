// Working the window from the keyboard, and dropping a workbook file onto a panel.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <algorithm>

#include "WindowFixture.h"

namespace orv::testing {
namespace {

class KeyboardAndDropTest : public WindowFixture {};

TEST_F(KeyboardAndDropTest, TabVisitsEveryButtonPanelByPanel) {
    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    form->button(15)->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 19; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited,
              (QStringList{"PushButton15", "PushButton16", "Text1",       "PushButton3", "ListView1",
                           "PushButton11", "PushButton14", "PushButton7", "PushButton1", "PushButton9",
                           "PushButton2",  "Text2",        "PushButton6", "ListView2",   "PushButton12",
                           "PushButton13", "PushButton5",  "PushButton8", "PushButton4", "PushButton10"}));
}

// Ctrl+Z takes the last operation back after a confirmation naming it, Ctrl+Y does it again, and both lists
// are listed again from their files; answering No changes nothing.
TEST_F(KeyboardAndDropTest, CtrlZTakesADeleteBackAndCtrlYDoesItAgain) {
    undoFolder = workFolder() / "undo";
    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    const std::string path = Workbook("samples/sample1.xlsx");
    form->panel1()->setPath(path);
    const QStringList all = list1();
    ASSERT_GE(all.size(), 2);
    form->panel1()->list().select(2);
    form->PushButton7_Click();
    QStringList without = all;
    without.removeAt(1);
    ASSERT_EQ(list1(), without);
    auto* list = form->panel1()->sheetList();
    list->setFocus();
    auto asked = [&](const std::string& text) {
        return std::any_of(dialogs.shown.begin(), dialogs.shown.end(), [&](const ShownBox& b) { return b.text == text; });
    };

    dialogs.yesNoAnswers = {errors::Answer::No};
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(asked("Undo: delete of \"" + all[1].toStdString() + "\" from sample1.xlsx?"));
    EXPECT_EQ(list1(), without);

    dialogs.yesNoAnswers = {errors::Answer::Yes};
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(list1(), all) << "the sheet came back in the file and the list";

    dialogs.yesNoAnswers = {errors::Answer::Yes};
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_TRUE(asked("Redo: delete of \"" + all[1].toStdString() + "\" from sample1.xlsx?"));
    EXPECT_EQ(list1(), without);

    // The lists' context menus end with the same two items.
    const auto items = list->actions();
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items[items.size() - 2]->text(), "Undo");
    EXPECT_EQ(items.back()->text(), "Redo");
    dialogs.yesNoAnswers = {errors::Answer::Yes};
    items[items.size() - 2]->trigger();
    EXPECT_EQ(list1(), all);
}

TEST_F(KeyboardAndDropTest, EnterListsAgainAndArrowsMoveTheSelection) {
    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const std::string path = Workbook("samples/sample1.xlsx");
    form->panel1()->setPath(path);
    auto* list = form->panel1()->sheetList();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(form->panel1()->list().selectedPosition(), 3);

    Workbook("samples/sample2.xlsx", "sample1.xlsx");
    QTest::keyClick(form->panel1()->pathBox(), Qt::Key_Return);
    EXPECT_EQ(list1(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(form->panel1()->pathBox()->text().toStdString(), path);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(KeyboardAndDropTest, ADroppedFileBecomesThePanelsPath) {
    Start();
    const std::string path = Workbook("samples/sample2.xlsx");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    auto* panel = form->panel2();
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &drop);
    EXPECT_EQ(panel->pathBox()->text(), QDir::toNativeSeparators(QString::fromStdString(path)));
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));

    QMimeData text;
    text.setText("not a file");
    QDragEnterEvent refused(QPoint(20, 20), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    refused.setAccepted(false);
    QCoreApplication::sendEvent(panel, &refused);
    EXPECT_FALSE(refused.isAccepted());
}

}  // namespace
}  // namespace orv::testing

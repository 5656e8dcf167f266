// The main window: its layout, the start-up with and without the optional files beside the program, the
// random home page, the application title, and the pointer over the window.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTest>
#include <fstream>

#include "WindowFixture.h"
#include "app/StartUp.h"
#include "errors/Messages.h"

namespace orv::testing {
namespace {

using app::Form1;

class Form1Test : public WindowFixture {};

TEST_F(Form1Test, LaysOutEveryControlWhereItBelongs) {
    Start();
    EXPECT_EQ(form->size(), QSize(616, 523));
    EXPECT_EQ(form->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(form->font().bold());
    EXPECT_DOUBLE_EQ(form->font().pointSizeF(), 9.0);

    struct Expected {
        const char* name;
        const char* parent;
        QString caption;
        QRect geometry;
    };
    const Expected controls[] = {
        {"PushButton15", "Form1", "Load Sample/Example Data", {8, 8, 296, 27}},
        {"PushButton16", "Form1", "Clear Files", {312, 8, 296, 27}},
        {"PushButton3", "Frame1", "...", {248, 40, 33, 23}},
        {"PushButton11", "Frame1", "Move Up", {224, 88, 57, 80}},
        {"PushButton14", "Frame1", "Move Down", {224, 178, 57, 80}},
        {"PushButton7", "Frame1", "Delete", {16, 268, 129, 91}},
        {"PushButton1", "Frame1", "Copy To #2 >", {152, 268, 129, 91}},
        {"PushButton9", "Frame1", "Rename", {16, 366, 129, 91}},
        {"PushButton2", "Frame1", "Move To #2 >", {152, 366, 129, 91}},
        {"PushButton6", "Frame2", "...", {248, 40, 33, 23}},
        {"PushButton12", "Frame2", "Move Up", {224, 86, 57, 80}},
        {"PushButton13", "Frame2", "Move Down", {224, 178, 57, 80}},
        {"PushButton5", "Frame2", "< Copy To #1", {16, 268, 129, 91}},
        {"PushButton8", "Frame2", "Delete", {152, 268, 129, 91}},
        {"PushButton4", "Frame2", "< Move To #1", {16, 366, 129, 91}},
        {"PushButton10", "Frame2", "Rename", {152, 366, 129, 91}},
    };
    for (const auto& c : controls) {
        auto* button = form->findChild<QPushButton*>(c.name);
        ASSERT_NE(button, nullptr) << c.name;
        EXPECT_EQ(button->parentWidget()->objectName(), c.parent) << c.name;
        EXPECT_EQ(button->text(), c.caption) << c.name;
        EXPECT_EQ(button->geometry(), c.geometry) << c.name;
        EXPECT_DOUBLE_EQ(button->font().pointSizeF(), 11.25) << c.name;
    }
    EXPECT_EQ(form->panel1()->title(), "Excel File #1");
    EXPECT_EQ(form->panel1()->geometry(), QRect(8, 40, 297, 475));
    EXPECT_EQ(form->panel2()->title(), "Excel File #2");
    EXPECT_EQ(form->panel2()->geometry(), QRect(311, 40, 297, 475));
    EXPECT_EQ(form->panel1()->label()->text(), " Browse To Excel File:");
    EXPECT_EQ(form->panel2()->label()->objectName(), "Label3");
    EXPECT_EQ(form->panel1()->pathBox()->geometry(), QRect(16, 40, 225, 23));
    EXPECT_EQ(form->panel2()->pathBox()->objectName(), "Text2");
    EXPECT_EQ(form->panel1()->sheetList()->geometry(), QRect(16, 88, 200, 171));
    EXPECT_EQ(form->panel2()->sheetList()->geometry(), QRect(16, 86, 200, 173));
    for (auto* list : {form->panel1()->sheetList(), form->panel2()->sheetList()}) {
        ASSERT_EQ(list->columnCount(), 1);
        EXPECT_EQ(list->headerItem()->text(0), " Select Excel Sheet:");
        EXPECT_EQ(list->columnWidth(0), 170);
    }
}

// No caption is cut off: not in the window's font, not in the face a machine without Arial falls back to, not
// in a wider serif face, not at 150 % or 200 % text size. Each caption is wrapped word by word from the font's
// metrics and must fit where the button draws it.
TEST_F(Form1Test, NoButtonsCaptionIsCutOffWhateverTheFaceOrTextSize) {
    Start();
    const QString resolved = QFontInfo(form->button(1)->font()).family();
    EXPECT_FALSE(resolved.contains("Serif") && !resolved.contains("Sans")) << resolved.toStdString();
    // Qt's headless platform finds no face on Windows, where it draws boxes; there is nothing to measure then.
    if (resolved.isEmpty()) GTEST_SKIP() << "no font can be resolved on this platform plugin";
    const QFont asked = form->button(1)->font();
    for (const QString& family : {QString(), QString("DejaVu Serif")}) {
        for (const double scale : {1.0, 1.5, 2.0}) {
            for (int n = 1; n <= 16; ++n) {
                auto* button = form->button(n);
                QFont font = asked;
                if (!family.isEmpty()) font.setFamilies({family});
                font.setPointSizeF(asked.pointSizeF() * scale);
                button->setFont(font);
                const QFontMetrics metrics(button->captionFont());
                const QRect area = button->captionArea();
                const QStringList words = button->icon().isNull() ? QStringList{button->text()}
                                                                  : button->text().split(' ', Qt::SkipEmptyParts);
                int lines = 0;
                QString line;
                for (const QString& word : words) {
                    const QString longer = line.isEmpty() ? word : line + ' ' + word;
                    if (!line.isEmpty() && metrics.horizontalAdvance(longer) <= area.width()) {
                        line = longer;
                        continue;
                    }
                    EXPECT_LE(metrics.horizontalAdvance(word), area.width())
                        << button->objectName().toStdString() << " " << scale << " " << family.toStdString();
                    line = word;
                    ++lines;
                }
                EXPECT_LE(lines * metrics.lineSpacing() - metrics.leading(), area.height())
                    << button->objectName().toStdString() << " " << scale << " " << family.toStdString();
                if (scale == 1.0 && family.isEmpty()) {
                    EXPECT_EQ(button->captionFont().pointSizeF(), asked.pointSizeF()) << n;  // as asked, where it fits
                }
            }
        }
    }
}

TEST_F(Form1Test, StartsPlainWithoutTheOptionalFiles) {
    Start();
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_FALSE(form->skinApplied());
    EXPECT_EQ(form->panel1()->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(form->handCursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(form->windowTitle(), "Orvandel");
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(errors::ApplicationTitle(), "Orvandel");
}

TEST_F(Form1Test, TakesTheHandPointerAndSkinFromBesideTheProgram) {
    std::filesystem::copy_file(std::filesystem::path(ORVANDEL_RESOURCES_DIR) / "HAND-M.CUR",
                               programFolder() / "HAND-M.CUR");
    std::filesystem::create_directories(programFolder() / "x");
    std::ofstream(programFolder() / "x" / "o.cjs") << "skin";
    Start();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(form->handCursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(form->handCursor().hotSpot(), QPoint(5, 0));
    EXPECT_TRUE(form->skinApplied());
    const QColor face = form->style()->standardPalette().color(QPalette::Button);
    for (QWidget* w : std::initializer_list<QWidget*>{form.get(), form->panel1(), form->panel2(),
                                                      form->panel1()->label(), form->panel2()->label()}) {
        EXPECT_EQ(w->palette().color(QPalette::Window), face) << w->objectName().toStdString();
    }
}

TEST_F(Form1Test, AFailingStartUpStepIsReportedAndStartUpGoesOn) {
    std::ofstream(programFolder() / "HAND-M.CUR") << "not a cursor";
    Start();
    EXPECT_TRUE(loaded);
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{104});
    EXPECT_NE(dialogs.messages()[0].find("\r\nin Orvandel2021/08/31.Form1.Form_Load at line 104\r\r"),
              std::string::npos);
    EXPECT_EQ(form->handCursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(form->panel2()->sheetList()->columnWidth(0), 170);  // the later steps ran
}

TEST_F(Form1Test, EndsBeforeShowingWhenNoBackendCanStart) {
    Start(std::make_shared<automation::BackendRegistry>());
    EXPECT_FALSE(loaded);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].rfind("Error 842001.", 0), 0u);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(Form1Test, OpensTheHomePageOnlyWhenSevenIsDrawn) {
    EXPECT_EQ(app::DrawOneToHundred([] { return 0.0; }), 1);
    EXPECT_EQ(app::DrawOneToHundred([] { return 0.999999; }), 100);
    fraction = 0.065;  // 6.5 -> 7
    Start();
    EXPECT_EQ(openedUrls, std::vector<std::string>{errors::kHomePageAddress});
    openedUrls.clear();
    fraction = 0.07;  // 8
    Start();
    EXPECT_TRUE(openedUrls.empty());
}

TEST(AppTitle, DropsWordsFromTheEndToFitFortyCharacters) {
    EXPECT_EQ(app::ShortenToAppTitle("Orvandel"), "Orvandel");
    EXPECT_EQ(app::ShortenToAppTitle("Sheet Mover Pro"), "Sheet Mover");
    const std::string longName = "The Remarkably Capable Worksheet Transfer Utility For Everyone";
    const std::string title = app::ShortenToAppTitle(longName);
    EXPECT_EQ(title, "The Remarkably Capable Worksheet");
    EXPECT_LE(title.size(), 40u);
}

TEST_F(Form1Test, PointerFollowsTheMouseUnlessBusy) {
    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    auto centreOf = [&](QWidget* w) { return w->mapTo(form.get(), w->rect().center()); };
    auto hover = [&](QPoint at) {
        QTest::mouseMove(form->windowHandle(), at);
        QCoreApplication::processEvents();
    };

    hover(centreOf(form->button(1)));
    EXPECT_EQ(form->pointer(), Form1::Pointer::Hand);
    hover(centreOf(form->panel1()->sheetList()->viewport()));
    EXPECT_EQ(form->pointer(), Form1::Pointer::Default);
    hover(centreOf(form->button(16)));
    EXPECT_EQ(form->pointer(), Form1::Pointer::Hand);
    hover(QPoint(4, 515));  // the bare window
    EXPECT_EQ(form->pointer(), Form1::Pointer::Default);

    form->setHourglass();
    EXPECT_EQ(form->cursor().shape(), Qt::WaitCursor);
    hover(centreOf(form->button(7)));
    EXPECT_EQ(form->pointer(), Form1::Pointer::Hourglass);
    form->setDefault();
    hover(centreOf(form->button(8)));
    EXPECT_EQ(form->pointer(), Form1::Pointer::Hand);
}

}  // namespace
}  // namespace orv::testing

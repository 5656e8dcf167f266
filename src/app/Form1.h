// The main window: two workbook panels, the sample and clear buttons, the start-up procedure, the hover
// pointer and the button procedures.
#pragma once

#include <QCursor>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/PictureButton.h"
#include "app/WorkbookPanel.h"
#include "operations/Panel.h"

namespace orv::automation {
class BackendRegistry;
class ProcessTable;
}  // namespace orv::automation

namespace orv::app {

// What the window needs from outside; tests replace each piece.
struct Form1Services {
    errors::Dialogs& dialogs;
    std::shared_ptr<const automation::BackendRegistry> backends;
    const automation::ProcessTable& processes;
    std::filesystem::path programFolder;
    std::function<double()> randomFraction;               // a value in [0, 1)
    std::function<void(const std::string& url)> openUrl;  // opens a web page without waiting for it
    std::filesystem::path userDataFolder = {};            // the samples' home when the program folder is read-only
    bool prepareInstances = false;  // ready an instance ahead once a workbook is listed (the program, not tests)
    std::filesystem::path undoFolder = {};  // the undo history's store; none when empty
};

class Form1 : public QWidget, public operations::WindowPointer {
    Q_OBJECT
  public:
    enum class Pointer { Default, Hand, Hourglass };

    explicit Form1(Form1Services services, QWidget* parent = nullptr);
    // Ends the instances readied ahead for operations that will not come (the program is ending).
    void EndPreparedInstances() noexcept;

    // The start-up procedure, run while the window is hidden. Returns false when the program must end before
    // the window is shown (no spreadsheet backend can be started).
    bool Form_Load();

    WorkbookPanel* panel1() const { return m_panel1; }
    WorkbookPanel* panel2() const { return m_panel2; }
    // PushButton1 to PushButton16.
    PictureButton* button(int number) const;

    Pointer pointer() const { return m_pointer; }
    void setHourglass() override { setPointer(Pointer::Hourglass); }
    void setDefault() override { setPointer(Pointer::Default); }
    const QCursor& handCursor() const { return m_handCursor; }
    bool skinApplied() const { return m_skinApplied; }

    operations::Environment environment();

    // The sixteen button procedures.
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton7_Click();
    void PushButton8_Click();
    void PushButton9_Click();
    void PushButton10_Click();
    void PushButton11_Click();
    void PushButton12_Click();
    void PushButton13_Click();
    void PushButton14_Click();
    void PushButton15_Click();
    void PushButton16_Click();

    // Ctrl+Z and Ctrl+Y (Ctrl+Shift+Z), and the lists' context menus: take the last operation back, or do the
    // one taken back again, after a confirmation naming it; both lists are listed again from their files.
    void UndoLastOperation();
    void RedoLastOperation();

    // The lists' context menus. "Move or Copy…" asks where the panel's selected sheets go (the other panel's
    // workbook or a new one, before which sheet, copied or moved, under what name) and makes one transfer of
    // them; "Duplicate" copies them inside their own workbook, directly after the last of them, named as the
    // spreadsheet application names copies. Both lists are listed again from their files afterwards.
    void MoveOrCopySheets(WorkbookPanel& from);
    void DuplicateSheets(WorkbookPanel& panel);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void ApplySkin();
    void OpenHomePageAtRandom();
    void SetAppTitle();
    void setPointer(Pointer pointer);
    void Hover(Pointer pointer);
    void buildButtonPictures();
    void connectButtons();
    void setTabOrder();
    void watchForHover(QWidget* widget, Pointer pointer);
    void connectUndo();
    void connectSheetMenus();
    // Runs an operation's procedure with the files its saves replace kept for undo, under the name `what`.
    void Recorded(const std::string& what, const std::function<void()>& procedure);
    // "copy of "Jan" from a.xlsx to b.xlsx" and the like, from the lists' selections as the click finds them.
    std::string Describe(const std::string& operation, WorkbookPanel& from, WorkbookPanel* to) const;
    // The same with the target named by its path, which may be a workbook no panel shows.
    std::string Describe(const std::string& operation, WorkbookPanel& from,
                         const std::string& targetPath) const;
    void TakeBack(bool undoing);
    // True when the panel's list has several sheets selected: Copy, Move and Delete then act on all of them.
    static bool Grouped(WorkbookPanel& panel);

    Form1Services m_services;
    WorkbookPanel* m_panel1;
    WorkbookPanel* m_panel2;
    std::array<PictureButton*, 17> m_buttons{};
    Pointer m_pointer = Pointer::Default;
    QCursor m_handCursor{Qt::ArrowCursor};
    bool m_skinApplied = false;
};

}  // namespace orv::app

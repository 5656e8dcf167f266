// The "Move or Copy" dialog of a sheet list, laid out like the spreadsheet application's own: the workbook
// the selected sheets go to (the other panel's, or a new file), the sheet they go before, copy or move, the
// copy's name, checked against the target's names as it is typed, and what the copies' formulas read.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "automation/ObjectModel.h"
#include "transfers/Commands.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace orv::errors {
class Dialogs;
}

namespace orv::app {

// A workbook's sheets as the dialog needs them.
struct BookSheets {
    std::vector<std::string> names;  // every sheet, in workbook order: the names a copy cannot take
    std::vector<int> listed;         // the 1-based positions in `names` of the sheets a list shows, in order
};

// A workbook the sheets can go to.
struct TargetBook {
    std::string path;
    BookSheets sheets;
};

// What OK settled.
struct MoveOrCopyChoice {
    transfers::SheetTransfer::Kind kind = transfers::SheetTransfer::Kind::Move;
    std::string target;  // the workbook's path; for a new book, the file it is to be
    bool newBook = false;
    transfers::Position position;  // AtEnd, or Before "#N" of the target's full collection
    std::string newName;           // "" names the copy as the application does
    automation::CopyOptions options;
};

class MoveOrCopyDialog : public QDialog {
    Q_OBJECT
  public:
    // `books` are offered in order, "(new book)" after them, the first one chosen; the source's own workbook
    // may be among them, for a copy inside it or a reorder. `sheetCount` sheets are
    // selected: only a single one can be given a new name. A new book is proposed beside `sourcePath`, in its
    // format; its path is asked through `dialogs`.
    MoveOrCopyDialog(errors::Dialogs& dialogs, std::vector<TargetBook> books, int sheetCount,
                     std::string sourcePath, QWidget* parent = nullptr);

    MoveOrCopyChoice choice() const;

    QComboBox* bookBox() const { return m_book; }
    QLabel* newBookLabel() const { return m_newBookFile; }
    QListWidget* beforeList() const { return m_before; }
    QCheckBox* copyBox() const { return m_copy; }
    QCheckBox* valuesOnlyBox() const { return m_valuesOnly; }
    QCheckBox* referToTargetBox() const { return m_referToTarget; }
    QLineEdit* nameEdit() const { return m_name; }
    QLabel* nameProblemLabel() const { return m_nameProblem; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

  private:
    bool newBookChosen() const;
    // True when the sheets are to stay in their own workbook.
    bool ownBookChosen() const;
    void showOptions();
    // Asks for the new book's file; false when none was taken (cancelled, or refused with a message).
    bool chooseNewBook();
    void bookActivated(int index);
    void showTarget();
    void checkName();
    void confirm();

    errors::Dialogs& m_dialogs;
    std::vector<TargetBook> m_books;
    std::string m_sourcePath;
    std::string m_newBookPath;
    int m_lastBook = -1;  // the combo entry of the workbook chosen last, to go back to when no file is taken

    QComboBox* m_book;
    QLabel* m_newBookFile;
    QListWidget* m_before;
    QCheckBox* m_copy;
    QCheckBox* m_valuesOnly;
    QCheckBox* m_referToTarget;
    QLineEdit* m_name;
    QLabel* m_nameProblem;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

}  // namespace orv::app

// One workbook panel of the main window: frame, path box, browse button, sheet list and the six operation
// buttons. A change of the path box lists the workbook's worksheets into the sheet list.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRect>
#include <memory>

#include "app/PictureButton.h"
#include "app/SheetListView.h"
#include "operations/Panel.h"

namespace orv::errors {
class Dialogs;
}
namespace orv::automation {
class BackendRegistry;
}

namespace orv::app {

// Object name, caption and geometry (pixels, relative to the container) of one control.
struct ControlSpec {
    const char* name;
    const char* caption;
    QRect geometry;
};

// Where every control of one panel stands.
struct PanelLayout {
    int number;
    ControlSpec frame, label, pathBox, browse, list, moveUp, moveDown, deleteSheet, copy, rename, move;
};

class WorkbookPanel : public QGroupBox, public operations::Panel {
    Q_OBJECT
  public:
    WorkbookPanel(const PanelLayout& layout, errors::Dialogs& dialogs,
                  std::shared_ptr<const automation::BackendRegistry> backends, QWidget* parent);

    int number() const override { return m_number; }
    std::string path() const override;
    void setPath(const std::string& path) override;
    operations::SheetList& list() override { return *m_list; }

    // Fills the sheet list from the file the path box names. A path that names no existing file leaves the
    // list as it is; a workbook that cannot be listed empties the list and tells the user which file and why.
    void ListWorkbookSheets();
    // After a listing, ready an instance of the backend that serves the workbook for the next operation.
    void setPrepareInstances(bool on) { m_prepareInstances = on; }

    QLabel* label() const { return m_label; }
    QLineEdit* pathBox() const { return m_pathBox; }
    SheetListView* sheetList() const { return m_list; }
    PictureButton* browseButton() const { return m_browse; }
    PictureButton* moveUpButton() const { return m_moveUp; }
    PictureButton* moveDownButton() const { return m_moveDown; }
    PictureButton* deleteButton() const { return m_delete; }
    PictureButton* copyButton() const { return m_copy; }
    PictureButton* renameButton() const { return m_rename; }
    PictureButton* moveButton() const { return m_move; }

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    PictureButton* makeButton(const ControlSpec& spec);
    void ReportListingFailure(const std::string& description);

    int m_number;
    errors::Dialogs& m_dialogs;
    std::shared_ptr<const automation::BackendRegistry> m_backends;
    bool m_prepareInstances = false;
    QLabel* m_label;
    QLineEdit* m_pathBox;
    PictureButton* m_browse;
    SheetListView* m_list;
    PictureButton* m_moveUp;
    PictureButton* m_moveDown;
    PictureButton* m_delete;
    PictureButton* m_copy;
    PictureButton* m_rename;
    PictureButton* m_move;
};

}  // namespace orv::app

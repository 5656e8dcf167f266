// A panel's sheet list: a one-column report view with a header, positions from 1. Several items can be selected
// (Ctrl-click, Shift-click, Shift+arrows) for the group operations; a click or an arrow key selects one. Shift+F10
// opens its context menu at the current item, as the context-menu key does.
#pragma once

#include <QTreeWidget>

#include "operations/Panel.h"

namespace orv::app {

class SheetListView : public QTreeWidget, public operations::SheetList {
    Q_OBJECT
  public:
    // `panelNumber` names the panel in failure descriptions.
    SheetListView(int panelNumber, QWidget* parent = nullptr);

    // Adds the one column with its header text, as the start-up does.
    void addColumn(const QString& header);
    void setColumnWidthPixels(int width);

    int count() const override;
    int selectedPosition() const override;
    std::vector<int> selectedPositions() const override;
    std::string text(int position) const override;
    void insert(int position, const std::string& text) override;
    void remove(int position) override;
    void select(int position) override;
    void scrollTo(int position) override;
    void focus() override;
    void clear() override;

    // Selects the items at `positions` (none when empty), the first of them current.
    void selectPositions(const std::vector<int>& positions);

    // The item texts in list order, for tests and diagnostics.
    QStringList texts() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QTreeWidgetItem* itemAt(int position) const;

    int m_panelNumber;
};

}  // namespace orv::app

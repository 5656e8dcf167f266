// The sheet list's item operations, with failures that name the list.
#include "app/SheetListView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <algorithm>
#include <stdexcept>

namespace orv::app {

namespace {

// Qt scrolls a view to its current item whenever the current item changes; a change the procedures make
// leaves the list where the user scrolled it (clicks and arrow keys still scroll, as they go through Qt).
class KeepScroll {
  public:
    explicit KeepScroll(QAbstractScrollArea& view)
        : m_view(view),
          m_vertical(view.verticalScrollBar()->value()),
          m_horizontal(view.horizontalScrollBar()->value()) {}
    ~KeepScroll() {
        m_view.verticalScrollBar()->setValue(m_vertical);
        m_view.horizontalScrollBar()->setValue(m_horizontal);
    }
    KeepScroll(const KeepScroll&) = delete;
    KeepScroll& operator=(const KeepScroll&) = delete;

  private:
    QAbstractScrollArea& m_view;
    int m_vertical;
    int m_horizontal;
};

}  // namespace

SheetListView::SheetListView(int panelNumber, QWidget* parent)
    : QTreeWidget(parent), m_panelNumber(panelNumber) {
    setColumnCount(0);
    setRootIsDecorated(false);
    setIndentation(0);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
}

void SheetListView::addColumn(const QString& header) {
    setColumnCount(columnCount() + 1);
    headerItem()->setText(columnCount() - 1, header);
}

void SheetListView::setColumnWidthPixels(int width) {
    if (columnCount() < 1) throw std::runtime_error("The sheet list has no column to size.");
    setColumnWidth(0, width);
}

int SheetListView::count() const { return topLevelItemCount(); }

int SheetListView::selectedPosition() const {
    // Rename and the Move buttons act on the current item when several are selected.
    if (currentItem() && currentItem()->isSelected()) return indexOfTopLevelItem(currentItem()) + 1;
    const auto selected = selectedPositions();
    if (selected.empty()) {
        throw std::runtime_error("No sheet is selected in the list of Excel File #" +
                                 std::to_string(m_panelNumber) + ".");
    }
    return selected.front();
}

std::vector<int> SheetListView::selectedPositions() const {
    std::vector<int> positions;
    for (auto* item : selectedItems()) positions.push_back(indexOfTopLevelItem(item) + 1);
    std::sort(positions.begin(), positions.end());
    return positions;
}

std::string SheetListView::text(int position) const { return itemAt(position)->text(0).toStdString(); }

void SheetListView::insert(int position, const std::string& text) {
    if (position < 1 || position > count() + 1) {
        throw std::runtime_error("Cannot insert an item at position " + std::to_string(position) +
                                 " of the list of Excel File #" + std::to_string(m_panelNumber) +
                                 " (it holds " + std::to_string(count()) + ").");
    }
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(text)});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    KeepScroll keep(*this);
    insertTopLevelItem(position - 1, item);
}

void SheetListView::remove(int position) {
    QTreeWidgetItem* item = itemAt(position);
    KeepScroll keep(*this);
    delete takeTopLevelItem(indexOfTopLevelItem(item));
}

void SheetListView::select(int position) {
    QTreeWidgetItem* item = itemAt(position);
    KeepScroll keep(*this);
    clearSelection();
    setCurrentItem(item);
    item->setSelected(true);
}

void SheetListView::selectPositions(const std::vector<int>& positions) {
    KeepScroll keep(*this);
    clearSelection();
    for (std::size_t i = 0; i < positions.size(); ++i) {
        QTreeWidgetItem* item = itemAt(positions[i]);
        if (i == 0) setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        item->setSelected(true);
    }
}

void SheetListView::keyPressEvent(QKeyEvent* event) {
    // The platforms turn the context-menu key into a context-menu event themselves, but not Shift+F10
    // everywhere.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QRect at = currentItem() ? visualItemRect(currentItem()) : QRect();
        if (!at.isValid()) at = viewport()->rect();
        const QPoint local = viewport()->mapTo(this, at.center());
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, local, mapToGlobal(local), event->modifiers());
        QApplication::sendEvent(this, &menu);
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void SheetListView::scrollTo(int position) { scrollToItem(itemAt(position)); }

void SheetListView::focus() { setFocus(Qt::OtherFocusReason); }

void SheetListView::clear() { QTreeWidget::clear(); }

QStringList SheetListView::texts() const {
    QStringList result;
    for (int i = 0; i < topLevelItemCount(); ++i) result << topLevelItem(i)->text(0);
    return result;
}

QTreeWidgetItem* SheetListView::itemAt(int position) const {
    if (position < 1 || position > count()) {
        throw std::runtime_error("The list of Excel File #" + std::to_string(m_panelNumber) +
                                 " has no item " + std::to_string(position) + " (it holds " +
                                 std::to_string(count()) + ").");
    }
    return topLevelItem(position - 1);
}

}  // namespace orv::app

// The sheet list's item operations, with failures that name the list.
#include "app/SheetListView.h"

#include <QHeaderView>
#include <stdexcept>

namespace orv::app {

SheetListView::SheetListView(int panelNumber, QWidget* parent)
    : QTreeWidget(parent), m_panelNumber(panelNumber) {
    setColumnCount(0);
    setRootIsDecorated(false);
    setIndentation(0);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
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
    const auto selected = selectedItems();
    if (selected.isEmpty()) {
        throw std::runtime_error("No sheet is selected in the list of Excel File #" +
                                 std::to_string(m_panelNumber) + ".");
    }
    return indexOfTopLevelItem(selected.front()) + 1;
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
    insertTopLevelItem(position - 1, item);
}

void SheetListView::remove(int position) { delete takeTopLevelItem(indexOfTopLevelItem(itemAt(position))); }

void SheetListView::select(int position) {
    QTreeWidgetItem* item = itemAt(position);
    clearSelection();
    setCurrentItem(item);
    item->setSelected(true);
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

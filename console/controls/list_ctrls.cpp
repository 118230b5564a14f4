#include "console/controls/list_ctrls.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include "console/controls/control_rules.h"

namespace kelm::controls {

CStaticHeaderListCtrl::CStaticHeaderListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
}

void CStaticHeaderListCtrl::DisableHeaderButtons() {
  header()->setSectionsClickable(false);
  header()->setSortIndicatorShown(false);
  setSortingEnabled(false);
}

CNoticeListCtrl::CNoticeListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  header()->setSectionsClickable(false);
  header()->setStretchLastSection(false);
  chooser_ = [this](QPoint at) {
    QMenu menu(this);
    QAction* yes = menu.addAction(QStringLiteral("Yes"));
    QAction* no = menu.addAction(QStringLiteral("No"));
    QAction* chosen = menu.exec(viewport()->mapToGlobal(at));
    return chosen == yes ? 1 : chosen == no ? 2 : 0;
  };
}

void CNoticeListCtrl::SetColumns(int count, const QStringList& titles) {
  clear();
  rows_.clear();
  lastRow_ = lastColumn_ = -1;
  columns_ = std::max(1, count);
  setColumnCount(columns_);
  setHeaderLabels(titles.mid(0, columns_));
  const int first = viewport()->width() - 50 * (columns_ - 1);
  setColumnWidth(0, std::max(0, first));
  for (int i = 1; i < columns_; ++i) setColumnWidth(i, 50);
}

int CNoticeListCtrl::FindOrAddItem(const QString& text, const std::vector<int>& values) {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    if (topLevelItem(i)->text(0) == text) {
      scrollToItem(topLevelItem(i));
      return i;
    }
  }
  auto* item = new QTreeWidgetItem(this, QStringList{text});
  std::vector<int> own = values;
  own.resize(static_cast<std::size_t>(columns_), 0);
  rows_.push_back(std::move(own));
  const int row = indexOfTopLevelItem(item);
  showRow(row);
  scrollToItem(item);
  return row;
}

void CNoticeListCtrl::showRow(int row) {
  QTreeWidgetItem* item = topLevelItem(row);
  const std::vector<int>& v = rows_.at(static_cast<std::size_t>(row));
  for (int c = 1; c < columns_; ++c) {
    item->setText(c, v[static_cast<std::size_t>(c)] ? QStringLiteral("Yes") : QStringLiteral("No"));
    item->setTextAlignment(c, Qt::AlignCenter);
  }
}

void CNoticeListCtrl::popup(int row, int column, QPoint at) {
  if (!popupEnabled_ || row < 0 || row >= topLevelItemCount() || column <= 0 || column >= columns_) return;
  const int choice = chooser_ ? chooser_(at) : 0;
  if (choice != 1 && choice != 2) return;
  rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = choice == 1 ? 1 : 0;
  showRow(row);
  emit noticeChanged(row, rows_[static_cast<std::size_t>(row)]);
}

void CNoticeListCtrl::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  QTreeWidgetItem* item = itemAt(at);
  if (!item) item = itemAt(QPoint(5, at.y()));  // beside the rows: the first column
  const int row = item ? indexOfTopLevelItem(item) : -1;
  const int column = item ? columnAt(at.x()) : -1;
  if (row < 0) {
    QTreeWidget::mousePressEvent(event);
    return;
  }
  lastRow_ = row;
  lastColumn_ = column;
  if (event->button() == Qt::RightButton) {
    popup(row, column, at);
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  if (item->isSelected()) {
    popup(row, column, at);
    return;
  }
  clearSelection();
  setFocus();
  item->setSelected(true);
  setCurrentItem(item);
}

void CNoticeListCtrl::keyPressEvent(QKeyEvent* event) {
  const int column = noticeColumnForKey(event->key(), columns_);
  QTreeWidgetItem* item = currentItem();
  if (column < 0 || !item || !item->isSelected()) {
    // Function keys beyond the grid's columns are ignored, never a cell outside the row.
    if (event->key() >= Qt::Key_F2 && event->key() <= Qt::Key_F11) return;
    QTreeWidget::keyPressEvent(event);
    return;
  }
  const QRect r = visualRect(indexFromItem(item, column));
  popup(indexOfTopLevelItem(item), column, r.center());
}

}  // namespace kelm::controls

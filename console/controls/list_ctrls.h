#pragma once
// Two lists of the property pages: one whose header cannot be clicked, and the notice grid of
// yes/no cells, one row per event and one column per way of telling.
#include <QTreeWidget>
#include <functional>
#include <vector>

namespace kelm::controls {

class CStaticHeaderListCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CStaticHeaderListCtrl(QWidget* parent = nullptr);
  // Header clicks do nothing.
  void DisableHeaderButtons();
};

class CNoticeListCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CNoticeListCtrl(QWidget* parent = nullptr);

  // Replaces every row and column: `count` columns, the first as wide as the client less 50
  // for each other one, the others 50 pixels.
  void SetColumns(int count, const QStringList& titles);
  // The row with this text, or a new one holding `values` (one per column; element i shows in
  // column i as "Yes" or "No"). The row keeps its own copy.
  int FindOrAddItem(const QString& text, const std::vector<int>& values);
  void SetOption(bool on) { popupEnabled_ = on; }
  const std::vector<int>& values(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
  int columns() const { return columns_; }

  // Opens the yes/no choice for a cell; the chooser returns 1 for "Yes", 2 for "No", 0 for none.
  void popup(int row, int column, QPoint at);
  // How the choice is asked; a menu at the point unless replaced (tests answer directly).
  void setChooser(std::function<int(QPoint)> chooser) { chooser_ = std::move(chooser); }

 signals:
  // A cell changed: the row and a copy of its values.
  void noticeChanged(int row, std::vector<int> values);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void showRow(int row);

  int columns_ = 1;
  bool popupEnabled_ = true;
  int lastRow_ = -1;
  int lastColumn_ = -1;
  std::vector<std::vector<int>> rows_;
  std::function<int(QPoint)> chooser_;
};

}  // namespace kelm::controls

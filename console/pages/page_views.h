#pragma once
// The Qt forms of the array, controller, disk, channel and enclosure pages of the intelligent-I/O
// and serial families: each shows what its presenter (owned by the property pane) holds and hands
// it every edit and button.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

#include "console/core/pages/array_page.h"
#include "console/core/pages/controller_page.h"
#include "console/core/pages/disk_page.h"
#include "console/core/pages/enclosure_page.h"
#include "console/core/pages/serial_pages.h"

namespace kelm::controls {
class CAnimateStatic;
class CSpinEditCell;
}  // namespace kelm::controls

namespace kelm::console::pages {

QColor ToQColor(ColorRef c);
// Our own pictures by their ids (161, 189-193, 320, 321).
QImage PageBitmap(int id);
// Replays a draw list: text in the given font, ":" and other light texts at their weight.
void PaintDrawList(QPainter& painter, const DrawList& list, const QFont& font);

// A page that only paints: it draws its presenter's list and gives its texts to assistive
// technology, one accessible line per painted text.
class CPaintedPage : public QWidget {
  Q_OBJECT

 public:
  explicit CPaintedPage(QWidget* parent);
  // The texts painted last, in order.
  QStringList paintedTexts() const;

 protected:
  void paintEvent(QPaintEvent* e) override;
  // Called by the derived page once its presenter exists.
  void Bind(PagePresenter& presenter);
  void Changed();

 private:
  PagePresenter* presenter_ = nullptr;
  DrawList list_;
};

// The accessible names of the painted pages below.
QString PaintedPageName(const DiskPage&);
QString PaintedPageName(const ChannelPage&);

// A painted page around a presenter the pane owns: the disk page, and the channel page, which
// paints only its background.
template <class Page>
class CPaintedPageView : public CPaintedPage {
 public:
  explicit CPaintedPageView(Page& page, QWidget* parent = nullptr) : CPaintedPage(parent), page_(page) {
    Bind(page_);
    setAccessibleName(PaintedPageName(page_));
  }
  Page& presenter() { return page_; }

 private:
  Page& page_;
};

using CDiskView = CPaintedPageView<DiskPage>;
using CChannelView = CPaintedPageView<ChannelPage>;

class CEnclosureView : public QWidget {
  Q_OBJECT
 public:
  CEnclosureView(EnclosurePage& page, QWidget* parent = nullptr);
  EnclosurePage& presenter() { return page_; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  void Sync();
  EnclosurePage& page_;
  QLabel* picture_;
  QCheckBox* beeper_;
  std::array<controls::CAnimateStatic*, EnclosurePage::kFanSlots> fans_{};
  std::array<QLabel*, EnclosurePage::kTempSlots> temps_{};
  struct BoxWidgets {
    QLabel* frame;
    QLabel* title;
    QLabel* kind;
    controls::CAnimateStatic* fan;
    QLabel* rpm;
    QLabel* temp;
    QLabel* volts;
  };
  std::array<BoxWidgets, EnclosurePage::kBoxSlots> boxes_{};
  DrawList list_;
};

class CArrayView : public QWidget {
  Q_OBJECT
 public:
  CArrayView(ArrayPage& page, QWidget* parent = nullptr);
  ArrayPage& presenter() { return page_; }

 private:
  void Sync();
  ArrayPage& page_;
  bool syncing_ = false;
  QLineEdit* name_;
  QComboBox* level_;
  controls::CSpinEditCell* block_;
  QLabel* size_;
  QLabel* status_;
  QWidget* buffer_;
  QCheckBox* autoDetect_;
  QCheckBox* writeBack_;
  QWidget* cache_;
  QComboBox* readCache_;
  QComboBox* writeCache_;
  std::array<QLabel*, ArrayPage::kStatCount> stats_{};
  QPushButton* resetStats_;
  QPushButton* commit_;
  QPushButton* reset_;
};

class CCtrlrView : public QWidget {
  Q_OBJECT
 public:
  CCtrlrView(ControllerPage& page, QWidget* parent = nullptr);
  ControllerPage& presenter() { return page_; }

 private:
  void Sync();
  ControllerPage& page_;
  bool syncing_ = false;
  QWidget* policy_;
  controls::CSpinEditCell* flush_;
  controls::CSpinEditCell* start_;
  controls::CSpinEditCell* stop_;
  QLabel* cacheSize_;
  QLabel* cacheBlock_;
  QLabel* rwCache_;
  QPushButton* commitPolicy_;
  QPushButton* resetPolicy_;
  QWidget* settings_;
  QCheckBox* smart_;
  QCheckBox* hdCache_;
  QCheckBox* bbu_;
  QCheckBox* rebuild_;
  controls::CSpinEditCell* autoFlush_;
  QPushButton* commitSettings_;
  QPushButton* resetSettings_;
  QLabel* memory_;
  QLabel* processor_;
  QLabel* hardware_;
  QTreeWidget* modules_;
};

class CSorventicCtrlrView : public QWidget {
  Q_OBJECT
 public:
  CSorventicCtrlrView(SerialControllerPage& page, QWidget* parent = nullptr);
  SerialControllerPage& presenter() { return page_; }

 private:
  void Sync();
  SerialControllerPage& page_;
  bool syncing_ = false;
  std::array<QLabel*, 5> texts_{};
  controls::CSpinEditCell* autoFlush_;
  QCheckBox* smart_;
  QCheckBox* rebuild_;
  QCheckBox* hdCache_;
  QCheckBox* writeBack_;
  QPushButton* apply_;
};

class CSorventicBoxView : public QWidget {
  Q_OBJECT
 public:
  CSorventicBoxView(SerialBoxPage& page, QWidget* parent = nullptr);
  SerialBoxPage& presenter() { return page_; }

 private:
  void Sync();
  SerialBoxPage& page_;
  std::array<QLabel*, 5> lines_{};
  std::array<QLabel*, 8> fans_{};
};

class CSorventicArrayView : public QWidget {
  Q_OBJECT
 public:
  CSorventicArrayView(SerialArrayPage& page, QWidget* parent = nullptr);
  SerialArrayPage& presenter() { return page_; }

 private:
  void Sync();
  SerialArrayPage& page_;
  bool syncing_ = false;
  QLineEdit* name_;
  QComboBox* level_;
  controls::CSpinEditCell* block_;
  QLabel* size_;
  QLabel* status_;
  QCheckBox* autoDetect_;
  QCheckBox* writeBack_;
  QListWidget* disks_;
  QLabel* disksLabel_;
  QPushButton* apply_;
  QPushButton* reset_;
};

}  // namespace kelm::console::pages

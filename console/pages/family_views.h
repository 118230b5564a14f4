#pragma once
// The Qt forms of the agent's settings page, the RAID system page and the IDE family's pages: each
// shows what its presenter (owned by the property pane) holds and hands it every edit and button.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QWidget>
#include <array>

#include "console/core/pages/agent_page.h"
#include "console/core/pages/ide_pages.h"
#include "console/pages/page_views.h"

namespace kelm::controls {
class CTimeEdit;
}

namespace kelm::console::pages {

class CRAIDMachineView : public QWidget {
  Q_OBJECT
 public:
  CRAIDMachineView(AgentSettingsPage& page, QWidget* parent = nullptr);
  AgentSettingsPage& presenter() { return page_; }

 private:
  void Sync();
  AgentSettingsPage& page_;
  bool syncing_ = false;
  QLabel *name_, *version_, *ip_;
  QCheckBox *autoSave_, *email_, *ntLog_, *protection_, *allEmail_, *allPopup_, *schedEnabled_;
  QLineEdit *sender_, *server_, *newRecipient_, *test_;
  QSpinBox *interval_, *monthDay_, *count_;
  QButtonGroup* schedType_;
  controls::CTimeEdit* time_;
  QComboBox* weekday_;
  QListWidget* recipients_;
  QTableWidget* notices_;
  QPushButton *serverApply_, *add_, *del_, *noticeApply_, *schedApply_, *testButton_;
};

class CRAIDSystemView : public QWidget {
  Q_OBJECT
 public:
  CRAIDSystemView(RaidSystemPage& page, QWidget* parent = nullptr);
  RaidSystemPage& presenter() { return page_; }

 private:
  void Sync();
  RaidSystemPage& page_;
  QLabel *type_, *port_, *version_;
  QPushButton *connect_, *disconnect_;
};

class CMaroveltArrayView : public CPaintedPage {
  Q_OBJECT
 public:
  CMaroveltArrayView(IdeArrayPage& page, QWidget* parent = nullptr);
  IdeArrayPage& presenter() { return page_; }

 private:
  IdeArrayPage& page_;
};

class CMaroveltDiskView : public CPaintedPage {
  Q_OBJECT
 public:
  CMaroveltDiskView(IdeDiskPage& page, QWidget* parent = nullptr);
  IdeDiskPage& presenter() { return page_; }

 private:
  IdeDiskPage& page_;
};

// The IDE channel's own page: it paints only its background and shows nothing. No node selects it,
// since the IDE channels show the general channel page.
class CMaroveltChannelView : public CChannelView {
  Q_OBJECT
 public:
  using CChannelView::CChannelView;
};

class CMaroveltCtrlrView : public QWidget {
  Q_OBJECT
 public:
  CMaroveltCtrlrView(IdeControllerPage& page, QWidget* parent = nullptr);
  IdeControllerPage& presenter() { return page_; }

 private:
  void Sync();
  IdeControllerPage& page_;
  std::array<QLabel*, 5> info_{};
  QCheckBox *smart_, *cache_, *hotSpare_;
  QSlider *rate_, *pci_;
  QPushButton *reset_, *commit_;
};

}  // namespace kelm::console::pages

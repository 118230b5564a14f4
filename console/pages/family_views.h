#pragma once
// The Qt forms of the agent's settings page, the RAID system page and the IDE family's pages: each
// shows what its presenter holds and hands it every edit and button.
#include <QCheckBox>
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

namespace kelm::console::pages {

class CRAIDMachineView : public QWidget {
  Q_OBJECT
 public:
  CRAIDMachineView(CDremmoralDoc& doc, QWidget* parent = nullptr);
  AgentSettingsPage& presenter() { return page_; }

 private:
  void Sync();
  AgentSettingsPage page_;
  bool syncing_ = false;
  QLabel *name_, *version_, *ip_;
  QCheckBox *autoSave_, *email_, *ntLog_, *protection_, *allEmail_, *allPopup_, *schedEnabled_;
  QLineEdit *sender_, *server_, *newRecipient_, *test_;
  QSpinBox *interval_, *schedType_, *hour_, *minute_, *weekday_, *monthDay_, *count_;
  QListWidget* recipients_;
  QTableWidget* notices_;
  QPushButton *serverApply_, *add_, *del_, *noticeApply_, *schedApply_, *testButton_;
};

class CRAIDSystemView : public QWidget {
  Q_OBJECT
 public:
  CRAIDSystemView(CDremmoralDoc& doc, QWidget* parent = nullptr);
  RaidSystemPage& presenter() { return page_; }

 private:
  void Sync();
  RaidSystemPage page_;
  QLabel *type_, *port_, *version_;
  QPushButton *connect_, *disconnect_;
};

class CMaroveltArrayView : public CPaintedPage {
  Q_OBJECT
 public:
  CMaroveltArrayView(CDremmoralDoc& doc, QWidget* parent = nullptr);
  IdeArrayPage& presenter() { return page_; }

 private:
  IdeArrayPage page_;
};

class CMaroveltDiskView : public CPaintedPage {
  Q_OBJECT
 public:
  CMaroveltDiskView(CDremmoralDoc& doc, QWidget* parent = nullptr);
  IdeDiskPage& presenter() { return page_; }

 private:
  IdeDiskPage page_;
};

class CMaroveltCtrlrView : public QWidget {
  Q_OBJECT
 public:
  CMaroveltCtrlrView(CDremmoralDoc& doc, QWidget* parent = nullptr);
  IdeControllerPage& presenter() { return page_; }

 private:
  void Sync();
  IdeControllerPage page_;
  std::array<QLabel*, 5> info_{};
  QCheckBox *smart_, *cache_, *hotSpare_;
  QSlider *rate_, *pci_;
  QPushButton *reset_, *commit_;
};

}  // namespace kelm::console::pages

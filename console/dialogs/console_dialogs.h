#pragma once
// The Qt forms of the console root, server and user pages, the rebuild wizard and the event viewer:
// each shows what its presenter holds and hands it every edit and button. The three pages show the
// presenter the property pane owns; the wizard and the viewer own theirs.
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <memory>

#include "console/core/document.h"
#include "console/core/pages/account_pages.h"
#include "console/core/pages/event_viewer.h"
#include "console/core/pages/rebuild_wizard.h"

namespace kelm::console::dialogs {

// Our own pictures: the console root's banner (215, 309x52) and the event levels (168).
QImage ConsoleBanner();
QIcon EventLevelIcon(int image);

class CMyConsoleView : public QWidget {
  Q_OBJECT
 public:
  CMyConsoleView(pages::ConsolePage& page, QWidget* parent = nullptr);
  pages::ConsolePage& presenter() { return page_; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  pages::ConsolePage& page_;
};

class CServerView : public QWidget {
  Q_OBJECT
 public:
  CServerView(pages::ServerPage& page, QWidget* parent = nullptr);
  pages::ServerPage& presenter() { return page_; }
  void Show();

 private:
  pages::ServerPage& page_;
  QLineEdit *name_, *address_, *label_;
  QLabel* version_;
  QPushButton *commit_, *reset_;
  bool filling_ = false;
};

class CUserView : public QWidget {
  Q_OBJECT
 public:
  CUserView(pages::UserPage& page, QWidget* parent = nullptr);
  pages::UserPage& presenter() { return page_; }
  void Show();

 private:
  pages::UserPage& page_;
  QLineEdit *name_, *password_, *confirm_;
  std::array<QCheckBox*, pages::UserPage::kBoxCount> boxes_{};
  QPushButton *commit_, *reset_;
  bool filling_ = false;
};

// Plays the frames of our own AVI on a label until hidden; blank when the file is missing or bad.
class CAnimateCtrl : public QLabel {
  Q_OBJECT
 public:
  explicit CAnimateCtrl(QWidget* parent = nullptr);
  bool Open(const QString& path);
  void Play();
  void Stop();
  int frameCount() const { return static_cast<int>(frames_.size()); }

 protected:
  void hideEvent(QHideEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  std::vector<QPixmap> frames_;
  int periodMs_ = 100;
  int at_ = 0;
  int timer_ = 0;
  void timerEvent(QTimerEvent* e) override;
};

// The rebuild wizard: "Select disk to Rebuild", then "Finish".
// It watches the document's hints while it exists, so that page 0 refills when the members arrive.
class CRebuildWizard : public QDialog, public DocumentView {
  Q_OBJECT
 public:
  CRebuildWizard(CDremmoralDoc& doc, CPea* array, CPea* disk, QWidget* parent = nullptr);
  ~CRebuildWizard() override;
  pages::RebuildWizard& presenter() { return wizard_; }
  CAnimateCtrl* animation() const { return animation_; }
  void OnUpdate(int hint, CPea* node) override;

 private:
  void Show();
  void FillList();
  CDremmoralDoc& doc_;
  pages::RebuildWizard wizard_;
  QStackedWidget* pages_;
  QListWidget* list_;
  QLabel* disk_;
  CAnimateCtrl* animation_;
  QPushButton *back_, *next_, *finish_, *cancel_;
};

// The event viewer, template 166.
class CEventViewerDlg : public QDialog {
  Q_OBJECT
 public:
  CEventViewerDlg(CDremmoralDoc& doc, CPea* node, QWidget* parent = nullptr);
  pages::EventViewer& presenter() { return viewer_; }
  QTreeWidget* list() const { return list_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void Show();
  void Layout();
  pages::EventViewer viewer_;
  QTreeWidget* list_;
  QPushButton *next_, *all_, *save_, *clear_, *close_;
  std::size_t shownRows_ = 0;
};

// Where the program's own files are: the directory of its own path, not the working directory.
QString ProgramFile(const QString& name);

}  // namespace kelm::console::dialogs

#pragma once
// The form tests' fixture: the page fixture's scripted agent, and a screenshot of a form kept as a
// test artefact.
#include <QApplication>
#include <QDir>
#include <QWidget>

#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {

class FormTest : public PageTest {
 protected:
  // Shows the form at the page's size and saves it under the build tree's artefacts.
  void Shot(QWidget& w, const char* name, QSize size = QSize(820, 600)) {
    w.resize(size);
    w.show();
    QApplication::processEvents();
    const QString dir = QStringLiteral(KELM_ARTEFACT_DIR);
    QDir().mkpath(dir);
    const QString file = dir + QStringLiteral("/page-%1.png").arg(QString::fromUtf8(name));
    EXPECT_TRUE(w.grab().save(file)) << file.toStdString();
  }
};

}  // namespace kelm::console::testing

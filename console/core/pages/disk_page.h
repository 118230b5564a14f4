#pragma once
// The intelligent-I/O family's disk page (node type 6), painted: model, status, size, mode,
// configuration and, on the QX model, the S.M.A.R.T state. The channel page (types 5, 12 and 20)
// paints only the background.
#include <string>

#include "console/core/pages/page_presenter.h"

namespace kelm::console::pages {

class DiskPage : public PagePresenter {
 public:
  struct Texts {
    std::string model, status, size, mode, configuration, smart;
  };
  // Where the painted page puts its columns and rows.
  static constexpr int kLabelX = 15;
  static constexpr int kColonX = 150;
  static constexpr int kValueX = 175;
  static constexpr int kRowHeight = 30;   // from one row's top to the next
  static constexpr int kTextHeight = 20;  // the box a row's texts sit in
  static constexpr int kFirstRow = 10;
  static constexpr int kColonWeight = 300;

  explicit DiskPage(CDremmoralDoc& document) : PagePresenter(document) {}
  void Paint(DrawList& out, int width, int height) override;
  void OnUpdate(int hint, CPea* node) override;
  void OnDisplaySettingsChanged() override { Changed(); }
  const Texts& texts() const { return t_; }

 protected:
  void OnShowNode() override;

 private:
  Texts t_;
};

class ChannelPage : public PagePresenter {
 public:
  explicit ChannelPage(CDremmoralDoc& document) : PagePresenter(document) {}
  void Paint(DrawList& out, int width, int height) override;
  void OnDisplaySettingsChanged() override { Changed(); }
};

}  // namespace kelm::console::pages

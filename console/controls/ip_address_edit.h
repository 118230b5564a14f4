#pragma once
// A four-field address editor: each field takes up to three digits and never more than 255;
// '.' and '>' move to the next and previous field, and so do the arrows at the ends of a field.
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <array>

namespace kelm::controls {

// The command a field sends its notify window after a digit is typed.
inline constexpr int kAddressFieldCommand = 2304;

class CAddressFieldEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit CAddressFieldEdit(QWidget* parent = nullptr);
  void link(CAddressFieldEdit* previous, CAddressFieldEdit* next) {
    previous_ = previous;
    next_ = next;
  }

 signals:
  void command(int id);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  static void enter(CAddressFieldEdit* field);
  CAddressFieldEdit* previous_ = nullptr;
  CAddressFieldEdit* next_ = nullptr;
};

class CIPAddressEdit : public QWidget {
  Q_OBJECT

 public:
  explicit CIPAddressEdit(QWidget* parent = nullptr);

  void CreateFields();
  // The number of non-empty fields (4 for a complete address); empty fields read as 0.
  int GetAddress(int* a, int* b, int* c, int* d) const;
  void SetAddress(int a, int b, int c, int d);
  void EnableFields() { setFieldsEnabled(true); }
  void DisableFields() { setFieldsEnabled(false); }

  CAddressFieldEdit* field(int i) const { return fields_[static_cast<std::size_t>(i)]; }

 signals:
  // A field's command (kAddressFieldCommand after a digit), reported from the editor.
  void command(int id);
  void changed();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  void layoutChildren();
  void setFieldsEnabled(bool on);

  std::array<int, 4> bytes_{127, 0, 0, 1};
  std::array<CAddressFieldEdit*, 4> fields_{};
  std::array<QLabel*, 3> dots_{};
  QWidget* container_;
  bool created_ = false;
};

}  // namespace kelm::controls

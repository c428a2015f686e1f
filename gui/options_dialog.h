// The "Compression options" dialog: the text model (spaceless or words and
// separators, ASCII or Unicode words) and the auxiliary pointer distance of
// the words-and-separators model.
#ifndef MORAVINE_GUI_OPTIONS_DIALOG_H_
#define MORAVINE_GUI_OPTIONS_DIALOG_H_

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace moravine::gui {

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  OptionsDialog(bool spaceless, int distance, bool unicode = false, QWidget* parent = nullptr);

  // The values; after OK, the ones entered.
  bool spaceless() const { return spaceless_; }
  int distance() const { return distance_; }
  bool unicode() const { return unicode_; }

  // OK: stores the values, or keeps the dialog open when the distance is
  // not an integer.
  void accept() override;

 private:
  void updateEnabled();

  bool spaceless_;
  int distance_;
  bool unicode_;
  QLabel* distance_label_;
  QLineEdit* distance_edit_;
  QCheckBox* spaceless_box_;
  QCheckBox* unicode_box_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_OPTIONS_DIALOG_H_

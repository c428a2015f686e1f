// The "Options" dialog: the text model (spaceless or words and separators,
// ASCII or Unicode words) and the auxiliary pointer distance of the
// words-and-separators model, and the most hits the results list shows.
#ifndef MORAVINE_GUI_OPTIONS_DIALOG_H_
#define MORAVINE_GUI_OPTIONS_DIALOG_H_

#include <QDialog>

#include "gui/window_logic.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace moravine::gui {

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit OptionsDialog(const OptionValues& values, QWidget* parent = nullptr);

  // The values; after OK, the ones entered.
  const OptionValues& values() const { return values_; }

  // OK: stores the values, or keeps the dialog open when the distance is
  // not an integer or the hits are no number in the range.
  void accept() override;

 private:
  void updateEnabled();
  void refuse(const QString& text, QLineEdit* edit);

  OptionValues values_;
  QLabel* distance_label_;
  QLineEdit* distance_edit_;
  QCheckBox* spaceless_box_;
  QCheckBox* unicode_box_;
  QLineEdit* limit_edit_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_OPTIONS_DIALOG_H_

#include "gui/options_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/message_box.h"
#include "gui/window_logic.h"

namespace moravine::gui {

OptionsDialog::OptionsDialog(bool spaceless, int distance, bool unicode, QWidget* parent)
    : QDialog(parent), spaceless_(spaceless), distance_(distance), unicode_(unicode) {
  setWindowTitle(QStringLiteral("Compression options"));
  setObjectName(QStringLiteral("options136"));
  setFont(DialogFont());
  DialogUnits du = DialogUnits::of(font());

  distance_label_ = new QLabel(QStringLiteral("Auxiliary pointer distance"), this);
  distance_label_->setObjectName(QStringLiteral("distanceLabel1023"));
  distance_label_->setGeometry(du.rect(7, 9, 82, 8).adjusted(0, -2, 0, 2));
  distance_edit_ = new QLineEdit(QString::number(distance), this);
  distance_edit_->setObjectName(QStringLiteral("distance1022"));
  distance_edit_->setGeometry(du.rect(102, 6, 50, 14));
  spaceless_box_ = new QCheckBox(QStringLiteral("Spaceless model"), this);
  spaceless_box_->setObjectName(QStringLiteral("spaceless1021"));
  spaceless_box_->setGeometry(du.rect(102, 25, 68, 10).adjusted(0, -2, 0, 2));
  spaceless_box_->setChecked(spaceless);
  unicode_box_ = new QCheckBox(QStringLiteral("Words of every script (Unicode)"), this);
  unicode_box_->setObjectName(QStringLiteral("unicode"));
  unicode_box_->setToolTip(QStringLiteral("Letters, marks and numbers of every script make words, so that they can "
                                          "be searched; the file also holds a checksum of its text"));
  unicode_box_->setGeometry(du.rect(7, 40, 172, 10).adjusted(0, -2, 0, 2));
  unicode_box_->setChecked(unicode);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("ok1"));
  ok_->setGeometry(du.rect(32, 59, 50, 14));
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancel2"));
  cancel_->setGeometry(du.rect(102, 59, 50, 14));

  connect(spaceless_box_, &QCheckBox::toggled, this, [this] { updateEnabled(); });
  connect(ok_, &QPushButton::clicked, this, &OptionsDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &OptionsDialog::reject);
  updateEnabled();
  setFixedSize(du.size(186, 80));
}

void OptionsDialog::updateEnabled() {
  bool editable = !spaceless_box_->isChecked();
  distance_edit_->setEnabled(editable);
  distance_label_->setEnabled(editable);
}

void OptionsDialog::accept() {
  // The check runs also while the edit is disabled.
  std::optional<int> value = ScanInteger(distance_edit_->text().left(63).toStdString());
  if (!value) {
    ShowMessageBox(this, MessageKind::kWarning, QStringLiteral("Please enter an integer."));
    distance_edit_->setFocus();
    distance_edit_->selectAll();
    return;
  }
  distance_ = *value;
  spaceless_ = spaceless_box_->isChecked();
  unicode_ = unicode_box_->isChecked();
  QDialog::accept();
}

}  // namespace moravine::gui

#include "gui/options_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/message_box.h"

namespace moravine::gui {

OptionsDialog::OptionsDialog(const OptionValues& values, QWidget* parent) : QDialog(parent), values_(values) {
  setWindowTitle(QStringLiteral("Options"));
  setObjectName(QStringLiteral("options136"));
  setFont(DialogFont());
  DialogUnits du = DialogUnits::of(font());

  distance_label_ = new QLabel(QStringLiteral("Auxiliary pointer distance"), this);
  distance_label_->setObjectName(QStringLiteral("distanceLabel1023"));
  distance_label_->setGeometry(du.rect(7, 9, 82, 8).adjusted(0, -2, 0, 2));
  distance_edit_ = new QLineEdit(QString::number(values.distance), this);
  distance_edit_->setObjectName(QStringLiteral("distance1022"));
  distance_edit_->setGeometry(du.rect(102, 6, 50, 14));
  spaceless_box_ = new QCheckBox(QStringLiteral("Spaceless model"), this);
  spaceless_box_->setObjectName(QStringLiteral("spaceless1021"));
  spaceless_box_->setGeometry(du.rect(102, 25, 68, 10).adjusted(0, -2, 0, 2));
  spaceless_box_->setChecked(values.spaceless);
  unicode_box_ = new QCheckBox(QStringLiteral("Words of every script (Unicode)"), this);
  unicode_box_->setObjectName(QStringLiteral("unicode"));
  unicode_box_->setToolTip(QStringLiteral("Letters, marks and numbers of every script make words, so that they can "
                                          "be searched; the file also holds a checksum of its text"));
  unicode_box_->setGeometry(du.rect(7, 40, 172, 10).adjusted(0, -2, 0, 2));
  unicode_box_->setChecked(values.unicode);
  auto* limit_label = new QLabel(QStringLiteral("Most hits in the list"), this);
  limit_label->setObjectName(QStringLiteral("resultLimitLabel"));
  limit_label->setGeometry(du.rect(7, 59, 90, 8).adjusted(0, -2, 0, 2));
  limit_edit_ = new QLineEdit(QString::number(values.result_limit), this);
  limit_edit_->setObjectName(QStringLiteral("resultLimit"));
  limit_edit_->setGeometry(du.rect(102, 56, 50, 14));
  limit_edit_->setToolTip(QStringLiteral("Hits past these many are counted, not listed"));
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("ok1"));
  ok_->setGeometry(du.rect(32, 78, 50, 14));
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancel2"));
  cancel_->setGeometry(du.rect(102, 78, 50, 14));

  connect(spaceless_box_, &QCheckBox::toggled, this, [this] { updateEnabled(); });
  connect(ok_, &QPushButton::clicked, this, &OptionsDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &OptionsDialog::reject);
  updateEnabled();
  setFixedSize(du.size(186, 99));
}

void OptionsDialog::updateEnabled() {
  bool editable = !spaceless_box_->isChecked();
  distance_edit_->setEnabled(editable);
  distance_label_->setEnabled(editable);
}

void OptionsDialog::refuse(const QString& text, QLineEdit* edit) {
  ShowMessageBox(this, MessageKind::kWarning, text);
  edit->setFocus();
  edit->selectAll();
}

void OptionsDialog::accept() {
  // The check runs also while the edit is disabled.
  frontend::OptionsReading reading =
      frontend::ReadOptions(distance_edit_->text().toStdString(), limit_edit_->text().toStdString(), &values_);
  if (reading.refused != frontend::OptionsReading::kNone) {
    return refuse(QString::fromStdString(reading.refusal),
                  reading.refused == frontend::OptionsReading::kDistance ? distance_edit_ : limit_edit_);
  }
  values_.spaceless = spaceless_box_->isChecked();
  values_.unicode = unicode_box_->isChecked();
  QDialog::accept();
}

}  // namespace moravine::gui

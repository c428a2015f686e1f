#include "gui/message_box.h"

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "gui/file_tree.h"
#include "gui/window_logic.h"

namespace moravine::gui {

bool ShowMessageBox(QWidget* parent, MessageKind kind, const QString& text, const QString& check) {
  QMessageBox::Icon icon = kind == MessageKind::kInformation ? QMessageBox::Information
                           : kind == MessageKind::kWarning   ? QMessageBox::Warning
                                                             : QMessageBox::Critical;
  QMessageBox box(icon, ProgramName(), text, QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("messageBox"));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  if (!check.isEmpty()) box.setCheckBox(new QCheckBox(check));
  box.exec();
  return box.checkBox() && box.checkBox()->isChecked();
}

bool AskQuestion(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, ProgramName(), text, QMessageBox::Yes | QMessageBox::No, parent);
  box.setObjectName(QStringLiteral("questionBox"));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("about100"));
  setWindowTitle(QStringLiteral("About Moravine"));
  setFont(DialogFont());
  DialogUnits du = DialogUnits::of(font());
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  icon->setGeometry(du.x(11), du.y(17), 32, 32);
  // The version text shows an ampersand as it is.
  auto* text = new QLabel(QString::fromLatin1(frontend::kVersionText), this);
  text->setObjectName(QStringLiteral("version"));
  text->setTextFormat(Qt::PlainText);
  text->setGeometry(du.rect(40, 10, 119, 8).adjusted(0, -2, 0, 2));
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ok1"));
  ok->setGeometry(du.rect(178, 7, 50, 16));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  setFixedSize(du.size(235, 55));
}

}  // namespace moravine::gui

// The program's message boxes: modal, titled "Moravine", with an OK button.
#ifndef MORAVINE_GUI_MESSAGE_BOX_H_
#define MORAVINE_GUI_MESSAGE_BOX_H_

#include <QDialog>
#include <QString>

#include "frontend/status_text.h"

class QWidget;

namespace moravine::gui {

enum class MessageKind { kInformation, kWarning, kError };

inline const QString& ProgramName() {
  static const QString name = QString::fromLatin1(frontend::kProgramName);
  return name;
}

// Shows the box and returns when the user has closed it. With a caption
// for a check box, the box offers one and tells whether the user ticked it.
bool ShowMessageBox(QWidget* parent, MessageKind kind, const QString& text, const QString& check = QString());

// A question with Yes and No (No the default, which Escape gives too);
// true when the user chose Yes.
bool AskQuestion(QWidget* parent, const QString& text);

// "About Moravine": the application icon, the version and OK.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_MESSAGE_BOX_H_

// The reader: a window with the decoded text around one hit, the hit
// highlighted, that decodes more of the file when the user scrolls to
// either end. Its title is the compressed file's path.
#ifndef MORAVINE_GUI_READER_WINDOW_H_
#define MORAVINE_GUI_READER_WINDOW_H_

#include <QWidget>

#include <memory>

#include "gui/window_logic.h"

class QTextEdit;

namespace moravine::gui {

class ReaderWindow : public QWidget {
  Q_OBJECT

 public:
  // `text` is open on the hit. The window deletes itself when closed.
  ReaderWindow(std::unique_ptr<HitText> text, const QString& path, QWidget* parent = nullptr);

  QTextEdit* view() const { return view_; }
  // The hit as the view highlights it.
  QString highlighted() const;
  const HitText& hitText() const { return *text_; }

  // Decodes more text before or after the shown text, keeping the view
  // where it is; what scrolling to either end does.
  void loadBefore();
  void loadAfter();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void highlightHit();
  void loadAtEdges();

  std::unique_ptr<HitText> text_;
  QTextEdit* view_;
  int hit_position_ = 0;  // in characters of the view's text
  int hit_length_ = 0;
  bool loading_ = false;
  bool centred_ = false;
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_READER_WINDOW_H_

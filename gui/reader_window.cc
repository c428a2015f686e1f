#include "gui/reader_window.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace moravine::gui {

namespace {

// A piece of the decoded text as the view holds it. The view makes one line
// break of "\r\n" and of a lone "\r"; the piece has them so already, so
// that positions in it are positions in the view.
QString FromBytes(const std::string& text, size_t from, size_t length) {
  QString piece = QString::fromUtf8(text.data() + from, static_cast<qsizetype>(length));
  QString out;
  out.reserve(piece.size());
  for (qsizetype i = 0; i < piece.size(); ++i) {
    if (piece[i] != u'\r') {
      out += piece[i];
    } else if (i + 1 < piece.size() && piece[i + 1] != u'\n') {
      out += u'\n';
    }
  }
  return out;
}

}  // namespace

ReaderWindow::ReaderWindow(std::unique_ptr<HitText> text, const QString& path, QWidget* parent)
    : QWidget(parent, Qt::Window), text_(std::move(text)) {
  setObjectName(QStringLiteral("reader"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(path);
  view_ = new QTextEdit(this);
  view_->setObjectName(QStringLiteral("readerText"));
  view_->setReadOnly(true);
  view_->setUndoRedoEnabled(false);
  view_->setAcceptRichText(false);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);

  const std::string& bytes = text_->text();
  view_->setPlainText(FromBytes(bytes, 0, bytes.size()));
  hit_position_ = static_cast<int>(FromBytes(bytes, 0, text_->hitStart()).size());
  hit_length_ = static_cast<int>(FromBytes(bytes, text_->hitStart(), text_->hitLength()).size());
  highlightHit();

  QFontMetrics metrics(view_->font());
  resize(metrics.horizontalAdvance(QLatin1Char('x')) * 84, metrics.lineSpacing() * 30);
  connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { loadAtEdges(); });
  connect(view_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { loadAtEdges(); });
}

void ReaderWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_) return;
  centred_ = true;
  // Once laid out at its size, the view puts the hit in its middle.
  QTimer::singleShot(0, this, [this] {
    QTextCursor hit(view_->document());
    hit.setPosition(hit_position_);
    view_->setTextCursor(hit);
    QScrollBar* bar = view_->verticalScrollBar();
    bar->setValue(bar->value() + view_->cursorRect(hit).center().y() - view_->viewport()->height() / 2);
    loadAtEdges();
  });
}

void ReaderWindow::highlightHit() {
  QTextEdit::ExtraSelection hit;
  hit.cursor = QTextCursor(view_->document());
  hit.cursor.setPosition(hit_position_);
  hit.cursor.setPosition(hit_position_ + hit_length_, QTextCursor::KeepAnchor);
  hit.format.setBackground(palette().color(QPalette::Highlight));
  hit.format.setForeground(palette().color(QPalette::HighlightedText));
  view_->setExtraSelections({hit});
}

QString ReaderWindow::highlighted() const {
  QList<QTextEdit::ExtraSelection> selections = view_->extraSelections();
  return selections.isEmpty() ? QString() : selections.front().cursor.selectedText();
}

void ReaderWindow::loadAtEdges() {
  // Text that does not fill the view cannot be scrolled: it grows at once.
  if (loading_ || !centred_) return;
  QScrollBar* bar = view_->verticalScrollBar();
  if (bar->value() == bar->minimum() && !text_->atStart()) {
    QTimer::singleShot(0, this, &ReaderWindow::loadBefore);
  } else if (bar->value() == bar->maximum() && !text_->atEnd()) {
    QTimer::singleShot(0, this, &ReaderWindow::loadAfter);
  }
}

void ReaderWindow::loadBefore() {
  if (loading_ || text_->atStart()) return;
  loading_ = true;
  size_t added = text_->extendBackward();
  if (added > 0) {
    // The line at the top stays at the top.
    QScrollBar* bar = view_->verticalScrollBar();
    QTextCursor top = view_->cursorForPosition(QPoint(0, 0));
    int offset = view_->cursorRect(top).top();
    QString piece = FromBytes(text_->text(), 0, added);
    QTextCursor start(view_->document());
    start.insertText(piece, QTextCharFormat());
    hit_position_ += static_cast<int>(piece.size());
    highlightHit();
    // `top` moved along with the insertion.
    bar->setValue(bar->value() + view_->cursorRect(top).top() - offset);
  }
  loading_ = false;
  loadAtEdges();
}

void ReaderWindow::loadAfter() {
  if (loading_ || text_->atEnd()) return;
  loading_ = true;
  const std::string& bytes = text_->text();
  size_t before = bytes.size();
  size_t added = text_->extendForward();
  if (added > 0) {
    QTextCursor end(view_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(FromBytes(text_->text(), before, added), QTextCharFormat());
  }
  loading_ = false;
  loadAtEdges();
}

}  // namespace moravine::gui

// The window driven through its widgets on Qt's offscreen platform: the
// start-up state, the keyboard, the layout as the window grows, the options
// dialog, whole batches with the real jobs and agrep, the reader, errors
// during a batch, the refusals, Cancel, closing during a batch, and
// start-up without agrep.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

#include "codec/compress.h"
#include "frontend/status_text.h"
#include "gui/file_tree.h"
#include "gui/main_window.h"
#include "gui/options_dialog.h"
#include "gui/reader_window.h"
#include "gui/results_model.h"

using moravine::gui::MainWindow;
using moravine::gui::OptionsDialog;

namespace {

struct SeenBox {
  QMessageBox::Icon icon;
  QString text;
};

// Closes every modal message box as soon as it shows, recording it; other
// modal dialogs go to `dialogs`, which must close them.
class BoxCloser : public QObject {
 public:
  explicit BoxCloser(std::function<void(QWidget*)> dialogs = {}, bool running = true)
      : dialogs_(std::move(dialogs)) {
    connect(&timer_, &QTimer::timeout, this, &BoxCloser::poll);
    if (running) start();
  }
  // A closer whose own poll waits in a box's handler needs another, started
  // there, for the boxes shown meanwhile.
  void start() { timer_.start(5); }
  void stop() { timer_.stop(); }
  std::function<void(QMessageBox*)> before_close;
  bool tick_check_box = false;
  // How a question (Yes or No) is answered.
  QMessageBox::StandardButton answer = QMessageBox::Yes;
  QList<SeenBox> boxes;
  QStringList texts() const {
    QStringList list;
    for (const SeenBox& b : boxes) list << b.text;
    return list;
  }

 private:
  void poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes.append({box->icon(), box->text()});
      if (before_close) before_close(box);
      if (tick_check_box && box->checkBox()) box->checkBox()->setChecked(true);
      QAbstractButton* ok = box->button(QMessageBox::Ok);
      (ok ? ok : box->button(answer))->click();
    } else if (dialogs_) {
      dialogs_(modal);
    }
  }
  QTimer timer_;
  std::function<void(QWidget*)> dialogs_;
};

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A folder of `files` compressed files with `hits` hits of "whale" each,
// written by the codec straight away.
void WriteFlood(const QString& dir, int files, int hits) {
  QByteArray text;
  for (int i = 0; i < hits; ++i) text += "the whale and the sea " + QByteArray::number(i % 97) + "\n";
  HBuffer archive;
  int32_t length = 0;
  Huffw_spaceless_compress(reinterpret_cast<const unsigned char*>(text.constData()),
                           static_cast<int32_t>(text.size()), &archive, &length, 0);
  QDir().mkpath(dir);
  QByteArray bytes(reinterpret_cast<const char*>(archive.get()), length);
  for (int i = 0; i < files; ++i) WriteFile(dir + QStringLiteral("/%1.txt.hwz").arg(i, 2, 10, QLatin1Char('0')), bytes);
}

const QByteArray kTextA = "the quick brown fox jumps over the lazy dog\nand another fox runs far away\n";
const QByteArray kTextB = "nothing to see here but words and more words\n";
const QByteArray kTextC = "alpha beta gamma fox delta epsilon zeta eta\n";

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  QTemporaryDir log_dir_;
  QTemporaryDir state_dir_;
  QString path(const QString& name) const { return dir_->filePath(name); }
  QString log() const { return log_dir_.filePath(QStringLiteral("Moravine.log")); }

  std::unique_ptr<MainWindow> open(const QString& start,
                                   moravine::gui::WindowSettings settings = moravine::gui::WindowSettings()) {
    settings.start_path = start;
    settings.log_folder = log_dir_.path();
    settings.state_folder = state_dir_.path();
    settings.settings_file = state_dir_.filePath(QStringLiteral("window.conf"));
    auto window = std::make_unique<MainWindow>(settings);
    window->show();
    return window;
  }
  template <typename T>
  static T* find(MainWindow& w, const char* name) {
    T* widget = w.findChild<T*>(QString::fromLatin1(name));
    if (!widget) qFatal("no widget %s", name);
    return widget;
  }
  static QString status(MainWindow& w) { return find<QLabel>(w, "status1015")->text(); }
  static void click(MainWindow& w, const char* name) {
    QTest::mouseClick(find<QPushButton>(w, name), Qt::LeftButton);
  }
  QTreeWidgetItem* viewItem(MainWindow& w, const QString& file) {
    moravine::TreeItem* item = w.model().FindItemByPath(file.toStdString());
    return item ? w.fileTree()->viewItem(item) : nullptr;
  }
  int picture(MainWindow& w, const QString& file) {
    moravine::TreeItem* item = w.model().FindItemByPath(file.toStdString());
    return item ? w.fileTree()->pictureOf(item) : -1;
  }
  void select(MainWindow& w, const QString& file) {
    QTreeWidgetItem* item = viewItem(w, file);
    QVERIFY2(item, qPrintable(file));
    w.fileTree()->setCurrentItem(item);
  }
  static bool finished(MainWindow& w) { return !w.busy() && status(w).startsWith(QLatin1String("Finished")); }
  static QString cell(MainWindow& w, int row, int column) {
    return w.results()->index(row, column).data().toString();
  }
  void search(MainWindow& w, const QString& word, const QString& errors = QString()) {
    find<QLineEdit>(w, "searchWord1017")->setText(word);
    find<QLineEdit>(w, "allowErrors1016")->setText(errors);
    click(w, "search1011");
  }

 private slots:
  void initTestCase() {
    // The jobs run our agrep through PATH.
    qputenv("PATH", QByteArray(MORAVINE_AGREP_DIR) + ":" + qgetenv("PATH"));
  }

  void init() {
    QFile::remove(state_dir_.filePath(QStringLiteral("window.conf")));
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QDir(dir_->path()).mkdir(QStringLiteral("sub"));
    WriteFile(path(QStringLiteral("sub/inner.txt")), "inner words\n");
    WriteFile(path(QStringLiteral("a.txt")), kTextA);
    WriteFile(path(QStringLiteral("b.txt")), kTextB);
    WriteFile(path(QStringLiteral("c.txt")), kTextC);
  }

  void startUpState() {
    WriteFile(log(), "left from an earlier run\n");
    WriteFile(path(QStringLiteral("d.hwz")), "x");
    WriteFile(path(QStringLiteral("c.txt.hwz")), "x");
    auto w = open(dir_->path());
    for (QPushButton* button : w->findChildren<QPushButton*>()) {
      QCOMPARE(button->isEnabled(), button->objectName() != "cancel1012");
      QVERIFY(!button->isDefault());  // Enter presses no button of its own accord
    }
    // The status line names the selection until a batch speaks.
    QCOMPARE(status(*w), "Selected: " + dir_->path());
    QProgressBar* bar = find<QProgressBar>(*w, "progress1014");
    QVERIFY(bar->maximum() > bar->minimum());  // 0..0 would be the busy animation

    // The tree: read down to the folder, which is selected; one item per
    // file with the picture of the versions it has, folders first.
    QCOMPARE(w->fileTree()->currentItem(), viewItem(*w, dir_->path()));
    QTreeWidgetItem* folder = viewItem(*w, dir_->path());
    QStringList shown;
    for (int i = 0; i < folder->childCount(); ++i) {
      if (!folder->child(i)->isHidden()) shown << folder->child(i)->text(0);
    }
    QCOMPARE(shown, (QStringList{"sub", "a.txt", "b.txt", "c.txt", "d.hwz"}));
    QCOMPARE(picture(*w, path("c.txt")), int(moravine::IMG_BOTH));
    QCOMPARE(picture(*w, path("d.hwz")), int(moravine::IMG_COMPRESSED));
    // Drawn for dense screens too: the 32-pixel picture is no blown-up 16.
    QIcon both = viewItem(*w, path("c.txt"))->icon(0);
    for (int size : {16, 32}) {
      QCOMPARE(both.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32),
               QImage(QStringLiteral(":/icons/both-%1.png").arg(size)).convertToFormat(QImage::Format_ARGB32));
    }
    QCOMPARE(w->logPath(), log());
    QVERIFY(!ReadFile(log()).contains("earlier run"));
  }

  // The tree opens folders by a double click, the arrow keys and Enter;
  // Enter does not close the window.
  void treeOpensFoldersOnDemand() {
    QDir(dir_->path()).mkpath(QStringLiteral("sub/deeper"));
    auto w = open(dir_->path());
    QTreeWidgetItem* sub = viewItem(*w, path("sub"));
    // Not read yet: the placeholder is not shown, but the item can open.
    QCOMPARE(sub->childCount(), 0);
    QCOMPARE(sub->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QTreeWidget* tree = w->fileTree();
    tree->setCurrentItem(sub);
    tree->scrollToItem(sub);  // a busy temporary folder may push it out of view
    // A double click as the window system delivers it: a click, then a
    // press that comes as a double click.
    // On the item's text near its start: a deep temporary folder pushes the
    // item's middle past the right edge of the view.
    QRect rect = tree->visualItemRect(sub);
    QPoint at(std::min(rect.left() + 8, tree->viewport()->width() - 1), rect.center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(sub->isExpanded());
    QTreeWidgetItem* inner = viewItem(*w, path("sub/inner.txt"));
    QVERIFY(inner && !inner->isHidden());

    WriteFile(path("sub/deeper/x.txt"), "x\n");
    QTreeWidgetItem* deeper = viewItem(*w, path("sub/deeper"));
    tree->setFocus();
    tree->setCurrentItem(deeper);
    QTest::keyClick(tree, Qt::Key_Return);
    QVERIFY(deeper->isExpanded());
    QVERIFY(viewItem(*w, path("sub/deeper/x.txt")));
    QTest::keyClick(tree, Qt::Key_Enter);
    QVERIFY(!deeper->isExpanded());
    tree->setCurrentItem(inner);
    QTest::keyClick(tree, Qt::Key_Return);
    QVERIFY(w->isVisible());
  }

  // Enter in either box searches when Search is enabled, and the window
  // stays; elsewhere Enter does nothing. Escape closes the window only when
  // both boxes are empty and no batch runs.
  void enterSearchesAndEscapeCloses() {
    auto w = open(dir_->path());
    BoxCloser closer;
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    for (const char* box : {"searchWord1017", "allowErrors1016"}) {
      w->results()->clear();
      find<QLineEdit>(*w, "searchWord1017")->setText(QStringLiteral("fox"));
      QLineEdit* edit = find<QLineEdit>(*w, box);
      edit->setFocus();
      QTest::keyClick(edit, Qt::Key_Return);
      QVERIFY(w->isVisible());
      QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
      QCOMPARE(w->results()->rowCount(), 3);
    }
    QTest::keyClick(find<QProgressBar>(*w, "progress1014"), Qt::Key_Return);
    QVERIFY(w->isVisible());
    QCOMPARE(closer.texts(), QStringList());

    QTest::keyClick(find<QLineEdit>(*w, "searchWord1017"), Qt::Key_Escape);
    QVERIFY(w->isVisible());  // "fox" is in the box
    find<QLineEdit>(*w, "searchWord1017")->clear();
    WriteFile(path("new.txt"), kTextB);  // what the next Compress does
    w->core().jobLock().lock();  // a batch that waits
    click(*w, "compress1008");
    QVERIFY(w->core().batchRunning());
    QTest::keyClick(w.get(), Qt::Key_Escape);
    QVERIFY(w->isVisible());
    w->core().jobLock().unlock();
    QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), 20000);
    QTest::keyClick(w.get(), Qt::Key_Escape);
    QVERIFY(!w->isVisible());
  }

  // Growing the window grows the tree and the list; the size, the splitter
  // and the column widths come back at the next start. Less than the
  // dialog's size it cannot be.
  void resizingGrowsTheListAndIsRemembered() {
    auto w = open(dir_->path());
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTreeView* list = find<QTreeView>(*w, "results1005");
    QTreeWidget* tree = w->fileTree();
    QSize least = w->minimumSize();
    w->resize(least);
    QTRY_COMPARE(w->size(), least);
    QSize list_before = list->size();
    QSize tree_before = tree->size();
    w->resize(least + QSize(400, 300));
    // The tree, squeezed at the least size, may take back some of the width.
    QTRY_VERIFY(list->width() + tree->width() >= list_before.width() + tree_before.width() + 400 - 10);
    QVERIFY(list->width() > list_before.width() + 100);
    QVERIFY(list->height() >= list_before.height() + 300 - 10);
    QVERIFY(tree->height() >= tree_before.height() + 300 - 10);
    // The buttons keep their places: Help and Exit at the right edge, over
    // the list's right end; the search row between buttons and list.
    QRect help = find<QPushButton>(*w, "help57670")->geometry();
    QCOMPARE(help.right(), list->geometry().right());
    QVERIFY(find<QLineEdit>(*w, "searchWord1017")->geometry().bottom() < list->geometry().top());
    QVERIFY(tree->mapTo(w.get(), QPoint(tree->width(), 0)).x() < list->mapTo(w.get(), QPoint(0, 0)).x());

    auto* splitter = w->findChild<QSplitter*>(QStringLiteral("splitter"));
    splitter->setSizes({300, splitter->width() - 300});
    list->header()->resizeSection(0, 222);
    QList<int> sizes = splitter->sizes();
    QSize size = w->size();
    click(*w, "exit1");
    QVERIFY(!w->isVisible());
    w = open(dir_->path());
    QTRY_COMPARE(w->size(), size);
    QCOMPARE(w->findChild<QSplitter*>(QStringLiteral("splitter"))->sizes(), sizes);
    QCOMPARE(find<QTreeView>(*w, "results1005")->header()->sectionSize(0), 222);
    w->resize(100, 100);
    QTRY_COMPARE(w->size(), least);
  }

  // OK keeps the dialog open until the distance is an integer and the hits
  // a number in range. The most hits listed last from run to run; a stored
  // value out of range gives the default.
  void optionsDialog() {
    auto w = open(QString());
    QCOMPARE(w->resultLimit(), 100000);
    const QStringList entries[] = {{" -x", "2500"}, {"-5abc", "0"}, {"-5abc", "1000001"}, {"-5abc", " 2500 rows"}};
    int step = 0;
    BoxCloser driver([&](QWidget* modal) {
      auto* options = qobject_cast<OptionsDialog*>(modal);
      if (!options || step >= int(std::size(entries))) return;
      auto* edit = options->findChild<QLineEdit*>("distance1022");
      auto* check = options->findChild<QCheckBox*>("spaceless1021");
      auto* limit = options->findChild<QLineEdit*>("resultLimit");
      if (step == 0) {
        QVERIFY(check->isChecked() && !edit->isEnabled());
        QCOMPARE(limit->text(), QStringLiteral("100000"));
        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(edit->isEnabled());
      }
      edit->setText(entries[step][0]);
      limit->setText(entries[step++][1]);
      QTimer::singleShot(0, options->findChild<QPushButton*>("ok1"), &QPushButton::click);
    });
    click(*w, "options1010");
    const QString range = QStringLiteral("Please enter a number of hits from 1 to 1,000,000.");
    QCOMPARE(driver.texts(), (QStringList{"Please enter an integer.", range, range}));
    QCOMPARE(w->core().pointerDistance(), -5);
    QVERIFY(!w->core().spacelessModel());
    QCOMPARE(w->resultLimit(), 2500);
    click(*w, "exit1");

    w = open(QString());
    QCOMPARE(w->resultLimit(), 2500);
    click(*w, "exit1");
    QSettings(state_dir_.filePath(QStringLiteral("window.conf")), QSettings::IniFormat)
        .setValue(QStringLiteral("results/limit"), QStringLiteral("lots"));
    QCOMPARE(open(QString())->resultLimit(), 100000);
  }

  void unicodeModelIsRemembered() {
    {
      auto w = open(QString());
      QVERIFY(!w->core().unicodeModel());
      BoxCloser driver([](QWidget* modal) {
        auto* options = qobject_cast<OptionsDialog*>(modal);
        if (!options) return;
        QTest::mouseClick(options->findChild<QCheckBox*>("unicode"), Qt::LeftButton);
        QTimer::singleShot(0, options->findChild<QPushButton*>("ok1"), &QPushButton::click);
      });
      click(*w, "options1010");
      QVERIFY(w->core().unicodeModel());
    }
    auto again = open(QString());
    QVERIFY(again->core().unicodeModel());
    BoxCloser driver([](QWidget* modal) {
      auto* options = qobject_cast<OptionsDialog*>(modal);
      if (!options) return;
      QVERIFY(options->findChild<QCheckBox*>("unicode")->isChecked());
      QTest::mouseClick(options->findChild<QCheckBox*>("unicode"), Qt::LeftButton);
      QTimer::singleShot(0, options->findChild<QPushButton*>("ok1"), &QPushButton::click);
    });
    click(*again, "options1010");
    QVERIFY(!again->core().unicodeModel());
  }

  void compressSearchDecompress() {
    auto w = open(dir_->path());
    BoxCloser closer;
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    for (const char* name : {"a.txt", "b.txt", "c.txt", "sub/inner.txt"}) QVERIFY(QFile::exists(path(name) + ".hwz"));
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) QCOMPARE(picture(*w, path(name)), int(moravine::IMG_BOTH));
    QVERIFY(find<QPushButton>(*w, "search1011")->isEnabled());
    QVERIFY(!find<QPushButton>(*w, "cancel1012")->isEnabled());

    // Search, exactly and with an error: every file's rows stay together in
    // the order of their positions, the file searched last on top. Each row
    // knows its compressed file.
    QStringList searched;
    connect(w.get(), &MainWindow::statusChanged, this, [&](const QString& text) {
      if (text.startsWith("Searching /")) searched << QFileInfo(text.chopped(3)).completeBaseName();
    });
    for (const auto& [word, errors] : {std::pair{"fox", ""}, std::pair{"fux", "1"}}) {
      searched.clear();
      search(*w, QString::fromLatin1(word), QString::fromLatin1(errors));
      QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
      QCOMPARE(w->results()->rowCount(), 3);
      QStringList files;
      for (int i = 0; i < 3; ++i) {
        QCOMPARE(cell(*w, i, 3), QStringLiteral("fox"));
        files << cell(*w, i, 0);
        QCOMPARE(QString::fromStdString(w->results()->at(i).path), path(files.back() + ".hwz"));
      }
      searched.removeAll("b.txt");
      searched.removeAll("inner.txt");
      QCOMPARE(files, searched.back() == "a.txt" ? (QStringList{"a.txt", "a.txt", "c.txt"})
                                                 : (QStringList{"c.txt", "a.txt", "a.txt"}));
      int first_a = files.indexOf("a.txt");
      QVERIFY(cell(*w, first_a, 1).toInt() < cell(*w, first_a + 1, 1).toInt());
      int c = files.indexOf("c.txt");
      QCOMPARE(cell(*w, c, 2).trimmed(), QStringLiteral("alpha beta gamma"));
      QVERIFY(cell(*w, c, 4).trimmed().startsWith(QStringLiteral("delta epsilon")));
      QVERIFY(w->results()->index(c, 0).data(Qt::ToolTipRole).toString().contains(path("c.txt.hwz")));
    }

    // The tree follows the jobs: removing the originals leaves the items of
    // the compressed files.
    click(*w, "removeOriginal1020");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QVERIFY(!QFile::exists(path("a.txt")));
    QCOMPARE(picture(*w, path("a.txt.hwz")), int(moravine::IMG_COMPRESSED));
    QCOMPARE(closer.boxes.size(), 0);
  }

  // "Ignore case" finds the word in capitals; a phrase typed into the box
  // is searched as one.
  void ignoreCaseAndPhrases() {
    WriteFile(path(QStringLiteral("whale.txt")), "Call me Ishmael. THE WHALE\nthe white whale swam on\n");
    auto w = open(dir_->path());
    BoxCloser closer;
    select(*w, path(QStringLiteral("whale.txt")));
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    search(*w, QStringLiteral("whale"));
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(w->results()->rowCount(), 1);
    find<QCheckBox>(*w, "ignoreCase")->setChecked(true);
    search(*w, QStringLiteral("whale"));
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(w->results()->rowCount(), 2);
    QCOMPARE(cell(*w, 0, 3), QStringLiteral("WHALE"));
    search(*w, QStringLiteral("white whale"));
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(w->results()->rowCount(), 1);
    QCOMPARE(cell(*w, 0, 3), QStringLiteral("white whale"));
    QCOMPARE(closer.boxes.size(), 0);
  }

  // A double click or Enter on a hit opens the reader on the text around
  // it, with the hit highlighted; scrolling to the top decodes more.
  void readerOpensOnAHit() {
    QByteArray text;
    for (int i = 0; i < 400; ++i) text += "Line " + QByteArray::number(i) + " of the long tale\r\n";
    text += "and here the whale shows itself at last\r\n";
    for (int i = 400; i < 800; ++i) text += "Line " + QByteArray::number(i) + " of the long tale\r\n";
    QDir(dir_->path()).mkdir(QStringLiteral("tale"));
    WriteFile(path("tale/tale.txt"), text);
    auto w = open(path("tale"));
    BoxCloser closer;
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    search(*w, QStringLiteral("whale"));
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(w->results()->rowCount(), 1);

    QTreeView* list = find<QTreeView>(*w, "results1005");
    QModelIndex hit = w->results()->index(0, 3);
    QPoint at = list->visualRect(hit).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    auto* reader = w->findChild<moravine::gui::ReaderWindow*>();
    QVERIFY(reader && reader->isVisible());
    QCOMPARE(reader->windowTitle(), path("tale/tale.txt.hwz"));
    QCOMPARE(reader->highlighted(), QStringLiteral("whale"));
    QString shown = reader->view()->toPlainText();
    QVERIFY(shown.contains("and here the whale shows itself at last\nLine 400 of"));
    // A few kilobytes either side, not the whole file.
    QVERIFY(!shown.contains("Line 0 of") && !shown.contains("Line 799 of"));
    QVERIFY(!reader->hitText().atStart() && !reader->hitText().atEnd());

    QScrollBar* bar = reader->view()->verticalScrollBar();
    QTRY_VERIFY(bar->value() > bar->minimum());  // centred on the hit
    for (int i = 0; i < 20 && !reader->hitText().atStart(); ++i) {
      bar->setValue(bar->minimum());
      QTRY_VERIFY(reader->hitText().atStart() || bar->value() > bar->minimum());
    }
    QVERIFY(reader->hitText().atStart());
    QVERIFY(reader->view()->toPlainText().startsWith("Line 0 of the long tale\nLine 1 of"));
    QCOMPARE(reader->highlighted(), QStringLiteral("whale"));
    reader->close();

    // Enter on the row opens one too, and the window stays.
    list->setFocus();
    list->setCurrentIndex(hit);
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(w->isVisible());
    QTRY_VERIFY(w->findChild<moravine::gui::ReaderWindow*>());
    QCOMPARE(closer.boxes.size(), 0);
  }

  // Each error box names its file; after "Do not show again during this
  // batch" the batch's errors go to the log only, and "Finished" counts
  // the files that failed. The next batch shows its errors again.
  void errorsNameTheirFileAndCanBeSilenced() {
    for (const char* name : {"e1.txt", "e2.txt", "e3.txt"}) WriteFile(path(name), "");
    auto w = open(dir_->path());
    BoxCloser closer;
    closer.tick_check_box = true;
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes[0].icon, QMessageBox::Critical);
    QVERIFY(closer.boxes[0].text.startsWith(path("e")));
    QVERIFY(closer.boxes[0].text.contains("Error creating file mapping."));
    QCOMPARE(status(*w), QStringLiteral("Finished: 3 files failed (see the log file)"));
    QByteArray logged = ReadFile(log());
    for (const char* name : {"e1.txt", "e2.txt", "e3.txt"}) {
      QVERIFY2(logged.contains(path(name).toUtf8() + " Error creating file mapping."), name);
    }

    closer.tick_check_box = false;
    select(*w, path("e1.txt"));
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(closer.boxes.size(), 2);
    QCOMPARE(status(*w), QStringLiteral("Finished: 1 file failed (see the log file)"));
    select(*w, dir_->path());
    search(*w, QStringLiteral("fox"));
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(status(*w), QStringLiteral("Finished: 3 hits in 2 of 4 files searched"));
  }

  // A folder with nothing for the command says so; no batch runs.
  void nothingToDo() {
    auto w = open(dir_->path());
    BoxCloser closer;
    select(*w, path("sub"));
    click(*w, "search1011");  // the word is checked first
    search(*w, QStringLiteral("fox"));
    QCOMPARE(status(*w), QStringLiteral("Nothing to search: no compressed file below the selected folder"));
    QVERIFY(!find<QPushButton>(*w, "cancel1012")->isEnabled());
    QVERIFY(find<QPushButton>(*w, "search1011")->isEnabled());
    QVERIFY(!w->busy());
    QCOMPARE(closer.texts(), QStringList{"Please type the word to search for in \"Search word\"."});
  }

  void refusals_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing selected") << QString() << "compress1008" << "No file or directory selected";
    QTest::newRow("decompress plain") << "a.txt" << "decompress1009" << "The selected file is not compressed";
    QTest::newRow("remove compressed without original")
        << "d.hwz" << "removeCompressed1013" << "The selected file does not have an uncompressed version";
    QTest::newRow("compress both") << "c.txt" << "compress1008" << "The selected file is compressed";
    QTest::newRow("search without a word") << "c.txt" << "search1011"
                                           << "Please type the word to search for in \"Search word\".";
  }
  void refusals() {
    QFETCH(QString, file);
    QFETCH(QString, button);
    QFETCH(QString, text);
    WriteFile(path("d.hwz"), "x");
    WriteFile(path("c.txt.hwz"), "x");
    auto w = open(file.isEmpty() ? QString() : dir_->path());
    if (file.isEmpty()) {
      w->fileTree()->clearSelection();
    } else {
      select(*w, path(file));
    }
    BoxCloser closer;
    click(*w, button.toLatin1().constData());
    QCOMPARE(closer.texts(), QStringList{text});
    QCOMPARE(closer.boxes[0].icon, QMessageBox::Information);
    QVERIFY(!w->busy());
    QCOMPARE(status(*w), file.isEmpty() ? QStringLiteral("Select a file or directory") : "Selected: " + path(file));
    QVERIFY(!find<QPushButton>(*w, "cancel1012")->isEnabled());
  }

  void cancelLeavesWaitingFilesAlone() {
    auto w = open(dir_->path());
    // Held here, the job lock keeps every job of the batch waiting.
    w->core().jobLock().lock();
    click(*w, "compress1008");
    QProgressBar* bar = find<QProgressBar>(*w, "progress1014");
    QCOMPARE(bar->maximum(), 4);  // a, b, c and inner
    for (QPushButton* button : w->findChildren<QPushButton*>()) {
      bool stays = button->objectName() == "options1010" || button->objectName() == "viewLog1021" ||
                   button->objectName() == "help57670" || button->objectName() == "cancel1012" ||
                   button->objectName() == "about";
      QCOMPARE(button->isEnabled(), stays);
    }
    // Search is disabled: Enter in the box starts nothing. Enter on a
    // focused button presses it.
    QTest::keyClick(find<QLineEdit>(*w, "searchWord1017"), Qt::Key_Enter);
    QCOMPARE(status(*w), QStringLiteral("Compressing..."));
    QTest::keyClick(find<QPushButton>(*w, "cancel1012"), Qt::Key_Return);
    // The waiting files are done with at once; a job that a worker took
    // ends as soon as it has the job lock.
    QVERIFY(status(*w) == "Cancelling..." || status(*w) == "Cancelled after 0 of 4 files");
    QVERIFY(!find<QPushButton>(*w, "cancel1012")->isEnabled());
    w->core().jobLock().unlock();
    QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), 20000);
    QCOMPARE(status(*w), QStringLiteral("Cancelled after 0 of 4 files"));
    QCOMPARE(QDir(dir_->path()).entryList({"*.hwz"}, QDir::Files), QStringList());
    QCOMPARE(bar->value(), bar->minimum());
    QVERIFY(find<QPushButton>(*w, "exit1")->isEnabled());
  }

  // Past the limit, hits are counted and get no row: the list never holds
  // more, and the status line tells how many were found.
  void theListStopsAtItsLimit() {
    WriteFlood(path("flood"), 30, 20000);
    auto w = open(path("flood"));
    BoxCloser closer;
    w->setResultLimit(1000);
    int most = 0;
    connect(w->results(), &QAbstractItemModel::rowsInserted, this,
            [&] { most = std::max(most, w->results()->rowCount()); });
    search(*w, QStringLiteral("whale"));
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(status(*w), QStringLiteral("Finished: 600,000 hits in 30 of 30 files searched; the first 1,000 are shown"));
    QCOMPARE(most, 1000);
    QCOMPARE(w->results()->rowCount(), 1000);
    // The first file searched had room for all of them, with their contexts.
    for (int row : {0, 999}) {
      QCOMPARE(cell(*w, row, 0), cell(*w, 0, 0));
      QCOMPARE(cell(*w, row, 3), QStringLiteral("whale"));
      QVERIFY(cell(*w, row, 4).startsWith(QStringLiteral("and the sea")));
    }

    search(*w, QStringLiteral("ocean"));
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(status(*w), QStringLiteral("Finished: no hits in 30 files searched"));
    QCOMPARE(closer.boxes.size(), 0);
  }

  // Cancel, clicked while hits come faster than the list takes them, ends
  // the batch at once: the files not begun are done with, the running
  // search stops, and the rows on their way to the list are dropped.
  void cancelEndsAFloodOfHits() {
    WriteFlood(path("flood"), 200, 10000);
    auto w = open(path("flood"));
    BoxCloser closer;
    w->setResultLimit(1000000);
    // A list slow to take rows, as a large list and its painting make it:
    // the jobs get well ahead of it.
    connect(w->results(), &QAbstractItemModel::rowsInserted, this,
            [] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); });
    search(*w, QStringLiteral("whale"));
    QTRY_VERIFY_WITH_TIMEOUT(w->results()->rowCount() > 0, 20000);
    QElapsedTimer clock;
    clock.start();
    // Posted, as a click comes: among the window's other events.
    QMetaObject::invokeMethod(find<QPushButton>(*w, "cancel1012"), &QPushButton::click, Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), 60000);
    const qint64 took = clock.elapsed();
    QVERIFY2(took < 10000, qPrintable(QStringLiteral("the batch ended %1 ms after Cancel").arg(took)));
    QVERIFY2(QRegularExpression(QStringLiteral("^Cancelled after \\d+ of 200 files; [\\d,]+ hits are shown$"))
                 .match(status(*w))
                 .hasMatch(),
             qPrintable(status(*w)));
    QVERIFY(w->results()->rowCount() < 200 * 10000);
    QVERIFY(find<QPushButton>(*w, "search1011")->isEnabled() && find<QPushButton>(*w, "exit1")->isEnabled());
    QVERIFY(!find<QPushButton>(*w, "cancel1012")->isEnabled());
    QCOMPARE(closer.boxes.size(), 0);
  }

  // The close button asks first while a batch runs: No leaves the window
  // and the batch alone; Yes closes it once the batch has ended.
  void closingDuringABatchAsksFirst() {
    // The empty file makes its job show an error box; the window is asked
    // to close while that job waits for the user.
    WriteFile(path("0-empty.txt"), "");
    auto w = open(dir_->path());
    BoxCloser closer;
    closer.answer = QMessageBox::No;
    w->core().jobLock().lock();
    click(*w, "compress1008");
    w->close();
    QVERIFY(w->isVisible() && w->core().batchRunning());
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes[0].icon, QMessageBox::Question);
    QCOMPARE(closer.boxes[0].text, QString::fromLatin1(moravine::frontend::kCloseDuringBatch));

    bool visible_after_close = false;
    BoxCloser asker({}, false);
    closer.before_close = [&](QMessageBox* box) {
      if (box->icon() != QMessageBox::Critical || !asker.boxes.empty()) return;
      asker.start();
      w->close();
      visible_after_close = w->isVisible();
      asker.stop();
    };
    w->core().jobLock().unlock();
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 20000);
    QVERIFY(visible_after_close);
    QCOMPARE(asker.boxes.size(), 1);
    QCOMPARE(asker.boxes[0].icon, QMessageBox::Question);
    QCOMPARE(closer.boxes.size(), 2);  // the first question, and the error box
    QCOMPARE(closer.boxes[1].icon, QMessageBox::Critical);
    QVERIFY(!w->busy());
    // Whatever was compressed is complete; nothing else lies about.
    QDir dir(dir_->path());
    for (const QString& name : dir.entryList(QDir::Files)) {
      QVERIFY(name.endsWith(".hwz") ? ReadFile(dir.filePath(name)).size() > 0 : !name.contains(".tmp"));
    }
  }

  void withoutAgrep() {
    QByteArray saved = qgetenv("PATH");
    qputenv("PATH", "");
    BoxCloser closer;
    auto w = open(dir_->path());
    qputenv("PATH", saved);
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(closer.boxes[0].text,
             QStringLiteral("agrep not found\n\nPlease make sure that the agrep installed with Moravine lies beside "
                            "moravine-gui in %1, or that an agrep is reachable through your PATH.\nWithout agrep you "
                            "will not be able to search.")
                 .arg(QCoreApplication::applicationDirPath()));
    QVERIFY(!find<QPushButton>(*w, "search1011")->isEnabled());
    select(*w, path("b.txt"));
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QVERIFY(!find<QPushButton>(*w, "search1011")->isEnabled());
  }

  void logViewerFailure() {
    moravine::gui::WindowSettings settings;
    settings.log_viewer.open_url = [](const QUrl&) { return false; };
    settings.log_viewer.start_detached = [](const QString&, const QStringList&) { return false; };
    settings.log_viewer.environment = [](const char* name) { return QString::fromLatin1(name).toLower(); };
    auto w = open(QString(), settings);
    BoxCloser closer;
    click(*w, "viewLog1021");
    QCOMPARE(closer.texts(), QStringList{"Error running editor. You can find Moravine.log in " + log_dir_.path() + "."});
  }

  // Until a batch speaks, the status line names the selection. "Allow
  // errors" takes digits alone and says so when it refuses a key.
  void statusFollowsTheSelectionAndAllowErrorsTakesDigits() {
    auto w = open(dir_->path());
    select(*w, path("b.txt"));
    QCOMPARE(status(*w), "Selected: " + path("b.txt"));
    w->fileTree()->setCurrentItem(nullptr);
    QCOMPARE(status(*w), QStringLiteral("Select a file or directory"));
    select(*w, path("b.txt"));
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    select(*w, path("a.txt"));
    QCOMPARE(status(*w), QStringLiteral("Finished"));  // the batch's word stays

    QLineEdit* errors = find<QLineEdit>(*w, "allowErrors1016");
    errors->setFocus();
    QTest::keyClicks(errors, "1x");
    QCOMPARE(errors->text(), QStringLiteral("1"));
    QTRY_COMPARE(QToolTip::text(), QString::fromLatin1(moravine::frontend::kAllowErrorsDigitsOnly));
    QTest::keyClicks(errors, "2-3 4");
    QCOMPARE(errors->text(), QStringLiteral("123"));  // three digits at most: 998 is the most
  }

  // Compress on a folder again leaves out, silently, the files whose
  // compressed version is up to date, and redoes an edited one.
  void compressAgainDoesOnlyWhatChanged() {
    auto w = open(dir_->path());
    BoxCloser closer;
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    click(*w, "compress1008");
    QCOMPARE(status(*w), QStringLiteral("Nothing to compress: 4 files below the selected folder are up to date"));
    QVERIFY(!w->busy());
    WriteFile(path("b.txt"), kTextC);
    const QDateTime later = QFileInfo(path("b.txt.hwz")).lastModified().addSecs(5);
    QFile b(path("b.txt"));
    QVERIFY(b.open(QIODevice::ReadWrite) && b.setFileTime(later, QFileDevice::FileModificationTime));
    b.close();
    const QDateTime a_before = QFileInfo(path("a.txt.hwz")).lastModified();
    int most = 0;
    connect(w.get(), &MainWindow::statusChanged, this,
            [&] { most = std::max(most, find<QProgressBar>(*w, "progress1014")->maximum()); });
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(most, 1);
    QCOMPARE(QFileInfo(path("a.txt.hwz")).lastModified(), a_before);
    select(*w, path("b.txt"));
    search(*w, QStringLiteral("gamma"));
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(w->results()->rowCount(), 1);
    QCOMPARE(closer.boxes.size(), 0);
  }

  // At its least size no caption is cut; About has a button of its own;
  // the tree opens wide enough for the names it shows.
  void leastSizeCutsNoCaptionAndAboutIsAButton() {
    QDir(dir_->path()).mkpath(QStringLiteral("Collected Letters and Journals, 1850 to 1870"));
    auto w = open(dir_->path());
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // The test's screen is small: the window opens at its least size.
    w->resize(w->minimumSize() + QSize(500, 0));
    w->fitTreeWidth();
    QTRY_VERIFY(w->fileTree()->width() > w->fileTree()->namesWidth());
    QVERIFY(!w->fileTree()->horizontalScrollBar()->isVisible());
    w->resize(w->minimumSize());
    QTRY_COMPARE(w->size(), w->minimumSize());
    for (QAbstractButton* button : w->findChildren<QAbstractButton*>()) {
      QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->objectName()));
      QVERIFY2(button->height() >= button->minimumSizeHint().height(), qPrintable(button->objectName()));
    }
    for (QLabel* label : w->findChildren<QLabel*>()) {
      if (label->objectName() == "status1015") continue;  // a long path there is cut
      QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
    }
    bool about_shown = false;
    BoxCloser closer([&](QWidget* dialog) {
      about_shown = about_shown || dialog->objectName() == "about100";
      dialog->close();
    });
    click(*w, "about");
    QVERIFY(about_shown);
  }

  // Help opens the page with the browser; when none can show it, or the
  // page is missing, a box says so and names the page.
  void helpWithoutABrowser() {
    moravine::gui::WindowSettings settings;
    settings.help_file = path("help.html");
    WriteFile(settings.help_file, "<html></html>");
    QList<QUrl> asked;
    bool browser = false;
    settings.open_page = [&](const QUrl& page, std::function<void(bool)> shown) {
      asked << page;
      QTimer::singleShot(10, [shown, &browser] { shown(browser); });  // the opener ends later
    };
    auto w = open(QString(), settings);
    BoxCloser closer;
    click(*w, "help57670");
    QTRY_COMPARE(closer.boxes.size(), 1);
    QCOMPARE(asked, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(settings.help_file).canonicalFilePath())});
    QCOMPARE(closer.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(closer.boxes[0].text, "No web browser could show the help page.\n\nYou can open it yourself: " +
                                       QFileInfo(settings.help_file).canonicalFilePath());
    browser = true;
    click(*w, "help57670");
    QTest::qWait(100);
    QCOMPARE(closer.boxes.size(), 1);
    QFile::remove(settings.help_file);
    click(*w, "help57670");
    QCOMPARE(closer.texts().last(), "The help page " + settings.help_file + " is missing.");
    QCOMPARE(asked.size(), 2);
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"

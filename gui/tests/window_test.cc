// The window driven through its widgets on Qt's offscreen platform: the
// start-up state, the options dialog, whole batches with the real jobs and
// agrep, the refusals, Cancel, closing during a batch, and start-up without
// agrep.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>

#include "gui/file_tree.h"
#include "gui/main_window.h"
#include "gui/options_dialog.h"

using moravine::gui::MainWindow;
using moravine::gui::OptionsDialog;

namespace {

struct SeenBox {
  QMessageBox::Icon icon;
  QString title;
  QString text;
  bool ok_only;
};

// Closes every modal message box as soon as it shows, recording it; other
// modal dialogs go to `dialogs`, which must close them.
class BoxCloser : public QObject {
 public:
  explicit BoxCloser(std::function<void(QWidget*)> dialogs = {}) : dialogs_(std::move(dialogs)) {
    connect(&timer_, &QTimer::timeout, this, &BoxCloser::poll);
    timer_.start(5);
  }
  std::function<void(QMessageBox*)> before_close;
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
      bool ok_only = box->buttons().size() == 1 && box->button(QMessageBox::Ok);
      boxes.append({box->icon(), box->windowTitle(), box->text(), ok_only});
      if (before_close) before_close(box);
      box->button(QMessageBox::Ok)->click();
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

const QByteArray kTextA = "the quick brown fox jumps over the lazy dog\nand another fox runs far away\n";
const QByteArray kTextB = "nothing to see here but words and more words\n";
const QByteArray kTextC = "alpha beta gamma fox delta epsilon zeta eta\n";

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  QTemporaryDir log_dir_;
  QString path(const QString& name) const { return dir_->filePath(name); }

  std::unique_ptr<MainWindow> open(const QString& start,
                                   moravine::gui::WindowSettings settings = moravine::gui::WindowSettings()) {
    settings.start_path = start;
    settings.log_file = log_dir_.filePath(QStringLiteral("Moravine.log"));
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
  static bool finished(MainWindow& w) { return !w.busy() && status(w) == QLatin1String("Finished"); }

 private slots:
  void initTestCase() {
    // The jobs run our agrep through PATH.
    qputenv("PATH", QByteArray(MORAVINE_AGREP_DIR) + ":" + qgetenv("PATH"));
  }

  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QDir(dir_->path()).mkdir(QStringLiteral("sub"));
    WriteFile(path(QStringLiteral("sub/inner.txt")), "inner words\n");
    WriteFile(path(QStringLiteral("a.txt")), kTextA);
    WriteFile(path(QStringLiteral("b.txt")), kTextB);
    WriteFile(path(QStringLiteral("c.txt")), kTextC);
  }

  void startUpState() {
    WriteFile(log_dir_.filePath(QStringLiteral("Moravine.log")), "left from an earlier run\n");
    WriteFile(path(QStringLiteral("d.hwz")), "x");
    WriteFile(path(QStringLiteral("c.txt.hwz")), "x");
    auto w = open(dir_->path());

    QCOMPARE(w->windowTitle(), QStringLiteral("Moravine"));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    const char* const captions[][2] = {
        {"options1010", "Options"}, {"viewLog1021", "View log file"}, {"compress1008", "Compress"},
        {"decompress1009", "Decompress"}, {"removeCompressed1013", "Remove compressed\nfiles"},
        {"removeOriginal1020", "Remove original\nfiles"}, {"help57670", "&Help"}, {"exit1", "Exit"},
        {"search1011", "Search"}, {"cancel1012", "Cancel"}};
    for (const auto& [name, caption] : captions) {
      QPushButton* button = find<QPushButton>(*w, name);
      QCOMPARE(button->text(), QString::fromLatin1(caption));
      QCOMPARE(button->isEnabled(), QByteArray(name) != "cancel1012");
    }
    QVERIFY(find<QPushButton>(*w, "exit1")->isDefault());
    QCOMPARE(find<QLabel>(*w, "searchWordLabel1018")->text(), QStringLiteral("Search word"));
    QCOMPARE(find<QLabel>(*w, "allowErrorsLabel1019")->text(), QStringLiteral("Allow errors"));
    QVERIFY(find<QLabel>(*w, "allowErrorsLabel1019")->alignment() & Qt::AlignRight);
    QCOMPARE(status(*w), QStringLiteral("Select a file or directory"));
    QProgressBar* bar = find<QProgressBar>(*w, "progress1014");
    QVERIFY(bar->maximum() > bar->minimum());  // 0..0 would be the busy animation
    QCOMPARE(bar->value(), bar->minimum());

    // The dialog's proportions: the tree left of the buttons, buttons of one
    // width in rows, the two-line buttons as tall as two rows, the list below.
    QRect options = find<QPushButton>(*w, "options1010")->geometry();
    QRect compress = find<QPushButton>(*w, "compress1008")->geometry();
    QVERIFY(find<QTreeWidget>(*w, "tree1007")->geometry().right() < options.left());
    QVERIFY(options.width() == compress.width() && options.top() == compress.top());
    QCOMPARE(find<QPushButton>(*w, "removeCompressed1013")->geometry().bottom(),
             find<QPushButton>(*w, "viewLog1021")->geometry().bottom());
    QVERIFY(find<QTreeWidget>(*w, "results1005")->geometry().top() >
            find<QLineEdit>(*w, "searchWord1017")->geometry().bottom());

    QTreeWidget* results = find<QTreeWidget>(*w, "results1005");
    const char* const headings[] = {"File", "Position", "Left context", "Word", "Right context"};
    const int widths[] = {110, 60, 138, 90, 138};
    const Qt::Alignment aligns[] = {Qt::AlignLeft, Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter, Qt::AlignLeft};
    QCOMPARE(results->columnCount(), 5);
    for (int i = 0; i < 5; ++i) {
      QCOMPARE(results->headerItem()->text(i), QString::fromLatin1(headings[i]));
      QCOMPARE(results->header()->sectionSize(i), widths[i]);
      QCOMPARE(Qt::Alignment(results->headerItem()->textAlignment(i)) & Qt::AlignHorizontal_Mask, aligns[i]);
    }

    // The tree: read down to the folder, which is selected; one item per
    // file with the picture of the versions it has, folders first.
    QCOMPARE(w->fileTree()->topLevelItem(0)->text(0), QStringLiteral("/"));
    QCOMPARE(w->fileTree()->currentItem(), viewItem(*w, dir_->path()));
    QTreeWidgetItem* folder = viewItem(*w, dir_->path());
    QStringList shown;
    for (int i = 0; i < folder->childCount(); ++i) {
      if (!folder->child(i)->isHidden()) shown << folder->child(i)->text(0);
    }
    QCOMPARE(shown, (QStringList{"sub", "a.txt", "b.txt", "c.txt", "d.hwz"}));
    QCOMPARE(picture(*w, path("sub")), int(moravine::IMG_FOLDER));
    QCOMPARE(picture(*w, path("a.txt")), int(moravine::IMG_PLAIN));
    QCOMPARE(picture(*w, path("c.txt")), int(moravine::IMG_BOTH));
    QCOMPARE(picture(*w, path("d.hwz")), int(moravine::IMG_COMPRESSED));
    QImage both = viewItem(*w, path("c.txt"))->icon(0).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(both, QImage(":/icons/both.png").convertToFormat(QImage::Format_ARGB32));

    // The log was replaced.
    QVERIFY(!ReadFile(log_dir_.filePath("Moravine.log")).contains("earlier run"));
  }

  void treeOpensFoldersOnDemand() {
    auto w = open(dir_->path());
    QTreeWidgetItem* sub = viewItem(*w, path("sub"));
    // Not read yet: the placeholder is not shown, but the item can open.
    QCOMPARE(sub->childCount(), 0);
    QCOMPARE(sub->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QVERIFY(!viewItem(*w, path("sub/inner.txt")));
    QTreeWidget* tree = w->fileTree();
    tree->setCurrentItem(sub);
    // A double click as the window system delivers it: a click, then a
    // press that comes as a double click.
    QPoint at = tree->visualItemRect(sub).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(sub->isExpanded());
    QTreeWidgetItem* inner = viewItem(*w, path("sub/inner.txt"));
    QVERIFY(inner && !inner->isHidden());

    // From the keyboard too, on another folder not read yet.
    QDir(dir_->path()).mkpath(QStringLiteral("sub/deeper"));
    WriteFile(path("sub/deeper/x.txt"), "x\n");
    w.reset();
    w = open(dir_->path());
    tree = w->fileTree();
    tree->setFocus();
    tree->setCurrentItem(viewItem(*w, path("sub")));
    QTest::keyClick(tree, Qt::Key_Right);
    QVERIFY(viewItem(*w, path("sub/deeper")));
  }

  void optionsDialog() {
    OptionsDialog dialog(true, 128);
    dialog.show();
    auto* edit = dialog.findChild<QLineEdit*>("distance1022");
    auto* label = dialog.findChild<QLabel*>("distanceLabel1023");
    auto* check = dialog.findChild<QCheckBox*>("spaceless1021");
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Compression options"));
    QCOMPARE(edit->text(), QStringLiteral("128"));
    QVERIFY(check->isChecked() && !edit->isEnabled() && !label->isEnabled());
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(!check->isChecked() && edit->isEnabled() && label->isEnabled());

    // Text that is not a number keeps the dialog open, with the text selected.
    BoxCloser closer;
    for (const char* bad : {"", " -x"}) {
      edit->setText(QString::fromLatin1(bad));
      dialog.accept();
      QVERIFY(dialog.isVisible());
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
      QCOMPARE(edit->selectedText(), edit->text());
    }
    QCOMPARE(closer.texts(), QStringList(2, QStringLiteral("Please enter an integer.")));
    QCOMPARE(closer.boxes.front().title, QStringLiteral("Moravine"));
    edit->setText(QStringLiteral("12abc"));
    QTest::mouseClick(dialog.findChild<QPushButton*>("ok1"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.distance(), 12);
    QVERIFY(!dialog.spaceless());

    // Through the window: OK stores negative values, Cancel keeps the old ones.
    auto w = open(QString());
    auto drive = [](const QString& distance, bool uncheck, const char* button) {
      return [=](QWidget* modal) {
        auto* options = qobject_cast<OptionsDialog*>(modal);
        if (!options) return;
        options->findChild<QLineEdit*>("distance1022")->setText(distance);
        if (uncheck) options->findChild<QCheckBox*>("spaceless1021")->setChecked(false);
        options->findChild<QPushButton*>(button)->click();
      };
    };
    {
      BoxCloser driver(drive(QStringLiteral("-5"), true, "ok1"));
      click(*w, "options1010");
    }
    QCOMPARE(w->core().pointerDistance(), -5);
    QVERIFY(!w->core().spacelessModel());
    {
      BoxCloser driver(drive(QStringLiteral("77"), false, "cancel2"));
      click(*w, "options1010");
    }
    QCOMPARE(w->core().pointerDistance(), -5);
    QVERIFY(!w->core().spacelessModel());
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
    // the order of their positions, the file searched last on top.
    QTreeWidget* results = find<QTreeWidget>(*w, "results1005");
    QStringList searched;
    connect(w.get(), &MainWindow::statusChanged, this, [&](const QString& text) {
      if (text.startsWith("Searching /")) searched << QFileInfo(text.chopped(3)).completeBaseName();
    });
    for (const auto& [word, errors] : {std::pair{"fox", ""}, std::pair{"fux", "1"}}) {
      searched.clear();
      find<QLineEdit>(*w, "searchWord1017")->clear();
      find<QLineEdit>(*w, "allowErrors1016")->clear();
      QTest::keyClicks(find<QLineEdit>(*w, "searchWord1017"), QString::fromLatin1(word));
      QTest::keyClicks(find<QLineEdit>(*w, "allowErrors1016"), QString::fromLatin1(errors));
      click(*w, "search1011");
      QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
      QCOMPARE(results->topLevelItemCount(), 3);
      QStringList files;
      for (int i = 0; i < 3; ++i) {
        QTreeWidgetItem* row = results->topLevelItem(i);
        QCOMPARE(row->text(3), QStringLiteral("fox"));
        files << row->text(0);
        QCOMPARE(Qt::Alignment(row->textAlignment(2)) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
      }
      searched.removeAll("b.txt");
      searched.removeAll("inner.txt");
      QCOMPARE(files, searched.back() == "a.txt" ? (QStringList{"a.txt", "a.txt", "c.txt"})
                                                 : (QStringList{"c.txt", "a.txt", "a.txt"}));
      int first_a = files.indexOf("a.txt");
      QVERIFY(results->topLevelItem(first_a)->text(1).toInt() < results->topLevelItem(first_a + 1)->text(1).toInt());
      QTreeWidgetItem* c = results->topLevelItem(files.indexOf("c.txt"));
      QCOMPARE(c->text(2).trimmed(), QStringLiteral("alpha beta gamma"));
      QVERIFY(c->text(4).trimmed().startsWith(QStringLiteral("delta epsilon")));
    }

    // Remove the originals, then bring them back.
    click(*w, "removeOriginal1020");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QVERIFY(!QFile::exists(path("a.txt")));
    QTreeWidgetItem* a = viewItem(*w, path("a.txt.hwz"));
    QVERIFY(a);
    QCOMPARE(picture(*w, path("a.txt.hwz")), int(moravine::IMG_COMPRESSED));
    click(*w, "decompress1009");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(ReadFile(path("a.txt")), kTextA);
    QCOMPARE(ReadFile(path("c.txt")), kTextC);
    QCOMPARE(a->text(0), QStringLiteral("a.txt"));
    QCOMPARE(picture(*w, path("a.txt")), int(moravine::IMG_BOTH));

    // And remove the compressed files.
    click(*w, "removeCompressed1013");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QVERIFY(!QFile::exists(path("a.txt.hwz")));
    QCOMPARE(picture(*w, path("a.txt")), int(moravine::IMG_PLAIN));
    QCOMPARE(closer.boxes.size(), 0);
  }

  void refusals_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing selected") << QString() << "compress1008" << "No file or directory selected";
    QTest::newRow("decompress plain") << "a.txt" << "decompress1009" << "The selected file is not compressed";
    QTest::newRow("remove original of plain") << "a.txt" << "removeOriginal1020"
                                              << "The selected file does not have a compressed version";
    QTest::newRow("remove compressed without original")
        << "d.hwz" << "removeCompressed1013" << "The selected file does not have an uncompressed version";
    QTest::newRow("compress both") << "c.txt" << "compress1008" << "The selected file is compressed";
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
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes[0].text, text);
    QCOMPARE(closer.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(closer.boxes[0].title, QStringLiteral("Moravine"));
    QVERIFY(closer.boxes[0].ok_only);
    QVERIFY(!w->busy());
    QCOMPARE(status(*w), QStringLiteral("Select a file or directory"));
    QVERIFY(!find<QPushButton>(*w, "cancel1012")->isEnabled());
  }

  void cancelLeavesWaitingFilesAlone() {
    auto w = open(dir_->path());
    // Held here, the job lock keeps every job of the batch waiting.
    w->core().jobLock().lock();
    click(*w, "compress1008");
    QProgressBar* bar = find<QProgressBar>(*w, "progress1014");
    QCOMPARE(bar->maximum(), 4);  // a, b, c and inner
    QCOMPARE(bar->value(), 0);
    QCOMPARE(status(*w), QStringLiteral("Compressing..."));
    for (const char* name : {"compress1008", "decompress1009", "removeCompressed1013", "removeOriginal1020",
                             "search1011", "exit1"}) {
      QVERIFY2(!find<QPushButton>(*w, name)->isEnabled(), name);
    }
    QVERIFY(find<QPushButton>(*w, "options1010")->isEnabled());
    QVERIFY(find<QPushButton>(*w, "cancel1012")->isEnabled());
    click(*w, "cancel1012");
    QCOMPARE(status(*w), QStringLiteral("Cancelling..."));
    QVERIFY(!find<QPushButton>(*w, "cancel1012")->isEnabled());
    w->core().jobLock().unlock();
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QCOMPARE(QDir(dir_->path()).entryList({"*.hwz"}, QDir::Files), QStringList());
    QCOMPARE(bar->value(), bar->minimum());
    QVERIFY(find<QPushButton>(*w, "exit1")->isEnabled());
    QVERIFY(!w->core().cancelRequested());
  }

  void enterAndEscapeCloseTheIdleWindow() {
    auto w = open(dir_->path());
    QTest::keyClick(find<QLineEdit>(*w, "searchWord1017"), Qt::Key_Return);
    QVERIFY(!w->isVisible());
    QCOMPARE(w->result(), int(QDialog::Accepted));
    w = open(dir_->path());
    QTest::keyClick(w.get(), Qt::Key_Escape);
    QVERIFY(!w->isVisible());
  }

  void closingDuringABatchLetsItEnd() {
    // The empty file makes its job show an error box; the window is asked
    // to close while that job waits for the user.
    WriteFile(path("0-empty.txt"), "");
    auto w = open(dir_->path());
    bool visible_after_close = false;
    BoxCloser closer;
    closer.before_close = [&](QMessageBox*) {
      if (closer.boxes.size() > 1) return;
      QTest::keyClick(w.get(), Qt::Key_Escape);
      visible_after_close = w->isVisible();
    };
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 20000);
    QVERIFY(visible_after_close);
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes[0].icon, QMessageBox::Critical);
    QVERIFY(!w->busy());
    // Whatever was compressed is complete; nothing else lies about.
    QDir dir(dir_->path());
    for (const QString& name : dir.entryList({"*.hwz"}, QDir::Files)) {
      QVERIFY(ReadFile(dir.filePath(name)).size() > 0);
    }
    QStringList names = dir.entryList(QDir::Files);
    names.removeIf([](const QString& n) { return n.endsWith(".hwz"); });
    names.sort();
    QCOMPARE(names, (QStringList{"0-empty.txt", "a.txt", "b.txt", "c.txt"}));
  }

  void withoutAgrep() {
    QByteArray saved = qgetenv("PATH");
    qputenv("PATH", "");
    std::unique_ptr<MainWindow> w;
    BoxCloser closer;
    w = open(dir_->path());
    qputenv("PATH", saved);
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(closer.boxes[0].text,
             QStringLiteral("agrep not found\n\nPlease install agrep for Windows and make sure that it is accessible "
                            "through the command 'agrep'.\nWithout agrep you will not be able to search."));
    QVERIFY(!w->agrepFound());
    QVERIFY(!find<QPushButton>(*w, "search1011")->isEnabled());
    select(*w, path("b.txt"));
    click(*w, "compress1008");
    QTRY_VERIFY_WITH_TIMEOUT(finished(*w), 20000);
    QVERIFY(find<QPushButton>(*w, "compress1008")->isEnabled());
    QVERIFY(!find<QPushButton>(*w, "search1011")->isEnabled());
  }

  void helpAndLogViewerFailures() {
    moravine::gui::WindowSettings settings;
    settings.help_file = path("no-help.html");
    settings.log_viewer.open_url = [](const QUrl&) { return false; };
    settings.log_viewer.start_detached = [](const QString&, const QStringList&) { return false; };
    settings.log_viewer.environment = [](const char* name) { return QString::fromLatin1(name).toLower(); };
    auto w = open(QString(), settings);
    BoxCloser closer;
    click(*w, "help57670");
    click(*w, "viewLog1021");
    QCOMPARE(closer.texts(),
             (QStringList{"The help file " + path("no-help.html") + " is missing.",
                          "Error running editor. You can find Moravine.log in the Moravine application folder."}));
    QCOMPARE(closer.boxes[1].icon, QMessageBox::Critical);
  }

  void aboutFromTheContextMenu() {
    auto w = open(QString());
    std::unique_ptr<QMenu> menu = w->createContextMenu();
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions()[0]->text(), QStringLiteral("&About Moravine..."));
    QString title, version;
    BoxCloser driver([&](QWidget* modal) {
      title = modal->windowTitle();
      if (auto* label = modal->findChild<QLabel*>("version")) version = label->text();
      modal->findChild<QPushButton*>("ok1")->click();
    });
    menu->actions()[0]->trigger();
    QCOMPARE(title, QStringLiteral("About Moravine"));
    QCOMPARE(version, QStringLiteral("Moravine Version 1.0"));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"

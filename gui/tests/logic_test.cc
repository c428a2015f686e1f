// The parts of the window that run without an event loop: the update
// queue's order across threads, the job threads, dialog units, the integer
// scan of the options dialog, the log viewer's fallbacks and the command line.
#include <QCoreApplication>
#include <QtTest>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

#include "gui/job_threads.h"
#include "gui/update_queue.h"
#include "gui/window_logic.h"

using namespace moravine::gui;

class LogicTest : public QObject {
  Q_OBJECT

 private slots:
  void updatesFromOtherThreadsWaitForTheEventLoopInOrder() {
    UpdateQueue queue;
    std::vector<int> seen;
    std::thread producer([&] {
      for (int i = 0; i < 1000; ++i) queue.post([&seen, i] { seen.push_back(i); });
    });
    producer.join();
    QVERIFY(seen.empty());  // post never ran anything on the producer's thread
    QVERIFY(queue.pending());
    QTRY_COMPARE(seen.size(), size_t(1000));
    for (int i = 0; i < 1000; ++i) QCOMPARE(seen[i], i);
    QVERIFY(!queue.pending());
  }

  void anUpdateOnTheWindowsThreadRunsAtOnceAfterTheQueuedOnes() {
    UpdateQueue queue;
    QStringList seen;
    std::thread([&] { queue.post([&] { seen << "from a job"; }); }).join();
    queue.post([&] {
      seen << "here";
      // Posted while updates run: runs after this one, not inside it.
      queue.post([&] { seen << "nested"; });
      seen << "here, still";
    });
    QCOMPARE(seen, (QStringList{"from a job", "here", "here, still", "nested"}));
  }

  void jobThreadsAreJoinedAndReaped() {
    std::atomic<int> ran{0};
    {
      JobThreads threads;
      for (int i = 0; i < 20; ++i) {
        QVERIFY(threads.start([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          ++ran;
        }));
      }
      threads.joinAll();
      QCOMPARE(ran.load(), 20);
      QCOMPARE(threads.count(), size_t(0));
      QVERIFY(threads.start([&] { ++ran; }));
    }  // the destructor waits for the last one
    QCOMPARE(ran.load(), 21);
  }

  void dialogUnits() {
    DialogUnits du{7, 13};
    QCOMPARE(du.rect(7, 7, 150, 194), QRect(12, 11, 263, 315));
    QCOMPARE(du.size(542, 233), QSize(949, 379));
    // Measured from a font: the width follows the alphabet's average.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(20);
    QFontMetrics metrics(font);
    int alphabet = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(DialogUnits::of(font).char_width, (alphabet / 26 + 1) / 2);
  }

  void scanInteger_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");  // INT_MIN + 1: no number
    const int none = INT_MIN + 1;
    QTest::newRow("plain") << "128" << 128;
    QTest::newRow("blanks and sign") << " \t-5" << -5;
    QTest::newRow("plus") << "+7" << 7;
    QTest::newRow("trailing letters") << "12abc" << 12;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("hex is not read") << "0x10" << 0;
    QTest::newRow("too large") << "99999999999" << INT_MAX;
    QTest::newRow("too small") << "-99999999999" << INT_MIN;
    QTest::newRow("empty") << "" << none;
    QTest::newRow("letters") << "abc" << none;
    QTest::newRow("sign alone") << "-" << none;
    QTest::newRow("blank") << "   " << none;
  }
  void scanInteger() {
    QFETCH(QString, text);
    QFETCH(int, value);
    std::optional<int> scanned = ScanInteger(text.toStdString());
    QCOMPARE(scanned.value_or(INT_MIN + 1), value);
  }

  void logViewerFallsBackToTheEditors() {
    QStringList started;
    bool desktop = false;
    QString visual, editor;
    bool editors_start = false;
    LogViewerServices services;
    services.open_url = [&](const QUrl& url) {
      started << url.toLocalFile();
      return desktop;
    };
    services.start_detached = [&](const QString& program, const QStringList& arguments) {
      started << program + " " + arguments.join(' ');
      return editors_start;
    };
    services.environment = [&](const char* name) { return QByteArray(name) == "VISUAL" ? visual : editor; };

    desktop = true;
    QCOMPARE(OpenLogFile("/logs/Moravine.log", services), QString());
    QCOMPARE(started, QStringList{"/logs/Moravine.log"});

    desktop = false;
    started.clear();
    QCOMPARE(OpenLogFile("/logs/Moravine.log", services), QStringLiteral("xdg-open"));

    visual = "gvim -f";
    editor = "nano";
    started.clear();
    QCOMPARE(OpenLogFile("/logs/Moravine.log", services), QStringLiteral("nano"));
    QCOMPARE(started, (QStringList{"/logs/Moravine.log", "gvim -f /logs/Moravine.log", "nano /logs/Moravine.log"}));
    editors_start = true;
    started.clear();
    QCOMPARE(OpenLogFile("/logs/Moravine.log", services), QString());
    QCOMPARE(started.size(), 2);

    QCOMPARE(LogViewerError("nano"),
             QStringLiteral("Error running nano. You can find Moravine.log in the Moravine application folder."));
  }

  void commandLine() {
    GuiArguments args = ParseArguments({"moravine-gui"}, "/home/u/texts");
    QCOMPARE(args.error, QString());
    QCOMPARE(args.path, QStringLiteral("/home/u/texts"));
    args = ParseArguments({"moravine-gui", "../other/./x.txt"}, "/home/u/texts");
    QCOMPARE(args.path, QStringLiteral("/home/u/other/x.txt"));
    args = ParseArguments({"moravine-gui", "/srv", "--search", "love", "--errors", "1", "--screenshot", "s.png"}, "/");
    QCOMPARE(args.path, QStringLiteral("/srv"));
    QCOMPARE(args.search_word, QStringLiteral("love"));
    QCOMPARE(args.allow_errors, QStringLiteral("1"));
    QCOMPARE(args.screenshot_file, QStringLiteral("s.png"));
    for (QStringList wrong : {QStringList{"a", "b"}, QStringList{"--screenshot", "s.png"}, QStringList{"--bogus"}}) {
      QVERIFY(!ParseArguments(QStringList{"moravine-gui"} + wrong, "/").error.isEmpty());
    }
    args = ParseArguments({"moravine-gui", "--help"}, "/");
    QVERIFY(args.help);
    QVERIFY(args.error.contains("PATH"));
    QVERIFY(!args.error.contains("screenshot"));  // hidden
  }
};

QTEST_MAIN(LogicTest)
#include "logic_test.moc"

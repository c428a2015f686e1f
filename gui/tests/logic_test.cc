// The parts of the window that run without an event loop: the update
// queue's order across threads, its turns and the rows Cancel drops, the
// job threads, the results list's room, the status at a batch's end, dialog
// units, the integer scan of the options dialog, the log viewer's
// fallbacks, the command line, the reader's text around a hit and the
// creation of the log file.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "codec/compress.h"
#include "gui/update_queue.h"
#include "gui/window_logic.h"
#include "wordmodel/htoken.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Where each codeword of a body lies in the text: the tokens of the text,
// less the blanks between two words that the spaceless model leaves out.
struct Token {
  size_t start;
  size_t length;
};
std::vector<Token> CodedTokens(const std::string& text, bool spaceless) {
  std::vector<Token> all;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t at = 0; at < text.size();) {
    int32_t length = 0;
    HToken_getLengthNext(bytes + at, static_cast<int32_t>(text.size() - at), &length);
    all.push_back({at, static_cast<size_t>(length)});
    at += static_cast<size_t>(length);
  }
  std::vector<Token> coded;
  for (size_t i = 0; i < all.size(); ++i) {
    bool blank = text.compare(all[i].start, all[i].length, " ") == 0;
    bool between_words = i > 0 && i + 1 < all.size() && HToken_isWordByte(bytes[all[i - 1].start]) &&
                         HToken_isWordByte(bytes[all[i + 1].start]);
    if (!(spaceless && blank && between_words)) coded.push_back(all[i]);
  }
  return coded;
}

}  // namespace

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

  // Updates from jobs run in turns that hand back to the event loop; the
  // droppable ones go when asked, the others keep their order.
  void updatesRunInTurnsAndRowsCanBeDropped() {
    UpdateQueue queue;
    queue.setTurn(std::chrono::milliseconds(20));
    QStringList seen;
    std::thread([&] {
      for (int i = 0; i < 40; ++i) {
        queue.post([&seen, i] {
          seen << QString::number(i);
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
      }
      queue.postDroppable([&] { seen << "rows"; });
      queue.post([&] { seen << "finished"; });
    }).join();
    QCoreApplication::processEvents();
    QVERIFY2(!seen.isEmpty() && seen.size() < 40, qPrintable(QString::number(seen.size())));
    QCOMPARE(queue.dropDroppable(), size_t(1));
    QTRY_VERIFY(!queue.pending());
    QCOMPARE(seen.size(), 41);
    QCOMPARE(seen.mid(38), (QStringList{"38", "39", "finished"}));
  }

  // However many jobs ask at once, the rows given add up to the limit and
  // every hit is counted.
  void resultRoomGivesTheLimitExactly() {
    ResultRoom room(1000);
    std::atomic<size_t> given{0};
    std::vector<std::thread> jobs;
    for (int t = 0; t < 4; ++t) {
      jobs.emplace_back([&] {
        for (int file = 0; file < 50; ++file) given += room.take(37);
      });
    }
    for (std::thread& job : jobs) job.join();
    QCOMPARE(given.load(), size_t(1000));
    QCOMPARE(room.hits(), int64_t(4 * 50 * 37));
    QCOMPARE(room.take(0), size_t(0));
    QCOMPARE(room.files(), 200);  // a file without hits is not counted
  }

  // The status texts that the window's tests do not reach.
  void batchEndText() {
    const QString cancelled = "Cancelled after 37 of 500 files";
    QCOMPARE(BatchEndText("Finished", BatchOutcome{true, 3, 2, 1, 1}),
             QStringLiteral("Finished: 3 hits in 2 files; the first is shown; 1 file failed (see the log file)"));
    QCOMPARE(BatchEndText(cancelled, BatchOutcome{true, 9000, 40, 1234, 0}), cancelled + "; 1,234 hits are shown");
    QCOMPARE(BatchEndText(cancelled, BatchOutcome{true, 0, 0, 0, 2}),
             cancelled + "; 2 files failed (see the log file)");
    QCOMPARE(GroupedNumber(-1234567), QStringLiteral("-1,234,567"));
    QVERIFY(!IsBatchEnd("Cancelling...") && !IsBatchEnd("Searching /x/Finished"));
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
  }

  void scanInteger_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");  // INT_MIN + 1: no number
    const int none = INT_MIN + 1;
    QTest::newRow("blanks and sign") << " \t-5" << -5;
    QTest::newRow("trailing letters") << "12abc" << 12;
    QTest::newRow("hex is not read") << "0x10" << 0;
    QTest::newRow("too large") << "99999999999" << INT_MAX;
    QTest::newRow("too small") << "-99999999999" << INT_MIN;
    QTest::newRow("empty") << "" << none;
    QTest::newRow("sign alone") << "-" << none;
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
    LogViewerServices services;
    services.open_url = [&](const QUrl& url) {
      started << url.toLocalFile();
      return desktop;
    };
    services.start_detached = [&](const QString& program, const QStringList& arguments) {
      started << program + " " + arguments.join(' ');
      return arguments.size() == 1;
    };
    services.environment = [](const char* name) { return QByteArray(name) == "VISUAL" ? "gvim -f" : "nano"; };
    QCOMPARE(OpenLogFile("/logs/Moravine.log", services), QString());
    QCOMPARE(started, (QStringList{"/logs/Moravine.log", "gvim -f /logs/Moravine.log", "nano /logs/Moravine.log"}));
    desktop = true;
    started.clear();
    QCOMPARE(OpenLogFile("/logs/Moravine.log", services), QString());
    QCOMPARE(started, QStringList{"/logs/Moravine.log"});
    QCOMPARE(LogViewerError("nano", "/home/u/.local/state/moravine/Moravine.log"),
             QStringLiteral("Error running nano. You can find Moravine.log in /home/u/.local/state/moravine."));
  }

  void commandLine() {
    GuiArguments args = ParseArguments({"moravine-gui", "../other/./x.txt"}, "/home/u/texts");
    QCOMPARE(args.path, QStringLiteral("/home/u/other/x.txt"));
    args = ParseArguments({"moravine-gui", "/srv", "--search", "love", "--errors", "1", "--screenshot", "s.png",
                           "--window-size", "1280x720"},
                          "/");
    QCOMPARE(args.error, QString());
    QCOMPARE(args.path, QStringLiteral("/srv"));
    QCOMPARE(args.search_word + args.allow_errors + args.screenshot_file, QStringLiteral("love1s.png"));
    QCOMPARE(args.window_size, QSize(1280, 720));
    for (QStringList wrong : {QStringList{"a", "b"}, QStringList{"--screenshot", "s.png"}, QStringList{"--bogus"},
                              QStringList{"--window-size", "1280"}}) {
      QVERIFY(!ParseArguments(QStringList{"moravine-gui"} + wrong, "/").error.isEmpty());
    }
    args = ParseArguments({"moravine-gui", "--help"}, "/");
    QVERIFY(args.help && args.error.contains("PATH") && !args.error.contains("screenshot"));
  }

  // The reader's text, under both models, at every codeword of a body: the
  // hit lies where its token lies in the text, and decoding step by step
  // to both ends gives back the whole text, blanks between steps included.
  void hitTextGrowsToTheWholeText_data() {
    QTest::addColumn<bool>("spaceless");
    QTest::newRow("spaceless") << true;
    QTest::newRow("words and separators") << false;
  }
  void hitTextGrowsToTheWholeText() {
    QFETCH(bool, spaceless);
    std::string text;
    for (int i = 0; i < 40; ++i) {
      text += "Call me Ishmael, " + std::to_string(i) + " years ago\r\n";
      text += "never mind  how long \xE2\x80\x94precisely\xE2\x80\x94 having little money.\r\n\r\n";
    }
    text += "whale";
    HBuffer file;
    int32_t file_length = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    if (spaceless) {
      Huffw_spaceless_compress(bytes, static_cast<int32_t>(text.size()), &file, &file_length, 0);
    } else {
      Huffw_compress(bytes, static_cast<int32_t>(text.size()), 16, &file, &file_length, 0);
    }
    QTemporaryDir dir;
    std::string path = dir.filePath("t.hwz").toStdString();
    Spit(path, std::string(reinterpret_cast<const char*>(file.get()), static_cast<size_t>(file_length)));
    std::vector<Token> tokens = CodedTokens(text, spaceless);
    // The body is the file's last bytes; its codewords are the tagged bytes.
    std::string stored = Slurp(path);
    size_t body_start = stored.size();
    size_t codewords = 0;
    for (size_t at = stored.size(); codewords < tokens.size() && at-- > 0;) {
      if (static_cast<unsigned char>(stored[at]) & 0x80) ++codewords, body_start = at;
    }
    QCOMPARE(codewords, tokens.size());

    size_t k = 0;
    for (size_t at = body_start; at < stored.size(); ++at) {
      if (!(static_cast<unsigned char>(stored[at]) & 0x80)) continue;
      moravine::gui::HitText hit(3);
      std::string error;
      QVERIFY2(hit.open(path, static_cast<int32_t>(at - body_start), &error), error.c_str());
      QCOMPARE(hit.hitLength(), tokens[k].length);
      QVERIFY(hit.hitStart() <= tokens[k].start);
      QCOMPARE(hit.text(), text.substr(tokens[k].start - hit.hitStart(), hit.text().size()));
      if (k % 9 == 0 || k + 1 == tokens.size()) {
        while (hit.extendBackward() > 0) {}
        while (hit.extendForward() > 0) {}
        QVERIFY(hit.atStart() && hit.atEnd());
        QCOMPARE(hit.text(), text);
        QCOMPARE(hit.hitStart(), tokens[k].start);
      }
      ++k;
    }

    // No codeword there, or no compressed file: refused with a reason.
    moravine::gui::HitText hit;
    std::string error;
    QVERIFY(!hit.open(path, static_cast<int32_t>(stored.size() - body_start), &error));
    QVERIFY(error.find("no hit") != std::string::npos);
    Spit(path, text);
    QVERIFY(!hit.open(path, 0, &error));
    QVERIFY(error.find("not a valid compressed file") != std::string::npos);
  }

  // A planted name is never followed or emptied: the log goes to the state
  // folder instead, and what the name pointed at stays as it was.
  void logFileIsNeverCreatedThroughAPlantedName_data() {
    QTest::addColumn<QString>("planted");
    QTest::newRow("link to a file") << "link";
    QTest::newRow("dangling link") << "dangling";
    QTest::newRow("second name of a file") << "hard link";
    QTest::newRow("pipe") << "pipe";
    QTest::newRow("nothing") << "";
  }
  void logFileIsNeverCreatedThroughAPlantedName() {
    QFETCH(QString, planted);
    QTemporaryDir current, state, elsewhere;
    std::string here = current.path().toStdString();
    std::string log = here + "/Moravine.log";
    std::string victim = elsewhere.filePath("victim").toStdString();
    Spit(victim, "precious");
    if (planted == "link") QCOMPARE(symlink(victim.c_str(), log.c_str()), 0);
    if (planted == "dangling") QCOMPARE(symlink((victim + ".new").c_str(), log.c_str()), 0);
    if (planted == "hard link") QCOMPARE(link(victim.c_str(), log.c_str()), 0);
    if (planted == "pipe") QCOMPARE(mkfifo(log.c_str(), 0600), 0);
    if (planted.isEmpty()) Spit(log, "left from an earlier run");

    std::string state_folder = state.filePath("nested/moravine").toStdString();
    moravine::gui::OpenedLog opened = moravine::gui::OpenLog(here, state_folder);
    QVERIFY(opened.stream);
    std::fputs("written", opened.stream);
    std::fclose(opened.stream);
    QCOMPARE(Slurp(victim), std::string("precious"));
    QVERIFY(!QFile::exists(QString::fromStdString(victim + ".new")));
    if (planted.isEmpty()) {
      QCOMPARE(opened.path, log);
    } else {
      QCOMPARE(opened.path, state_folder + "/Moravine.log");
      struct stat st;
      QCOMPARE(lstat(log.c_str(), &st), 0);  // the planted name is left alone
    }
    QCOMPARE(Slurp(opened.path), std::string("written"));

    auto environment = [](const char* name) { return std::string(name) == "HOME" ? "/h" : "relative"; };
    QCOMPARE(moravine::gui::StateFolder(environment), std::string("/h/.local/state/moravine"));
  }
};

QTEST_MAIN(LogicTest)
#include "logic_test.moc"

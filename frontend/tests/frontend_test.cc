// What both windows share, checked without a window: the update queue's
// order, turns and dropped rows on a queue woken by hand; the batch record
// (a walk that finds nothing, errors counted and hushed, the status at the
// end); the results rows and the reader opened on one of them; the options'
// reading; and the texts that name files on either system.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "codec/compress.h"
#include "frontend/help_page.h"
#include "frontend/options.h"
#include "frontend/results.h"
#include "frontend/status_text.h"
#include "frontend/update_queue.h"
#include "frontend/window_state.h"
#include "tests/samples.h"

namespace moravine::frontend {
namespace {

// A queue whose window's thread is the test's, and whose wakes are only
// counted: the test runs the turns itself, as an event loop would.
class ManualQueue : public UpdateQueue {
 public:
  int wakes = 0;

 protected:
  bool onWindowThread() const override { return std::this_thread::get_id() == owner_; }
  void wake() override { ++wakes; }

 private:
  std::thread::id owner_ = std::this_thread::get_id();
};

TEST(UpdateQueue, UpdatesFromJobsRunInOrderInTurnsAndRowsCanBeDropped) {
  ManualQueue queue;
  queue.setTurn(std::chrono::milliseconds(10));
  std::vector<std::string> seen;
  std::thread job([&] {
    for (int i = 0; i < 30; ++i) {
      queue.post([&seen, i] {
        seen.push_back(std::to_string(i));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      });
    }
    queue.postDroppable([&] { seen.push_back("rows"); });
    queue.post([&] { seen.push_back("finished"); });
  });
  job.join();
  EXPECT_TRUE(seen.empty());  // nothing ran on the job's thread
  EXPECT_EQ(queue.wakes, 1);  // one turn asked for, however many updates
  queue.drainTurn();
  ASSERT_FALSE(seen.empty());
  EXPECT_LT(seen.size(), 30u);  // the turn handed back before the end
  EXPECT_EQ(queue.wakes, 2);    // and asked for the next
  EXPECT_EQ(queue.dropDroppable(), 1u);
  while (queue.pending()) queue.drainTurn();
  ASSERT_EQ(seen.size(), 31u);
  EXPECT_EQ(seen[29], "29");
  EXPECT_EQ(seen[30], "finished");
}

TEST(UpdateQueue, AnUpdateOnTheWindowsThreadRunsAtOnceAfterTheWaitingOnes) {
  ManualQueue queue;
  std::vector<std::string> seen;
  std::thread([&] { queue.post([&] { seen.push_back("from a job"); }); }).join();
  queue.post([&] {
    seen.push_back("here");
    queue.post([&] { seen.push_back("nested"); });  // runs after this one
    seen.push_back("here, still");
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"from a job", "here", "here, still", "nested"}));
  EXPECT_FALSE(queue.pending());
}

TEST(BatchRecord, AWalkThatFindsNothingErrorsAndTheStatusAtTheEnd) {
  BatchRecord batch;
  batch.begin(JOB_SEARCH);
  batch.noteEnable(Control::kCancel, true, true);  // the core accepted the command
  batch.noteProgress(0, true);                     // the idle bar
  batch.end();
  EXPECT_TRUE(batch.foundNothing(false));
  EXPECT_FALSE(batch.foundNothing(true));  // a batch runs after all

  batch.begin(JOB_COMPRESS);
  batch.noteEnable(Control::kCancel, true, false);  // from a job: not the command's walk
  batch.end();
  EXPECT_FALSE(batch.foundNothing(false));

  batch.begin(JOB_SEARCH);
  batch.noteEnable(Control::kCancel, true, true);
  batch.noteProgress(3, true);
  batch.end();
  EXPECT_FALSE(batch.foundNothing(false));
  EXPECT_TRUE(batch.noteError("/t/a.hwz"));
  batch.quietErrors();
  EXPECT_FALSE(batch.noteError("/t/a.hwz"));  // the same file counts once
  EXPECT_FALSE(batch.noteError(""));
  EXPECT_EQ(batch.failed(), 2);
  ResultRoom room(2);
  room.take(5);
  EXPECT_EQ(StatusAtBatchEnd("Finished", batch.outcome(room, 2)),
            "Finished: 5 hits in 1 of 3 files searched; the first 2 are shown; 2 files failed (see the log file)");
  batch.noteProgress(2, false);  // a job's finish, from its thread: the most counts
  EXPECT_EQ(batch.outcome(room, 2).files, 3);
  EXPECT_EQ(StatusAtBatchEnd("Finished", BatchOutcome{true, 0, 0, 0, 0, 12}), "Finished: no hits in 12 files searched");
  batch.begin(JOB_DECOMPRESS);  // a new command shows its errors again
  EXPECT_TRUE(batch.noteError("/t/b.hwz"));
  EXPECT_EQ(StatusAtBatchEnd("Cancelled after 1 of 9 files", batch.outcome(room, 0)),
            "Cancelled after 1 of 9 files; 1 file failed (see the log file)");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(-100000), "-100,000");
}

TEST(Options, TheBoxesAreReadOrRefused) {
  OptionValues values;
  EXPECT_EQ(ReadOptions("64 pointers", " 250", &values).refused, OptionsReading::kNone);
  EXPECT_EQ(values.distance, 64);
  EXPECT_EQ(values.result_limit, 250);
  OptionsReading reading = ReadOptions("many", "10", &values);
  EXPECT_EQ(reading.refused, OptionsReading::kDistance);
  EXPECT_EQ(reading.refusal, "Please enter an integer.");
  reading = ReadOptions("32", "1000001", &values);
  EXPECT_EQ(reading.refused, OptionsReading::kResultLimit);
  EXPECT_EQ(reading.refusal, "Please enter a number of hits from 1 to 1,000,000.");
  EXPECT_EQ(values.distance, 64);  // a refusal changes nothing
  EXPECT_EQ(ReadOptions("1", "0", &values).refused, OptionsReading::kResultLimit);
  EXPECT_EQ(ResultLimitOrDefault(std::nullopt), kDefaultResultLimit);
  EXPECT_EQ(ResultLimitOrDefault(0), kDefaultResultLimit);
  EXPECT_EQ(ResultLimitOrDefault(kLargestResultLimit), kLargestResultLimit);
}

TEST(StatusText, NamesOfFilesOnEitherSystem) {
  EXPECT_EQ(LogViewerError("notepad.exe", "C:\\Users\\u\\AppData\\Local\\Moravine\\Moravine.log"),
            "Error running notepad.exe. You can find Moravine.log in C:\\Users\\u\\AppData\\Local\\Moravine.");
  EXPECT_EQ(LogViewerError("nano", "/Moravine.log"), "Error running nano. You can find Moravine.log in /.");
  EXPECT_EQ(SearchWordRefusal(std::string(998, 'a')), "");
  EXPECT_NE(SearchWordRefusal(std::string(999, 'a')), "");
  EXPECT_NE(SearchWordRefusal(""), "");
}

SearchRow Row(const std::string& file, const std::string& position, const std::string& right) {
  SearchRow row;
  row.file = file;
  row.path = "/books/" + file + ".hwz";
  row.position = position;
  row.right = right;
  return row;
}

TEST(ResultRows, EachFilesRowsGoOnTopInTheirOrder) {
  ResultRows rows;
  rows.prepend({Row("a", "1", " x"), Row("a", "9", " y")});
  rows.prepend({Row("b", "4", "\x80\x80 z")});  // the rest of a character cut by the context
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows.cell(0, kFileColumn), "b");
  EXPECT_EQ(rows.cell(0, kRightColumn), " z");
  EXPECT_EQ(rows.tip(0, kFileColumn), "/books/b.hwz");
  EXPECT_EQ(rows.tip(0, kPositionColumn), "4");
  EXPECT_EQ(rows.cell(2, kPositionColumn), "9");
  EXPECT_TRUE(Column(kLeftColumn).cut_on_left);
  EXPECT_TRUE(Column(kFileColumn).cut_in_middle && !Column(kFileColumn).cut_on_left);
  EXPECT_EQ(std::string(Column(kWordColumn).heading), "Word");
  rows.clear();
  EXPECT_TRUE(rows.empty());
}

// The reader's text from a whole book compressed under both models: opened
// on the body's first codeword and grown to the end, it is the book.
TEST(ResultRows, TheReaderOpensOnARowAndDecodesTheWholeBook) {
  const std::string book = samples::Read("othello.txt");
  const auto folder = std::filesystem::temp_directory_path() / "moravine-frontend-test";
  std::filesystem::create_directories(folder);
  for (bool spaceless : {true, false}) {
    HBuffer file;
    int32_t length = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(book.data());
    if (spaceless) {
      Huffw_spaceless_compress(bytes, static_cast<int32_t>(book.size()), &file, &length, 0);
    } else {
      Huffw_compress(bytes, static_cast<int32_t>(book.size()), 128, &file, &length, 0);
    }
    const std::string path = (folder / "othello.txt.hwz").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.get()), length);
    ResultRow row{Row("othello.txt", "0", ""), path};
    HitText text;
    std::string error = "left from before";
    ASSERT_TRUE(OpenHit(row, &text, &error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(text.hitStart(), 0u);
    EXPECT_TRUE(text.atStart());
    EXPECT_EQ(book.compare(0, text.text().size(), text.text()), 0);
    while (text.extendForward() > 0) {}
    EXPECT_EQ(text.text(), book);
    row.row.position = "-3";
    EXPECT_FALSE(OpenHit(row, &text, &error));
    EXPECT_EQ(error, "The hit has no valid position.");
    row.path.clear();
    EXPECT_FALSE(OpenHit(row, &text, &error));
    EXPECT_EQ(error, "The file of this hit is not known.");
  }
  std::filesystem::remove_all(folder);
}

// The page beside the program wins (a build tree); an installed program
// finds it under share/ above its folder, never in bin/.
TEST(HelpPage, BesideTheProgramOrUnderShare) {
  std::vector<std::string> asked;
  const auto none = [&asked](const std::string& place) {
    asked.push_back(place);
    return false;
  };
  EXPECT_EQ(FindHelpPage("/usr/bin/moravine-gui", none), "");
  EXPECT_EQ(asked, (std::vector<std::string>{"/usr/bin/moravine-gui.html", "/usr/share/moravine/help.html",
                                             "/usr/share/doc/moravine/help.html"}));
  const auto installed = [](const std::string& place) { return place.find("/share/") != std::string::npos; };
  EXPECT_EQ(FindHelpPage("/opt/m/bin/moravine-gui", installed), "/opt/m/share/moravine/help.html");
  EXPECT_EQ(FindHelpPage("C:\\Moravine\\moravine-gui.EXE", [](const std::string&) { return true; }),
            "C:\\Moravine\\moravine-gui.html");
  EXPECT_EQ(HelpPagePlaces("./moravine-gui")[1], "./../share/moravine/help.html");
  const std::string missing = HelpPageMissing("/usr/bin/moravine-gui");
  EXPECT_NE(missing.find("\n/usr/share/moravine/help.html"), std::string::npos) << missing;
}

}  // namespace
}  // namespace moravine::frontend

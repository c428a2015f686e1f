// A window for the batch tests: records every call that the core and the
// jobs make, from any thread, and serves the texts of the two search boxes.
#ifndef MORAVINE_TESTS_BATCH_FAKE_WINDOW_H_
#define MORAVINE_TESTS_BATCH_FAKE_WINDOW_H_

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "batch/window_controls.h"

namespace batchtest {

// What the window has been told so far.
struct Record {
  std::vector<std::string> statuses;
  std::vector<std::pair<int, int>> progress;
  std::map<moravine::Control, bool> enabled;
  std::vector<std::pair<char, std::string>> boxes;  // 'I'nformation, 'W'arning, 'E'rror
  int clears = 0;
  std::vector<std::vector<SearchRow>> row_calls;  // one entry per addResultRows

  int count(const std::string& status) const {
    return static_cast<int>(std::count(statuses.begin(), statuses.end(), status));
  }
  std::vector<std::string> texts(char kind) const {
    std::vector<std::string> out;
    for (const auto& [k, text] : boxes)
      if (k == kind) out.push_back(text);
    return out;
  }
  int state(moravine::Control c) const { return enabled.count(c) ? enabled.at(c) : -1; }  // -1: never set
};

class FakeWindow : public moravine::WindowControls {
 public:
  void setStatus(const std::string& text) override { Lock()->statuses.push_back(text); }
  void setProgress(int position, int maximum) override { Lock()->progress.emplace_back(position, maximum); }
  void enable(moravine::Control c, bool on) override { Lock()->enabled[c] = on; }
  void showInformation(const std::string& text) override { Lock()->boxes.emplace_back('I', text); }
  void showWarning(const std::string& text) override { Lock()->boxes.emplace_back('W', text); }
  void showError(const std::string& text) override { Lock()->boxes.emplace_back('E', text); }
  void clearResults() override { ++Lock()->clears; }
  void addResultRows(const std::vector<SearchRow>& rows) override { Lock()->row_calls.push_back(rows); }
  std::string searchWordText() override { Locked r = Lock(); return word_; }
  std::string allowErrorsText() override { Locked r = Lock(); return errors_; }

  Record record() { return *Lock(); }
  void reset() { *Lock() = Record(); }  // forgets the calls so far
  void setSearch(const std::string& word, const std::string& errors) {
    Locked r = Lock();
    word_ = word, errors_ = errors;
  }

 private:
  struct Locked {
    Locked(std::mutex& m, Record& r) : lock(m), record(r) {}
    Record* operator->() { return &record; }
    Record& operator*() { return record; }
    std::lock_guard<std::mutex> lock;
    Record& record;
  };
  Locked Lock() { return {mutex_, record_}; }

  std::mutex mutex_;
  Record record_;
  std::string word_, errors_ = "0";  // the search boxes
};

}  // namespace batchtest

#endif  // MORAVINE_TESTS_BATCH_FAKE_WINDOW_H_

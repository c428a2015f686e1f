// A window for the batch tests: records every call that the core and the
// jobs make, from any thread, and serves the texts of the two search boxes.
#ifndef MORAVINE_TESTS_SHELL_FAKE_WINDOW_H_
#define MORAVINE_TESTS_SHELL_FAKE_WINDOW_H_

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "shell/window_controls.h"

namespace shelltest {

struct Box {
  char kind;  // 'I'nformation, 'W'arning, 'E'rror
  std::string text;
};

// What the window has been told so far.
struct Record {
  std::vector<std::string> statuses;
  std::vector<std::pair<int, int>> progress;
  std::map<moravine::Control, bool> enabled;
  int enable_calls = 0;
  std::vector<Box> boxes;
  int clears = 0;
  std::vector<SearchRow> results;                 // as the list shows them
  std::vector<std::vector<SearchRow>> row_calls;  // one entry per addResultRows

  int count(const std::string& status) const {
    return static_cast<int>(std::count(statuses.begin(), statuses.end(), status));
  }
  std::vector<std::string> texts(char kind) const {
    std::vector<std::string> out;
    for (const Box& b : boxes)
      if (b.kind == kind) out.push_back(b.text);
    return out;
  }
  int state(moravine::Control c) const {  // -1: never set
    auto it = enabled.find(c);
    return it == enabled.end() ? -1 : it->second;
  }
};

class FakeWindow : public moravine::WindowControls {
 public:
  void setStatus(const std::string& text) override { Do([&](Record& r) { r.statuses.push_back(text); }); }
  void setProgress(int position, int maximum) override {
    Do([&](Record& r) { r.progress.emplace_back(position, maximum); });
  }
  void enable(moravine::Control c, bool on) override {
    Do([&](Record& r) {
      r.enabled[c] = on;
      ++r.enable_calls;
    });
  }
  void showInformation(const std::string& text) override { Do([&](Record& r) { r.boxes.push_back({'I', text}); }); }
  void showWarning(const std::string& text) override { Do([&](Record& r) { r.boxes.push_back({'W', text}); }); }
  void showError(const std::string& text) override { Do([&](Record& r) { r.boxes.push_back({'E', text}); }); }
  void clearResults() override {
    Do([](Record& r) {
      r.results.clear();
      ++r.clears;
    });
  }
  // The list inserts the rows of a job at the top, in their order.
  void addResultRows(const std::vector<SearchRow>& rows) override {
    Do([&](Record& r) {
      r.results.insert(r.results.begin(), rows.begin(), rows.end());
      r.row_calls.push_back(rows);
    });
  }
  std::string searchWordText() override { return Get().first; }
  std::string allowErrorsText() override { return Get().second; }

  void setSearch(const std::string& word, const std::string& errors) {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_ = {word, errors};
  }
  Record record() {
    std::lock_guard<std::mutex> lock(mutex_);
    return record_;
  }
  // Forgets the calls so far; `results` seeds the list.
  void reset(std::vector<SearchRow> results = {}) {
    std::lock_guard<std::mutex> lock(mutex_);
    record_ = Record();
    record_.results = std::move(results);
  }

 private:
  template <typename F>
  void Do(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    f(record_);
  }
  std::pair<std::string, std::string> Get() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

  std::mutex mutex_;
  Record record_;
  std::pair<std::string, std::string> boxes_{"", "0"};  // search word, allowed errors
};

}  // namespace shelltest

#endif  // MORAVINE_TESTS_SHELL_FAKE_WINDOW_H_

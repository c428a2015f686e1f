// The main window's side of the batch core: the controls it updates from
// any thread, the commands, Cancel and closing, and what the buttons open.
#include <windows.h>
#include <shellapi.h>

#include "batch/job_path.h"
#include "frontend/help_page.h"
#include "frontend/status_text.h"
#include "winui/main_window.h"
#include "winui/resource.h"
#include "winui/text.h"
#include "wordmodel/hlog.h"

namespace moravine::winui {

HWND MainWindow::button(Control which) const {
  switch (which) {
    case Control::kCompress: return control(IDC_COMPRESS);
    case Control::kDecompress: return control(IDC_DECOMPRESS);
    case Control::kRemoveCompressed: return control(IDC_REMOVE_COMPRESSED);
    case Control::kRemoveOriginal: return control(IDC_REMOVE_ORIGINAL);
    case Control::kSearch: return control(IDC_SEARCH);
    case Control::kExit: return control(IDC_EXIT);
    case Control::kCancel: return control(IDC_CANCEL_BATCH);
  }
  return nullptr;
}

void MainWindow::setStatus(const std::string& text) {
  updates_.post([this, text] {
    status_ = frontend::IsBatchEnd(text)
                  ? frontend::StatusAtBatchEnd(text, batch_.outcome(room_, static_cast<int64_t>(rows_.size())))
                  : text;
    SetWindowTextUtf8(control(IDC_STATUS), status_);
    if (close_pending_) closeWhenIdle();
  });
}

void MainWindow::setProgress(int position, int maximum) {
  // StartJob runs on this thread while a command queues its batch.
  batch_.noteProgress(maximum, onWindowThread());
  updates_.post([this, position, maximum] {
    HWND bar = control(IDC_PROGRESS);
    SendMessageW(bar, PBM_SETRANGE32, 0, maximum > 0 ? maximum : 1);
    SendMessageW(bar, PBM_SETPOS, maximum > 0 ? std::min(position, maximum) : 0, 0);
  });
}

void MainWindow::enable(Control which, bool enabled) {
  // The core enables Cancel once it has accepted a command.
  batch_.noteEnable(which, enabled, onWindowThread());
  updates_.post([this, which, enabled] { EnableWindow(button(which), enabled); });
}

void MainWindow::clearResults() {
  // Here, before the walk queues the first job.
  room_.reset(result_limit_);
  updates_.post([this] {
    rows_.clear();
    ListView_SetItemCountEx(control(IDC_RESULTS), 0, 0);
  });
}

void MainWindow::addResultRows(const std::vector<SearchRow>& rows) {
  // The rows come from the search job of one file, on the job's thread.
  updates_.postDroppable([this, rows] {
    if (rows.empty()) return;
    HWND list = control(IDC_RESULTS);
    const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    const int top = ListView_GetTopIndex(list);
    rows_.prepend(rows);
    ListView_SetItemCountEx(list, static_cast<int>(rows_.size()), LVSICF_NOSCROLL);
    const int added = static_cast<int>(rows.size());
    if (selected >= 0) {
      // The selected row keeps its selection as the rows above it grow.
      ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
      ListView_SetItemState(list, selected + added, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    if (top > 0) ListView_EnsureVisible(list, top + added, FALSE);
    InvalidateRect(list, nullptr, FALSE);
  });
}

size_t MainWindow::takeResultRows(size_t hits) { return room_.take(hits); }

void MainWindow::cancelBatch() {
  // Dropped first: the status that Cancel posts here would run them all.
  updates_.dropDroppable();
  core_->OnCancel();
}

void MainWindow::setResultLimit(int limit) {
  result_limit_ = frontend::ResultLimitOrDefault(limit);
  stored_.set(frontend::kResultLimitKey, std::to_string(result_limit_));
}

bool MainWindow::busy() { return core_->batchRunning() || updates_.pending(); }

void MainWindow::runOnWindowThread(std::function<void()> work) {
  if (onWindowThread()) {
    work();
  } else {
    // Waits until the window's thread has run it: a job waits for the user
    // here holding only the job lock, which that thread never takes.
    SendMessageW(window_, kRunMessage, 0, reinterpret_cast<LPARAM>(&work));
  }
}

bool MainWindow::showBox(MessageKind kind, const std::string& text, bool offer_quiet) {
  if (settings_.show_box) return settings_.show_box(kind, text, offer_quiet);
  return ShowMessageBox(window_, kind, text, offer_quiet);
}

void MainWindow::fromJob(MessageKind kind, const std::string& text) {
  // The box shows over controls that are up to date.
  runOnWindowThread([this, kind, text] {
    updates_.drain();
    showBox(kind, text);
  });
}

void MainWindow::showInformation(const std::string& text) { fromJob(MessageKind::kInformation, text); }
void MainWindow::showWarning(const std::string& text) { fromJob(MessageKind::kWarning, text); }

void MainWindow::showError(const std::string& text) {
  runOnWindowThread([this, text, path = CurrentJobPath()] { reportError(text, path); });
}

void MainWindow::reportError(const std::string& text, const std::string& path) {
  updates_.drain();
  const std::string message = path.empty() ? text : path + "\n\n" + text;
  std::string line = message;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  HLog_error("Error: %s\n", line.c_str());
  // Errors come from the jobs and removals of a batch, which counts them.
  if (!batch_.noteError(path)) return;
  if (showBox(MessageKind::kError, message, true)) batch_.quietErrors();
}

void MainWindow::runCommand(JobType type) {
  if (type == JOB_SEARCH) {
    const std::string refusal = frontend::SearchWordRefusal(searchWordText());
    if (!refusal.empty()) {
      showBox(MessageKind::kInformation, refusal);
      SetFocus(control(IDC_SEARCH_WORD));
      return;
    }
  }
  batch_.begin(type);
  core_->RunCommand(type, tree_->selectedModelItem());
  batch_.end();
  if (batch_.foundNothing(core_->batchRunning())) {
    // The walk found no file for the command: no batch runs.
    EnableWindow(control(IDC_CANCEL_BATCH), FALSE);
    setStatus(frontend::NothingToDo(type, core_->upToDateInLastCommand()));
  }
}

void MainWindow::openHit(int row) {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  const frontend::ResultRow& hit = rows_.at(static_cast<size_t>(row));
  auto text = std::make_unique<frontend::HitText>();
  std::string error;
  if (!frontend::OpenHit(hit, text.get(), &error)) {
    showBox(MessageKind::kError, error);
    return;
  }
  ReaderWindow::Open(window_, std::move(text), hit.path);
}

std::vector<ReaderWindow*> MainWindow::readers() const {
  std::vector<ReaderWindow*> open;
  for (HWND reader = FindWindowExW(nullptr, nullptr, L"MoravineReader", nullptr); reader;
       reader = FindWindowExW(nullptr, reader, L"MoravineReader", nullptr)) {
    if (GetWindow(reader, GW_OWNER) != window_) continue;
    open.push_back(reinterpret_cast<ReaderWindow*>(GetWindowLongPtrW(reader, GWLP_USERDATA)));
  }
  // Top-level windows come newest first.
  std::reverse(open.begin(), open.end());
  return open;
}

void MainWindow::showOptions() {
  frontend::OptionValues values{core_->spacelessModel(), core_->pointerDistance(), result_limit_,
                                core_->unicodeModel()};
  if (!RunOptionsDialog(window_, &values)) return;
  core_->setOptions(values.spaceless, values.distance);
  setResultLimit(values.result_limit);
  core_->setUnicode(values.unicode);
  // The choice of script is kept between runs.
  stored_.set(frontend::kUnicodeKey, values.unicode ? "1" : "0");
}

void MainWindow::viewLog() {
  if (!log_) {
    showBox(MessageKind::kError, "There is no log file: Moravine.log could not be created in the current folder "
                                 "nor in the state folder.");
    return;
  }
  // The system's text editor; the path is quoted, as it may hold blanks.
  const std::wstring argument = L"\"" + Widen(log_path_) + L"\"";
  const auto started = reinterpret_cast<INT_PTR>(
      ShellExecuteW(window_, L"open", L"notepad.exe", argument.c_str(), nullptr, SW_SHOWNORMAL));
  if (started <= 32) showBox(MessageKind::kError, frontend::LogViewerError("notepad.exe", log_path_));
}

void MainWindow::showHelp() {
  const std::string program = Narrow(ProgramPath());
  std::string page = Narrow(settings_.help_file);
  auto exists = [](const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  if (page.empty()) page = frontend::FindHelpPage(program, exists);
  if (page.empty() || !exists(page)) {
    showBox(MessageKind::kError, settings_.help_file.empty() ? frontend::HelpPageMissing(program)
                                                             : "The help page " + page + " is missing.");
    return;
  }
  // The system's browser, or whatever program opens .html files.
  if (reinterpret_cast<INT_PTR>(ShellExecuteW(window_, L"open", Widen(page).c_str(), nullptr, nullptr,
                                              SW_SHOWNORMAL)) <= 32) {
    showBox(MessageKind::kError, frontend::HelpPageNotShown(page));
  }
}

void MainWindow::selectionChanged() {
  if (busy() || !frontend::IsIdleStatus(status_)) return;
  TreeItem* item = tree_->selectedModelItem();
  status_ = frontend::IdleStatus(item ? model_->ItemPath(item) : std::string());
  SetWindowTextUtf8(control(IDC_STATUS), status_);
}

void MainWindow::close() {
  if (core_->batchRunning()) {
    if (!close_pending_) {
      close_pending_ = true;
      cancelBatch();
    }
    return;
  }
  close_pending_ = false;
  saveLayout();
  DestroyWindow(window_);
}

void MainWindow::closeWhenIdle() {
  if (!close_pending_) return;
  if (busy()) {
    SetTimer(window_, 1, 20, nullptr);
    return;
  }
  KillTimer(window_, 1);
  close();
}

}  // namespace moravine::winui

// The Win32 main window: a resizable dialog with the file tree, the command
// buttons, the search boxes, the results list, the status line, the
// progress bar and Cancel, over the window-free batch core (CMainDlg) that
// the command line and the Qt window use too, and the front end it shares
// with the Qt window.
#ifndef MORAVINE_WINUI_MAIN_WINDOW_H_
#define MORAVINE_WINUI_MAIN_WINDOW_H_

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/main_dialog.h"
#include "batch/tree_model.h"
#include "batch/window_controls.h"
#include "frontend/job_threads.h"
#include "frontend/options.h"
#include "frontend/result_room.h"
#include "frontend/results.h"
#include "frontend/window_state.h"
#include "platform/filesystem.h"
#include "platform/system_search_host.h"
#include "winui/controls.h"
#include "winui/dialogs.h"
#include "winui/file_tree.h"
#include "winui/layout.h"
#include "winui/reader_window.h"

namespace moravine::winui {

struct WindowSettings {
  // The item read down to, selected and opened at start-up (UTF-8, full
  // path); empty: only the drives are shown.
  std::string start_path;
  // Whether the window writes a log, replaced at start-up, to Moravine.log
  // in `log_folder` (empty: the current folder) when it may, otherwise in
  // `state_folder` (empty: %LOCALAPPDATA%\Moravine).
  bool write_log = true;
  std::string log_folder;
  std::string state_folder;
  // The settings file; empty: %APPDATA%\Moravine\moravine-gui.ini.
  std::wstring settings_file;
  // Opened by Help; empty: the page frontend::FindHelpPage finds for the
  // program (beside it, named after it, in the Windows layout).
  std::wstring help_file;
  // Shows a message box and tells whether its check box was ticked; empty:
  // the real boxes. The scripted tests record the boxes here.
  std::function<bool(MessageKind, const std::string& text, bool offer_quiet)> show_box;
  // Asks a question with Yes and No, true for Yes; empty: the real box.
  std::function<bool(const std::string& text)> ask;
};

class MainWindow : public WindowControls {
 public:
  explicit MainWindow(const WindowSettings& settings = WindowSettings());
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND window() const { return window_; }
  HWND control(int id) const { return GetDlgItem(window_, id); }
  // Runs the message loop until the window has closed.
  int run();
  // Handles one message of the loop: the dialog's keys, then the rest.
  static void Dispatch(MSG* message, HWND main_window);

  // WindowControls: from any thread. Updates made on another thread are
  // carried out later on the window's thread, in order; message boxes wait
  // until the user has closed them.
  void setStatus(const std::string& text) override;
  void setProgress(int position, int maximum) override;
  void enable(Control control, bool enabled) override;
  void showInformation(const std::string& text) override;
  void showWarning(const std::string& text) override;
  void showError(const std::string& text) override;
  void clearResults() override;
  void addResultRows(const std::vector<SearchRow>& rows) override;
  size_t takeResultRows(size_t hits) override;
  std::string searchWordText() override { return boxes_.word(); }
  std::string allowErrorsText() override { return boxes_.errors(); }
  SearchSettings searchSettings() override { return boxes_.settings(); }

  CMainDlg& core() { return *core_; }
  TreeModel& model() { return *model_; }
  FileTree& fileTree() { return *tree_; }
  const frontend::ResultRows& rows() const { return rows_; }
  // The status line as shown.
  const std::string& status() const { return status_; }
  int resultLimit() const { return result_limit_; }
  void setResultLimit(int limit);
  // Whether a batch runs or updates still wait to reach the controls.
  bool busy();
  // The log file in use (or the one that could not be made).
  const std::string& logPath() const { return log_path_; }
  // The readers open now, oldest first.
  std::vector<ReaderWindow*> readers() const;

  // What the buttons and keys do.
  void runCommand(JobType type);
  void cancelBatch();
  void openHit(int row);
  void showOptions();
  void viewLog();
  void showHelp();
  // Exit, Escape (in the idle window) and the close box end here. While a
  // batch runs the window does not close at once: the batch is cancelled,
  // the job at work finishes its file, and the window closes when the
  // batch has ended.
  void close();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
  void initControls();
  void initResults();
  void openLog();
  void restoreLayout();
  void saveLayout();
  void layOut();
  void onCommand(int id, int code);
  void onEnter();
  void onEscape();
  // The close box: while a batch runs it asks first.
  void onCloseBox();
  // The idle status line follows the selection until a batch speaks.
  void selectionChanged();
  LRESULT onNotify(const NMHDR* header);
  void resultText(NMLVDISPINFOW* info);
  bool onSplitter(UINT message, LPARAM lparam);
  bool showBox(MessageKind kind, const std::string& text, bool offer_quiet = false);
  void fromJob(MessageKind kind, const std::string& text);
  void runOnWindowThread(std::function<void()> work);
  void reportError(const std::string& text, const std::string& path);
  HWND button(Control control) const;
  void closeWhenIdle();
  bool onWindowThread() const { return GetCurrentThreadId() == thread_; }

  WindowSettings settings_;
  HWND window_ = nullptr;
  DWORD thread_ = GetCurrentThreadId();
  Units units_;
  WindowUpdateQueue updates_;
  SystemFileSystem fs_;
  SystemSearchHost search_host_;
  frontend::JobThreads threads_;
  std::unique_ptr<TreeModel> model_;
  std::unique_ptr<FileTree> tree_;
  std::unique_ptr<CMainDlg> core_;
  SettingsFile stored_;
  FILE* log_ = nullptr;
  std::string log_path_;

  frontend::SearchBoxes boxes_;
  frontend::BatchRecord batch_;
  frontend::ResultRoom room_;
  frontend::ResultRows rows_;
  int result_limit_ = frontend::kDefaultResultLimit;
  std::wstring cell_;  // the text of the cell the list asked for last
  std::string status_;

  int splitter_x_ = 0;
  bool dragging_ = false;
  bool close_pending_ = false;
};

}  // namespace moravine::winui

#endif  // MORAVINE_WINUI_MAIN_WINDOW_H_

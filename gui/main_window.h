// The main window: the file tree, the command buttons, the search boxes,
// the results list, the status line, the progress bar and Cancel, over the
// window-free batch core (CMainDlg) that the command line uses too.
#ifndef MORAVINE_GUI_MAIN_WINDOW_H_
#define MORAVINE_GUI_MAIN_WINDOW_H_

#include <QDialog>
#include <QString>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gui/job_threads.h"
#include "gui/message_box.h"
#include "gui/update_queue.h"
#include "gui/window_logic.h"
#include "shell/filesystem.h"
#include "shell/main_dialog.h"
#include "shell/posix_search_host.h"
#include "shell/tree_model.h"
#include "shell/window_controls.h"

class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace moravine::gui {

class FileTreeWidget;

struct WindowSettings {
  // The item read down to, selected and scrolled into view at start-up;
  // empty: only the root is read.
  QString start_path;
  // The log, replaced at start-up; empty: the log streams stay as they are.
  QString log_file = QStringLiteral("Moravine.log");
  // The program probed with "-V" at start-up; searching needs it.
  QString agrep_program = QStringLiteral("agrep");
  // Opened by Help; empty: the program's own path followed by ".html".
  QString help_file;
  // How "View log file" opens the log; members left empty use the desktop.
  LogViewerServices log_viewer;
};

class MainWindow : public QDialog, public WindowControls {
  Q_OBJECT

 public:
  explicit MainWindow(const WindowSettings& settings = WindowSettings(), QWidget* parent = nullptr);
  ~MainWindow() override;

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
  std::string searchWordText() override;
  std::string allowErrorsText() override;

  CMainDlg& core() { return *core_; }
  TreeModel& model() { return *model_; }
  FileTreeWidget* fileTree() const { return tree_; }
  bool agrepFound() const { return core_->agrepFound(); }
  // Whether a batch runs or updates still wait to reach the controls.
  bool busy();

  // The window's context menu, with the About entry.
  std::unique_ptr<QMenu> createContextMenu();
  void showAbout();
  void showOptions();
  void viewLog();
  void showHelp();

  // Exit, Escape and the window manager end here. While a batch runs the
  // window does not close at once: the batch is cancelled, the job at work
  // finishes its file, and the window closes when the batch has ended.
  void done(int result) override;

 signals:
  void statusChanged(const QString& text);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void createControls();
  void openLog();
  bool probeAgrep();
  void runCommand(JobType type);
  void showBox(MessageKind kind, const std::string& text);
  void closeWhenIdle();
  QPushButton* button(Control control) const;

  WindowSettings settings_;
  UpdateQueue updates_;
  PosixFileSystem fs_;
  PosixSearchHost search_host_;
  JobThreads threads_;
  std::unique_ptr<TreeModel> model_;
  std::unique_ptr<CMainDlg> core_;
  FILE* log_ = nullptr;

  FileTreeWidget* tree_ = nullptr;
  QPushButton* options_ = nullptr;
  QPushButton* view_log_ = nullptr;
  QPushButton* compress_ = nullptr;
  QPushButton* decompress_ = nullptr;
  QPushButton* remove_compressed_ = nullptr;
  QPushButton* remove_original_ = nullptr;
  QPushButton* help_ = nullptr;
  QPushButton* exit_ = nullptr;
  QLineEdit* search_word_ = nullptr;
  QLineEdit* allow_errors_ = nullptr;
  QPushButton* search_ = nullptr;
  QTreeWidget* results_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;

  // The two boxes' texts, for the jobs to read without the window's thread.
  std::mutex box_mutex_;
  std::string word_text_;
  std::string errors_text_;

  bool close_pending_ = false;
  int close_result_ = 0;
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_MAIN_WINDOW_H_

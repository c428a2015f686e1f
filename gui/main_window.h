// The main window: the file tree, the command buttons, the search boxes,
// the results list, the status line, the progress bar and Cancel, over the
// window-free batch core (CMainDlg) that the command line uses too.
#ifndef MORAVINE_GUI_MAIN_WINDOW_H_
#define MORAVINE_GUI_MAIN_WINDOW_H_

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontend/window_state.h"
#include "gui/message_box.h"
#include "gui/update_queue.h"
#include "gui/window_logic.h"
#include "platform/filesystem.h"
#include "batch/main_dialog.h"
#include "platform/system_search_host.h"
#include "batch/tree_model.h"
#include "batch/window_controls.h"

class QLabel;
class QCheckBox;
class QLineEdit;
class QMenu;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QSettings;
class QSplitter;
class QTreeView;

namespace moravine::gui {

class FileTreeWidget;
class ResultsModel;

struct WindowSettings {
  // The item read down to, selected and scrolled into view at start-up;
  // empty: only the root is read.
  QString start_path;
  // Whether the window writes a log, replaced at start-up.
  bool write_log = true;
  // The log goes to Moravine.log in this folder (empty: the current one)
  // when it is writable, otherwise into the state folder (empty: the one
  // that XDG_STATE_HOME or HOME name).
  QString log_folder;
  QString state_folder;
  // Where the window's size, the splitter and the column widths are kept
  // between runs; empty: the user's settings for Moravine.
  QString settings_file;
  // The program probed with "-V" at start-up; searching needs it.
  QString agrep_program = QStringLiteral("agrep");
  // Opened by Help; empty: the page FindHelpPage finds for the program
  // (beside it, or in ../share/moravine).
  QString help_file;
  // How Help shows the page: `shown` is called later, on the window's
  // thread, with whether a browser showed it. Empty: OpenPageInBrowser.
  std::function<void(const QUrl& page, std::function<void(bool shown)> shown)> open_page;
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
  // A job's error names the job's file. Once the user has chosen "Do not
  // show again during this batch", the batch's further errors go to the
  // log only; either way the batch counts the file as failed.
  void showError(const std::string& text) override;
  // A search starts with an empty list, which holds resultLimit() rows at
  // most; the hits past them are counted only. Rows not yet shown when
  // Cancel comes are thrown away.
  void clearResults() override;
  void addResultRows(const std::vector<SearchRow>& rows) override;
  size_t takeResultRows(size_t hits) override;
  std::string searchWordText() override;
  std::string allowErrorsText() override;
  SearchSettings searchSettings() override;

  CMainDlg& core() { return *core_; }
  TreeModel& model() { return *model_; }
  FileTreeWidget* fileTree() const { return tree_; }
  ResultsModel* results() const { return results_model_; }
  bool agrepFound() const { return core_->agrepFound(); }
  // The most rows the results list holds, from the next search on; kept in
  // the settings with the window's layout.
  int resultLimit() const { return result_limit_; }
  void setResultLimit(int limit);
  // Cancel: the batch stops, and the rows on their way to the list go.
  void cancelBatch();
  // Whether a batch runs or updates still wait to reach the controls.
  bool busy();
  // The log file in use (or the one that could not be made).
  const QString& logPath() const { return log_path_; }

  // The window's context menu, with the About entry.
  std::unique_ptr<QMenu> createContextMenu();
  void showAbout();
  void showOptions();
  void viewLog();
  void showHelp();
  // Opens the reader on the hit of a results row.
  void openHit(const QModelIndex& index);
  // Gives the tree the width that the names it shows take, at most two
  // fifths of the window: done at start-up when no width was kept.
  void fitTreeWidth();

  // Exit, Escape and the window manager end here. While a batch runs the
  // window does not close at once: the batch is cancelled, the job at work
  // finishes its file, and the window closes when the batch has ended.
  // (Escape closes only an idle window with empty search boxes, and the
  // close button asks first while a batch runs.)
  void done(int result) override;

 signals:
  void statusChanged(const QString& text);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Enter never closes the window: it presses a focused button, searches
  // from the two boxes, opens in the tree and the results list, and does
  // nothing elsewhere. Escape closes the window when frontend::EscapeCloses
  // lets it.
  void keyPressEvent(QKeyEvent* event) override;
  // The window's close button: while a batch runs it asks first.
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createControls();
  QTreeView* createResultsList();
  // The splitter with the tree and `right`, the status line, the progress
  // bar with Cancel, and the window's sizes.
  void layOut(QWidget* right, const DialogUnits& du);
  void connectControls();
  void openLog();
  bool probeAgrep();
  void runCommand(JobType type);
  void searchFromBoxes();
  void showBox(MessageKind kind, const std::string& text);
  void reportError(const QString& text, const std::string& path);
  QString batchEndText(const QString& core_text) const;
  void closeWhenIdle();
  // The idle status line follows the selection until a batch speaks.
  void selectionChanged();
  std::unique_ptr<QSettings> openSettings() const;
  void restoreLayout();
  void saveLayout();
  QPushButton* button(Control control) const;

  WindowSettings settings_;
  UpdateQueue updates_;
  SystemFileSystem fs_;
  SystemSearchHost search_host_;
  JobThreads threads_;
  std::unique_ptr<TreeModel> model_;
  std::unique_ptr<CMainDlg> core_;
  FILE* log_ = nullptr;
  QString log_path_;

  QSplitter* splitter_ = nullptr;
  FileTreeWidget* tree_ = nullptr;
  QPushButton* options_ = nullptr;
  QPushButton* view_log_ = nullptr;
  QPushButton* compress_ = nullptr;
  QPushButton* decompress_ = nullptr;
  QPushButton* remove_compressed_ = nullptr;
  QPushButton* remove_original_ = nullptr;
  QPushButton* help_ = nullptr;
  QPushButton* about_ = nullptr;
  QPushButton* exit_ = nullptr;
  QLineEdit* search_word_ = nullptr;
  QLineEdit* allow_errors_ = nullptr;
  QCheckBox* ignore_case_ = nullptr;
  QPushButton* search_ = nullptr;
  QTreeView* results_ = nullptr;
  ResultsModel* results_model_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;

  // The two boxes' texts, for the jobs to read without the window's thread.
  frontend::SearchBoxes boxes_;
  // The batch of the last command, kept on the window's thread.
  frontend::BatchRecord batch_;

  // The search's room in the results list.
  ResultRoom room_;
  int result_limit_ = kDefaultResultLimit;

  bool close_pending_ = false;
  int close_result_ = 0;
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_MAIN_WINDOW_H_

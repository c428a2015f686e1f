#include "gui/main_window.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include "codec/jobs/file_jobs.h"
#include "gui/file_tree.h"
#include "gui/options_dialog.h"
#include "search/search_job.h"
#include "wordmodel/hlog.h"

// Outside any namespace, as Qt wants it: the pictures live in a static library.
static void InitResources() { Q_INIT_RESOURCE(moravine); }

namespace moravine::gui {

namespace {

struct Column {
  const char* heading;
  Qt::Alignment alignment;
  int width;
};

const Column kColumns[] = {
    {"File", Qt::AlignLeft, 110},
    {"Position", Qt::AlignLeft, 60},
    {"Left context", Qt::AlignRight, 138},
    {"Word", Qt::AlignHCenter, 90},
    {"Right context", Qt::AlignLeft, 138},
};

QString FromBytes(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

MainWindow::MainWindow(const WindowSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), model_(std::make_unique<TreeModel>(&fs_)) {
  InitResources();
  createControls();
  setWindowIcon(ApplicationIcon());
  openLog();

  bool found = probeAgrep();
  if (!found) {
    ShowMessageBox(this, MessageKind::kWarning,
                   QStringLiteral("agrep not found\n\nPlease install agrep for Windows and make sure that it is "
                                  "accessible through the command 'agrep'.\nWithout agrep you will not be able to "
                                  "search."));
  }
  MainServices services{this, model_.get(), &fs_, &threads_, &search_host_, {CompressJob, DecompressJob, SearchJob}};
  core_ = std::make_unique<CMainDlg>(services, found);
  search_->setEnabled(found);

  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    results_->headerItem()->setText(i, QString::fromLatin1(kColumns[i].heading));
    results_->headerItem()->setTextAlignment(i, kColumns[i].alignment | Qt::AlignVCenter);
    results_->header()->resizeSection(i, kColumns[i].width);
  }
  tree_->setPictures(TreePictures());
  setProgress(0, 0);

  model_->AddDrives();
  if (!settings_.start_path.isEmpty()) {
    TreeItem* item = model_->RevealPath(settings_.start_path.toStdString());
    tree_->reveal(item);
    // A folder opens, so that what it holds shows at once.
    if (item && item->image < IMG_PLAIN) {
      if (QTreeWidgetItem* view = tree_->viewItem(item)) view->setExpanded(true);
    }
  }
}

MainWindow::~MainWindow() {
  // Normally the batch has ended (done() waits for it); if not, the jobs
  // still need the window's thread for their boxes and updates.
  if (core_ && core_->batchRunning()) {
    core_->OnCancel();
    while (core_->batchRunning()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(2);
    }
  }
  threads_.joinAll();
  model_->setObserver(nullptr);
  if (log_) {
    HLog_setStreams(nullptr, nullptr);
    std::fclose(log_);
  }
}

void MainWindow::createControls() {
  setObjectName(QStringLiteral("main102"));
  setWindowTitle(ProgramName());
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFont(DialogFont());
  DialogUnits du = DialogUnits::of(font());

  auto make_button = [this, &du](QPushButton** field, const char* caption, const char* name, QRect where) {
    *field = new QPushButton(QString::fromLatin1(caption), this);
    (*field)->setObjectName(QString::fromLatin1(name));
    (*field)->setGeometry(where);
    return *field;
  };
  auto make_label = [this](const char* caption, const char* name, QRect where) {
    auto* label = new QLabel(QString::fromLatin1(caption), this);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(where);
    return label;
  };
  auto make_edit = [this](QLineEdit** field, std::string* copy, const char* name, QRect where) {
    *field = new QLineEdit(this);
    (*field)->setObjectName(QString::fromLatin1(name));
    (*field)->setGeometry(where);
    connect(*field, &QLineEdit::textChanged, this, [this, copy](const QString& text) {
      std::lock_guard<std::mutex> lock(box_mutex_);
      *copy = text.toStdString();
    });
  };

  // In the order of the dialog's controls, which is also the focus order.
  tree_ = new FileTreeWidget(model_.get(), &updates_, this);
  tree_->setObjectName(QStringLiteral("tree1007"));
  tree_->setGeometry(du.rect(7, 7, 150, 194));
  make_button(&options_, "Options", "options1010", du.rect(162, 7, 73, 14));
  make_button(&view_log_, "View log file", "viewLog1021", du.rect(162, 23, 73, 14));
  make_button(&compress_, "Compress", "compress1008", du.rect(237, 7, 73, 14));
  make_button(&decompress_, "Decompress", "decompress1009", du.rect(237, 23, 73, 14));
  make_button(&remove_compressed_, "Remove compressed\nfiles", "removeCompressed1013", du.rect(312, 7, 73, 30));
  make_button(&remove_original_, "Remove original\nfiles", "removeOriginal1020", du.rect(387, 7, 73, 30));
  make_button(&help_, "&Help", "help57670", du.rect(462, 7, 73, 14));
  make_button(&exit_, "Exit", "exit1", du.rect(462, 23, 73, 14));
  make_label("Search word", "searchWordLabel1018", du.rect(162, 47, 69, 11));
  make_edit(&search_word_, &word_text_, "searchWord1017", du.rect(237, 45, 73, 14));
  make_label("Allow errors", "allowErrorsLabel1019", du.rect(312, 47, 69, 10));
  make_edit(&allow_errors_, &errors_text_, "allowErrors1016", du.rect(387, 45, 73, 14));
  make_button(&search_, "Search", "search1011", du.rect(462, 45, 73, 14));

  results_ = new QTreeWidget(this);
  results_->setObjectName(QStringLiteral("results1005"));
  results_->setGeometry(du.rect(162, 62, 373, 139));
  results_->setColumnCount(static_cast<int>(std::size(kColumns)));
  results_->setRootIsDecorated(false);
  results_->setItemsExpandable(false);
  results_->setUniformRowHeights(true);
  results_->setAllColumnsShowFocus(true);
  results_->setSelectionMode(QAbstractItemView::SingleSelection);
  results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  results_->header()->setStretchLastSection(false);
  results_->header()->setSectionsMovable(false);

  status_ = new QLabel(QStringLiteral("Select a file or directory"), this);
  status_->setObjectName(QStringLiteral("status1015"));
  status_->setTextFormat(Qt::PlainText);
  status_->setGeometry(du.rect(7, 202, 528, 10));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress1014"));
  progress_->setTextVisible(false);
  progress_->setGeometry(du.rect(7, 212, 469, 14));
  make_button(&cancel_, "Cancel", "cancel1012", du.rect(481, 212, 54, 14));
  cancel_->setEnabled(false);

  exit_->setDefault(true);
  connect(options_, &QPushButton::clicked, this, &MainWindow::showOptions);
  connect(view_log_, &QPushButton::clicked, this, &MainWindow::viewLog);
  connect(help_, &QPushButton::clicked, this, &MainWindow::showHelp);
  connect(exit_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, [this] { core_->OnCancel(); });
  const std::pair<QPushButton*, JobType> commands[] = {
      {compress_, JOB_COMPRESS},
      {decompress_, JOB_DECOMPRESS},
      {remove_compressed_, JOB_REMOVE_COMPRESSED},
      {remove_original_, JOB_REMOVE_ORIGINAL},
      {search_, JOB_SEARCH},
  };
  for (const auto& [button, type] : commands) {
    connect(button, &QPushButton::clicked, this, [this, type = type] { runCommand(type); });
  }
  setFixedSize(du.size(542, 233));
}

void MainWindow::openLog() {
  if (settings_.log_file.isEmpty()) return;
  // Replaced at every start; unbuffered, so that it reads in the order written.
  log_ = std::fopen(QFile::encodeName(settings_.log_file).constData(), "w");
  if (!log_) return;
  std::setvbuf(log_, nullptr, _IONBF, 0);
  HLog_setStreams(log_, log_);
}

bool MainWindow::probeAgrep() {
  QProcess agrep;
  agrep.setStandardOutputFile(QProcess::nullDevice());
  agrep.setStandardErrorFile(QProcess::nullDevice());
  agrep.start(settings_.agrep_program, {QStringLiteral("-V")}, QIODevice::ReadOnly);
  if (!agrep.waitForStarted(-1)) return false;
  agrep.waitForFinished(-1);
  return true;
}

QPushButton* MainWindow::button(Control control) const {
  switch (control) {
    case Control::kCompress: return compress_;
    case Control::kDecompress: return decompress_;
    case Control::kRemoveCompressed: return remove_compressed_;
    case Control::kRemoveOriginal: return remove_original_;
    case Control::kSearch: return search_;
    case Control::kExit: return exit_;
    case Control::kCancel: return cancel_;
  }
  return nullptr;
}

void MainWindow::setStatus(const std::string& text) {
  updates_.post([this, text = FromBytes(text)] {
    status_->setText(text);
    emit statusChanged(text);
    if (close_pending_) closeWhenIdle();
  });
}

void MainWindow::setProgress(int position, int maximum) {
  updates_.post([this, position, maximum] {
    // A range of 0..0 would show the busy animation; an idle bar is empty.
    if (maximum <= 0) {
      progress_->setRange(0, 1);
      progress_->setValue(0);
    } else {
      progress_->setRange(0, maximum);
      progress_->setValue(std::min(position, maximum));
    }
  });
}

void MainWindow::enable(Control control, bool enabled) {
  updates_.post([this, control, enabled] { button(control)->setEnabled(enabled); });
}

void MainWindow::clearResults() {
  updates_.post([this] { results_->clear(); });
}

void MainWindow::addResultRows(const std::vector<SearchRow>& rows) {
  updates_.post([this, rows] {
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const SearchRow& row : rows) {
      auto* item = new QTreeWidgetItem(
          QStringList{FromBytes(row.file), FromBytes(row.position), FromBytes(row.left), FromBytes(row.word),
                      FromBytes(row.right)});
      for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        item->setTextAlignment(i, kColumns[i].alignment | Qt::AlignVCenter);
      }
      items.append(item);
    }
    // The newest file's rows go on top, in their own order.
    results_->insertTopLevelItems(0, items);
  });
}

std::string MainWindow::searchWordText() {
  std::lock_guard<std::mutex> lock(box_mutex_);
  return word_text_;
}

std::string MainWindow::allowErrorsText() {
  std::lock_guard<std::mutex> lock(box_mutex_);
  return errors_text_;
}

void MainWindow::showInformation(const std::string& text) { showBox(MessageKind::kInformation, text); }
void MainWindow::showWarning(const std::string& text) { showBox(MessageKind::kWarning, text); }
void MainWindow::showError(const std::string& text) { showBox(MessageKind::kError, text); }

void MainWindow::showBox(MessageKind kind, const std::string& text) {
  // The box shows over controls that are up to date. A job waits for the
  // user here holding only the job lock, which this thread never takes.
  auto show = [this, kind, text = FromBytes(text)] {
    updates_.drain();
    ShowMessageBox(this, kind, text);
  };
  if (QThread::currentThread() == thread()) {
    show();
  } else {
    QMetaObject::invokeMethod(this, show, Qt::BlockingQueuedConnection);
  }
}

bool MainWindow::busy() { return core_->batchRunning() || updates_.pending(); }

void MainWindow::runCommand(JobType type) { core_->RunCommand(type, tree_->selectedModelItem()); }

void MainWindow::showOptions() {
  OptionsDialog dialog(core_->spacelessModel(), core_->pointerDistance(), this);
  if (dialog.exec() == QDialog::Accepted) core_->setOptions(dialog.spaceless(), dialog.distance());
}

void MainWindow::viewLog() {
  LogViewerServices services = settings_.log_viewer;
  if (!services.open_url) services.open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  if (!services.start_detached) {
    services.start_detached = [](const QString& program, const QStringList& arguments) {
      return QProcess::startDetached(program, arguments);
    };
  }
  if (!services.environment) services.environment = [](const char* name) { return qEnvironmentVariable(name); };
  QString log = settings_.log_file.isEmpty() ? QStringLiteral("Moravine.log") : settings_.log_file;
  QString failed = OpenLogFile(log, services);
  if (!failed.isEmpty()) ShowMessageBox(this, MessageKind::kError, LogViewerError(failed));
}

void MainWindow::showHelp() {
  QString file = settings_.help_file.isEmpty() ? QCoreApplication::applicationFilePath() + QStringLiteral(".html")
                                               : settings_.help_file;
  if (!QFileInfo::exists(file)) {
    ShowMessageBox(this, MessageKind::kError, QStringLiteral("The help file %1 is missing.").arg(file));
  } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file))) {
    ShowMessageBox(this, MessageKind::kError, QStringLiteral("Error opening the help file %1.").arg(file));
  }
}

std::unique_ptr<QMenu> MainWindow::createContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  menu->setObjectName(QStringLiteral("contextMenu"));
  menu->addAction(QStringLiteral("&About Moravine..."), this, &MainWindow::showAbout);
  return menu;
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu = createContextMenu();
  menu->exec(event->globalPos());
}

void MainWindow::showAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainWindow::done(int result) {
  if (core_ && core_->batchRunning()) {
    close_result_ = result;
    if (!close_pending_) {
      close_pending_ = true;
      core_->OnCancel();
    }
    return;
  }
  QDialog::done(result);
}

void MainWindow::closeWhenIdle() {
  QTimer::singleShot(0, this, [this] {
    if (!close_pending_) return;
    if (busy()) {
      QTimer::singleShot(20, this, [this] { closeWhenIdle(); });
      return;
    }
    close_pending_ = false;
    QDialog::done(close_result_);
  });
}

}  // namespace moravine::gui

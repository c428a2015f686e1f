#include "gui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QToolTip>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

#include "batch/file_jobs.h"
#include "frontend/help_page.h"
#include "gui/file_tree.h"
#include "gui/options_dialog.h"
#include "gui/reader_window.h"
#include "gui/results_model.h"
#include "batch/search_job.h"
#include "batch/job_frame.h"
#include "wordmodel/hlog.h"

// Outside any namespace, as Qt wants it: the pictures live in a static library.
static void InitResources() { Q_INIT_RESOURCE(moravine); }

namespace moravine::gui {

namespace {

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
                   FromBytes(frontend::AgrepMissingText(QCoreApplication::applicationDirPath().toStdString())));
  }
  MainServices services{this, model_.get(), &fs_, &threads_, &search_host_, {CompressJob, DecompressJob, SearchJob}};
  core_ = std::make_unique<CMainDlg>(services, found);
  search_host_.setCancelFlag(core_->cancelFlag());
  search_->setEnabled(found);
  // Compressing or decompressing a folder again does only what changed:
  // a file whose output is at least as new is left out, and an edited
  // original is never overwritten by its older compressed version.
  core_->setSkipUpToDate(true);

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
  fitTreeWidth();
  restoreLayout();
  selectionChanged();
}

MainWindow::~MainWindow() {
  // Normally the batch has ended (done() waits for it); if not, the jobs
  // still need the window's thread for their boxes and updates.
  if (core_ && core_->batchRunning()) {
    cancelBatch();
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
  // A window of its own with the frame's usual buttons, not a dialog box.
  setWindowFlags(Qt::Window);
  setFont(DialogFont());
  DialogUnits du = DialogUnits::of(font());

  auto make_button = [this](QPushButton** field, const char* caption, const char* name) {
    *field = new QPushButton(QString::fromLatin1(caption));
    (*field)->setObjectName(QString::fromLatin1(name));
    // No button becomes a default that Enter would press from elsewhere;
    // Enter presses the button that has the focus (eventFilter).
    (*field)->setAutoDefault(false);
    (*field)->installEventFilter(this);
    return *field;
  };
  auto make_label = [](const char* caption, const char* name) {
    auto* label = new QLabel(QString::fromLatin1(caption));
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
  };
  auto make_edit = [this](QLineEdit** field, std::function<void(const std::string&)> copy, const char* name) {
    *field = new QLineEdit;
    (*field)->setObjectName(QString::fromLatin1(name));
    connect(*field, &QLineEdit::textChanged, this, [copy](const QString& text) { copy(text.toStdString()); });
    connect(*field, &QLineEdit::returnPressed, this, &MainWindow::searchFromBoxes);
  };

  tree_ = new FileTreeWidget(model_.get(), &updates_);
  tree_->setObjectName(QStringLiteral("tree1007"));

  // Right of the tree: two rows of buttons, the search row, the results.
  // The gap column before Help, Exit and Search takes the extra width, so
  // those stay at the right edge, over the list's right end.
  auto* right = new QWidget;
  auto* grid = new QGridLayout(right);
  grid->setContentsMargins(du.x(2), 0, 0, 0);
  grid->setHorizontalSpacing(du.x(2));
  grid->setVerticalSpacing(du.y(2));
  grid->addWidget(make_button(&options_, "Options", "options1010"), 0, 0);
  grid->addWidget(make_button(&view_log_, "View log file", "viewLog1021"), 1, 0);
  grid->addWidget(make_button(&compress_, "Compress", "compress1008"), 0, 1);
  grid->addWidget(make_button(&decompress_, "Decompress", "decompress1009"), 1, 1);
  grid->addWidget(make_button(&remove_compressed_, "Remove compressed\nfiles", "removeCompressed1013"), 0, 2, 2, 1);
  grid->addWidget(make_button(&remove_original_, "Remove original\nfiles", "removeOriginal1020"), 0, 3, 2, 1);
  grid->addWidget(make_button(&help_, "&Help", "help57670"), 0, 5);
  grid->addWidget(make_button(&about_, "About", "about"), 0, 4, Qt::AlignRight);
  about_->setMinimumWidth(du.x(50));
  grid->addWidget(make_button(&exit_, "Exit", "exit1"), 1, 5);
  for (QPushButton* tall : {remove_compressed_, remove_original_}) {
    tall->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  }
  grid->setRowMinimumHeight(2, du.y(4));
  grid->addWidget(make_label("Search word", "searchWordLabel1018"), 3, 0);
  make_edit(&search_word_, [this](const std::string& text) { boxes_.setWord(text); }, "searchWord1017");
  grid->addWidget(search_word_, 3, 1);
  grid->addWidget(make_label("Allow errors", "allowErrorsLabel1019"), 3, 2);
  make_edit(&allow_errors_, [this](const std::string& text) { boxes_.setErrors(text); }, "allowErrors1016");
  grid->addWidget(allow_errors_, 3, 3);
  // A number of errors is digits alone; a refused key says what is wanted.
  allow_errors_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), allow_errors_));
  allow_errors_->setToolTip(FromBytes(frontend::kAllowErrorsDigitsOnly));
  connect(allow_errors_, &QLineEdit::inputRejected, this, [this] {
    QToolTip::showText(allow_errors_->mapToGlobal(QPoint(0, allow_errors_->height())),
                       FromBytes(frontend::kAllowErrorsDigitsOnly), allow_errors_);
  });
  ignore_case_ = new QCheckBox(QStringLiteral("Ignore case"));
  ignore_case_->setObjectName(QStringLiteral("ignoreCase"));
  connect(ignore_case_, &QCheckBox::toggled, this, [this](bool on) { boxes_.setIgnoreCase(on); });
  grid->addWidget(ignore_case_, 3, 4, Qt::AlignLeft);
  grid->addWidget(make_button(&search_, "Search", "search1011"), 3, 5);
  for (int column : {0, 1, 2, 3, 5}) grid->setColumnMinimumWidth(column, du.x(73));
  grid->setColumnStretch(4, 1);
  grid->addWidget(createResultsList(), 4, 0, 1, 6);
  grid->setRowStretch(4, 1);
  layOut(right, du);
  connectControls();
}

QTreeView* MainWindow::createResultsList() {
  results_ = new QTreeView;
  results_->setObjectName(QStringLiteral("results1005"));
  results_model_ = new ResultsModel(this);
  results_->setModel(results_model_);
  results_->setItemDelegate(new ResultsDelegate(results_));
  results_->setRootIsDecorated(false);
  results_->setItemsExpandable(false);
  results_->setUniformRowHeights(true);
  results_->setAllColumnsShowFocus(true);
  results_->setSelectionMode(QAbstractItemView::SingleSelection);
  results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  results_->header()->setSectionsMovable(false);
  // Extra width goes to the right context, which then shows more.
  results_->header()->setStretchLastSection(true);
  for (int i = 0; i < ResultsModel::kColumnCount; ++i) {
    results_->header()->resizeSection(i, ResultsModel::defaultWidth(i));
  }
  // A double click, or Enter, on a hit opens the reader.
  connect(results_, &QAbstractItemView::activated, this, &MainWindow::openHit);
  return results_;
}

void MainWindow::layOut(QWidget* right, const DialogUnits& du) {
  splitter_ = new QSplitter(Qt::Horizontal);
  splitter_->setObjectName(QStringLiteral("splitter"));
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(tree_);
  splitter_->addWidget(right);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 3);

  status_ = new QLabel(QString::fromLatin1(frontend::kSelectPrompt));
  status_->setObjectName(QStringLiteral("status1015"));
  status_->setTextFormat(Qt::PlainText);
  // A long path in the status line must not widen the window.
  status_->setMinimumWidth(1);
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  progress_ = new QProgressBar;
  progress_->setObjectName(QStringLiteral("progress1014"));
  progress_->setTextVisible(false);
  cancel_ = new QPushButton(QStringLiteral("Cancel"));
  cancel_->setObjectName(QStringLiteral("cancel1012"));
  cancel_->setAutoDefault(false);
  cancel_->installEventFilter(this);
  cancel_->setMinimumWidth(du.x(54));
  cancel_->setEnabled(false);
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(du.x(5));
  bottom->addWidget(progress_, 1);
  bottom->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(du.x(7), du.y(7), du.x(7), du.y(7));
  layout->setSpacing(du.y(1));
  layout->addWidget(splitter_, 1);
  layout->addWidget(status_);
  layout->addLayout(bottom);

  // The dialog's size is the least; the first run opens somewhat larger,
  // with room for more hits. Nor is it less than the controls need, so
  // that no caption is ever cut.
  QSize least = du.size(542, 233).expandedTo(layout->minimumSize());
  setMinimumSize(least);
  QSize first(least.width() * 5 / 4, least.height() * 3 / 2);
  if (QScreen* screen = this->screen()) first = first.boundedTo(screen->availableSize() * 9 / 10);
  resize(first.expandedTo(least));
  splitter_->setSizes({du.x(150), first.width()});
}

void MainWindow::connectControls() {
  // The focus goes round in the order of the dialog's controls.
  QWidget* order[] = {tree_,    options_, view_log_,     compress_,    decompress_, remove_compressed_,
                      remove_original_,   about_,        help_,        exit_,        search_word_,
                      allow_errors_,      ignore_case_,  search_,      results_,     cancel_};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(options_, &QPushButton::clicked, this, &MainWindow::showOptions);
  connect(view_log_, &QPushButton::clicked, this, &MainWindow::viewLog);
  connect(help_, &QPushButton::clicked, this, &MainWindow::showHelp);
  connect(about_, &QPushButton::clicked, this, &MainWindow::showAbout);
  connect(tree_, &QTreeWidget::currentItemChanged, this, &MainWindow::selectionChanged);
  connect(exit_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &MainWindow::cancelBatch);
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
}

std::unique_ptr<QSettings> MainWindow::openSettings() const {
  if (settings_.settings_file.isEmpty()) return std::make_unique<QSettings>(ProgramName(), QStringLiteral("moravine-gui"));
  return std::make_unique<QSettings>(settings_.settings_file, QSettings::IniFormat);
}

void MainWindow::restoreLayout() {
  std::unique_ptr<QSettings> stored = openSettings();
  core_->setUnicode(stored->value(QLatin1String(frontend::kUnicodeKey), false).toBool());
  restoreGeometry(stored->value(QLatin1String(frontend::kGeometryKey)).toByteArray());
  splitter_->restoreState(stored->value(QLatin1String(frontend::kSplitterKey)).toByteArray());
  results_->header()->restoreState(stored->value(QLatin1String(frontend::kColumnsKey)).toByteArray());
  result_limit_ = ResultLimitFromSetting(stored->value(QLatin1String(frontend::kResultLimitKey)));
}

void MainWindow::saveLayout() {
  std::unique_ptr<QSettings> stored = openSettings();
  stored->setValue(QLatin1String(frontend::kGeometryKey), saveGeometry());
  stored->setValue(QLatin1String(frontend::kSplitterKey), splitter_->saveState());
  stored->setValue(QLatin1String(frontend::kColumnsKey), results_->header()->saveState());
}

void MainWindow::openLog() {
  if (!settings_.write_log) return;
  QString preferred = settings_.log_folder.isEmpty() ? QDir::currentPath() : settings_.log_folder;
  std::string state = settings_.state_folder.isEmpty()
                          ? StateFolder([](const char* name) { return qEnvironmentVariable(name).toStdString(); })
                          : settings_.state_folder.toStdString();
  OpenedLog log = OpenLog(QFile::encodeName(preferred).toStdString(), state);
  log_ = log.stream;
  log_path_ = QFile::decodeName(QByteArray::fromStdString(log.path));
  if (log_) HLog_setStreams(log_, log_);
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
    QString shown = IsBatchEnd(text) ? batchEndText(text) : text;
    status_->setText(shown);
    emit statusChanged(shown);
    if (close_pending_) closeWhenIdle();
  });
}

QString MainWindow::batchEndText(const QString& core_text) const {
  return BatchEndText(core_text, batch_.outcome(room_, results_model_->rowCount()));
}

void MainWindow::setProgress(int position, int maximum) {
  // StartJob runs on this thread while a command queues its batch.
  batch_.noteProgress(maximum, QThread::currentThread() == thread());
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
  // The core enables Cancel once it has accepted a command.
  batch_.noteEnable(control, enabled, QThread::currentThread() == thread());
  updates_.post([this, control, enabled] { button(control)->setEnabled(enabled); });
}

void MainWindow::clearResults() {
  // Here, before the walk queues the first job.
  room_.reset(result_limit_);
  updates_.post([this] { results_model_->clear(); });
}

void MainWindow::addResultRows(const std::vector<SearchRow>& rows) {
  // The rows come from the search job of one file, on the job's thread.
  updates_.postDroppable([this, rows] { results_model_->prepend(rows); });
}

size_t MainWindow::takeResultRows(size_t hits) { return room_.take(hits); }

void MainWindow::cancelBatch() {
  // Dropped first: the status that Cancel posts here would run them all.
  updates_.dropDroppable();
  core_->OnCancel();
}

void MainWindow::setResultLimit(int limit) {
  result_limit_ = ResultLimitFromSetting(limit);
  openSettings()->setValue(QLatin1String(frontend::kResultLimitKey), result_limit_);
}

std::string MainWindow::searchWordText() { return boxes_.word(); }

SearchSettings MainWindow::searchSettings() { return boxes_.settings(); }

std::string MainWindow::allowErrorsText() { return boxes_.errors(); }

void MainWindow::showInformation(const std::string& text) { showBox(MessageKind::kInformation, text); }
void MainWindow::showWarning(const std::string& text) { showBox(MessageKind::kWarning, text); }

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

void MainWindow::showError(const std::string& text) {
  auto report = [this, text = FromBytes(text), path = CurrentJobPath()] { reportError(text, path); };
  if (QThread::currentThread() == thread()) {
    report();
  } else {
    QMetaObject::invokeMethod(this, report, Qt::BlockingQueuedConnection);
  }
}

void MainWindow::reportError(const QString& text, const std::string& path) {
  updates_.drain();
  QString file = FromBytes(path);
  QString message = file.isEmpty() ? text : file + QStringLiteral("\n\n") + text;
  QString line = message.simplified();
  HLog_error("Error: %s\n", line.toUtf8().constData());
  // Errors come from the jobs and removals of a batch, which counts them.
  if (!batch_.noteError(path)) return;
  if (ShowMessageBox(this, MessageKind::kError, message, QStringLiteral("Do not show again during this batch"))) {
    batch_.quietErrors();
  }
}

bool MainWindow::busy() { return core_->batchRunning() || updates_.pending(); }

void MainWindow::runCommand(JobType type) {
  if (type == JOB_SEARCH) {
    QString refusal = SearchWordRefusal(searchWordText());
    if (!refusal.isEmpty()) {
      ShowMessageBox(this, MessageKind::kInformation, refusal);
      search_word_->setFocus();
      return;
    }
  }
  batch_.begin(type);
  core_->RunCommand(type, tree_->selectedModelItem());
  batch_.end();
  if (batch_.foundNothing(core_->batchRunning())) {
    // The walk found no file for the command: no batch runs.
    cancel_->setEnabled(false);
    setStatus(frontend::NothingToDo(type, core_->upToDateInLastCommand()));
  }
}

void MainWindow::selectionChanged() {
  if (busy() || !frontend::IsIdleStatus(status_->text().toStdString())) return;
  TreeItem* item = tree_->selectedModelItem();
  status_->setText(FromBytes(frontend::IdleStatus(item ? model_->ItemPath(item) : std::string())));
}

void MainWindow::fitTreeWidth() {
  // The names shown once the start path is open, with the view's frame and
  // a vertical scroll bar; at most two fifths of the window.
  const int needed = tree_->namesWidth() + 2 * tree_->frameWidth() +
                     tree_->verticalScrollBar()->sizeHint().width() + tree_->indentation();
  const int wanted = std::clamp(needed, DialogUnits::of(font()).x(150), width() * 2 / 5);
  layout()->activate();  // the splitter gets its width: the sizes are then taken as they are
  splitter_->setSizes({wanted, std::max(1, splitter_->width() - splitter_->handleWidth() - wanted)});
}

void MainWindow::searchFromBoxes() {
  if (search_->isEnabled()) runCommand(JOB_SEARCH);
}

namespace {
bool IsEnter(const QKeyEvent* event) { return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter; }
}  // namespace

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && IsEnter(static_cast<QKeyEvent*>(event))) {
    if (auto* button = qobject_cast<QPushButton*>(watched); button && button->isEnabled()) {
      button->click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (IsEnter(event)) {
    // Here come the keys that the focused control left: the boxes have
    // searched already, the tree and the results list have opened.
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
      !frontend::EscapeCloses(core_->batchRunning(), search_word_->text().toStdString(),
                              allow_errors_->text().toStdString())) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (core_ && core_->batchRunning() && !close_pending_ &&
      !AskQuestion(this, FromBytes(frontend::kCloseDuringBatch))) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void MainWindow::openHit(const QModelIndex& index) {
  if (!index.isValid()) return;
  const ResultRow& row = results_model_->at(index.row());
  auto text = std::make_unique<HitText>();
  std::string error;
  if (!frontend::OpenHit(row, text.get(), &error)) {
    ShowMessageBox(this, MessageKind::kError, FromBytes(error));
    return;
  }
  auto* reader = new ReaderWindow(std::move(text), FromBytes(row.path), this);
  reader->show();
}

void MainWindow::showOptions() {
  OptionsDialog dialog(
      OptionValues{core_->spacelessModel(), core_->pointerDistance(), result_limit_, core_->unicodeModel()}, this);
  if (dialog.exec() != QDialog::Accepted) return;
  core_->setOptions(dialog.values().spaceless, dialog.values().distance);
  setResultLimit(dialog.values().result_limit);
  core_->setUnicode(dialog.values().unicode);
  // The choice of script is kept between runs: a user of Russian texts
  // should not have to make it again.
  openSettings()->setValue(QLatin1String(frontend::kUnicodeKey), dialog.values().unicode);
}

void MainWindow::viewLog() {
  if (!log_) {
    ShowMessageBox(this, MessageKind::kError,
                   QStringLiteral("There is no log file: Moravine.log could not be created in %1 nor in the state "
                                  "folder.")
                       .arg(QFileInfo(log_path_).absolutePath()));
    return;
  }
  LogViewerServices services = settings_.log_viewer;
  if (!services.open_url) services.open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  if (!services.start_detached) {
    services.start_detached = [](const QString& program, const QStringList& arguments) {
      return QProcess::startDetached(program, arguments);
    };
  }
  if (!services.environment) services.environment = [](const char* name) { return qEnvironmentVariable(name); };
  QString failed = OpenLogFile(log_path_, services);
  if (!failed.isEmpty()) ShowMessageBox(this, MessageKind::kError, LogViewerError(failed, log_path_));
}

void MainWindow::showHelp() {
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  QString file = settings_.help_file;
  if (file.isEmpty()) {
    file = QString::fromStdString(frontend::FindHelpPage(
        program, [](const std::string& place) { return QFileInfo::exists(QString::fromStdString(place)); }));
  }
  if (file.isEmpty() || !QFileInfo::exists(file)) {
    const std::string missing = settings_.help_file.isEmpty() ? frontend::HelpPageMissing(program)
                                                              : "The help page " + file.toStdString() + " is missing.";
    ShowMessageBox(this, MessageKind::kError, QString::fromStdString(missing));
    return;
  }
  file = QFileInfo(file).canonicalFilePath();
  QPointer<MainWindow> window(this);
  auto shown = [window, file](bool ok) {
    if (!ok && window) {
      ShowMessageBox(window, MessageKind::kError,
                     QString::fromStdString(frontend::HelpPageNotShown(file.toStdString())));
    }
  };
  if (settings_.open_page) {
    settings_.open_page(QUrl::fromLocalFile(file), shown);
  } else {
    OpenPageInBrowser(QUrl::fromLocalFile(file), shown);
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
      cancelBatch();
    }
    return;
  }
  saveLayout();
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
    saveLayout();
    QDialog::done(close_result_);
  });
}

}  // namespace moravine::gui

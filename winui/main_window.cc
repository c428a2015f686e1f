#include "winui/main_window.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <sstream>

#include "batch/file_jobs.h"
#include "batch/job_path.h"
#include "batch/search_job.h"
#include "frontend/log_file.h"
#include "frontend/status_text.h"
#include "winui/resource.h"
#include "winui/text.h"
#include "wordmodel/hlog.h"

namespace moravine::winui {

namespace {

constexpr UINT_PTR kCloseTimer = 1;
// The About entry of the window's system menu: a system command's low four
// bits are the system's own.
constexpr UINT kAboutCommand = 0x0010;

Part PartOf(int id) {
  switch (id) {
    case IDC_TREE: return Part::kTree;
    case IDC_OPTIONS: return Part::kOptions;
    case IDC_VIEW_LOG: return Part::kViewLog;
    case IDC_COMPRESS: return Part::kCompress;
    case IDC_DECOMPRESS: return Part::kDecompress;
    case IDC_REMOVE_COMPRESSED: return Part::kRemoveCompressed;
    case IDC_REMOVE_ORIGINAL: return Part::kRemoveOriginal;
    case IDC_HELP_BUTTON: return Part::kHelp;
    case IDC_EXIT: return Part::kExit;
    case IDC_SEARCH_LABEL: return Part::kSearchLabel;
    case IDC_SEARCH_WORD: return Part::kSearchWord;
    case IDC_ERRORS_LABEL: return Part::kErrorsLabel;
    case IDC_ALLOW_ERRORS: return Part::kAllowErrors;
    case IDC_IGNORE_CASE: return Part::kIgnoreCase;
    case IDC_SEARCH: return Part::kSearch;
    case IDC_RESULTS: return Part::kResults;
    case IDC_STATUS: return Part::kStatus;
    case IDC_PROGRESS: return Part::kProgress;
    default: return Part::kCancel;
  }
}

constexpr int kControlIds[] = {IDC_TREE,         IDC_OPTIONS,     IDC_VIEW_LOG,     IDC_COMPRESS,
                               IDC_DECOMPRESS,   IDC_REMOVE_COMPRESSED, IDC_REMOVE_ORIGINAL, IDC_HELP_BUTTON,
                               IDC_EXIT,         IDC_SEARCH_LABEL, IDC_SEARCH_WORD, IDC_ERRORS_LABEL,
                               IDC_ALLOW_ERRORS, IDC_IGNORE_CASE, IDC_SEARCH,      IDC_RESULTS,
                               IDC_STATUS,       IDC_PROGRESS,    IDC_CANCEL_BATCH};

std::string CurrentFolder() {
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  return Narrow(folder);
}

std::string LocalStateFolder() {
  wchar_t* folder = nullptr;
  std::string state;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &folder))) {
    state = Narrow(folder) + "\\Moravine";
  }
  CoTaskMemFree(folder);
  return state;
}

}  // namespace

MainWindow::MainWindow(const WindowSettings& settings)
    : settings_(settings),
      model_(std::make_unique<TreeModel>(&fs_)),
      stored_(settings.settings_file.empty() ? SettingsFile::DefaultPath() : settings.settings_file) {
  openLog();
  MainServices services{this, model_.get(), &fs_, &threads_, &search_host_, {CompressJob, DecompressJob, SearchJob}};
  const bool found = AgrepStarts();
  core_ = std::make_unique<CMainDlg>(services, found);
  search_host_.setCancelFlag(core_->cancelFlag());
  // Compressing or decompressing a folder again does only what changed:
  // a file whose output is at least as new is left out, and an edited
  // original is never overwritten by its older compressed version.
  core_->setSkipUpToDate(true);
  CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                     reinterpret_cast<LPARAM>(this));
  if (!found) showBox(MessageKind::kWarning, frontend::AgrepMissingText(Narrow(FolderOf(ProgramPath()))));
  EnableWindow(control(IDC_SEARCH), found);
}

MainWindow::~MainWindow() {
  // Normally the batch has ended (close() waits for it); if not, the jobs
  // still need the window's thread for their boxes and updates.
  if (core_ && core_->batchRunning()) {
    cancelBatch();
    while (core_->batchRunning()) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) Dispatch(&message, window_);
      Sleep(2);
    }
  }
  threads_.joinAll();
  model_->setObserver(nullptr);
  if (window_ && IsWindow(window_)) DestroyWindow(window_);
  if (log_) {
    HLog_setStreams(nullptr, nullptr);
    std::fclose(log_);
  }
}

void MainWindow::openLog() {
  if (!settings_.write_log) return;
  const std::string preferred = settings_.log_folder.empty() ? CurrentFolder() : settings_.log_folder;
  const std::string state = settings_.state_folder.empty() ? LocalStateFolder() : settings_.state_folder;
  frontend::OpenedLog log = frontend::OpenLog(preferred, state);
  log_ = log.stream;
  log_path_ = log.path;
  if (log_) HLog_setStreams(log_, log_);
}

INT_PTR CALLBACK MainWindow::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    auto* self = reinterpret_cast<MainWindow*>(lparam);
    self->window_ = window;
    self->initControls();
    return FALSE;  // the focus is set already
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self ? self->handle(message, wparam, lparam) : FALSE;
}

void MainWindow::initControls() {
  updates_.attach(window_);
  units_ = DialogUnits(window_);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  for (int size : {GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CXICON)}) {
    HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORAVINE), IMAGE_ICON, size, size, 0);
    SendMessageW(window_, WM_SETICON, size == GetSystemMetrics(SM_CXSMICON) ? ICON_SMALL : ICON_BIG,
                 reinterpret_cast<LPARAM>(icon));
  }
  HMENU system = GetSystemMenu(window_, FALSE);
  AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(system, MF_STRING, kAboutCommand, L"&About Moravine...");
  tree_ = std::make_unique<FileTree>(control(IDC_TREE), model_.get(), &updates_);
  initResults();
  status_ = WindowText(control(IDC_STATUS));
  setProgress(0, 0);
  model_->AddDrives();
  if (!settings_.start_path.empty()) {
    TreeItem* item = model_->RevealPath(settings_.start_path);
    tree_->reveal(item);
    // A folder opens, so that what it holds shows at once.
    if (item && item->image < IMG_PLAIN) tree_->expand(item);
  }
  restoreLayout();
  selectionChanged();
  SetFocus(control(IDC_TREE));
}

void MainWindow::initResults() {
  HWND list = control(IDC_RESULTS);
  // A number of errors: three digits at most (the edit's own style takes
  // digits alone and says so).
  SendMessageW(control(IDC_ALLOW_ERRORS), EM_SETLIMITTEXT, 3, 0);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP |
                                              LVS_EX_INFOTIP);
  for (int column = 0; column < frontend::kColumnCount; ++column) {
    const frontend::ColumnInfo& info = frontend::Column(column);
    std::wstring heading = Widen(info.heading);
    LVCOLUMNW lv{};
    lv.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    lv.fmt = info.alignment == frontend::CellAlignment::kRight    ? LVCFMT_RIGHT
             : info.alignment == frontend::CellAlignment::kCentre ? LVCFMT_CENTER
                                                                   : LVCFMT_LEFT;
    // The widths are those of the Qt window's font, whose base unit is 6.
    lv.cx = info.width * units_.base_x / 6;
    lv.pszText = heading.data();
    lv.iSubItem = column;
    ListView_InsertColumn(list, column, &lv);
  }
}

void MainWindow::restoreLayout() {
  core_->setUnicode(stored_.integer(frontend::kUnicodeKey).value_or(0) != 0);
  result_limit_ = frontend::ResultLimitOrDefault(stored_.integer(frontend::kResultLimitKey));
  splitter_x_ = static_cast<int>(stored_.integer(frontend::kSplitterKey).value_or(FirstSplitter(units_)));
  std::istringstream columns(stored_.text(frontend::kColumnsKey).value_or(""));
  for (int column = 0, width = 0; column < frontend::kColumnCount && columns >> width; ++column) {
    ListView_SetColumnWidth(control(IDC_RESULTS), column, std::max(width, 8));
  }
  // The dialog's size is the least; the first run opens somewhat larger.
  RECT frame{0, 0, FirstClient(units_).width, FirstClient(units_).height};
  AdjustWindowRectEx(&frame, GetWindowLongW(window_, GWL_STYLE), FALSE, GetWindowLongW(window_, GWL_EXSTYLE));
  // Centred on its screen's work area, as the dialog of the least size was.
  MONITORINFO screen{};
  screen.cbSize = sizeof(screen);
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &screen);
  const RECT& area = screen.rcWork;
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, area.left + std::max<int>(0, (area.right - area.left - width) / 2),
               area.top + std::max<int>(0, (area.bottom - area.top - height) / 2), width, height, SWP_NOZORDER);
  std::istringstream geometry(stored_.text(frontend::kGeometryKey).value_or(""));
  WINDOWPLACEMENT place{};
  place.length = sizeof(place);
  int maximized = 0;
  if (geometry >> place.rcNormalPosition.left >> place.rcNormalPosition.top >> place.rcNormalPosition.right >>
      place.rcNormalPosition.bottom >> maximized) {
    place.showCmd = maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    SetWindowPlacement(window_, &place);
  }
  layOut();
}

void MainWindow::saveLayout() {
  WINDOWPLACEMENT place{};
  place.length = sizeof(place);
  GetWindowPlacement(window_, &place);
  const RECT& r = place.rcNormalPosition;
  stored_.set(frontend::kGeometryKey, std::to_string(r.left) + ' ' + std::to_string(r.top) + ' ' +
                                          std::to_string(r.right) + ' ' + std::to_string(r.bottom) + ' ' +
                                          (place.showCmd == SW_SHOWMAXIMIZED ? "1" : "0"));
  stored_.set(frontend::kSplitterKey, std::to_string(splitter_x_));
  std::string columns;
  for (int column = 0; column < frontend::kColumnCount; ++column) {
    columns += (column ? " " : "") + std::to_string(ListView_GetColumnWidth(control(IDC_RESULTS), column));
  }
  stored_.set(frontend::kColumnsKey, columns);
}

void MainWindow::layOut() {
  RECT client;
  GetClientRect(window_, &client);
  const MainLayout layout = LayOut(client.right, client.bottom, splitter_x_, units_);
  HDWP moves = BeginDeferWindowPos(static_cast<int>(std::size(kControlIds)));
  for (int id : kControlIds) {
    const Box& box = layout[PartOf(id)];
    moves = DeferWindowPos(moves, control(id), nullptr, box.x, box.y, box.width, box.height,
                           SWP_NOZORDER | SWP_NOACTIVATE);
  }
  EndDeferWindowPos(moves);
  InvalidateRect(window_, nullptr, TRUE);
}

int MainWindow::run() {
  ShowWindow(window_, SW_SHOW);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(&message, window_);
  return static_cast<int>(message.wParam);
}

void MainWindow::Dispatch(MSG* message, HWND main_window) {
  if (main_window && IsWindow(main_window) && IsDialogMessageW(main_window, message)) return;
  TranslateMessage(message);
  DispatchMessageW(message);
}

INT_PTR MainWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      layOut();
      return TRUE;
    case WM_GETMINMAXINFO: {
      RECT frame{0, 0, MinimumClient(units_).width, MinimumClient(units_).height};
      AdjustWindowRectEx(&frame, GetWindowLongW(window_, GWL_STYLE), FALSE, GetWindowLongW(window_, GWL_EXSTYLE));
      reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {frame.right - frame.left, frame.bottom - frame.top};
      return TRUE;
    }
    case WM_COMMAND:
      onCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, onNotify(reinterpret_cast<const NMHDR*>(lparam)));
      return TRUE;
    case WM_CONTEXTMENU: {
      HMENU menu = CreatePopupMenu();
      AppendMenuW(menu, MF_STRING, IDM_ABOUT, L"&About Moravine...");
      POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      if (at.x == -1 && at.y == -1) GetCursorPos(&at);  // from the keyboard
      const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
      DestroyMenu(menu);
      if (chosen == IDM_ABOUT) RunAboutBox(window_);
      return TRUE;
    }
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) != kAboutCommand) return FALSE;
      RunAboutBox(window_);
      return TRUE;
    case kDrainMessage:
      updates_.drainTurn();
      return TRUE;
    case kRunMessage:
      (*reinterpret_cast<std::function<void()>*>(lparam))();
      return TRUE;
    case WM_TIMER:
      if (wparam == kCloseTimer) closeWhenIdle();
      return TRUE;
    case WM_SETCURSOR:
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
      return onSplitter(message, lparam);
    case WM_CLOSE:
      onCloseBox();
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

bool MainWindow::onSplitter(UINT message, LPARAM lparam) {
  POINT at;
  GetCursorPos(&at);
  ScreenToClient(window_, &at);
  RECT client;
  GetClientRect(window_, &client);
  const Box gap = LayOut(client.right, client.bottom, splitter_x_, units_).splitter;
  const bool over = at.x >= gap.x && at.x < gap.right() && at.y >= gap.y && at.y < gap.bottom();
  switch (message) {
    case WM_SETCURSOR:
      if (!over && !dragging_) return false;
      SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
      return true;
    case WM_LBUTTONDOWN:
      if (!over) return false;
      dragging_ = true;
      SetCapture(window_);
      return true;
    case WM_MOUSEMOVE:
      if (!dragging_) return false;
      splitter_x_ = ClampSplitter(static_cast<short>(LOWORD(lparam)) - gap.width / 2, client.right, units_);
      layOut();
      return true;
    default:
      if (!dragging_) return false;
      dragging_ = false;
      ReleaseCapture();
      return true;
  }
}

void MainWindow::onCommand(int id, int code) {
  switch (id) {
    case IDC_COMPRESS: runCommand(JOB_COMPRESS); break;
    case IDC_DECOMPRESS: runCommand(JOB_DECOMPRESS); break;
    case IDC_REMOVE_COMPRESSED: runCommand(JOB_REMOVE_COMPRESSED); break;
    case IDC_REMOVE_ORIGINAL: runCommand(JOB_REMOVE_ORIGINAL); break;
    case IDC_SEARCH: runCommand(JOB_SEARCH); break;
    case IDC_OPTIONS: showOptions(); break;
    case IDC_VIEW_LOG: viewLog(); break;
    case IDC_HELP_BUTTON: showHelp(); break;
    case IDC_EXIT: close(); break;
    case IDC_CANCEL_BATCH: cancelBatch(); break;
    case IDOK: onEnter(); break;  // Enter, with the focus on no button
    case IDCANCEL: onEscape(); break;
    case IDC_SEARCH_WORD:
      if (code == EN_CHANGE) boxes_.setWord(WindowText(control(IDC_SEARCH_WORD)));
      break;
    case IDC_ALLOW_ERRORS:
      if (code == EN_CHANGE) boxes_.setErrors(WindowText(control(IDC_ALLOW_ERRORS)));
      break;
    case IDC_IGNORE_CASE:
      boxes_.setIgnoreCase(IsDlgButtonChecked(window_, IDC_IGNORE_CASE) == BST_CHECKED);
      break;
    default: break;
  }
}

void MainWindow::onEnter() {
  // Enter never closes the window: it searches from the two boxes, opens
  // in the tree and the results list, and does nothing elsewhere.
  HWND focus = GetFocus();
  if (focus == control(IDC_SEARCH_WORD) || focus == control(IDC_ALLOW_ERRORS)) {
    if (IsWindowEnabled(control(IDC_SEARCH))) runCommand(JOB_SEARCH);
  } else if (focus == control(IDC_TREE)) {
    tree_->toggleSelected();
  } else if (focus == control(IDC_RESULTS)) {
    openHit(ListView_GetNextItem(control(IDC_RESULTS), -1, LVNI_SELECTED));
  }
}

void MainWindow::onEscape() {
  // Escape in a box only leaves what was typed there; elsewhere it closes
  // the window only when that loses nothing: no batch runs (Cancel ends
  // one, and Exit is disabled meanwhile) and both boxes are empty.
  HWND focus = GetFocus();
  if (focus == control(IDC_SEARCH_WORD) || focus == control(IDC_ALLOW_ERRORS)) return;
  if (!frontend::EscapeCloses(core_->batchRunning(), boxes_.word(), boxes_.errors())) return;
  close();
}

void MainWindow::onCloseBox() {
  if (core_->batchRunning() && !close_pending_ &&
      !(settings_.ask ? settings_.ask(frontend::kCloseDuringBatch)
                      : AskQuestion(window_, frontend::kCloseDuringBatch))) {
    return;
  }
  close();
}

LRESULT MainWindow::onNotify(const NMHDR* header) {
  if (header->idFrom == IDC_TREE && header->code == TVN_ITEMEXPANDINGW) {
    tree_->expanding(*reinterpret_cast<const NMTREEVIEWW*>(header));
  } else if (header->idFrom == IDC_TREE && header->code == TVN_SELCHANGEDW) {
    selectionChanged();
  } else if (header->idFrom == IDC_RESULTS) {
    switch (header->code) {
      case LVN_GETDISPINFOW:
        resultText(reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header)));
        break;
      case LVN_GETINFOTIPW: {
        auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(const_cast<NMHDR*>(header));
        if (tip->iItem >= 0 && static_cast<size_t>(tip->iItem) < rows_.size()) {
          const std::wstring text = Widen(rows_.tip(static_cast<size_t>(tip->iItem), frontend::kFileColumn));
          lstrcpynW(tip->pszText, text.c_str(), tip->cchTextMax);
        }
        break;
      }
      case NM_DBLCLK:
        openHit(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem);
        break;
      default:
        break;
    }
  }
  return 0;
}

void MainWindow::resultText(NMLVDISPINFOW* info) {
  if (!(info->item.mask & LVIF_TEXT) || info->item.iItem < 0 ||
      static_cast<size_t>(info->item.iItem) >= rows_.size()) {
    return;
  }
  const int column = info->item.iSubItem;
  cell_ = Widen(rows_.cell(static_cast<size_t>(info->item.iItem), column));
  const frontend::ColumnInfo& cut = frontend::Column(column);
  if (cut.cut_on_left || cut.cut_in_middle) {
    // The list cuts a long text on its right; the left context is cut on
    // its left, where it lies farthest from the hit, and the file's name
    // in its middle, so that its start and its end show.
    HWND list = control(IDC_RESULTS);
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
    const int width = ListView_GetColumnWidth(list, column) - 2 * GetSystemMetrics(SM_CXEDGE) - 12;
    auto measure = [dc](const std::wstring& text) {
      SIZE size{};
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
      return static_cast<int>(size.cx);
    };
    cell_ = cut.cut_on_left ? FitFromRight(cell_, width, measure) : FitInMiddle(cell_, width, measure);
    SelectObject(dc, old);
    ReleaseDC(list, dc);
  }
  lstrcpynW(info->item.pszText, cell_.c_str(), info->item.cchTextMax);
}

}  // namespace moravine::winui

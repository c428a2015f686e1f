// The Win32 window driven through its controls, as a user drives it, on a
// real desktop (in the cross build: Wine on a virtual X server): the
// start-up state with the drives at the tree's root, a folder of books
// compressed, searched (Enter in the box, Ignore case) and a hit read,
// Enter and Escape, Cancel and closing during a batch, resizing and what
// the next start remembers, the Options dialog, a batch's errors hushed,
// the log in Notepad, a missing help file, and start-up without agrep.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/tree_model.h"
#include "frontend/results.h"
#include "frontend/status_text.h"
#include "platform/system_search_host.h"
#include "tests/samples.h"
#include "winui/main_window.h"
#include "winui/reader_window.h"
#include "winui/resource.h"
#include "winui/text.h"

namespace moravine::winui {
namespace {

namespace fs = std::filesystem;

class WindowEnvironment : public testing::Environment {
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                         ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The bundled agrep lies beside the test program.
    PrependProgramDirectoryToPath();
  }
};
const testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new WindowEnvironment);

std::string U8(const fs::path& path) { return Narrow(path.wstring()); }

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Runs the thread's messages as the window's loop does, until `done`
// holds; false when `ms` passed first. WM_QUIT of a closed window is
// passed over.
bool PumpUntil(HWND main, const std::function<bool()>& done, DWORD ms = 60000) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message != WM_QUIT) MainWindow::Dispatch(&message, main);
    }
    if (done()) return true;
    if (GetTickCount() - start > ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

void Pump(HWND main) { PumpUntil(main, [] { return true; }); }

// A key typed into a control: focus, then the key's messages through the
// loop, where the dialog's keyboard handling sees them first.
void Type(HWND main, HWND control, UINT key) {
  SetFocus(control);
  PostMessageW(control, WM_KEYDOWN, key, 1);
  PostMessageW(control, WM_KEYUP, key, 0xC0000001);
  Pump(main);
}

// Closes the message boxes that show while it lives, recording their
// texts; any other modal dialog of the thread goes to `dialogs`. It looks
// on a timer, which the modal loops run too.
class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(HWND)> dialogs = {}) : dialogs_(std::move(dialogs)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 10, Tick);
  }
  ~ModalDriver() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  std::vector<std::string> texts;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (current_) current_->poll();
  }
  static BOOL CALLBACK Find(HWND window, LPARAM found) {
    wchar_t type[16] = {};
    GetClassNameW(window, type, 16);
    if (std::wstring(type) == L"#32770" && GetWindow(window, GW_OWNER) && IsWindowVisible(window) &&
        IsWindowEnabled(window)) {
      *reinterpret_cast<HWND*>(found) = window;
      return FALSE;
    }
    return TRUE;
  }
  void poll() {
    HWND modal = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), Find, reinterpret_cast<LPARAM>(&modal));
    if (!modal || modal == handled_) return;
    handled_ = modal;
    // A message box holds its text in the static control 0xFFFF.
    if (HWND text = GetDlgItem(modal, 0xFFFF)) {
      texts.push_back(WindowText(text));
      PostMessageW(modal, WM_COMMAND, IDOK, 0);
    } else if (dialogs_) {
      dialogs_(modal);
      handled_ = nullptr;  // the dialog may need a turn again after a box
    }
  }
  static inline ModalDriver* current_ = nullptr;
  std::function<void(HWND)> dialogs_;
  UINT_PTR timer_ = 0;
  HWND handled_ = nullptr;
};

struct SeenBox {
  MessageKind kind;
  std::string text;
};

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    static int count = 0;
    dir_ = fs::path(temp) / (L"moravine-window-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(++count));
    // A name beyond ASCII, as the tree, the status line and the reader's
    // title show it.
    books_ = dir_ / Widen("B\xC3\xBC" "cher");
    fs::create_directories(books_);
    fs::create_directories(dir_ / "state");
  }
  void TearDown() override {
    window_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void copyBooks() {
    for (const char* name : {"othello.txt", "climbing-plants.txt", "tom-sawyer.txt", "gettysburg-and-sonnets.txt",
                             "scripts.txt"}) {
      WriteFile(books_ / name, samples::Read(name));
    }
  }

  MainWindow& open(const fs::path& start) {
    window_.reset();
    WindowSettings settings;
    settings.start_path = start.empty() ? std::string() : U8(start);
    settings.log_folder = U8(dir_);
    settings.state_folder = U8(dir_ / "state");
    settings.settings_file = (dir_ / "state" / "window.ini").wstring();
    settings.help_file = help_file_.wstring();
    settings.ask = [this](const std::string& text) {
      asked_.push_back(text);
      return answer_yes_;
    };
    settings.show_box = [this](MessageKind kind, const std::string& text, bool offer_quiet) {
      boxes_.push_back({kind, text});
      if (on_box_) on_box_();
      return offer_quiet && hush_errors_;
    };
    window_ = std::make_unique<MainWindow>(settings);
    ShowWindow(window_->window(), SW_SHOW);
    Pump(main());
    return *window_;
  }
  HWND main() const { return window_->window(); }
  HWND control(int id) const { return window_->control(id); }
  std::string status() const { return WindowText(control(IDC_STATUS)); }
  void click(int id) {
    SendMessageW(control(id), BM_CLICK, 0, 0);
    Pump(main());
  }
  bool finished() { return !window_->busy() && status().starts_with("Finished"); }
  void waitFinished() { ASSERT_TRUE(PumpUntil(main(), [this] { return finished(); })) << status(); }
  std::string cell(int row, int column) const {
    wchar_t text[1024] = {};
    ListView_GetItemText(control(IDC_RESULTS), row, column, text, 1024);
    return Narrow(text);
  }
  int rowCount() const { return ListView_GetItemCount(control(IDC_RESULTS)); }
  void search(const std::string& word) {
    SetWindowTextUtf8(control(IDC_SEARCH_WORD), word);
    click(IDC_SEARCH);
    waitFinished();
  }
  int picture(const fs::path& path) {
    TreeItem* item = window_->model().FindItemByPath(U8(path));
    return item ? window_->fileTree().pictureOf(item) : -1;
  }
  // The texts of the view items below a folder's item, in their order.
  std::vector<std::string> shownChildren(const fs::path& folder) {
    HWND tree = control(IDC_TREE);
    std::vector<std::string> texts;
    HTREEITEM item = window_->fileTree().viewItem(window_->model().FindItemByPath(U8(folder)));
    for (HTREEITEM child = TreeView_GetChild(tree, item); child; child = TreeView_GetNextSibling(tree, child)) {
      wchar_t text[MAX_PATH] = {};
      TVITEMW data{};
      data.mask = TVIF_TEXT;
      data.hItem = child;
      data.pszText = text;
      data.cchTextMax = MAX_PATH;
      TreeView_GetItem(tree, &data);
      texts.push_back(Narrow(text));
    }
    return texts;
  }
  std::vector<fs::path> compressedFiles() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(books_)) {
      if (entry.path().extension() == ".hwz") found.push_back(entry.path());
    }
    return found;
  }

  fs::path dir_;
  fs::path books_;
  std::unique_ptr<MainWindow> window_;
  std::vector<SeenBox> boxes_;
  bool hush_errors_ = false;
  std::function<void()> on_box_;  // while a box shows
  fs::path help_file_;
  std::vector<std::string> asked_;  // the questions asked, answered by answer_yes_
  bool answer_yes_ = true;
};

constexpr int kButtons[] = {IDC_OPTIONS,         IDC_VIEW_LOG, IDC_COMPRESS, IDC_DECOMPRESS, IDC_REMOVE_COMPRESSED,
                            IDC_REMOVE_ORIGINAL, IDC_HELP_BUTTON, IDC_EXIT,  IDC_SEARCH,     IDC_CANCEL_BATCH};

TEST_F(WindowTest, StartsWithTheDrivesAndTheFolderOpen) {
  fs::create_directory(books_ / "sub");
  for (const char* name : {"a.txt", "c.txt"}) WriteFile(books_ / name, "words\n");
  for (const char* name : {"c.txt.hwz", "d.hwz"}) WriteFile(books_ / name, "x");
  MainWindow& w = open(books_);
  EXPECT_EQ(WindowText(main()), "Moravine");
  for (int id : kButtons) EXPECT_EQ(IsWindowEnabled(control(id)) != FALSE, id != IDC_CANCEL_BATCH) << id;
  // The status line names the selection until a batch speaks.
  EXPECT_EQ(status(), "Selected: " + U8(books_));

  // The root: one item per drive, with the drive's picture.
  HWND tree = control(IDC_TREE);
  ASSERT_FALSE(w.model().roots().empty());
  int shown_roots = 0;
  for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item)) ++shown_roots;
  EXPECT_EQ(shown_roots, static_cast<int>(w.model().roots().size()));
  for (const auto& root : w.model().roots()) {
    EXPECT_EQ(root->text.size(), 3u);
    EXPECT_EQ(root->text.substr(1), ":\\");
    EXPECT_EQ(w.fileTree().pictureOf(root.get()), IMG_DRIVE) << root->text;
  }
  // Read down to the folder, which is selected: folders first, a file and
  // its compressed version as one item.
  EXPECT_EQ(w.fileTree().selectedModelItem(), w.model().FindItemByPath(U8(books_)));
  EXPECT_EQ(shownChildren(books_), (std::vector<std::string>{"sub", "a.txt", "c.txt", "d.hwz"}));
  EXPECT_EQ(picture(books_ / "sub"), IMG_FOLDER);
  EXPECT_EQ(picture(books_ / "a.txt"), IMG_PLAIN);
  EXPECT_EQ(picture(books_ / "c.txt"), IMG_BOTH);
  EXPECT_EQ(picture(books_ / "d.hwz"), IMG_COMPRESSED);
  TreeView_SelectItem(tree, w.fileTree().viewItem(w.model().FindItemByPath(U8(books_ / "a.txt"))));
  EXPECT_EQ(status(), "Selected: " + U8(books_ / "a.txt"));

  HWND list = control(IDC_RESULTS);
  for (int column = 0; column < frontend::kColumnCount; ++column) {
    wchar_t heading[64] = {};
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = heading;
    info.cchTextMax = 64;
    ASSERT_TRUE(ListView_GetColumn(list, column, &info));
    EXPECT_EQ(Narrow(heading), frontend::Column(column).heading);
  }
  EXPECT_EQ(Header_GetItemCount(ListView_GetHeader(list)), frontend::kColumnCount);
  EXPECT_EQ(w.logPath(), U8(dir_ / "Moravine.log"));
}

// The scripted run: the books compressed, searched by Enter in the box,
// again ignoring case, and a hit opened in the reader, which decodes more
// as it scrolls to the top.
TEST_F(WindowTest, BooksAreCompressedSearchedAndRead) {
  copyBooks();
  MainWindow& w = open(books_);
  click(IDC_COMPRESS);
  waitFinished();
  EXPECT_EQ(compressedFiles().size(), 5u);
  EXPECT_EQ(picture(books_ / "othello.txt"), IMG_BOTH);
  // Again: every file is up to date, and no batch runs.
  click(IDC_COMPRESS);
  EXPECT_EQ(status(), "Nothing to compress: 5 files below the selected folder are up to date");
  EXPECT_FALSE(w.busy());

  SetWindowTextUtf8(control(IDC_SEARCH_WORD), "handkerchief");
  Type(main(), control(IDC_SEARCH_WORD), VK_RETURN);
  waitFinished();
  ASSERT_TRUE(IsWindowVisible(main()));
  EXPECT_EQ(status(), "Finished: 32 hits in 2 of 5 files searched");
  ASSERT_EQ(rowCount(), 32);
  for (int row = 0; row < rowCount(); ++row) {
    EXPECT_EQ(cell(row, 3), "handkerchief") << row;
    EXPECT_TRUE(cell(row, 0) == "othello.txt" || cell(row, 0) == "tom-sawyer.txt") << cell(row, 0);
    EXPECT_GT(std::stoll(cell(row, 1)), 0);
    EXPECT_FALSE(cell(row, 2).empty() && cell(row, 4).empty()) << row;
  }

  click(IDC_IGNORE_CASE);
  ASSERT_EQ(IsDlgButtonChecked(main(), IDC_IGNORE_CASE), BST_CHECKED);
  click(IDC_SEARCH);
  waitFinished();
  EXPECT_EQ(status(), "Finished: 33 hits in 2 of 5 files searched");
  int capital = -1;
  for (int row = 0; row < rowCount(); ++row) {
    if (cell(row, 3) == "Handkerchief") capital = row;
  }
  ASSERT_GE(capital, 0);

  // Enter on the selected row opens the reader on that hit.
  HWND list = control(IDC_RESULTS);
  ListView_SetItemState(list, capital, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  Type(main(), list, VK_RETURN);
  ASSERT_TRUE(IsWindowVisible(main()));
  ASSERT_EQ(w.readers().size(), 1u);
  ReaderWindow* reader = w.readers().front();
  EXPECT_EQ(WindowText(reader->window()), U8(books_ / "othello.txt.hwz"));
  EXPECT_EQ(reader->highlighted(), "Handkerchief");
  EXPECT_FALSE(reader->hitText().atStart());
  for (int i = 0; i < 200 && !reader->hitText().atStart(); ++i) {
    SendMessageW(reader->view(), WM_VSCROLL, SB_TOP, 0);
    Pump(main());
  }
  ASSERT_TRUE(reader->hitText().atStart());
  const std::string book = samples::Read("othello.txt");
  const std::wstring first_line = EditText(book.substr(0, book.find('\n') + 1));
  const std::wstring shown = Widen(WindowText(reader->view()));
  EXPECT_EQ(shown.substr(0, first_line.size()), first_line);
  EXPECT_EQ(reader->highlighted(), "Handkerchief");
  DestroyWindow(reader->window());
  EXPECT_TRUE(w.readers().empty());
  EXPECT_TRUE(boxes_.empty());
}

// Enter opens and closes folders in the tree and searches from the boxes,
// never closing the window; Escape in a box leaves the window open, and
// elsewhere closes the idle window when both boxes are empty.
TEST_F(WindowTest, EnterAndEscape) {
  fs::create_directory(books_ / "sub");
  WriteFile(books_ / "sub" / "inner.txt", "inner words\n");
  MainWindow& w = open(books_);
  HWND tree = control(IDC_TREE);
  HTREEITEM sub = w.fileTree().viewItem(w.model().FindItemByPath(U8(books_ / "sub")));
  ASSERT_TRUE(sub);
  TreeView_SelectItem(tree, sub);
  Type(main(), tree, VK_RETURN);
  EXPECT_TRUE(TreeView_GetItemState(tree, sub, TVIS_EXPANDED) & TVIS_EXPANDED);
  EXPECT_EQ(shownChildren(books_ / "sub"), std::vector<std::string>{"inner.txt"});
  Type(main(), tree, VK_RETURN);
  EXPECT_FALSE(TreeView_GetItemState(tree, sub, TVIS_EXPANDED) & TVIS_EXPANDED);

  // With no word, Enter in the box asks for one.
  Type(main(), control(IDC_SEARCH_WORD), VK_RETURN);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Please type the word to search for in \"Search word\".");
  for (int box : {IDC_SEARCH_WORD, IDC_ALLOW_ERRORS}) {
    Type(main(), control(box), VK_ESCAPE);
    ASSERT_TRUE(IsWindow(main()) && IsWindowVisible(main())) << box;
  }
  // Nor elsewhere while a box holds text, which Escape would lose.
  SetWindowTextUtf8(control(IDC_ALLOW_ERRORS), "1");
  Type(main(), tree, VK_ESCAPE);
  ASSERT_TRUE(IsWindow(main()) && IsWindowVisible(main()));
  SetWindowTextUtf8(control(IDC_ALLOW_ERRORS), "");
  Type(main(), tree, VK_ESCAPE);
  EXPECT_FALSE(IsWindow(main()));
}

// While a batch runs (its jobs held back by the job lock here) only
// Options, the log, Help and Cancel can be pressed, Escape does not close
// the window, and the close box asks first. Cancel ends the batch: the files not begun are left
// as they were.
TEST_F(WindowTest, CancelEndsABatch) {
  copyBooks();
  MainWindow& w = open(books_);
  w.core().jobLock().lock();
  click(IDC_COMPRESS);
  EXPECT_EQ(SendMessageW(control(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 5);
  for (int id : kButtons) {
    const bool stays = id == IDC_OPTIONS || id == IDC_VIEW_LOG || id == IDC_HELP_BUTTON || id == IDC_CANCEL_BATCH;
    EXPECT_EQ(IsWindowEnabled(control(id)) != FALSE, stays) << id;
  }
  EXPECT_EQ(status(), "Compressing...");
  Type(main(), control(IDC_TREE), VK_ESCAPE);
  ASSERT_TRUE(IsWindow(main()) && IsWindowVisible(main()));
  ASSERT_TRUE(w.core().batchRunning());
  // The close box asks first; No leaves the batch running.
  answer_yes_ = false;
  SendMessageW(main(), WM_CLOSE, 0, 0);
  Pump(main());
  EXPECT_EQ(asked_, std::vector<std::string>{frontend::kCloseDuringBatch});
  ASSERT_TRUE(IsWindow(main()) && w.core().batchRunning());

  click(IDC_CANCEL_BATCH);
  EXPECT_FALSE(IsWindowEnabled(control(IDC_CANCEL_BATCH)));
  w.core().jobLock().unlock();
  ASSERT_TRUE(PumpUntil(main(), [&] { return !w.busy(); }));
  EXPECT_EQ(status(), "Cancelled after 0 of 5 files");
  EXPECT_TRUE(compressedFiles().empty());
  EXPECT_EQ(SendMessageW(control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
  EXPECT_TRUE(IsWindowEnabled(control(IDC_EXIT)) && IsWindowEnabled(control(IDC_SEARCH)));
  EXPECT_TRUE(IsWindow(main()));
}

// The close box during a batch asks, then cancels it, here while a job
// waits for the user in its error box; the window closes once the batch has ended,
// leaving only whole compressed files.
TEST_F(WindowTest, ClosingDuringABatchWaitsForIt) {
  copyBooks();
  WriteFile(books_ / "0-empty.txt", "");
  MainWindow& w = open(books_);
  const HWND closing = main();
  bool open_after_close = false;
  on_box_ = [&] {
    SendMessageW(closing, WM_CLOSE, 0, 0);
    open_after_close = IsWindow(closing) && IsWindowVisible(closing) && w.core().batchRunning();
  };
  click(IDC_COMPRESS);
  ASSERT_TRUE(PumpUntil(closing, [&] { return !IsWindow(closing); }));
  EXPECT_TRUE(open_after_close);
  EXPECT_EQ(asked_, std::vector<std::string>{frontend::kCloseDuringBatch});
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_FALSE(w.core().batchRunning());
  for (const auto& entry : fs::directory_iterator(books_)) {
    const fs::path& path = entry.path();
    if (path.extension() == ".hwz") {
      EXPECT_TRUE(fs::exists(fs::path(path).replace_extension()));
      EXPECT_GT(fs::file_size(path), 0u) << U8(path);
    } else {
      EXPECT_EQ(path.extension(), ".txt") << U8(path);
    }
  }
}

// The list and the tree take what the window grows by; the size and the
// column widths come back at the next start; the window is never smaller
// than the dialog.
TEST_F(WindowTest, ResizingIsFollowedAndRemembered) {
  open(books_);
  const Box list = BoxOf(control(IDC_RESULTS), main());
  const Box tree = BoxOf(control(IDC_TREE), main());
  RECT frame;
  GetWindowRect(main(), &frame);
  SetWindowPos(main(), nullptr, 0, 0, frame.right - frame.left + 300, frame.bottom - frame.top + 200,
               SWP_NOMOVE | SWP_NOZORDER);
  Pump(main());
  const Box grown = BoxOf(control(IDC_RESULTS), main());
  EXPECT_EQ(grown.width, list.width + 300);
  EXPECT_EQ(grown.height, list.height + 200);
  EXPECT_EQ(BoxOf(control(IDC_TREE), main()).height, tree.height + 200);
  EXPECT_EQ(BoxOf(control(IDC_TREE), main()).width, tree.width);
  EXPECT_EQ(BoxOf(control(IDC_HELP_BUTTON), main()).right(), grown.right());
  EXPECT_EQ(BoxOf(control(IDC_SEARCH), main()).right(), grown.right());
  EXPECT_LT(BoxOf(control(IDC_SEARCH_WORD), main()).bottom(), grown.y);

  ListView_SetColumnWidth(control(IDC_RESULTS), 0, 222);
  GetWindowRect(main(), &frame);
  click(IDC_EXIT);
  open(books_);
  RECT again;
  GetWindowRect(main(), &again);
  EXPECT_EQ(again.right - again.left, frame.right - frame.left);
  EXPECT_EQ(again.bottom - again.top, frame.bottom - frame.top);
  EXPECT_EQ(ListView_GetColumnWidth(control(IDC_RESULTS), 0), 222);

  SetWindowPos(main(), nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
  Pump(main());
  RECT client;
  GetClientRect(main(), &client);
  const Box least = MinimumClient(DialogUnits(main()));
  EXPECT_EQ(client.right, least.width);
  EXPECT_EQ(client.bottom, least.height);
}

// OK keeps the dialog open until the distance is an integer and the hits
// a number in range; the most hits listed last from run to run.
TEST_F(WindowTest, OptionsDialog) {
  MainWindow& w = open(fs::path());
  EXPECT_EQ(w.resultLimit(), 100000);
  const char* entries[][2] = {{" -x", "2500"}, {"-5abc", "0"}, {"-5abc", "2500"}};
  size_t step = 0;
  bool distance_followed_the_box = false;
  ModalDriver driver([&](HWND dialog) {
    if (step >= std::size(entries) || !GetDlgItem(dialog, IDC_DISTANCE)) return;
    if (step == 0) {
      const bool was_disabled = !IsWindowEnabled(GetDlgItem(dialog, IDC_DISTANCE));
      SendMessageW(GetDlgItem(dialog, IDC_SPACELESS), BM_CLICK, 0, 0);
      distance_followed_the_box = was_disabled && IsWindowEnabled(GetDlgItem(dialog, IDC_DISTANCE));
    }
    SetWindowTextUtf8(GetDlgItem(dialog, IDC_DISTANCE), entries[step][0]);
    SetWindowTextUtf8(GetDlgItem(dialog, IDC_LIMIT), entries[step][1]);
    ++step;
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  click(IDC_OPTIONS);
  EXPECT_TRUE(distance_followed_the_box);
  EXPECT_EQ(driver.texts, (std::vector<std::string>{"Please enter an integer.",
                                                    "Please enter a number of hits from 1 to 1,000,000."}));
  EXPECT_EQ(w.core().pointerDistance(), -5);
  EXPECT_FALSE(w.core().spacelessModel());
  EXPECT_EQ(w.resultLimit(), 2500);
  click(IDC_EXIT);
  EXPECT_EQ(open(fs::path()).resultLimit(), 2500);
}

// "Do not show again during this batch" leaves the batch's further errors
// to the log; the status line counts them.
TEST_F(WindowTest, ErrorsOfABatchCanBeHushed) {
  for (const char* name : {"e1.txt", "e2.txt", "e3.txt"}) WriteFile(books_ / name, "");
  open(books_);
  hush_errors_ = true;
  click(IDC_COMPRESS);
  waitFinished();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].kind, MessageKind::kError);
  EXPECT_TRUE(boxes_[0].text.starts_with(U8(books_ / "e"))) << boxes_[0].text;
  EXPECT_EQ(status(), "Finished: 3 files failed (see the log file)");
}

// The window's system menu offers the About box (a right click does too).
TEST_F(WindowTest, AboutBoxFromTheSystemMenu) {
  open(fs::path());
  wchar_t entry[64] = {};
  GetMenuStringW(GetSystemMenu(main(), FALSE), 0x0010, entry, 64, MF_BYCOMMAND);
  EXPECT_EQ(Narrow(entry), "&About Moravine...");
  std::string version;
  ModalDriver driver([&](HWND dialog) {
    version = WindowText(GetDlgItem(dialog, IDC_VERSION));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  SendMessageW(main(), WM_SYSCOMMAND, 0x0010, 0);
  EXPECT_EQ(version, "Moravine Version 1.0");
}

// "View log file" opens the log in Notepad; Help names a help file that
// is missing.
TEST_F(WindowTest, TheLogOpensInNotepadAndAMissingHelpIsNamed) {
  help_file_ = dir_ / "missing.html";
  open(books_);
  click(IDC_VIEW_LOG);
  HWND notepad = nullptr;
  // Its title names the file once Notepad has read it.
  const bool shown = PumpUntil(main(), [&] {
    notepad = FindWindowW(L"Notepad", nullptr);
    return notepad && WindowText(notepad).find("Moravine.log") != std::string::npos;
  }, 30000);
  if (notepad) PostMessageW(notepad, WM_CLOSE, 0, 0);
  ASSERT_TRUE(shown) << (notepad ? WindowText(notepad) : "no Notepad");
  EXPECT_TRUE(boxes_.empty());
  click(IDC_HELP_BUTTON);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].kind, MessageKind::kError);
  EXPECT_EQ(boxes_[0].text, "The help page " + U8(help_file_) + " is missing.");
}

TEST_F(WindowTest, WithoutAgrepSearchStaysDisabled) {
  WriteFile(books_ / "b.txt", "words\n");
  _wputenv_s(L"MORAVINE_AGREP", (dir_ / "no-agrep.exe").wstring().c_str());
  open(books_);
  _wputenv_s(L"MORAVINE_AGREP", L"");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].kind, MessageKind::kWarning);
  EXPECT_TRUE(boxes_[0].text.starts_with("agrep not found")) << boxes_[0].text;
  EXPECT_FALSE(IsWindowEnabled(control(IDC_SEARCH)));
  click(IDC_COMPRESS);
  waitFinished();
  EXPECT_FALSE(IsWindowEnabled(control(IDC_SEARCH)));
}

}  // namespace
}  // namespace moravine::winui

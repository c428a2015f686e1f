#include "winui/reader_window.h"

#include <commctrl.h>

#include <algorithm>

#include "winui/controls.h"
#include "winui/text.h"

namespace moravine::winui {

namespace {

constexpr wchar_t kClassName[] = L"MoravineReader";
constexpr UINT kLoadMessage = WM_APP + 3;  // wParam 0: before, 1: after

void RegisterReaderClass(WNDPROC procedure) {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW type{};
  type.cbSize = sizeof(type);
  type.lpfnWndProc = procedure;
  type.hInstance = GetModuleHandleW(nullptr);
  type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  type.lpszClassName = kClassName;
  type.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  registered = RegisterClassExW(&type) != 0;
}

int VisibleLines(HWND view, HFONT font) {
  RECT area;
  SendMessageW(view, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
  HDC dc = GetDC(view);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(view, dc);
  return std::max<int>(1, (area.bottom - area.top) / std::max<int>(1, metrics.tmHeight));
}

}  // namespace

ReaderWindow* ReaderWindow::Open(HWND owner, std::unique_ptr<frontend::HitText> text, const std::string& path) {
  auto* reader = new ReaderWindow(std::move(text));
  reader->create(owner, path);
  return reader;
}

void ReaderWindow::create(HWND owner, const std::string& path) {
  RegisterReaderClass(WindowProc);
  const std::string& bytes = text_->text();
  hit_position_ = EditText(std::string_view(bytes).substr(0, text_->hitStart())).size();
  hit_length_ = EditText(std::string_view(bytes).substr(text_->hitStart(), text_->hitLength())).size();
  HDC screen = GetDC(nullptr);
  const int height = -MulDiv(10, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  font_ = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                      FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                      FIXED_PITCH | FF_MODERN, L"Consolas");
  window_ = CreateWindowExW(0, kClassName, Widen(path).c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, GetModuleHandleW(nullptr), this);
  view_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                          WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_NOHIDESEL, 0, 0, 0, 0,
                          window_, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(view_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  SendMessageW(view_, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  SetWindowTextW(view_, EditText(bytes).c_str());
  SetWindowSubclass(view_, ViewProc, 1, reinterpret_cast<DWORD_PTR>(this));
  // Some 84 columns by 30 lines of the view's font.
  HDC dc = GetDC(view_);
  HGDIOBJ old = SelectObject(dc, font_);
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(view_, dc);
  RECT frame{0, 0, metrics.tmAveCharWidth * 84 + GetSystemMetrics(SM_CXVSCROLL), metrics.tmHeight * 30};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CLIENTEDGE);
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
  ShowWindow(window_, SW_SHOWNORMAL);
  selectHit();
  centreHit();
  SetFocus(view_);
  loadAtEdges();
}

void ReaderWindow::selectHit() {
  SendMessageW(view_, EM_SETSEL, hit_position_, hit_position_ + hit_length_);
}

void ReaderWindow::centreHit() {
  const int hit_line = static_cast<int>(SendMessageW(view_, EM_LINEFROMCHAR, hit_position_, 0));
  const int first = static_cast<int>(SendMessageW(view_, EM_GETFIRSTVISIBLELINE, 0, 0));
  SendMessageW(view_, EM_LINESCROLL, 0, hit_line - VisibleLines(view_, font_) / 2 - first);
}

std::string ReaderWindow::highlighted() const {
  DWORD start = 0, end = 0;
  SendMessageW(view_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  const int length = GetWindowTextLengthW(view_);
  std::wstring all(static_cast<size_t>(length) + 1, L'\0');
  all.resize(static_cast<size_t>(GetWindowTextW(view_, all.data(), length + 1)));
  return end > start && end <= all.size() ? Narrow(std::wstring_view(all).substr(start, end - start)) : std::string();
}

void ReaderWindow::loadAtEdges() {
  // Text that does not fill the view cannot be scrolled: it grows at once.
  if (loading_) return;
  const int first = static_cast<int>(SendMessageW(view_, EM_GETFIRSTVISIBLELINE, 0, 0));
  const int lines = static_cast<int>(SendMessageW(view_, EM_GETLINECOUNT, 0, 0));
  if (first == 0 && !text_->atStart()) {
    PostMessageW(window_, kLoadMessage, 0, 0);
  } else if (first + VisibleLines(view_, font_) >= lines && !text_->atEnd()) {
    PostMessageW(window_, kLoadMessage, 1, 0);
  }
}

void ReaderWindow::loadBefore() {
  if (loading_ || text_->atStart()) return;
  loading_ = true;
  const size_t added = text_->extendBackward();
  if (added > 0) {
    // The line at the top stays at the top.
    const int first = static_cast<int>(SendMessageW(view_, EM_GETFIRSTVISIBLELINE, 0, 0));
    const int lines = static_cast<int>(SendMessageW(view_, EM_GETLINECOUNT, 0, 0));
    const std::wstring piece = EditText(std::string_view(text_->text()).substr(0, added));
    SendMessageW(view_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(view_, EM_SETSEL, 0, 0);
    SendMessageW(view_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
    hit_position_ += piece.size();
    const int grown = static_cast<int>(SendMessageW(view_, EM_GETLINECOUNT, 0, 0)) - lines;
    const int now = static_cast<int>(SendMessageW(view_, EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageW(view_, EM_LINESCROLL, 0, first + grown - now);
    selectHit();
    SendMessageW(view_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view_, nullptr, TRUE);
  }
  loading_ = false;
  loadAtEdges();
}

void ReaderWindow::loadAfter() {
  if (loading_ || text_->atEnd()) return;
  loading_ = true;
  const size_t before = text_->text().size();
  const size_t added = text_->extendForward();
  if (added > 0) {
    const int first = static_cast<int>(SendMessageW(view_, EM_GETFIRSTVISIBLELINE, 0, 0));
    // The text before may end in a "\r" that EditText left for the piece.
    const size_t from = before > 0 && text_->text()[before - 1] == '\r' ? before - 1 : before;
    const std::wstring piece = EditText(std::string_view(text_->text()).substr(from, before + added - from));
    const int end = GetWindowTextLengthW(view_);
    SendMessageW(view_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(view_, EM_SETSEL, end, end);
    SendMessageW(view_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
    const int now = static_cast<int>(SendMessageW(view_, EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageW(view_, EM_LINESCROLL, 0, first - now);
    selectHit();
    SendMessageW(view_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view_, nullptr, TRUE);
  }
  loading_ = false;
  loadAtEdges();
}

LRESULT CALLBACK ReaderWindow::ViewProc(HWND view, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                        DWORD_PTR data) {
  LRESULT result = DefSubclassProc(view, message, wparam, lparam);
  switch (message) {
    case WM_VSCROLL:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN:
    case WM_SIZE:
      reinterpret_cast<ReaderWindow*>(data)->loadAtEdges();
      break;
    default:
      break;
  }
  return result;
}

LRESULT CALLBACK ReaderWindow::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* created = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created->lpCreateParams));
  }
  auto* reader = reinterpret_cast<ReaderWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_SIZE:
      if (reader && reader->view_) MoveWindow(reader->view_, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
      return 0;
    case WM_SETFOCUS:
      if (reader && reader->view_) SetFocus(reader->view_);
      return 0;
    case kLoadMessage:
      if (reader) wparam == 0 ? reader->loadBefore() : reader->loadAfter();
      return 0;
    case WM_NCDESTROY:
      if (reader) {
        RemoveWindowSubclass(reader->view_, ViewProc, 1);
        DeleteObject(reader->font_);
        delete reader;
      }
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return DefWindowProcW(window, message, wparam, lparam);
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace moravine::winui

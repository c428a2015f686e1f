// The reader: a window with the decoded text around one hit, the hit
// selected (kept visible when the window is not active), that decodes more
// of the file when the user scrolls to either end. Its title is the
// compressed file's path.
#ifndef MORAVINE_WINUI_READER_WINDOW_H_
#define MORAVINE_WINUI_READER_WINDOW_H_

#include <windows.h>

#include <memory>
#include <string>

#include "frontend/hit_text.h"

namespace moravine::winui {

class ReaderWindow {
 public:
  // Opens the window, owned by `owner`, on `text` (open on the hit). The
  // object lives as long as the window and deletes itself when it closes.
  static ReaderWindow* Open(HWND owner, std::unique_ptr<frontend::HitText> text, const std::string& path);

  HWND window() const { return window_; }
  HWND view() const { return view_; }
  const frontend::HitText& hitText() const { return *text_; }
  // The hit as the view selects it, in UTF-8.
  std::string highlighted() const;
  // Decodes more text before or after the shown text, keeping the view
  // where it is; what scrolling to either end does.
  void loadBefore();
  void loadAfter();

 private:
  explicit ReaderWindow(std::unique_ptr<frontend::HitText> text) : text_(std::move(text)) {}
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ViewProc(HWND view, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data);
  void create(HWND owner, const std::string& path);
  void selectHit();
  void centreHit();
  // After the view scrolled: asks for more text at an end it shows.
  void loadAtEdges();

  std::unique_ptr<frontend::HitText> text_;
  HWND window_ = nullptr;
  HWND view_ = nullptr;
  HFONT font_ = nullptr;
  size_t hit_position_ = 0;  // in UTF-16 units of the view's text
  size_t hit_length_ = 0;
  bool loading_ = false;
};

}  // namespace moravine::winui

#endif  // MORAVINE_WINUI_READER_WINDOW_H_

// Small helpers over the wide Win32 API in the program's UTF-8, the update
// queue woken by a posted message, and the program's settings file.
#ifndef MORAVINE_WINUI_CONTROLS_H_
#define MORAVINE_WINUI_CONTROLS_H_

#include <windows.h>

#include <optional>
#include <string>

#include "frontend/update_queue.h"
#include "winui/layout.h"

namespace moravine::winui {

// Messages of the main window to itself.
constexpr UINT kDrainMessage = WM_APP + 1;  // run a turn of the update queue
constexpr UINT kRunMessage = WM_APP + 2;    // lParam: a std::function<void()>* to run, sent from a job

std::string WindowText(HWND window);
void SetWindowTextUtf8(HWND window, const std::string& text);
Box BoxOf(HWND window, HWND parent);
void Place(HWND window, const Box& box);
// The dialog units of a dialog's font.
Units DialogUnits(HWND dialog);
// The folder of the running program, and its full path.
std::wstring ProgramPath();
std::wstring FolderOf(const std::wstring& path);

// The update queue of a window: its turns come as kDrainMessage.
class WindowUpdateQueue : public frontend::UpdateQueue {
 public:
  void attach(HWND window) {
    window_ = window;
    thread_ = GetCurrentThreadId();
  }

 protected:
  bool onWindowThread() const override { return GetCurrentThreadId() == thread_; }
  void wake() override { PostMessageW(window_, kDrainMessage, 0, 0); }

 private:
  HWND window_ = nullptr;
  DWORD thread_ = GetCurrentThreadId();
};

// The window's choices between runs, in an INI file: a key "group/name" of
// frontend/options.h is the entry `name` of the section `group`.
class SettingsFile {
 public:
  explicit SettingsFile(std::wstring path) : path_(std::move(path)) {}
  // %APPDATA%\Moravine\moravine-gui.ini, its folder made as needed.
  static std::wstring DefaultPath();
  std::optional<std::string> text(const char* key) const;
  std::optional<long long> integer(const char* key) const;
  void set(const char* key, const std::string& value) const;

 private:
  std::wstring path_;
};

}  // namespace moravine::winui

#endif  // MORAVINE_WINUI_CONTROLS_H_

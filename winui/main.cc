// moravine-gui.exe [PATH]: the desktop window on Windows. The tree opens at
// PATH (default: the current folder), with that item selected.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/large_pages.h"
#include "platform/system_search_host.h"
#include "winui/main_window.h"
#include "winui/resource.h"
#include "winui/text.h"

namespace {

std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(moravine::winui::Narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

std::string FullPath(const std::string& path) {
  const std::wstring given = moravine::winui::Widen(path.empty() ? "." : path);
  std::wstring full(GetFullPathNameW(given.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  // No trailing separator but at a drive's root.
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return moravine::winui::Narrow(full);
}

void Tell(const std::string& text, UINT icon) {
  MessageBoxW(nullptr, moravine::winui::Widen(text).c_str(), L"Moravine", MB_OK | icon);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  moravine::winui::WinArguments args = moravine::winui::ParseWinArguments(Arguments());
  if (args.help) {
    Tell(moravine::winui::kWinUsage, MB_ICONINFORMATION);
    return 0;
  }
  if (!args.error.empty()) {
    Tell("moravine-gui: " + args.error + "\n\n" + moravine::winui::kWinUsage, MB_ICONERROR);
    return 2;
  }
  // The agrep installed with the program comes first on PATH.
  moravine::PrependProgramDirectoryToPath();
  moravine::UseLargePagesForLargeBuffers();

  moravine::winui::WindowSettings settings;
  settings.start_path = FullPath(args.path);
  moravine::winui::MainWindow window(settings);
  if (!args.search_word.empty()) {
    // The screenshot's search: typed into the boxes, then Search pressed.
    SetWindowTextW(window.control(IDC_SEARCH_WORD), moravine::winui::Widen(args.search_word).c_str());
    SetWindowTextW(window.control(IDC_ALLOW_ERRORS), moravine::winui::Widen(args.allow_errors).c_str());
    PostMessageW(window.window(), WM_COMMAND, MAKEWPARAM(IDC_SEARCH, BN_CLICKED), 0);
  }
  return window.run();
}

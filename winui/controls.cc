#include "winui/controls.h"

#include <shlobj.h>

#include <cstdlib>
#include <vector>

#include "winui/text.h"

namespace moravine::winui {

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return Narrow(text);
}

void SetWindowTextUtf8(HWND window, const std::string& text) { SetWindowTextW(window, Widen(text).c_str()); }

Box BoxOf(HWND window, HWND parent) {
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void Place(HWND window, const Box& box) {
  SetWindowPos(window, nullptr, box.x, box.y, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

Units DialogUnits(HWND dialog) {
  RECT r{0, 0, 4, 8};
  MapDialogRect(dialog, &r);
  return {r.right > 0 ? static_cast<int>(r.right) : 6, r.bottom > 0 ? static_cast<int>(r.bottom) : 13};
}

std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? L"." : path.substr(0, cut);
}

std::wstring SettingsFile::DefaultPath() {
  wchar_t* folder = nullptr;
  std::wstring path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &folder))) {
    path = std::wstring(folder) + L"\\Moravine";
    CreateDirectoryW(path.c_str(), nullptr);
    path += L"\\moravine-gui.ini";
  }
  CoTaskMemFree(folder);
  return path;
}

namespace {

void SplitKey(const char* key, std::wstring* section, std::wstring* name) {
  const std::string whole(key);
  const size_t slash = whole.find('/');
  *section = Widen(whole.substr(0, slash));
  *name = Widen(slash == std::string::npos ? whole : whole.substr(slash + 1));
}

}  // namespace

std::optional<std::string> SettingsFile::text(const char* key) const {
  if (path_.empty()) return std::nullopt;
  std::wstring section, name;
  SplitKey(key, &section, &name);
  std::vector<wchar_t> value(4096);
  GetPrivateProfileStringW(section.c_str(), name.c_str(), L"\x1", value.data(), static_cast<DWORD>(value.size()),
                           path_.c_str());
  if (value[0] == L'\x1') return std::nullopt;
  return Narrow(value.data());
}

std::optional<long long> SettingsFile::integer(const char* key) const {
  std::optional<std::string> stored = text(key);
  if (!stored || stored->empty()) return std::nullopt;
  char* end = nullptr;
  long long value = std::strtoll(stored->c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return value;
}

void SettingsFile::set(const char* key, const std::string& value) const {
  if (path_.empty()) return;
  std::wstring section, name;
  SplitKey(key, &section, &name);
  WritePrivateProfileStringW(section.c_str(), name.c_str(), Widen(value).c_str(), path_.c_str());
}

}  // namespace moravine::winui

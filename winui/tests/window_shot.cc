// window_shot.exe [--close] OUT.bmp [WIDTH HEIGHT]: waits for the Moravine
// window of another process on the same desktop, sizes it, waits until its
// status line tells that the batch has ended, saves the window as it shows
// on the screen, frame included, as a 24-bit BMP, prints the status line
// and, with --close, closes the window as its close box does. Only
// messages that the system carries between processes go to the window.
// scripts/windows-screenshot takes the README's picture with it, and a test
// runs moravine-gui.exe from its command line with it; it is no part of
// the programs that ship.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kStatusId = 1015;  // the status line of the main window
constexpr DWORD kWaitMs = 120000;

HWND FindMainWindow() {
  for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", L"Moravine"); window;
       window = FindWindowExW(nullptr, window, L"#32770", L"Moravine")) {
    if (GetDlgItem(window, kStatusId)) return window;
  }
  return nullptr;
}

std::wstring Status(HWND window) {
  wchar_t text[256] = {};
  // WM_GETTEXT is one of the messages that the system copies between
  // processes.
  SendMessageTimeoutW(GetDlgItem(window, kStatusId), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

bool StatusEnded(HWND window) {
  const std::wstring text = Status(window);
  return text.starts_with(L"Finished") || text.starts_with(L"Cancelled");
}

bool SaveBitmap(const wchar_t* path, HDC source, const RECT& area) {
  const int width = area.right - area.left, height = area.bottom - area.top;
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return false;
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, source, area.left, area.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
  file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(height);
  FILE* out = _wfopen(path, L"wb");
  bool written = copied && out;
  if (out) {
    written = written && std::fwrite(&file, sizeof(file), 1, out) == 1 &&
              std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
              std::fwrite(bits, stride, static_cast<size_t>(height), out) == static_cast<size_t>(height);
    written = std::fclose(out) == 0 && written;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return written;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool close = argc > 1 && std::wcscmp(argv[1], L"--close") == 0;
  if (close) {
    --argc;
    ++argv;
  }
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: window_shot [--close] OUT.bmp [WIDTH HEIGHT]\n");
    return 2;
  }
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  while (!(window = FindMainWindow()) || !IsWindowVisible(window)) {
    if (GetTickCount() - start > kWaitMs) {
      std::fprintf(stderr, "window_shot: no Moravine window\n");
      return 1;
    }
    Sleep(100);
  }
  if (argc == 4) {
    SetWindowPos(window, HWND_TOP, 10, 10, _wtoi(argv[2]), _wtoi(argv[3]), SWP_SHOWWINDOW);
  }
  while (!StatusEnded(window)) {
    if (GetTickCount() - start > kWaitMs) {
      std::fprintf(stderr, "window_shot: the batch did not end\n");
      return 1;
    }
    Sleep(100);
  }
  // The last rows and the status line painted.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(1500);
  RECT area;
  GetWindowRect(window, &area);
  HDC screen = GetDC(nullptr);
  const bool saved = SaveBitmap(argv[1], screen, area);
  ReleaseDC(nullptr, screen);
  if (!saved) {
    std::fprintf(stderr, "window_shot: cannot save the picture\n");
    return 1;
  }
  const std::wstring status = Status(window);
  std::printf("%ls\n", status.c_str());
  if (close) PostMessageW(window, WM_CLOSE, 0, 0);
  return 0;
}

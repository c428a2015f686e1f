// The Win32 window's text work that needs no window: UTF-8 (the program's
// own strings) to and from UTF-16 (the wide API's), the reader's text as an
// edit control holds it, a cell text cut on its left to fit its column,
// and the window's command line.
#ifndef MORAVINE_WINUI_TEXT_H_
#define MORAVINE_WINUI_TEXT_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace moravine::winui {

// UTF-16 code units in a wide string (wchar_t is 16 bits on Windows; the
// tests on Linux hold the same units in wider ones). A byte that begins no
// well-formed UTF-8 character becomes U+FFFD, as does an unpaired
// surrogate on the way back.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// Decoded text as a multi-line edit control holds it: UTF-16 with every
// line break "\r\n". A lone "\n" or "\r" becomes "\r\n"; a "\r" at the very
// end of the piece is left out, since the piece after it may begin with the
// "\n" that makes the two one break. Pieces of a text converted one by one,
// each after a piece that ends in "\r" beginning with that "\r" again, add
// up to the whole text converted, so positions in one are positions in the
// control.
std::wstring EditText(std::string_view bytes);

// The text cut on its left to fit `width` as `measure` measures it, with
// "…" in front of what is left; the whole text when it fits.
std::wstring FitFromRight(const std::wstring& text, int width, const std::function<int(const std::wstring&)>& measure);
// The text cut in its middle to fit: its start and its end with "…"
// between (a file's name, whose end often tells files apart).
std::wstring FitInMiddle(const std::wstring& text, int width, const std::function<int(const std::wstring&)>& measure);

// moravine-gui.exe [PATH] [--search WORD [--errors N]]: the folder or file
// that the tree opens at, and a search started as the window opens (the
// screenshot uses it). Every argument is UTF-8.
struct WinArguments {
  std::string path;  // as given; empty: the current folder
  std::string search_word;
  std::string allow_errors;
  bool help = false;
  std::string error;  // set when the command line is wrong
};
WinArguments ParseWinArguments(const std::vector<std::string>& arguments);
extern const char kWinUsage[];

}  // namespace moravine::winui

#endif  // MORAVINE_WINUI_TEXT_H_

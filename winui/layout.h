// Where the Win32 main window puts its controls for a given client size:
// the tree on the left up to the splitter, on the right two rows of buttons,
// the search row and the results list, and across the bottom the status
// line, the progress bar and Cancel. Sizes are in dialog units, turned
// into pixels by the font's base units, as the dialog template's are.
#ifndef MORAVINE_WINUI_LAYOUT_H_
#define MORAVINE_WINUI_LAYOUT_H_

#include <array>

namespace moravine::winui {

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  int right() const { return x + width; }
  int bottom() const { return y + height; }
  bool operator==(const Box&) const = default;
};

// Dialog units of the window's font: a horizontal unit is a quarter of
// base_x pixels, a vertical one an eighth of base_y (MapDialogRect's rule).
struct Units {
  int base_x = 6;
  int base_y = 13;
  int x(int dlu) const { return (dlu * base_x + 2) / 4; }
  int y(int dlu) const { return (dlu * base_y + 4) / 8; }
};

enum class Part {
  kTree,
  kOptions,
  kViewLog,
  kCompress,
  kDecompress,
  kRemoveCompressed,
  kRemoveOriginal,
  kHelp,
  kExit,
  kSearchLabel,
  kSearchWord,
  kErrorsLabel,
  kAllowErrors,
  kIgnoreCase,
  kSearch,
  kResults,
  kStatus,
  kProgress,
  kCancel,
  kCount
};

struct MainLayout {
  std::array<Box, static_cast<int>(Part::kCount)> boxes;
  Box splitter;  // the gap between the tree and the right side, dragged to move it
  const Box& operator[](Part part) const { return boxes[static_cast<int>(part)]; }
  Box& operator[](Part part) { return boxes[static_cast<int>(part)]; }
};

// The least client size (the dialog's, as in the Qt window), and the size
// the first run opens at: somewhat larger, with room for more hits.
Box MinimumClient(const Units& units);
Box FirstClient(const Units& units);
// The splitter's place on the first run.
int FirstSplitter(const Units& units);

// The splitter's place (the tree's right edge) kept within the client, so
// that the tree and the right side keep their least widths.
int ClampSplitter(int splitter_x, int client_width, const Units& units);

// Every control's box for the client size, with the splitter clamped.
MainLayout LayOut(int client_width, int client_height, int splitter_x, const Units& units);

}  // namespace moravine::winui

#endif  // MORAVINE_WINUI_LAYOUT_H_

#include "winui/layout.h"

#include <algorithm>

namespace moravine::winui {

namespace {

// In dialog units.
constexpr int kMargin = 7;
constexpr int kGap = 4;           // between the tree and the right side: the splitter
constexpr int kLeastTree = 60;
constexpr int kColumn = 73;       // the least width of a button column
constexpr int kLeastCaseBox = 52;  // "Ignore case"
constexpr int kSpacing = 2;
constexpr int kButton = 14;
constexpr int kEdit = 13;
constexpr int kStatus = 10;
constexpr int kCancelWidth = 54;

int LeastRight(const Units& u) { return 5 * u.x(kColumn) + u.x(kLeastCaseBox) + 5 * u.x(kSpacing); }

// The right side: columns 0-3 and 5 are buttons, column 4 ("Ignore case")
// takes what is left, so that Help, Exit and Search stay at the right edge.
void LayOutRight(MainLayout* layout, int left, int right, int top, int bottom, const Units& u) {
  const int column = u.x(kColumn), spacing = u.x(kSpacing);
  const int case_width = std::max(u.x(kLeastCaseBox), right - left - 5 * column - 5 * spacing);
  auto x_of = [&](int c) { return left + c * (column + spacing) + (c == 5 ? case_width - column : 0); };
  const int row0 = top, row1 = top + u.y(kButton) + u.y(kSpacing);
  const int tall = row1 + u.y(kButton) - row0;
  MainLayout& l = *layout;
  l[Part::kOptions] = {x_of(0), row0, column, u.y(kButton)};
  l[Part::kViewLog] = {x_of(0), row1, column, u.y(kButton)};
  l[Part::kCompress] = {x_of(1), row0, column, u.y(kButton)};
  l[Part::kDecompress] = {x_of(1), row1, column, u.y(kButton)};
  l[Part::kRemoveCompressed] = {x_of(2), row0, column, tall};
  l[Part::kRemoveOriginal] = {x_of(3), row0, column, tall};
  l[Part::kHelp] = {x_of(5), row0, column, u.y(kButton)};
  l[Part::kExit] = {x_of(5), row1, column, u.y(kButton)};
  const int row3 = row0 + tall + u.y(4) + u.y(kSpacing);
  const int label_y = row3 + (u.y(kButton) - u.y(8)) / 2, edit_y = row3 + (u.y(kButton) - u.y(kEdit)) / 2;
  l[Part::kSearchLabel] = {x_of(0), label_y, column, u.y(8)};
  l[Part::kSearchWord] = {x_of(1), edit_y, column, u.y(kEdit)};
  l[Part::kErrorsLabel] = {x_of(2), label_y, column, u.y(8)};
  l[Part::kAllowErrors] = {x_of(3), edit_y, column, u.y(kEdit)};
  l[Part::kIgnoreCase] = {x_of(4), row3 + (u.y(kButton) - u.y(10)) / 2, std::min(case_width, u.x(60)), u.y(10)};
  l[Part::kSearch] = {x_of(5), row3, column, u.y(kButton)};
  const int results_top = row3 + u.y(kButton) + u.y(kSpacing);
  l[Part::kResults] = {left, results_top, std::max(0, right - left), std::max(0, bottom - results_top)};
}

}  // namespace

Box MinimumClient(const Units& u) { return {0, 0, u.x(542), u.y(233)}; }

Box FirstClient(const Units& u) {
  const Box least = MinimumClient(u);
  return {0, 0, least.width * 5 / 4, least.height * 3 / 2};
}

int FirstSplitter(const Units& u) { return u.x(kMargin) + u.x(150); }

int ClampSplitter(int splitter_x, int client_width, const Units& u) {
  const int most = client_width - u.x(kMargin) - LeastRight(u) - u.x(kGap);
  return std::max(u.x(kMargin) + u.x(kLeastTree), std::min(splitter_x, most));
}

MainLayout LayOut(int client_width, int client_height, int splitter_x, const Units& u) {
  MainLayout l;
  const int left = u.x(kMargin), top = u.y(kMargin);
  const int right = client_width - u.x(kMargin), bottom = client_height - u.y(kMargin);
  // From the bottom up: Cancel beside the progress bar, the status line.
  const int bar_y = bottom - u.y(kButton);
  l[Part::kCancel] = {right - u.x(kCancelWidth), bar_y, u.x(kCancelWidth), u.y(kButton)};
  l[Part::kProgress] = {left, bar_y + u.y(2), std::max(0, right - u.x(kCancelWidth) - u.x(5) - left), u.y(10)};
  const int status_y = bar_y - u.y(1) - u.y(kStatus);
  l[Part::kStatus] = {left, status_y, std::max(0, right - left), u.y(kStatus)};
  const int split_bottom = status_y - u.y(1);
  const int tree_right = ClampSplitter(splitter_x, client_width, u);
  l[Part::kTree] = {left, top, tree_right - left, std::max(0, split_bottom - top)};
  l.splitter = {tree_right, top, u.x(kGap), std::max(0, split_bottom - top)};
  LayOutRight(&l, tree_right + u.x(kGap), right, top, split_bottom, u);
  return l;
}

}  // namespace moravine::winui

// The rows of the results list, one per hit, in the order the window shows
// them: the five columns of a search and the compressed file each row came
// from, which the reader opens. Both windows draw their list from these.
#ifndef MORAVINE_FRONTEND_RESULTS_H_
#define MORAVINE_FRONTEND_RESULTS_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "frontend/hit_text.h"
#include "search/hits.h"

namespace moravine::frontend {

struct ResultRow {
  SearchRow row;
  std::string path;  // the compressed file's full path
};

enum ResultColumn { kFileColumn, kPositionColumn, kLeftColumn, kWordColumn, kRightColumn, kColumnCount };

// How a column's cells are placed, and where a text too long for its cell
// is cut: the left context on its left, where it lies farthest from the
// hit; the file's name in its middle, so that both its start and its end
// (the part that often tells files apart: "chapter 12.txt") show; every
// other column on its right.
enum class CellAlignment { kLeft, kCentre, kRight };
struct ColumnInfo {
  const char* heading;
  CellAlignment alignment;
  int width;  // the first run's width, in the Qt window's pixels at 8 points
  bool cut_on_left;
  bool cut_in_middle = false;
};
const ColumnInfo& Column(int column);

class ResultRows {
 public:
  size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  const ResultRow& at(size_t row) const { return rows_[row]; }
  void clear() { rows_.clear(); }
  // The rows of one file go on top, in their own order.
  void prepend(const std::vector<SearchRow>& rows);

  // A cell's text, and the whole text its tool tip shows (for File, the
  // compressed file's full path).
  const std::string& cell(size_t row, int column) const;
  const std::string& tip(size_t row, int column) const;

 private:
  std::deque<ResultRow> rows_;
};

// Opens the reader's text on the hit of a row; false, with a sentence in
// *error, when the row names no file or position or the file has no hit
// there any more.
bool OpenHit(const ResultRow& row, HitText* text, std::string* error);

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_RESULTS_H_

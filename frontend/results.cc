#include "frontend/results.h"

#include <cstdlib>

namespace moravine::frontend {

namespace {

constexpr ColumnInfo kColumns[kColumnCount] = {
    {"File", CellAlignment::kLeft, 110, false, true},
    {"Position", CellAlignment::kLeft, 60, false},
    {"Left context", CellAlignment::kRight, 138, true},
    {"Word", CellAlignment::kCentre, 90, false},
    {"Right context", CellAlignment::kLeft, 138, false},
};

// The right context begins one byte after the word; where that byte began a
// character of several bytes, the rest of it is no text to show.
std::string WithoutBrokenStart(const std::string& text) {
  size_t skip = 0;
  while (skip < text.size() && (static_cast<unsigned char>(text[skip]) & 0xC0) == 0x80) ++skip;
  return text.substr(skip);
}

}  // namespace

const ColumnInfo& Column(int column) { return kColumns[column]; }

void ResultRows::prepend(const std::vector<SearchRow>& rows) {
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    rows_.push_front(ResultRow{*it, it->path});
    rows_.front().row.right = WithoutBrokenStart(it->right);
  }
}

const std::string& ResultRows::cell(size_t row, int column) const {
  const ResultRow& r = rows_[row];
  switch (column) {
    case kFileColumn: return r.row.file;
    case kPositionColumn: return r.row.position;
    case kLeftColumn: return r.row.left;
    case kWordColumn: return r.row.word;
    default: return r.row.right;
  }
}

const std::string& ResultRows::tip(size_t row, int column) const {
  const ResultRow& r = rows_[row];
  return column == kFileColumn && !r.path.empty() ? r.path : cell(row, column);
}

bool OpenHit(const ResultRow& row, HitText* text, std::string* error) {
  error->clear();
  char* end = nullptr;
  const char* digits = row.row.position.c_str();
  long long position = std::strtoll(digits, &end, 10);
  if (row.path.empty()) {
    *error = "The file of this hit is not known.";
  } else if (end == digits || position < 0 || position > INT32_MAX) {
    *error = "The hit has no valid position.";
  } else {
    text->open(row.path, static_cast<int32_t>(position), error);
  }
  return error->empty();
}

}  // namespace moravine::frontend

// How the command line prints result rows: readable text, TSV or JSON lines.
#ifndef MORAVINE_CLI_ROW_FORMAT_H_
#define MORAVINE_CLI_ROW_FORMAT_H_

#include <string>
#include <vector>

#include "search/hits.h"

namespace moravine {

enum class RowFormat { kText, kTsv, kJson };

// What the rows of a search show, and how.
struct RowStyle {
  RowFormat format = RowFormat::kText;
  bool colour = false;
  bool line_numbers = false;  // show each row's line number
  bool byte_offsets = false;  // show each hit's offset in the text
  bool lines = false;         // show whole lines (the rows hold them) instead of words around the hit
  bool context = false;       // the lines hold lines around the hit's: groups are parted by "--"
};

// The text with its control bytes written as escapes (\r, \n, \t, \xHH).
std::string PrintableText(const std::string& text);

// One row as one line, with its line feed; `path` is the file as shown.
std::string FormatRow(const SearchRow& row, const std::string& path, const RowStyle& style);

// The rows of one file's hits, in ascending position, as lines. In the text
// format with whole lines, a line is printed once however many hits it
// holds (each highlighted) and context lines shared by nearby hits once.
std::string FormatFileRows(const std::vector<SearchRow>& rows, const std::string& path, const RowStyle& style);

// A file of the listing of files with hits, with its number of hits when
// hits >= 0.
std::string FormatListing(const std::string& path, long long hits, RowFormat format);

// A line longer than this is shown around its first hit, with an ellipsis
// where it is cut.
constexpr size_t kMaxShownLine = 240;

}  // namespace moravine

#endif  // MORAVINE_CLI_ROW_FORMAT_H_

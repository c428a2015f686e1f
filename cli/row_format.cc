#include "cli/row_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <queue>
#include <string_view>

#include "wordmodel/htoken.h"

namespace moravine {

namespace {

// Tabs, line ends and backslashes escaped, so that each row stays one line.
std::string TsvField(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

// Length of a valid UTF-8 sequence at p, or 0.
size_t Utf8Sequence(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || n > left) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return n;
}

// A JSON string; bytes that are not valid UTF-8 are shown as the characters
// of the same value (U+0080..U+00FF), so the output is always valid JSON.
std::string JsonString(std::string_view s) {
  std::string out = "\"";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t left = s.size();
  char esc[8];
  while (left > 0) {
    unsigned char c = *p;
    size_t n = Utf8Sequence(p, left);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || n == 0) {
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      n = 1;
    } else {
      out.append(reinterpret_cast<const char*>(p), n);
    }
    p += n;
    left -= n;
  }
  return out + "\"";
}

// Control bytes written as escapes, so that a file name or a hit holding a
// carriage return or a line feed cannot garble the terminal or split a row;
// tabs stay as they are when `keep_tabs` (a line of text).
void AppendPrintable(std::string* out, std::string_view s, bool keep_tabs = false) {
  char esc[8];
  size_t from = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if ((u >= 0x20 && u != 0x7f) || (keep_tabs && u == '\t')) continue;
    out->append(s.substr(from, i - from));
    from = i + 1;
    switch (s[i]) {
      case '\t': out->append("\\t"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      default:
        std::snprintf(esc, sizeof esc, "\\x%02x", u);
        out->append(esc);
    }
  }
  out->append(s.substr(from));
}

std::string Printable(std::string_view s) {
  std::string out;
  AppendPrintable(&out, s);
  return out;
}

inline bool Continues(std::string_view s, size_t i) {
  return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
}

const char kEllipsis[] = "\xE2\x80\xA6";
const char kHitColour[] = "\033[1;31m";
const char kPathColour[] = "\033[35m";
const char kNumberColour[] = "\033[32m";
const char kSeparatorColour[] = "\033[36m";
const char kReset[] = "\033[0m";

std::string Coloured(const std::string& text, const char* colour, bool on) {
  return on ? colour + text + kReset : text;
}

// "path:line:offset:" (or with '-' for context lines), coloured when asked.
std::string LinePrefix(const std::string& path, const RowStyle& style, int64_t line, int64_t offset, char separator) {
  const std::string sep = Coloured(std::string(1, separator), kSeparatorColour, style.colour);
  std::string out = Coloured(Printable(path), kPathColour, style.colour) + sep;
  if (style.line_numbers && line > 0) out += Coloured(std::to_string(line), kNumberColour, style.colour) + sep;
  if (style.byte_offsets && offset >= 0) out += Coloured(std::to_string(offset), kNumberColour, style.colour) + sep;
  return out;
}

// A line as the rows show it: without the carriage return of a CR LF end.
std::string_view WithoutCarriageReturn(std::string_view line) {
  return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// A context line, cut after kMaxShownLine bytes.
void AppendContextLine(std::string* out, std::string_view line) {
  if (line.size() <= kMaxShownLine) return AppendPrintable(out, line, true);
  size_t to = kMaxShownLine;
  while (to > 0 && Continues(line, to)) --to;
  AppendPrintable(out, line.substr(0, to), true);
  out->append(kEllipsis);
}

// A hit line with its hits (byte ranges, in ascending order) highlighted; a
// long line is shown from a little before `anchor` (its first hit), cut at
// both ends as needed, before any of it is copied.
void AppendHitLine(std::string* out, std::string_view line, const std::vector<std::pair<size_t, size_t>>& hits,
                   size_t anchor, bool colour) {
  size_t from = 0, to = line.size();
  if (line.size() > kMaxShownLine) {
    const size_t first = std::min(anchor, line.size());
    from = first > kMaxShownLine / 3 ? first - kMaxShownLine / 3 : 0;
    while (from > 0 && Continues(line, from)) --from;
    to = std::min(line.size(), from + kMaxShownLine);
    while (to < line.size() && Continues(line, to)) --to;
  }
  if (from > 0) out->append(kEllipsis);
  size_t at = from;
  for (auto [start, end] : hits) {
    if (start >= to) break;  // this hit and those after it lie past the cut
    start = std::clamp(start, at, to);
    end = std::clamp(end, start, to);
    AppendPrintable(out, line.substr(at, start - at), true);
    if (end > start) {
      if (colour) out->append(kHitColour);
      AppendPrintable(out, line.substr(start, end - start), true);
      if (colour) out->append(kReset);
    }
    at = end;
  }
  AppendPrintable(out, line.substr(at, to - at), true);
  if (to < line.size()) out->append(kEllipsis);
}

// Where the part of a phrase's hit on its k-th line after the hit's own ends
// (k >= 1): the byte length of that piece of the word.
size_t WordPieceLength(const std::string& word, int32_t k) {
  size_t begin = 0;
  for (int32_t i = 0; i < k; ++i) begin = word.find('\n', begin) + 1;
  return std::min(word.find('\n', begin), word.size()) - begin;
}

// What one line of the table shows: the ranges to highlight, where the
// first hit that begins on it lies (the cut of a long line keeps it in
// view), and the text offset of the first row's hit on it.
struct LineMarks {
  std::vector<std::pair<size_t, size_t>> ranges;
  size_t anchor = 0;
  bool own = false;      // a hit begins on the line
  bool carried = false;  // a phrase that began above goes on over it
  int64_t offset = -1;
};

// The rows [begin, end) share one table of lines. Each line in any of their
// ranges is printed once, in the order of the text: a hit line when a hit
// begins on it or a phrase goes on over it, a context line otherwise;
// "--" goes between lines that are not adjacent when context is asked for.
// *printed: the number of the last line printed.
void AppendTableLines(const std::vector<SearchRow>& rows, size_t begin, size_t end, const std::string& path,
                      const RowStyle& style, std::string* out, int64_t* printed) {
  const SearchLines& table = *rows[begin].lines;
  auto hit_index = [&](size_t r) { return rows[r].first_line + rows[r].hit_line; };
  // Continuations of phrases: (line, length of the part of the hit on it).
  std::priority_queue<std::pair<int32_t, size_t>, std::vector<std::pair<int32_t, size_t>>, std::greater<>> carry;
  LineMarks marks;
  size_t taken = begin;  // rows whose ranges are taken in
  size_t next_hit = begin;
  int32_t covered = 0;   // the ranges taken in end before this line
  for (int32_t line = 0;;) {
    for (; taken < end && rows[taken].first_line <= line; ++taken) {
      if (rows[taken].line_count > 0) covered = std::max(covered, rows[taken].first_line + rows[taken].line_count);
    }
    if (line >= covered) {
      while (taken < end && rows[taken].line_count == 0) ++taken;
      if (taken == end) break;
      line = rows[taken].first_line;
      continue;
    }
    marks.ranges.clear();
    marks.own = false;
    marks.offset = -1;
    for (; next_hit < taken && (rows[next_hit].line_count == 0 || hit_index(next_hit) <= line); ++next_hit) {
      const SearchRow& row = rows[next_hit];
      if (row.line_count == 0 || hit_index(next_hit) < line) continue;
      if (!marks.own) {
        marks.own = true;
        marks.offset = row.text_offset;
        marks.anchor = SIZE_MAX;
      }
      if (row.hit_column >= 0) {
        const auto start = static_cast<size_t>(row.hit_column);
        marks.ranges.emplace_back(start, start + row.word.size());
        marks.anchor = std::min(marks.anchor, start);
      }
      const auto feeds = static_cast<int32_t>(std::count(row.word.begin(), row.word.end(), '\n'));
      for (int32_t k = 1; k <= feeds; ++k) carry.emplace(line + k, WordPieceLength(row.word, k));
    }
    marks.carried = false;
    for (; !carry.empty() && carry.top().first <= line; carry.pop()) {
      if (carry.top().first < line) continue;
      marks.ranges.emplace_back(0, carry.top().second);
      marks.carried = true;
    }
    const int64_t number = table.numbers[static_cast<size_t>(line)];
    if (style.context && *printed > 0 && number > *printed + 1) {
      out->append(Coloured("--", kSeparatorColour, style.colour)).append("\n");
    }
    const std::string_view text = WithoutCarriageReturn(Search_line(table, line));
    if (marks.own || marks.carried) {
      std::sort(marks.ranges.begin(), marks.ranges.end());
      out->append(LinePrefix(path, style, number, marks.offset, ':'));
      AppendHitLine(out, text, marks.ranges, marks.own && marks.anchor != SIZE_MAX ? marks.anchor : 0, style.colour);
    } else {
      out->append(LinePrefix(path, style, number, -1, '-'));
      AppendContextLine(out, text);
    }
    out->append("\n");
    *printed = number;
    ++line;
  }
}

std::string FormatLines(const std::vector<SearchRow>& rows, const std::string& path, const RowStyle& style) {
  std::string out;
  int64_t printed = 0;
  for (size_t i = 0; i < rows.size();) {
    size_t k = i + 1;
    while (k < rows.size() && rows[k].lines == rows[i].lines) ++k;
    if (rows[i].lines) AppendTableLines(rows, i, k, path, style, &out, &printed);
    i = k;
  }
  return out;
}

}  // namespace

std::string PrintableText(const std::string& text) { return Printable(text); }

namespace {

// A text row after the file's own prefix ("path:"): readable form, with a
// blank between the left context and a word that it touches (the spaceless
// model leaves that blank out of the left context), and the blank that
// parted the word from the right context when the row left it out.
void AppendTextRow(std::string* out, const SearchRow& row, const std::string& path_prefix, const RowStyle& style) {
  const bool join = row.left_joins;
  const bool gap = !row.right.empty() && row.right_after_blank;
  const std::string sep = Coloured(":", kSeparatorColour, style.colour);
  out->append(path_prefix);
  if (style.line_numbers && row.line > 0) out->append(Coloured(std::to_string(row.line), kNumberColour, style.colour) + sep);
  if (style.byte_offsets && row.text_offset >= 0) {
    out->append(Coloured(std::to_string(row.text_offset), kNumberColour, style.colour) + sep);
  }
  if (!(style.line_numbers && row.line > 0) && !(style.byte_offsets && row.text_offset >= 0)) {
    out->append(row.position).append(":");
  }
  out->append(" ");
  AppendPrintable(out, row.left);
  if (join) out->append(" ");
  if (style.colour) out->append(kHitColour);
  AppendPrintable(out, row.word);
  if (style.colour) out->append(kReset);
  if (gap) out->append(" ");
  AppendPrintable(out, row.right);
  out->append("\n");
}

}  // namespace

std::string FormatRow(const SearchRow& row, const std::string& path, const RowStyle& style) {
  const bool has_line = style.lines && row.lines && row.line_count > 0 && row.hit_line >= 0 &&
                        row.hit_line < row.line_count;
  const std::string_view line_text = has_line ? WithoutCarriageReturn(Search_rowLine(row, row.hit_line))
                                              : std::string_view();
  switch (style.format) {
    case RowFormat::kText: {
      if (style.lines) return FormatLines({row}, path, style);
      std::string line;
      AppendTextRow(&line, row, LinePrefix(path, style, 0, -1, ':'), style);
      return line;
    }
    case RowFormat::kTsv: {
      std::string out = TsvField(path) + "\t" + row.position + "\t" + (row.line > 0 ? std::to_string(row.line) : "") +
                        "\t" + (row.text_offset >= 0 ? std::to_string(row.text_offset) : "") + "\t" +
                        TsvField(row.left) + "\t" + TsvField(row.word) + "\t" + TsvField(row.right);
      if (style.lines) out += "\t" + TsvField(line_text);
      return out + "\n";
    }
    case RowFormat::kJson: {
      std::string out = "{\"path\": " + JsonString(path) + ", \"position\": " + row.position;
      if (row.line > 0) out += ", \"line\": " + std::to_string(row.line);
      if (row.text_offset >= 0) out += ", \"offset\": " + std::to_string(row.text_offset);
      out += ", \"left\": " + JsonString(row.left) + ", \"word\": " + JsonString(row.word) +
             ", \"right\": " + JsonString(row.right);
      if (style.lines) {
        out += ", \"line_text\": " + JsonString(line_text);
        if (style.context) {
          // Each line as line_text shows the hit's: without a CR LF end's carriage return.
          out += ", \"lines\": [";
          for (int32_t i = 0; row.lines && i < row.line_count; ++i) {
            out += (i ? ", " : "") + JsonString(WithoutCarriageReturn(Search_rowLine(row, i)));
          }
          out += "], \"hit_line\": " + std::to_string(row.hit_line);
        }
      }
      return out + "}\n";
    }
  }
  return std::string();
}

std::string FormatListing(const std::string& path, long long hits, RowFormat format) {
  const std::string count = hits >= 0 ? std::to_string(hits) : std::string();
  switch (format) {
    case RowFormat::kText: return Printable(path) + (hits >= 0 ? ":" + count : "") + "\n";
    case RowFormat::kTsv: return TsvField(path) + (hits >= 0 ? "\t" + count : "") + "\n";
    case RowFormat::kJson: return "{\"path\": " + JsonString(path) + (hits >= 0 ? ", \"count\": " + count : "") + "}\n";
  }
  return std::string();
}

std::string FormatFileRows(const std::vector<SearchRow>& rows, const std::string& path, const RowStyle& style) {
  if (style.format == RowFormat::kText && style.lines) return FormatLines(rows, path, style);
  std::string out;
  if (style.format == RowFormat::kText) {
    // The file's prefix is the same on every row: made once.
    const std::string prefix = LinePrefix(path, style, 0, -1, ':');
    out.reserve(rows.size() * (prefix.size() + 96));  // a row's usual length: grown once or not at all
    for (const SearchRow& row : rows) AppendTextRow(&out, row, prefix, style);
    return out;
  }
  for (const SearchRow& row : rows) out += FormatRow(row, path, style);
  return out;
}

}  // namespace moravine

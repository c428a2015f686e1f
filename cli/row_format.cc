#include "cli/row_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "wordmodel/htoken.h"

namespace moravine {

namespace {

// Tabs, line ends and backslashes escaped, so that each row stays one line.
std::string TsvField(const std::string& s) {
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
std::string JsonString(const std::string& s) {
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
// carriage return or a line feed cannot garble the terminal or split a row.
void AppendPrintable(std::string* out, const std::string& s) {
  char esc[8];
  size_t from = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u >= 0x20 && u != 0x7f) continue;
    out->append(s, from, i - from);
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
  out->append(s, from, std::string::npos);
}

std::string Printable(const std::string& s) {
  std::string out;
  AppendPrintable(&out, s);
  return out;
}

// Printable, with tabs kept as they are: a whole line of text.
std::string PrintableLine(const std::string& s) {
  std::string out;
  size_t from = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == '\t') {
      out += Printable(s.substr(from, i - from));
      if (i < s.size()) out += '\t';
      from = i + 1;
    }
  }
  return out;
}

inline bool Continues(const std::string& s, size_t i) {
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

std::string WithoutCarriageReturn(const std::string& line) {
  return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// A context line, cut after kMaxShownLine bytes.
std::string ShownContextLine(const std::string& raw) {
  std::string line = WithoutCarriageReturn(raw);
  if (line.size() <= kMaxShownLine) return PrintableLine(line);
  size_t to = kMaxShownLine;
  while (to > 0 && Continues(line, to)) --to;
  return PrintableLine(line.substr(0, to)) + kEllipsis;
}

// The hit line with its hits (byte ranges) highlighted; a long line is
// shown from a little before its first hit, cut at both ends as needed.
std::string ShownHitLine(const std::string& raw, std::vector<std::pair<size_t, size_t>> hits, bool colour) {
  const std::string line = WithoutCarriageReturn(raw);
  size_t from = 0, to = line.size();
  if (line.size() > kMaxShownLine) {
    const size_t first = hits.empty() ? 0 : std::min(hits.front().first, line.size());
    from = first > kMaxShownLine / 3 ? first - kMaxShownLine / 3 : 0;
    while (from > 0 && Continues(line, from)) --from;
    to = std::min(line.size(), from + kMaxShownLine);
    while (to < line.size() && Continues(line, to)) --to;
  }
  std::string out = from > 0 ? kEllipsis : "";
  size_t at = from;
  for (auto [start, end] : hits) {
    start = std::clamp(start, at, to);
    end = std::clamp(end, start, to);
    out += PrintableLine(line.substr(at, start - at));
    if (end > start) out += Coloured(PrintableLine(line.substr(start, end - start)), kHitColour, colour);
    at = end;
  }
  out += PrintableLine(line.substr(at, to - at));
  if (to < line.size()) out += kEllipsis;
  return out;
}

std::string FormatLines(const std::vector<SearchRow>& rows, const std::string& path, const RowStyle& style) {
  std::string out;
  int64_t printed = 0;  // the last line printed
  for (size_t i = 0; i < rows.size();) {
    const SearchRow& row = rows[i];
    size_t k = i + 1;
    while (k < rows.size() && rows[k].line == row.line && row.line > 0) ++k;
    if (row.lines.empty() || row.hit_line < 0 || static_cast<size_t>(row.hit_line) >= row.lines.size()) {
      i = k;
      continue;
    }
    const int64_t first = row.line - row.hit_line;
    const int64_t next_hit = k < rows.size() ? rows[k].line : INT64_MAX;
    if (style.context && printed > 0 && first > printed + 1) {
      out += Coloured("--", kSeparatorColour, style.colour) + "\n";
    }
    for (size_t index = 0; index < row.lines.size(); ++index) {
      const int64_t n = first + static_cast<int64_t>(index);
      if (n <= printed && row.line > 0) continue;
      if (n >= next_hit) break;  // the next hit's group prints it
      // A phrase found across line ends goes on over the lines after the hit's.
      const auto from_hit = static_cast<int32_t>(index) - row.hit_line;
      if (from_hit > 0 && from_hit <= static_cast<int32_t>(std::count(row.word.begin(), row.word.end(), '\n'))) {
        size_t begin = 0;
        for (int32_t k = 0; k < from_hit; ++k) begin = row.word.find('\n', begin) + 1;
        const size_t end = std::min(row.word.find('\n', begin), row.word.size());
        out += LinePrefix(path, style, n, -1, ':') +
               ShownHitLine(row.lines[index], {{0, end - begin}}, style.colour);
      } else if (static_cast<int32_t>(index) == row.hit_line) {
        std::vector<std::pair<size_t, size_t>> hits;
        for (size_t h = i; h < k; ++h) {
          if (rows[h].hit_column < 0) continue;
          const auto start = static_cast<size_t>(rows[h].hit_column);
          hits.emplace_back(start, start + rows[h].word.size());
        }
        std::sort(hits.begin(), hits.end());
        out += LinePrefix(path, style, n, row.text_offset, ':') + ShownHitLine(row.lines[index], hits, style.colour);
      } else {
        out += LinePrefix(path, style, n, -1, '-') + ShownContextLine(row.lines[index]);
      }
      out += '\n';
      printed = n;
    }
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
  const bool join = !row.left.empty() && !row.word.empty() && HToken_isWordByte(row.left.back()) &&
                    HToken_isWordByte(row.word.front());
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
  const std::string line_text =
      style.lines && !row.lines.empty() && row.hit_line >= 0 && static_cast<size_t>(row.hit_line) < row.lines.size()
          ? WithoutCarriageReturn(row.lines[static_cast<size_t>(row.hit_line)])
          : std::string();
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
          out += ", \"lines\": [";
          for (size_t i = 0; i < row.lines.size(); ++i) out += (i ? ", " : "") + JsonString(row.lines[i]);
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
    for (const SearchRow& row : rows) AppendTextRow(&out, row, prefix, style);
    return out;
  }
  for (const SearchRow& row : rows) out += FormatRow(row, path, style);
  return out;
}

}  // namespace moravine

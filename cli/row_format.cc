#include "cli/row_format.h"

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
std::string Printable(const std::string& s) {
  std::string out;
  char esc[8];
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      out += c;
      continue;
    }
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        std::snprintf(esc, sizeof esc, "\\x%02x", u);
        out += esc;
    }
  }
  return out;
}

}  // namespace

std::string PrintableText(const std::string& text) { return Printable(text); }

std::string FormatRow(const SearchRow& row, RowFormat format, bool colour) {
  switch (format) {
    case RowFormat::kText: {
      // Readable form: a blank between the left context and a word that it
      // touches (the spaceless model leaves that blank out of the left
      // context), and the blank that parted the word from the right context
      // when the row left it out.
      bool join = !row.left.empty() && !row.word.empty() && HToken_isWordByte(row.left.back()) &&
                  HToken_isWordByte(row.word.front());
      bool gap = !row.right.empty() && row.right_after_blank;
      std::string word = Printable(row.word);
      std::string line = Printable(row.file) + ":" + row.position + ": " + Printable(row.left) + (join ? " " : "");
      line += colour ? "\033[1;31m" + word + "\033[0m" : word;
      return line + (gap ? " " : "") + Printable(row.right) + "\n";
    }
    case RowFormat::kTsv:
      return TsvField(row.file) + "\t" + row.position + "\t" + TsvField(row.left) + "\t" + TsvField(row.word) + "\t" +
             TsvField(row.right) + "\n";
    case RowFormat::kJson:
      return "{\"file\": " + JsonString(row.file) + ", \"position\": " + row.position +
             ", \"left\": " + JsonString(row.left) + ", \"word\": " + JsonString(row.word) +
             ", \"right\": " + JsonString(row.right) + "}\n";
  }
  return std::string();
}

}  // namespace moravine

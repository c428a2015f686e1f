// How the command line prints result rows: readable text, TSV or JSON lines.
#ifndef MORAVINE_CLI_ROW_FORMAT_H_
#define MORAVINE_CLI_ROW_FORMAT_H_

#include <string>

#include "search/hits.h"

namespace moravine {

enum class RowFormat { kText, kTsv, kJson };

// The text with its control bytes written as escapes (\r, \n, \t, \xHH).
std::string PrintableText(const std::string& text);

// One row as one line, with its line feed.
std::string FormatRow(const SearchRow& row, RowFormat format, bool colour);

}  // namespace moravine

#endif  // MORAVINE_CLI_ROW_FORMAT_H_

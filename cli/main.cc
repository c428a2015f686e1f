// moravine: compress, decompress and inspect .hwz files from the command line.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "codec/container.h"
#include "codec/decompress.h"
#include "search/hits.h"
#include "search/vocabulary_match.h"
#include "shell/fileio.h"
#include "shell/posix_search_host.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hreport.h"
#include "wordmodel/htoken.h"

namespace {

const char kExtension[] = ".hwz";

void Complain(const std::string& file, const std::string& message) {
  std::string text = message;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::fprintf(stderr, "moravine: %s: %s\n", file.c_str(), text.c_str());
}

bool EndsWithExtension(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, kExtension) == 0;
}

struct CompressOptions {
  bool words = false;
  int distance = 128;
  bool verbose = false;
};

bool CompressOne(const std::string& path, const CompressOptions& options) {
  if (EndsWithExtension(path)) {
    Complain(path, "already has the .hwz extension; skipped");
    return false;
  }
  moravine::MappedFile input;
  std::string error;
  if (!input.open(path, &error)) {
    Complain(path, error);
    return false;
  }
  if (input.size() == 0) {
    Complain(path, "the file is empty; there is nothing to compress");
    return false;
  }
  HBuffer out;
  int32_t out_length = 0;
  try {
    int32_t length = static_cast<int32_t>(input.size());
    int level = options.verbose ? 1 : 0;
    if (options.words) {
      Huffw_compress(input.data(), length, options.distance > 0 ? options.distance : 0, &out, &out_length, level);
    } else {
      Huffw_spaceless_compress(input.data(), length, &out, &out_length, level);
    }
  } catch (const HFatalFailure& failure) {
    Complain(path, std::string("compression failed: ") + failure.what());
    return false;
  }
  if (!moravine::WriteFileAtomically(path + kExtension, out.get(), out_length, &error)) {
    Complain(path + kExtension, error);
    return false;
  }
  return true;
}

bool DecompressOne(const std::string& path, bool verbose) {
  if (!EndsWithExtension(path)) {
    Complain(path, "the name does not end in .hwz; skipped");
    return false;
  }
  moravine::MappedFile input;
  std::string error;
  if (!input.open(path, &error)) {
    Complain(path, error);
    return false;
  }
  HBuffer out;
  int32_t out_length = 0;
  try {
    int32_t length = static_cast<int32_t>(input.size());
    int level = verbose ? 1 : 0;
    if (length > 0 && input.data()[0] == 0) {
      Huffw_decompress(input.data(), length, &out, &out_length, level);
    } else {
      Huffw_spaceless_decompress(input.data(), length, &out, &out_length, level);
    }
  } catch (const HFatalFailure& failure) {
    Complain(path, std::string("decompression failed: ") + failure.what());
    return false;
  }
  std::string target = path.substr(0, path.size() - 4);
  if (!moravine::WriteFileAtomically(target, out.get(), out_length, &error)) {
    Complain(target, error);
    return false;
  }
  return true;
}

bool InfoOne(const std::string& path, bool verbose) {
  moravine::MappedFile input;
  std::string error;
  if (!input.open(path, &error)) {
    Complain(path, error);
    return false;
  }
  try {
    HModel model;
    int32_t text_length;
    const unsigned char* body;
    int32_t body_length;
    int32_t length = static_cast<int32_t>(input.size());
    HDecompress_getBodyAndConsole(input.data(), length, &text_length, &body, &body_length, &model);
    int rule = input.data()[0];
    if (rule != 0 && rule != 1) {
      Complain(path, "unknown parsing rule " + std::to_string(static_cast<signed char>(rule)));
      return false;
    }
    HPrint_globalInfos(&model, body_length, text_length, length, rule, verbose ? 2 : 1);
    std::fflush(stdout);
    HModel_free(&model, false);
  } catch (const HFatalFailure& failure) {
    Complain(path, std::string("not a valid compressed file: ") + failure.what());
    return false;
  }
  return true;
}

enum class Format { kText, kTsv, kJson };

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

void PrintRow(const SearchRow& row, Format format, bool colour) {
  switch (format) {
    case Format::kText: {
      // Readable form: a blank between the left context and a word that it
      // touches (the spaceless model leaves that blank out of the left
      // context), and between the word and the right context.
      const char* on = colour ? "\033[1;31m" : "";
      const char* off = colour ? "\033[0m" : "";
      bool join = !row.left.empty() && !row.word.empty() && HToken_isWordByte(row.left.back()) &&
                  HToken_isWordByte(row.word.front());
      bool gap = !row.right.empty() && row.right.front() != ' ';
      std::printf("%s:%s: %s%s%s%s%s%s%s\n", row.file.c_str(), row.position.c_str(), row.left.c_str(),
                  join ? " " : "", on, row.word.c_str(), off, gap ? " " : "", row.right.c_str());
      break;
    }
    case Format::kTsv:
      std::printf("%s\t%s\t%s\t%s\t%s\n", TsvField(row.file).c_str(), row.position.c_str(),
                  TsvField(row.left).c_str(), TsvField(row.word).c_str(), TsvField(row.right).c_str());
      break;
    case Format::kJson:
      std::printf("{\"file\": %s, \"position\": %s, \"left\": %s, \"word\": %s, \"right\": %s}\n",
                  JsonString(row.file).c_str(), row.position.c_str(), JsonString(row.left).c_str(),
                  JsonString(row.word).c_str(), JsonString(row.right).c_str());
      break;
  }
}

// Searches one file and prints its rows. Returns the number of hits, or -1
// on an error.
int SearchOne(const std::string& path, const std::string& word, int errors, Format format, bool colour,
              moravine::PosixSearchHost* host) {
  moravine::MappedFile input;
  std::string error;
  if (!input.open(path, &error)) {
    Complain(path, error);
    return -1;
  }
  if (input.size() == 0) {
    Complain(path, "the file is empty; it is not a compressed file");
    return -1;
  }
  int32_t count = 0;
  SearchOffsets offsets;
  std::vector<SearchRow> rows;
  try {
    Search_compressedFile(&count, word, input.data(), static_cast<int32_t>(input.size()), errors, host, &offsets);
    Search_contextRows(Search_displayName(path), input.data(), static_cast<int32_t>(input.size()), offsets.at.get(),
                       count, &rows, &error);
  } catch (const HFatalFailure& failure) {
    Complain(path, std::string("search failed: ") + failure.what());
    return -1;
  }
  for (const auto& row : rows) PrintRow(row, format, colour);
  std::fflush(stdout);
  if (!error.empty()) {
    Complain(path, error);
    return -1;
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  // Fatal failures carry their message; the command line prints it once,
  // prefixed with the file's name, so the library's own copy is dropped.
  FILE* sink = std::fopen("/dev/null", "w");
  HLog_setStreams(nullptr, sink);

  CLI::App app{"Moravine: word-based compression of text files, searchable without decompressing."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "moravine 1.0");

  CompressOptions copts;
  std::vector<std::string> cfiles;
  CLI::App* compress = app.add_subcommand("compress", "Compress each FILE to FILE.hwz");
  bool spaceless_flag = false;
  auto* spaceless = compress->add_flag("--spaceless", spaceless_flag, "Spaceless model: single blanks between words are implied (default)");
  auto* words = compress->add_flag("--words", copts.words, "Words-and-separators model: every token is coded");
  spaceless->excludes(words);
  compress->add_option("--distance", copts.distance,
                       "Auxiliary pointer distance for the words-and-separators model (0 or less: none)")
      ->default_val(128);
  compress->add_flag("-v,--verbose", copts.verbose, "Print the statistics report of each file");
  compress->add_option("FILE", cfiles, "Files to compress")->required();

  bool dverbose = false;
  std::vector<std::string> dfiles;
  CLI::App* decompress = app.add_subcommand("decompress", "Decompress each FILE.hwz to FILE");
  decompress->add_flag("-v,--verbose", dverbose, "Print the statistics report of each file");
  decompress->add_option("FILE", dfiles, "Compressed files (.hwz)")->required();

  bool iverbose = false;
  std::vector<std::string> ifiles;
  CLI::App* info = app.add_subcommand("info", "Print the statistics report of compressed files");
  info->add_flag("-v,--verbose", iverbose, "Add the dictionary listing");
  info->add_option("FILE", ifiles, "Compressed files (.hwz)")->required();

  int errors = 0;
  std::string word;
  std::string format_name = "text";
  std::vector<std::string> sfiles;
  CLI::App* search = app.add_subcommand("search", "Search compressed files for a word, exactly or with errors");
  search->add_option("-e,--errors", errors, "Number of errors allowed (insertions, deletions, substitutions)")
      ->check(CLI::NonNegativeNumber);
  search->add_option("--format", format_name, "Output: text (default), tsv or json (one object per line)")
      ->check(CLI::IsMember({"text", "tsv", "json"}));
  search->add_option("WORD", word, "The word to look for; regular-expression characters are passed to agrep")
      ->required();
  search->add_option("FILE", sfiles, "Compressed files (.hwz)")->required();

  CLI11_PARSE(app, argc, argv);

  if (*search) {
    moravine::AppendProgramDirectoryToPath();
    if (word.empty()) {
      std::fprintf(stderr, "moravine: the search word is empty\n");
      return 2;
    }
    if (word.size() > 998) {
      std::fprintf(stderr, "moravine: the search word is longer than 998 bytes\n");
      return 2;
    }
    Format format = format_name == "tsv" ? Format::kTsv : format_name == "json" ? Format::kJson : Format::kText;
    bool colour = format == Format::kText && ::isatty(STDOUT_FILENO);
    moravine::PosixSearchHost host;
    bool found = false;
    bool failed = false;
    for (const auto& f : sfiles) {
      int hits = SearchOne(f, word, errors, format, colour, &host);
      if (hits < 0) failed = true;
      if (hits > 0) found = true;
    }
    if (sink) std::fclose(sink);
    return failed ? 2 : found ? 0 : 1;
  }

  bool ok = true;
  if (*compress) {
    for (const auto& f : cfiles) ok &= CompressOne(f, copts);
  } else if (*decompress) {
    for (const auto& f : dfiles) ok &= DecompressOne(f, dverbose);
  } else if (*info) {
    for (const auto& f : ifiles) ok &= InfoOne(f, iverbose);
  }
  std::fflush(stdout);
  if (sink) std::fclose(sink);
  return ok ? 0 : 1;
}

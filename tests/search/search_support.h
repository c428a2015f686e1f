// Helpers of the search tests: compression, an independent tokenizer, a
// whole search with its rows, a scratch TMPDIR and fatal failure messages.
#ifndef MORAVINE_TESTS_SEARCH_SEARCH_SUPPORT_H_
#define MORAVINE_TESTS_SEARCH_SEARCH_SUPPORT_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "search/hits.h"
#include "search/vocabulary_match.h"
#include "platform_host.h"
#include "wordmodel/hlog.h"

namespace stest {

namespace fs = std::filesystem;

inline const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

inline std::string Compress(const std::string& text, int rule) {
  HBuffer out;
  int32_t n = 0, length = static_cast<int32_t>(text.size());
  if (rule == 0) Huffw_compress(U(text), length, 0, &out, &n, 0);
  else Huffw_spaceless_compress(U(text), length, &out, &n, 0);
  return std::string(reinterpret_cast<const char*>(out.get()), static_cast<size_t>(n));
}

inline bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool IsWord(const std::string& t) { return !t.empty() && IsAlnum(t[0]); }

// The tokens that a body codes, in text order: runs of letters and digits,
// runs of other bytes without a line feed, and single line feeds. The
// spaceless model (rule 1) leaves out a single blank between two words.
inline std::vector<std::string> BodyTokens(const std::string& text, int rule) {
  std::vector<std::string> all, kept;
  for (size_t i = 0, j; i < text.size(); i = j) {
    j = i + 1;
    while (text[i] != '\n' && j < text.size() && text[j] != '\n' && IsAlnum(text[j]) == IsAlnum(text[i])) ++j;
    all.push_back(text.substr(i, j - i));
  }
  for (size_t i = 0; i < all.size(); ++i) {
    bool implied =
        rule == 1 && all[i] == " " && i > 0 && i + 1 < all.size() && IsWord(all[i - 1]) && IsWord(all[i + 1]);
    if (!implied) kept.push_back(all[i]);
  }
  return kept;
}

struct Result {
  int32_t count = 0;
  std::vector<int32_t> offsets;
  std::vector<SearchRow> rows;
};

// Searches an exact-size heap copy of the file, so that the sanitizers see
// any read beyond it, and builds one row per hit, in ascending position.
inline Result RunSearch(const std::string& file, const std::string& word, int32_t errors, SearchHost* host,
                        const std::string& name = "t") {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[file.size()]);
  std::memcpy(copy.get(), file.data(), file.size());
  int32_t size = static_cast<int32_t>(file.size());
  Result r;
  SearchOffsets offsets;
  Search_compressedFile(&r.count, word, copy.get(), size, errors, host, &offsets);
  if (r.count > 0) r.offsets.assign(offsets.at.get(), offsets.at.get() + r.count);
  std::string error;
  Search_contextRows(name, copy.get(), size, r.offsets.data(), r.count, &r.rows, &error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(r.rows.size(), r.offsets.size());
  for (size_t i = 0; i < r.rows.size(); ++i) {
    EXPECT_TRUE(i == 0 || r.offsets[i - 1] < r.offsets[i]) << i;
    EXPECT_EQ(r.rows[i].position, std::to_string(r.offsets[i]));
  }
  return r;
}

// A row's lines, copied out of the table that the file's rows share.
inline std::vector<std::string> RowLines(const SearchRow& row) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < row.line_count; ++i) out.emplace_back(Search_rowLine(row, i));
  return out;
}

// A fresh directory, ending in the given name, that is the platform host's
// temporary directory while it lives.
class TempDir {
 public:
  explicit TempDir(const std::string& leaf = "d") {
    static const std::string base = fs::temp_directory_path().string();
    std::string pattern = base + "/moravine-search-XXXXXX";
    if (!MakeUniqueDirectory(&pattern)) ADD_FAILURE() << "cannot make a directory like " << pattern;
    root_ = pattern;
    path_ = root_ / leaf;
    fs::create_directory(path_);
    saved_ = HostTemporaryDirectory();
    SetHostTemporaryDirectory(path_.string());
  }
  ~TempDir() {
    SetHostTemporaryDirectory(saved_);
    fs::remove_all(root_);
  }
  const fs::path& path() const { return path_; }
  std::string name(const char* stem, int n) const {  // stem.pid.n
    return (path_ / (std::string(stem) + "." + std::to_string(PlatformProcessId()) + "." + std::to_string(n))).string();
  }
  std::vector<std::string> entries() const {  // sorted, symbolic links included
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::optional<std::string> saved_;
  fs::path root_, path_;
};

// The message of the fatal failure that f() raises.
template <typename F>
std::string FatalMessage(F f) {
  try {
    f();
  } catch (const HFatalFailure& failure) {
    return failure.what();
  }
  return "no failure";
}

}  // namespace stest

#endif  // MORAVINE_TESTS_SEARCH_SEARCH_SUPPORT_H_

// The search features against counts made here from the text itself: case
// ignored, phrases (across line ends too), line numbers, offsets in the
// text, the limit on hits, whole lines with lines around them; and cuts of
// contexts at UTF-8 character boundaries.
#include <map>
#include <sstream>

#include "codec/container.h"
#include "search/phrase.h"
#include "search_support.h"
#include "tests/samples.h"
#include "tools/agrep/tests/reference_distance.h"
#include "wordmodel/hmodel_free.h"

namespace {

using namespace stest;

class BundledHost : public stest::PlatformHost {
 public:
  bool useBundledMatcher() const override { return true; }
};

// Model 0: words and separators; 1: spaceless; 2: words and separators with
// auxiliary pointers every 64 bytes.
std::string CompressModel(const std::string& text, int model) {
  if (model != 2) return Compress(text, model);
  HBuffer out;
  int32_t n = 0;
  Huffw_compress(U(text), static_cast<int32_t>(text.size()), 64, &out, &n, 0);
  return std::string(reinterpret_cast<const char*>(out.get()), static_cast<size_t>(n));
}

// The tokens of the text with their offsets and lines: runs of letters and
// digits, runs of other bytes without a line feed, single line feeds.
struct Token {
  std::string text;
  int64_t offset, line;
};
std::vector<Token> TextTokens(const std::string& text) {
  std::vector<Token> out;
  int64_t line = 1;
  for (size_t i = 0, j; i < text.size(); i = j) {
    j = i + 1;
    while (text[i] != '\n' && j < text.size() && text[j] != '\n' && IsAlnum(text[j]) == IsAlnum(text[i])) ++j;
    out.push_back({text.substr(i, j - i), static_cast<int64_t>(i), line});
    if (text[i] == '\n') ++line;
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}
bool IsBlankRun(const std::string& t) { return t.find_first_not_of(" \t\r\n") == std::string::npos; }

// The occurrences of a phrase of words parted by blanks: the index of the
// first token and the text from its first word to its last.
std::vector<std::pair<size_t, std::string>> PhraseOccurrences(const std::vector<Token>& tokens,
                                                              const std::vector<std::string>& words, bool fold) {
  std::vector<std::pair<size_t, std::string>> out;
  auto same = [&](const std::string& a, const std::string& b) { return fold ? Lower(a) == Lower(b) : a == b; };
  for (size_t i = 0; i < tokens.size(); ++i) {
    size_t t = i;
    std::string matched;
    bool ok = true;
    for (size_t w = 0; w < words.size() && ok; ++w) {
      if (w > 0) {
        if (t >= tokens.size() || !IsBlankRun(tokens[t].text)) ok = false;
        while (ok && t < tokens.size() && IsBlankRun(tokens[t].text)) matched += tokens[t++].text;
      }
      ok = ok && t < tokens.size() && same(tokens[t].text, words[w]);
      if (ok) matched += tokens[t++].text;
    }
    if (ok) out.push_back({i, matched});
  }
  return out;
}

struct Search {
  std::vector<SearchHit> hits;
  std::vector<SearchRow> rows;
};
Search Find(const std::string& file, const std::string& word, SearchOptions options, SearchHost* host,
            const SearchRowOptions& row_options = SearchRowOptions()) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[file.size()]);
  std::memcpy(copy.get(), file.data(), file.size());
  const auto size = static_cast<int32_t>(file.size());
  Search s;
  options.phrase = Search_isPhrase(word);
  Search_findHits(word, copy.get(), size, options, host, &s.hits);
  std::string error;
  Search_hitRows("f", copy.get(), size, s.hits.data(), static_cast<int32_t>(s.hits.size()), row_options, &s.rows,
                 &error);
  EXPECT_EQ(error, "");
  return s;
}

class SearchFeatures : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    // A novel with CR LF line ends, then a book with LF ones and a paragraph
    // a line, then phrases over line ends of both kinds, tabs and runs of
    // blanks.
    text_ = samples::Read("tom-sawyer.txt") + samples::Read("climbing-plants.txt");
    text_ += "\r\nthe Aunt\r\nPolly and THE  aunt\t\n\n  POLLY, the aunt polly";
    tokens_ = TextTokens(text_);
    file_ = CompressModel(text_, GetParam());
  }
  std::string text_, file_;
  std::vector<Token> tokens_;
  TempDir dir_;
  BundledHost host_;
};

TEST_P(SearchFeatures, CaseIgnoredHitsLinesAndOffsets) {
  SearchOptions options;
  options.ignore_case = true;
  options.line_numbers = options.text_offsets = true;
  for (const char* word : {"tom", "THE", "Polly", "said", "i", "x", "sawyer", "1876", "tendrils"}) {
    std::vector<Token> expected;
    for (const Token& t : tokens_) {
      if (Lower(t.text) == Lower(word)) expected.push_back(t);
    }
    const Search s = Find(file_, word, options, &host_);
    ASSERT_EQ(s.hits.size(), expected.size()) << word;
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(s.rows[i].word, expected[i].text) << word << " " << i;
      ASSERT_EQ(s.hits[i].line, expected[i].line) << word << " " << i;
      ASSERT_EQ(s.hits[i].text_offset, expected[i].offset) << word << " " << i;
    }
  }
}

TEST_P(SearchFeatures, CaseIgnoredWithErrorsFindsTheTokensWithinTheDistance) {
  std::set<std::string> tokens;
  for (const Token& t : tokens_) tokens.insert(t.text);
  SearchOptions options;
  options.ignore_case = true;
  for (const char* word : {"BECKY", "hukleberry", "Injun"}) {
    for (int errors : {1, 2}) {
      options.errors = errors;
      std::set<std::string> expected, found;
      for (const std::string& t : tokens) {
        if (ReferenceDistance(Lower(word), Lower(t), true, true) <= errors) expected.insert(t);
      }
      for (const SearchRow& row : Find(file_, word, options, &host_).rows) found.insert(row.word);
      // The spaceless body has no blank between two words to find.
      if (GetParam() == 1 && !found.count(" ")) expected.erase(" ");
      ASSERT_EQ(found, expected) << word << " " << errors;
    }
  }
}

TEST_P(SearchFeatures, PhrasesAcrossLineEndsWithLinesAndOffsets) {
  SearchOptions options;
  options.line_numbers = options.text_offsets = true;
  for (const char* phrase : {"the aunt polly", "said Tom", "the widow", "of the", "Aunt Polly", "Tom  was"}) {
    for (bool fold : {false, true}) {
      options.ignore_case = fold;
      std::vector<std::string> words;
      for (std::istringstream in(phrase); in;) {
        std::string w;
        if (in >> w) words.push_back(w);
      }
      const auto expected = PhraseOccurrences(tokens_, words, fold);
      const Search s = Find(file_, phrase, options, &host_);
      ASSERT_EQ(s.hits.size(), expected.size()) << phrase << " " << fold;
      for (size_t i = 0; i < expected.size(); ++i) {
        const Token& first = tokens_[expected[i].first];
        ASSERT_EQ(s.rows[i].word, expected[i].second) << phrase << " " << i;
        ASSERT_EQ(s.hits[i].line, first.line) << phrase << " " << i;
        ASSERT_EQ(s.hits[i].text_offset, first.offset) << phrase << " " << i;
      }
      if (std::string(phrase) == "the aunt polly" && fold) {  // the added lines: over CR LF, tabs, blank lines
        ASSERT_GE(expected.size(), 3u);
        EXPECT_EQ(s.rows[s.rows.size() - 3].word, "the Aunt\r\nPolly");
        EXPECT_EQ(s.rows[s.rows.size() - 2].word, "THE  aunt\t\n\n  POLLY");
        EXPECT_EQ(s.rows.back().right, "");
      }
    }
  }
}

// Each row's lines are the text's lines around the hit's line; a limit on
// hits keeps the first ones.
TEST_P(SearchFeatures, WholeLinesAroundTheHitAndTheLimit) {
  std::vector<std::string> lines;
  for (size_t from = 0;;) {
    const size_t lf = text_.find('\n', from);
    lines.push_back(text_.substr(from, lf == std::string::npos ? lf : lf - from));
    if (lf == std::string::npos) break;
    from = lf + 1;
  }
  SearchOptions options;
  options.line_numbers = true;
  for (auto [before, after] : {std::pair{0, 0}, {2, 1}, {0, 3}}) {
    SearchRowOptions row_options;
    row_options.whole_line = true;
    row_options.lines_before = before;
    row_options.lines_after = after;
    for (const char* word : {"Tom", "POLLY", "CHAPTER", "tendril", "the aunt polly"}) {
      const Search s = Find(file_, word, options, &host_, row_options);
      ASSERT_FALSE(s.rows.empty()) << word;
      for (const SearchRow& row : s.rows) {
        const auto line = static_cast<size_t>(row.line);
        const size_t first = line - 1 >= static_cast<size_t>(before) ? line - 1 - before : 0;
        const size_t last = std::min(lines.size() - 1, line - 1 + after + std::count(row.word.begin(), row.word.end(), '\n'));
        ASSERT_EQ(RowLines(row), std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(first),
                                                      lines.begin() + static_cast<std::ptrdiff_t>(last) + 1))
            << word << " line " << line;
        ASSERT_EQ(static_cast<size_t>(row.hit_line), line - 1 - first);
      }
      options.max_hits = 3;
      const Search limited = Find(file_, word, options, &host_);
      options.max_hits = 0;
      ASSERT_EQ(limited.hits.size(), std::min<size_t>(3, s.hits.size()));
      for (size_t i = 0; i < limited.hits.size(); ++i) ASSERT_EQ(limited.hits[i].offset, s.hits[i].offset);
    }
  }
}

// A word with errors matches word tokens only: "I" with one error finds the
// words of one or two bytes that hold it or replace it, never "," or the
// line feed; a query of separators alone still finds its separator tokens.
TEST_P(SearchFeatures, WordsWithErrorsMatchWordTokensOnly) {
  std::map<std::string, size_t> counts;
  for (const Token& t : tokens_) ++counts[t.text];
  SearchOptions options;
  for (auto [word, errors] : {std::pair{"I", 1}, {"a", 1}, {"of", 1}, {"of", 2}, {"Tom", 2}}) {
    options.errors = errors;
    size_t expected = 0;
    for (const auto& [token, n] : counts) {
      if (IsAlnum(token[0]) && ReferenceDistance(word, token, true, true) <= errors) expected += n;
    }
    const Search s = Find(file_, word, options, &host_);
    EXPECT_EQ(s.hits.size(), expected) << word << " " << errors;
    for (const SearchRow& row : s.rows) ASSERT_TRUE(IsAlnum(row.word[0])) << word << " found '" << row.word << "'";
  }
  options.errors = 0;
  options.literal = true;
  for (const char* separators : {",", ". "}) {
    const Search s = Find(file_, separators, options, &host_);
    EXPECT_EQ(s.hits.size(), counts[separators]) << separators;
  }
}

// The header alone tells that a file cannot hold a word: never for a word
// it holds (with or without errors, or in a phrase), and for a word it does
// not hold when it holds no piece of it. Too few bytes tell nothing; a file
// whose size does not add up fails as the whole search does.
TEST_P(SearchFeatures, TheHeaderAloneRulesOutOnlyFilesWithoutHits) {
  const auto size = static_cast<int64_t>(file_.size());
  const int64_t header = HContainer_headerEnd(U(file_), size);
  ASSERT_GT(header, 0);
  ASSERT_LT(header, size);
  const std::string head = file_.substr(0, static_cast<size_t>(header));
  SearchOptions options;
  for (auto [word, errors] : {std::pair{"Polly", 0}, {"Pollx", 1}, {"tendrils", 2}, {"the aunt", 0},
                              {"Brobdingnagians", 0}, {"Brobdingnagians", 1}, {"Brobdingnagians", 2}}) {
    options.errors = errors;
    options.phrase = Search_isPhrase(word);
    const bool may = Search_mayHit(word, U(head), header, size, options, &host_);
    const Search found = Find(file_, word, options, &host_);
    if (!found.hits.empty()) {
      EXPECT_TRUE(may) << word << " " << errors;
    }
    if (std::string(word) == "Brobdingnagians") {
      EXPECT_FALSE(may) << errors;
    }
    options.header_checked = true;
    EXPECT_EQ(Find(file_, word, options, &host_).hits.size(), found.hits.size()) << word << " " << errors;
    options.header_checked = false;
  }
  options.errors = 0;
  EXPECT_TRUE(Search_mayHit("Brobdingnagians", U(head), 100, size, options, &host_));
  const std::string longer = file_ + "x";
  EXPECT_EQ(FatalMessage([&] { Search_mayHit("Polly", U(head), header, size + 1, options, &host_); }),
            FatalMessage([&] { Find(longer, "Polly", options, &host_); }));
  EXPECT_NE(FatalMessage([&] { Find(longer, "Polly", options, &host_); }), "no failure");
}

INSTANTIATE_TEST_SUITE_P(Models, SearchFeatures, testing::Values(0, 1, 2), [](const testing::TestParamInfo<int>& i) {
  return std::string(i.param == 0 ? "Words" : i.param == 1 ? "Spaceless" : "WordsWithPointers");
});

TEST(SearchPhraseParts, WordsGapsAndWhatIsAPhrase) {
  for (auto [text, words, gaps, phrase] :
       {std::tuple{"to be or not", "to|be|or|not", "_|_|_", true}, {"  to\t\n be ", "to|be", "_", true},
        {"Love's not", "Love|s|not", "'|_", true}, {"e-mail", "e|mail", "-", false}, {" & ", "", "", false},
        {"whale", "whale", "", false}, {"(to, be)", "to|be", ",_", true}, {"a \"; touch x", "a|touch|x", "_\";_|_", true}}) {
    SearchPhrase p;
    Search_parsePhrase(text, &p);
    std::string joined_words, joined_gaps;
    for (const auto& w : p.words) joined_words += (joined_words.empty() ? "" : "|") + w;
    for (auto g : p.gaps) {
      std::replace(g.begin(), g.end(), kGapBlanks, '_');
      joined_gaps += (joined_gaps.empty() ? "" : "|") + g;
    }
    EXPECT_EQ(joined_words, words) << text;
    EXPECT_EQ(joined_gaps, gaps) << text;
    EXPECT_EQ(Search_isPhrase(text), phrase) << text;
  }
  for (auto [gap, between, matches] : {std::tuple{"_", " ", true}, {"_", " \t\r\n ", true}, {"_", "", false},
                                       {"_", " .", false}, {",_", ", ", true}, {",_", ",", false}, {",_", " , ", false}}) {
    std::string g = gap;
    std::replace(g.begin(), g.end(), '_', kGapBlanks);
    EXPECT_EQ(Search_gapMatches(g, U(std::string(between)), static_cast<int32_t>(std::strlen(between))), matches)
        << gap << "|" << between;
  }
}

// With errors, each word of a phrase matches word tokens only, never the
// separators that an error away from it ("a" against ",").
TEST(SearchPhraseErrors, WordsOfAPhraseMatchWordsOnly) {
  TempDir dir;
  BundledHost host;
  SearchOptions options;
  options.errors = 1;
  for (int model : {0, 1, 2}) {
    const Search s = Find(CompressModel("one,\ncat and at cat, xa\tcats", model), "a cat", options, &host);
    std::vector<std::string> words;
    for (const SearchRow& row : s.rows) words.push_back(row.word);
    EXPECT_EQ(words, (std::vector<std::string>{"at cat", "xa\tcats"})) << model;
  }
}

// The rows of a file share one table that holds each line they show once,
// in the order of the text, with its number: runs of lines apart where the
// hits are far apart, one run where their lines touch or overlap; no empty
// line after a final line feed; each hit's column finds it in its line.
TEST(SearchRowLines, OneTableWithEachShownLineOnce) {
  TempDir dir;
  BundledHost host;
  std::string many;  // a long line with a hit every few words
  for (int i = 0; i < 3000; ++i) many += i % 7 == 0 ? "ka " : "whale ";
  std::vector<std::string> lines;
  for (int i = 1; i <= 60; ++i) lines.push_back("line " + std::to_string(i) + (i == 5 ? "\r" : ""));
  for (int n : {2, 3, 6, 30}) lines[static_cast<size_t>(n - 1)] += " ka";
  lines[29] = "ka " + many + "ka";  // line 30
  lines.back() += " ka";          // and the last
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  SearchOptions options;
  options.line_numbers = true;
  SearchRowOptions row_options;
  row_options.lines_before = row_options.lines_after = 1;
  for (int model : {0, 1}) {
    const Search s = Find(CompressModel(text, model), "ka", options, &host, row_options);
    ASSERT_GT(s.rows.size(), 400u);
    const SearchLines& table = *s.rows[0].lines;
    const std::vector<int64_t> numbers{1, 2, 3, 4, 5, 6, 7, 29, 30, 31, 59, 60};
    ASSERT_EQ(table.numbers, numbers) << model;
    for (size_t i = 0; i < numbers.size(); ++i) {
      EXPECT_EQ(Search_line(table, static_cast<int32_t>(i)), lines[static_cast<size_t>(numbers[i] - 1)]);
    }
    for (const SearchRow& row : s.rows) {
      ASSERT_EQ(row.lines.get(), &table);
      const auto first = static_cast<size_t>(std::max<int64_t>(row.line - 1, 1) - 1);
      const auto last = static_cast<size_t>(std::min<int64_t>(row.line + 1, 60) - 1);
      ASSERT_EQ(RowLines(row), std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(first),
                                                        lines.begin() + static_cast<std::ptrdiff_t>(last) + 1));
      ASSERT_EQ(Search_rowLine(row, row.hit_line).substr(static_cast<size_t>(row.hit_column), 2), "ka");
    }
  }
}

// A line that cannot be decoded ends the rows: those before stay whole, the
// one that needs the line keeps no lines, and the error names the line.
TEST(SearchRowLines, ALineThatCannotBeDecodedEndsTheRows) {
  TempDir dir;
  BundledHost host;
  std::string file = Compress("aa dd\nbb\ncc dd\nee\nff\n", 0);
  HModel model;
  int32_t text_length, body_length;
  const unsigned char* body;
  HContainer_read(U(file), static_cast<int32_t>(file.size()), &text_length, &body, &body_length, &model,
                  HVocabulary::kBlankOnly);
  HModel_free(&model, false);
  ASSERT_EQ(body_length, 14);  // one byte per token: "ee" is the 11th
  file[static_cast<size_t>(body - U(file)) + 10] = static_cast<char>(0xFF);
  SearchOptions options;
  options.line_numbers = true;
  std::vector<SearchHit> hits;
  Search_findHits("dd", U(file), static_cast<int32_t>(file.size()), options, &host, &hits);
  ASSERT_EQ(hits.size(), 2u);
  SearchRowOptions row_options;
  row_options.whole_line = true;
  row_options.left_words = row_options.right_words = 0;  // no context reaches the damage
  for (int32_t after : {0, 1}) {
    row_options.lines_after = after;
    std::vector<SearchRow> rows;
    std::string error;
    Search_hitRows("f", U(file), static_cast<int32_t>(file.size()), hits.data(), 2, row_options, &rows, &error);
    ASSERT_EQ(rows.size(), 2u);
    using Lines = std::vector<std::string>;
    EXPECT_EQ(RowLines(rows[0]), after ? Lines({"aa dd", "bb"}) : Lines({"aa dd"}));
    EXPECT_EQ(RowLines(rows[1]), after ? Lines() : Lines({"cc dd"}));
    EXPECT_EQ(error, after ? "Error decompressing the line." : "");
  }
}

// Cuts to a number of bytes move to the nearest whole character inside the
// limit; bytes that form no UTF-8 character are cut anywhere.
TEST(SearchRowsCut, ContextsAreCutAtCharacterBoundaries) {
  const std::string s = "a\xc3\xa9" "b\xe2\x82\xac" "c\xf0\x9f\x98\x80";  // a é b € c 😀
  for (auto [limit, prefix, suffix_start] : {std::tuple{0, 0, 12}, {1, 1, 12}, {2, 1, 12}, {3, 3, 12}, {4, 4, 8},
                                             {5, 4, 7}, {6, 4, 7}, {7, 7, 7}, {8, 8, 4}, {9, 8, 3}, {12, 12, 0}}) {
    EXPECT_EQ(Search_utf8Prefix(s, static_cast<size_t>(limit)), static_cast<size_t>(prefix)) << limit;
    EXPECT_EQ(Search_utf8SuffixStart(s, static_cast<size_t>(limit)), static_cast<size_t>(suffix_start)) << limit;
  }
  EXPECT_EQ(Search_utf8Prefix("ab\xa9\xa9\xa9\xa9", 4), 4u);  // no character to keep whole
  EXPECT_EQ(Search_utf8Prefix("\xe9t\xe9", 1), 1u);           // Latin-1

  // A separator token of CJK text (no ASCII in it) cut to 10 bytes each way.
  TempDir dir;
  BundledHost host;
  const std::string cjk = "\xe4\xb8\x80\xe4\xba\x8c\xe4\xb8\x89\xe5\x9b\x9b\xe4\xba\x94";  // five characters
  for (int model : {0, 1}) {
    SearchRowOptions cut;
    cut.max_context_bytes = 10;
    cut.whole_line = true;
    const Search s = Find(CompressModel(cjk + "X" + cjk + "\n", model), "X", SearchOptions(), &host, cut);
    ASSERT_EQ(s.rows.size(), 1u);
    EXPECT_EQ(s.rows[0].left, cjk.substr(6));
    EXPECT_EQ(s.rows[0].right, cjk.substr(0, 9));
    EXPECT_EQ(RowLines(s.rows[0]), std::vector<std::string>{cjk.substr(0, 9)});
  }
}

}  // namespace

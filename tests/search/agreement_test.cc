// The in-process matching against the agrep program: the same tokens for
// words and patterns, exact and approximate, with and without case, and the
// same messages when agrep refuses the pattern; no process and no file.
#include "codec/container.h"
#include "search/vocabulary_match.h"
#include "search_support.h"
#include "tests/samples.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hmodel_free.h"

namespace {

using namespace stest;

// Runs the matching in-process; any attempt to start agrep or to make a
// file is a failure.
class BundledHost : public moravine::SystemSearchHost {
 public:
  bool useBundledMatcher() const override { return true; }
  File createExclusive(const std::string& path) override {
    ADD_FAILURE() << "file made: " << path;
    return SystemSearchHost::createExclusive(path);
  }
  int runProcess(const std::vector<std::string>& argv, File out, int* status) override {
    ADD_FAILURE() << "process started: " << argv[0];
    return SystemSearchHost::runProcess(argv, out, status);
  }
};

struct Parsed {
  std::string file;
  HModel model;
  explicit Parsed(std::string bytes) : file(std::move(bytes)) {
    int32_t text_length, body_length;
    const unsigned char* body;
    HContainer_read(U(file), static_cast<int32_t>(file.size()), &text_length, &body, &body_length, &model,
                    HVocabulary::kBlankOnly);
  }
  ~Parsed() { HModel_free(&model, false); }
};

struct Matched {
  int32_t lines = 0;
  std::vector<int32_t> ranks;
  std::string failure, diagnostics;
  bool operator==(const Matched&) const = default;
};
void PrintTo(const Matched& m, std::ostream* os) {
  *os << m.lines << " lines, " << m.ranks.size() << " ranks, failure '" << m.failure << "' stderr '" << m.diagnostics
      << "'";
}

Matched Match(const std::vector<std::string>& arguments, const HModel& model, SearchHost* host) {
  Matched m;
  testing::internal::CaptureStderr();  // the program's stderr is ours
  m.failure = FatalMessage([&] { m.lines = Search_matchRanks(arguments, &model, host, &m.ranks); });
  m.diagnostics = testing::internal::GetCapturedStderr();
  return m;
}

TEST(SearchInProcessMatch, SameTokensAndFailuresAsTheProgram) {
  // CR LF line ends leave separators that end in CR among the tokens.
  const std::string text = samples::Read("tom-sawyer.txt");
  TempDir dir;
  moravine::SystemSearchHost program;
  BundledHost bundled;
  Parsed parsed(Compress(text + "\r\nCRLF line\r\n\tTab\t\n", 1));
  const HDictionary& dictionary = parsed.model.dictionary;

  // Words spread over all ranks (separators and the newline token too), and
  // patterns of every matcher: anchored words, regular expressions, refused
  // patterns.
  std::vector<std::string> words;
  for (int32_t rank = 0; rank < dictionary.token_count; rank += dictionary.token_count / 23 + 1) {
    int32_t length;
    const unsigned char* token = HDecode_token(&dictionary, rank, &length);
    words.emplace_back(reinterpret_cast<const char*>(token), static_cast<size_t>(length));
  }
#ifdef MORAVINE_TEST_SMALL
  words.resize(6);
#endif
  // Words over 64 bytes take the matcher's multi-block path.
  const std::string long_word = std::string(66, 'e') + "ther";
  for (const char* extra : {"THE", "whale", "", "\r", "\t", ", ", "wh.le", "[Tt]h[a-z]*", "(a|the)", "colou?r",
                            ".*ing", "q[^u].*", "Ca.", "a(", "[a", "(", "a{2", "x\\", "a\\1", "ab", "of", "Mr",
                            "thoughtfulness", "extraordinarilyx", long_word.c_str()}) {
    words.push_back(extra);
  }
  for (const std::string& word : words) {
    for (int errors = 0; errors <= 3; ++errors) {
      for (bool ignore_case : {false, true}) {
        const std::vector<std::string> arguments = Search_agrepArguments(word, errors, ignore_case);
        const Matched expected = Match(arguments, parsed.model, &program);
        ASSERT_EQ(Match(arguments, parsed.model, &bundled), expected)
            << "word '" << word << "' errors " << errors << (ignore_case ? " -i" : "");
        ASSERT_TRUE(dir.entries().empty());
      }
    }
  }
  const Matched refused = Match(Search_agrepArguments("a(", 1), parsed.model, &bundled);
  const std::string line = "agrep \"-V0\" \"-1\" \"^a($\" " + dir.name("agrep.tmp", 1) + " > " + dir.name("agrep.out", 0);
  EXPECT_EQ(refused.failure, "system(\"" + line + "\") exited with status 2\n");
  EXPECT_EQ(refused.diagnostics.rfind("agrep: bad pattern '^a($': ", 0), 0u) << refused.diagnostics;
}

// The look at the dictionary's string before its tokens are indexed says
// that nothing can match only where the matching finds nothing: never for a
// word that some token lies within the errors of, and still for tokens that
// merely hold the word or a piece of it.
TEST(SearchMayMatch, NoOnlyWhereNoTokenMatches) {
  TempDir dir;
  BundledHost bundled;
  auto may = [&](const Parsed& parsed, const std::string& word, int errors) {
    const HDictionary& d = parsed.model.dictionary;
    return Search_mayMatch(Search_agrepArguments(word, errors), d.string, d.string_length, &bundled);
  };
  const Parsed small(Compress("the whaler met magicians in Brobdingnag,\nand whales\n", 1));
  for (auto [word, errors, expected] :
       {std::tuple{"whale", 0, false}, {"whaler", 0, true}, {"whale", 1, true}, {"Brobdingnagians", 1, false},
        {"Brobdingnagians", 2, false}, {"Brobdingnagians", 4, true}, {"musicians", 1, false},
        {"musicians", 2, true}, {"xyzzy", 1, false}, {"of", 1, true}}) {
    EXPECT_EQ(may(small, word, errors), expected) << word << " " << errors;
  }
  const Parsed book(Compress(samples::Read("tom-sawyer.txt"), 1));
  const HDictionary& dictionary = book.model.dictionary;
  for (int32_t rank = 0; rank < dictionary.token_count; rank += dictionary.token_count / 97 + 1) {
    int32_t length;
    const unsigned char* token = HDecode_token(&dictionary, rank, &length);
    std::string word(reinterpret_cast<const char*>(token), static_cast<size_t>(length));
    word[0] = static_cast<char>(word[0] ^ 1);  // one error away from a token of the book
    for (int errors = 0; errors <= 3; ++errors) {
      const Matched matched = Match(Search_agrepArguments(word, errors), book.model, &bundled);
      if (!matched.ranks.empty()) {
        ASSERT_TRUE(may(book, word, errors)) << word << " " << errors;
      }
    }
  }
}

}  // namespace

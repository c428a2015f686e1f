// Running agrep over the vocabulary: its arguments, the temporary files, the
// reading of the match file, and words that a command interpreter would act on.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "search_support.h"

namespace {

using namespace stest;

// Our agrep comes first on PATH; diagnostics of expected failures are dropped.
class SearchEnvironment : public testing::Environment {
  void SetUp() override {
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (std::string(MORAVINE_AGREP_DIR) + ":" + (path ? path : "")).c_str(), 1);
    HLog_setStreams(nullptr, std::fopen("/dev/null", "w"));
  }
};
[[maybe_unused]] testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new SearchEnvironment);

// Answers the agrep run with a crafted match file and records what it saw:
// the arguments and both files' permissions.
class ScriptedHost : public moravine::SystemSearchHost {
 public:
  std::string output;
  int status = 0;
  std::vector<std::string> argv;
  std::pair<mode_t, mode_t> modes;

  int runProcess(const std::vector<std::string>& args, File out_file, int* exit_status) override {
    argv = args;
    struct stat in, out;
    if (::stat(args.back().c_str(), &in) == 0 && ::fstat(static_cast<int>(out_file), &out) == 0) {
      modes = {in.st_mode & 07777, out.st_mode & 07777};
    }
    *exit_status = status;
    return writeAll(out_file, output.data(), output.size()) ? 0 : -2;
  }
};

class SearchMatchFile : public testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(dir_.entries().empty()) << "left behind: " << dir_.entries()[0]; }
  Result Run(const std::string& output, int status = 0, int32_t errors = 0) {
    host_.output = output;
    host_.status = status;
    // alpha beta LF gamma beta LF LF alpha ", " delta
    return RunSearch(Compress("alpha beta\ngamma beta\n\nalpha, delta", 0), "w", errors, &host_);
  }
  std::string Failure(const std::string& output, int status = 0) {
    return FatalMessage([&] { Run(output, status); });
  }

  TempDir dir_;
  ScriptedHost host_;
};

TEST_F(SearchMatchFile, LinesAreReadUpToTheEndOfTheFile) {
  EXPECT_EQ(Run("").count, 0);
  EXPECT_TRUE(Run("", 1).offsets.empty());
  EXPECT_EQ(Run("beta\r").count, 2);  // last line without LF
  EXPECT_EQ(Run("alpha\r\nbeta\r").count, 4);
  EXPECT_EQ(Run("delta").count, 1);       // nor CR
  EXPECT_EQ(Run("alpha\r\nQ").count, 2);  // a single byte after the last line is no line
  for (const char* output : {"\r\n", "\r\n\r\n", "beta\r\n\r\n\r\n"}) {  // a CR-only line: the line feed token
    Result r = Run(output);
    EXPECT_EQ(std::count_if(r.rows.begin(), r.rows.end(), [](const SearchRow& row) { return row.word == "\n"; }), 3);
    EXPECT_EQ(r.count, output[0] == 'b' ? 5 : 3);
  }
}

// The agrep command, with the names of both temporary files, in the messages.
TEST_F(SearchMatchFile, ArgumentsFailuresAndTheirMessages) {
  EXPECT_EQ(FatalMessage([&] { Run("", 0, -1); }), "Error: the number of errors cannot be negative (-1)\n");
  EXPECT_TRUE(host_.argv.empty());  // refused before any file is made
  for (auto [errors, option] : {std::pair{2, "-2"}, {10, "-10"}}) {
    Run("", 1, errors);
    EXPECT_EQ(host_.argv, (std::vector<std::string>{"agrep", "-V0", option, "^w$", dir_.name("agrep.tmp", 1)}));
  }
  EXPECT_EQ(host_.modes, std::make_pair(mode_t{0600}, mode_t{0600}));  // both files private
  EXPECT_EQ(Failure("\n\n\n"), "Error: messed up dictionary? (incoherent '\\n', line 0)\n");
  EXPECT_EQ(Failure("alpha\r\n\n\n\n"), "Error: messed up dictionary? (incoherent '\\n', line 1)\n");
  EXPECT_EQ(Failure("zzz\r\n"), "Error: messed up dictionary? (token \"zzz\r\" not found)\n");
  EXPECT_EQ(Failure("alphabet\r"), "Error: messed up dictionary? (token \"alphabet\r\" not found)\n");
  std::string line = "agrep \"-V0\" \"^w$\" " + dir_.name("agrep.tmp", 1) + " > " + dir_.name("agrep.out", 0);
  EXPECT_EQ(Failure("alpha\r\n", 2), "system(\"" + line + "\") exited with status 2\n");
  EXPECT_EQ(Failure("", 127), "system(\"" + line + "\") exited with status 127\n");
}

// Whatever a command interpreter would run, redirect or expand reaches agrep
// inside one argument: the search finds the token that holds it, or nothing,
// or fails on a pattern that agrep refuses; it never makes a file.
TEST(SearchTemporaryFiles, WordsAreNeverInterpretedByAShell) {
  TempDir dir;
  moravine::SystemSearchHost host;
  const std::string marker = (dir.path() / "pwned").string();
  const std::string file = Compress("a\"; touch " + marker + "; \"b`c`d > e 'f' g & h", 1);
  for (auto [word, hits] : {std::pair{"\"; ", 1}, {"`", 2}, {" > ", 1}, {" & ", 1}, {" '", 1}, {"' ", 1}}) {
    Result r = RunSearch(file, word, 0, &host);
    EXPECT_EQ(r.count, hits) << word;
    for (const auto& row : r.rows) EXPECT_EQ(row.word, word);
  }
  const std::string touch = "touch " + marker;
  for (const std::string& word : {"a\"; " + touch + "; \"", "$(" + touch + ")", "`" + touch + "`", "a | " + touch,
                                  "a > " + marker, "a\" > \"" + marker, "'; " + touch + " #", "x\n" + touch}) {
    for (int errors : {0, 1}) {
      FatalMessage([&] { RunSearch(file, word, errors, &host); });  // agrep may refuse the pattern
      EXPECT_FALSE(fs::exists(marker)) << word;
      EXPECT_TRUE(dir.entries().empty()) << word;
    }
  }
}

TEST(SearchTemporaryFiles, TakenNamesAndPlantedLinksAreSkippedAndLeftAlone) {
  TempDir outside;
  const std::string target = (outside.path() / "target").string(), dangling = (outside.path() / "none").string();
  std::ofstream(target) << "keep";
  auto read = [](const std::string& path) { return (std::ostringstream() << std::ifstream(path).rdbuf()).str(); };
  TempDir dir;
  ::symlink(target.c_str(), dir.name("agrep.out", 0).c_str());  // the match file's name
  ::symlink(dangling.c_str(), dir.name("agrep.tmp", 1).c_str());  // the vocabulary file's name
  std::ofstream(dir.name("agrep.tmp", 2)) << "left by an earlier search";
  ::symlink(target.c_str(), dir.name("agrep.tmp", 3).c_str());
  const std::vector<std::string> planted = dir.entries();
  moravine::SystemSearchHost host;
  EXPECT_EQ(RunSearch(Compress("to be or not to be", 0), "be", 0, &host).count, 2);
  EXPECT_EQ(read(target), "keep");
  EXPECT_FALSE(fs::exists(dangling));
  EXPECT_EQ(read(dir.name("agrep.tmp", 2)), "left by an earlier search");
  EXPECT_EQ(dir.entries(), planted);
}

TEST(SearchTemporaryFiles, OddDirectoryNamesAndFailuresLeaveNothingBehind) {
  TempDir dir("tmp dir 'q' \"d\" $(x) `y` ; & | < > *");
  moravine::SystemSearchHost host;
  const std::string file = Compress("to be or not to be", 1);
  EXPECT_EQ(RunSearch(file, "be", 0, &host).count, 2);
  EXPECT_EQ(RunSearch(file, "b", 1, &host).count, 2);  // the blank matches too, but is not in the body
  EXPECT_THROW(RunSearch(file, "(", 0, &host), HFatalFailure);  // agrep exits with 2
  EXPECT_THROW(RunSearch(file.substr(0, file.size() / 2), "be", 0, &host), HFatalFailure);
  EXPECT_TRUE(dir.entries().empty());

  std::string path = std::getenv("PATH");
  ::setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(FatalMessage([&] { RunSearch(file, "be", 0, &host); }), "system: No such file or directory\n");
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_TRUE(dir.entries().empty());

  // Room for the vocabulary file's name but not for the match file's.
  std::string deep = dir.path().string();
  while (deep.size() < 870) deep += "/" + std::string(std::min<size_t>(200, 870 - deep.size()), 'd');
  fs::create_directories(deep);
  ::setenv("TMPDIR", deep.c_str(), 1);
  EXPECT_THROW(RunSearch(file, "be", 0, &host), HFatalFailure);
  EXPECT_TRUE(fs::is_empty(deep));
}

}  // namespace

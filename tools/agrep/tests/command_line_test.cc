// The agrep program itself, run on temporary files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
  int status;
  std::string out, err;
  bool operator==(const Outcome&) const = default;
};
void PrintTo(const Outcome& o, std::ostream* os) { *os << o.status << " " << testing::PrintToString(o.out + o.err); }

class AgrepCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "agrep_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string file(const std::string& name, const std::string& content) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << content;
    return dir_ + "/" + name;
  }
  static std::string slurp(const std::string& path) {
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
  }
  // Runs agrep with `arguments`, given to the shell as they are.
  Outcome agrep(const std::string& arguments) {
    const std::string out = dir_ + "/out", err = dir_ + "/err";
    const int raw = std::system((std::string(AGREP_BINARY) + " " + arguments + " >" + out + " 2>" + err).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  }

  std::string dir_;
};

// A CR before the LF is no part of the line that the pattern sees, but is
// printed with it; CRs inside a line are bytes like others.
TEST_F(AgrepCommandLine, CrLfLinesAndAnUnterminatedLastLine) {
  const std::string vocabulary = file("vocabulary", "color\r\ncolors\r\nwhale\r\nc\r\rolor\r\ncolour");
  EXPECT_EQ(agrep("-V0 -1 '^color$' " + vocabulary), (Outcome{0, "color\r\ncolors\r\ncolour\n", ""}));
  EXPECT_EQ(agrep("'^colour$' " + vocabulary).out, "colour\n");
  EXPECT_EQ(agrep("'^whale$' <" + vocabulary).out, "whale\r\n");
  EXPECT_EQ(agrep("-0 '^col[eo]r' " + vocabulary + " " + vocabulary).out, "color\r\ncolors\r\ncolor\r\ncolors\r\n");
  // The regex route counts insertions before the end anchor.
  const std::string words = file("words", "colours\ncolors\ncolourss\nxcolor\r\nlour\n");
  EXPECT_EQ(agrep("-1 '^colou?r$' " + words).out, "colours\ncolors\nxcolor\r\n");
  EXPECT_EQ(agrep("'^colou?r$' " + words), (Outcome{1, "", ""}));
}

TEST_F(AgrepCommandLine, OptionsExitStatusesAndMessages) {
  const std::string ten = "abbbbbbbbbb", eleven = "abbbbbbbbbbb";  // 10 and 11 errors from "a"
  const std::string lines = file("lines", eleven + "\n" + ten + "\nab\n");
  EXPECT_EQ(agrep("-10 '^a$' " + lines), (Outcome{0, ten + "\nab\n", ""}));
  EXPECT_EQ(agrep("-1 '^a$' " + lines), (Outcome{0, "ab\n", ""}));

  const std::string words = file("words", "alpha\nbeta\n");
  EXPECT_EQ(agrep("-1 '^gamma$' " + words), (Outcome{1, "", ""}));
  EXPECT_EQ(agrep("-i '^BETA$' " + words), (Outcome{0, "beta\n", ""}));
  EXPECT_EQ(agrep("-i -1 '^ALPH$' " + words), (Outcome{0, "alpha\n", ""}));
  EXPECT_EQ(agrep("-- -1 " + words), (Outcome{1, "", ""}));  // "-1" as the pattern
  Outcome missing = agrep("alpha " + dir_ + "/absent " + words);  // the other file is still searched
  EXPECT_TRUE(missing.status == 2 && missing.out == "alpha\n" && missing.err.find("absent") != std::string::npos)
      << testing::PrintToString(missing);
  for (std::string arguments : {"-x alpha", "-V1 alpha", "-1 'a(' ", "'a(' ", "-99999999999 alpha"}) {
    Outcome bad = agrep(arguments + " " + words);
    EXPECT_TRUE(bad.status == 2 && bad.out.empty() && !bad.err.empty()) << arguments << testing::PrintToString(bad);
  }
  for (const char* arguments : {"", "-1", "-V0 -2"}) {  // no pattern
    Outcome usage = agrep(arguments);
    EXPECT_TRUE(usage.status == 2 && usage.err.find("Usage") != std::string::npos) << arguments;
  }
  Outcome version = agrep("-V"), help = agrep("--help");
  EXPECT_TRUE(version.status == 0 && version.out.rfind("agrep (Moravine) ", 0) == 0) << version.out;
  EXPECT_TRUE(help.status == 0 && help.out.find("Usage: agrep") != std::string::npos) << help.out;
}

}  // namespace

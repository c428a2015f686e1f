// The agrep program itself, run on temporary files.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

class AgrepCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "agrep_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string file(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Runs agrep with `arguments`, given to the shell as they are.
  Outcome agrep(const std::string& arguments) {
    const std::string out = dir_ + "/out", err = dir_ + "/err";
    const std::string command = std::string(AGREP_BINARY) + " " + arguments + " >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  }

  std::string dir_;
};

TEST_F(AgrepCommandLine, VocabularyWithCrLfAndAnUnterminatedLastLine) {
  const std::string vocabulary = file("vocabulary", "color\r\ncolors\r\nwhale\r\nc\r\rolor\r\ncolour");
  Outcome run = agrep("-V0 -1 '^color$' " + vocabulary);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "color\r\ncolors\r\ncolour\n");  // CRs inside a line are bytes like others
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(agrep("'^colour$' " + vocabulary).out, "colour\n");
  EXPECT_EQ(agrep("'^whale$' <" + vocabulary).out, "whale\r\n");
  EXPECT_EQ(agrep("-0 '^col[eo]r' " + vocabulary + " " + vocabulary).out, "color\r\ncolors\r\ncolor\r\ncolors\r\n");
}

TEST_F(AgrepCommandLine, ErrorCountsOfSeveralDigits) {
  const std::string ten = "abbbbbbbbbb", eleven = "abbbbbbbbbbb";  // 10 and 11 errors from "a"
  const std::string lines = file("lines", eleven + "\n" + ten + "\nab\n");
  Outcome run = agrep("-10 '^a$' " + lines);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, ten + "\nab\n");
  EXPECT_EQ(agrep("-1 '^a$' " + lines).out, "ab\n");
}

TEST_F(AgrepCommandLine, RegexRouteCountsInsertionsBeforeTheEndAnchor) {
  const std::string words = file("words", "colours\ncolors\ncolourss\nxcolor\r\nlour\n");
  EXPECT_EQ(agrep("-1 '^colou?r$' " + words).out, "colours\ncolors\nxcolor\r\n");
  EXPECT_EQ(agrep("'^colou?r$' " + words).status, 1);
}

TEST_F(AgrepCommandLine, ExitStatusesAndMessages) {
  const std::string words = file("words", "alpha\nbeta\n");
  Outcome none = agrep("-1 '^gamma$' " + words);
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");

  Outcome missing = agrep("alpha " + dir_ + "/absent " + words);
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "alpha\n");  // the other file is still searched
  EXPECT_NE(missing.err.find("absent"), std::string::npos);

  for (std::string arguments : {"-x alpha", "-V1 alpha", "-1 'a(' ", "-99999999999 alpha"}) {
    Outcome bad = agrep(arguments + " " + words);
    EXPECT_EQ(bad.status, 2) << arguments;
    EXPECT_EQ(bad.out, "") << arguments;
    EXPECT_NE(bad.err, "") << arguments;
  }
  EXPECT_EQ(agrep("'a(' " + words).status, 2);  // exact route too
  for (const char* arguments : {"", "-1", "-V0 -2"}) {
    Outcome no_pattern = agrep(arguments);
    EXPECT_EQ(no_pattern.status, 2) << arguments;
    EXPECT_NE(no_pattern.err.find("Usage"), std::string::npos) << arguments;
  }
  EXPECT_EQ(agrep("-- -1 " + words).status, 1);  // "-1" as the pattern
}

TEST_F(AgrepCommandLine, VersionAndHelp) {
  Outcome version = agrep("-V");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("agrep (Moravine) ", 0), 0u) << version.out;
  Outcome help = agrep("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: agrep"), std::string::npos);
}

}  // namespace

// The agrep program itself, run on temporary files through the system's
// shell (shell_command.h: /bin/sh, or cmd.exe on Windows).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "shell_command.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
  bool operator==(const Outcome&) const = default;
};
void PrintTo(const Outcome& o, std::ostream* os) { *os << o.status << " " << testing::PrintToString(o.out + o.err); }

namespace fs = std::filesystem;
using agrep_test::Quote;

class AgrepCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const fs::path dir = fs::path(::testing::TempDir()) / ("agrep_test_" + std::to_string(random()));
      if (fs::create_directory(dir)) dir_ = dir.string();
    }
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // A file of the given bytes: its name, quoted for the command line.
  std::string file(const std::string& name, const std::string& content) {
    std::ofstream(path(name), std::ios::binary) << content;
    return Quote(path(name));
  }
  std::string path(const std::string& name) const { return (fs::path(dir_) / name).string(); }
  static std::string slurp(const std::string& path) {
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
  }
  // Runs agrep with `arguments`, given to the shell as they are.
  Outcome agrep(const std::string& arguments) {
    const std::string program = fs::absolute(AGREP_BINARY).make_preferred().string();
    const std::string out = path("out"), err = path("err");
    const int status =
        agrep_test::RunShellCommand(Quote(program) + " " + arguments + " >" + Quote(out) + " 2>" + Quote(err));
    return {status, slurp(out), slurp(err)};
  }

  std::string dir_;
};

// A CR before the LF is no part of the line that the pattern sees, but is
// printed with it; CRs inside a line are bytes like others.
TEST_F(AgrepCommandLine, CrLfLinesAndAnUnterminatedLastLine) {
  const std::string vocabulary = file("vocabulary", "color\r\ncolors\r\nwhale\r\nc\r\rolor\r\ncolour");
  EXPECT_EQ(agrep("-V0 -1 " + Quote("^color$") + " " + vocabulary), (Outcome{0, "color\r\ncolors\r\ncolour\n", ""}));
  EXPECT_EQ(agrep(Quote("^colour$") + " " + vocabulary).out, "colour\n");
  EXPECT_EQ(agrep(Quote("^whale$") + " <" + vocabulary).out, "whale\r\n");
  EXPECT_EQ(agrep("-0 " + Quote("^col[eo]r") + " " + vocabulary + " " + vocabulary).out, "color\r\ncolors\r\ncolor\r\ncolors\r\n");
  // The regex route counts insertions before the end anchor.
  const std::string words = file("words", "colours\ncolors\ncolourss\nxcolor\r\nlour\n");
  EXPECT_EQ(agrep("-1 " + Quote("^colou?r$") + " " + words).out, "colours\ncolors\nxcolor\r\n");
  EXPECT_EQ(agrep(Quote("^colou?r$") + " " + words), (Outcome{1, "", ""}));
}

TEST_F(AgrepCommandLine, OptionsExitStatusesAndMessages) {
  const std::string ten = "abbbbbbbbbb", eleven = "abbbbbbbbbbb";  // 10 and 11 errors from "a"
  const std::string lines = file("lines", eleven + "\n" + ten + "\nab\n");
  EXPECT_EQ(agrep("-10 " + Quote("^a$") + " " + lines), (Outcome{0, ten + "\nab\n", ""}));
  EXPECT_EQ(agrep("-1 " + Quote("^a$") + " " + lines), (Outcome{0, "ab\n", ""}));

  const std::string words = file("words", "alpha\nbeta\n");
  EXPECT_EQ(agrep("-1 " + Quote("^gamma$") + " " + words), (Outcome{1, "", ""}));
  EXPECT_EQ(agrep("-i " + Quote("^BETA$") + " " + words), (Outcome{0, "beta\n", ""}));
  EXPECT_EQ(agrep("-i -1 " + Quote("^ALPH$") + " " + words), (Outcome{0, "alpha\n", ""}));
  EXPECT_EQ(agrep("-- -1 " + words), (Outcome{1, "", ""}));  // "-1" as the pattern
  Outcome missing = agrep("alpha " + Quote(path("absent")) + " " + words);  // the other file is still searched
  EXPECT_TRUE(missing.status == 2 && missing.out == "alpha\n" && missing.err.find("absent") != std::string::npos)
      << testing::PrintToString(missing);
  for (const std::string& arguments :
       std::vector<std::string>{"-x alpha", "-V1 alpha", "-1 " + Quote("a("), Quote("a("), "-99999999999 alpha"}) {
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

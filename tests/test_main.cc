// The main of every GoogleTest program of the project. Where the variable
// CI is set (to anything but the empty string), a test that skips fails:
// a missing file, tool or permission must not let a check pass unseen on
// the machine that decides whether a change goes in.
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class SkipsFail : public testing::EmptyTestEventListener {
  // Runs before the printer's OnTestEnd, which then reports the failure.
  void OnTestEnd(const testing::TestInfo& test) override {
    if (test.result()->Skipped()) ADD_FAILURE() << "skipped while CI is set: every test must run here";
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const char* ci = std::getenv("CI");
  if (ci != nullptr && *ci != '\0') testing::UnitTest::GetInstance()->listeners().Append(new SkipsFail);
  return RUN_ALL_TESTS();
}

// A test that always skips, for the checks of the shared main: with CI set
// it must fail, without it must be reported as skipped.
#include <gtest/gtest.h>

TEST(SkipProbe, Skips) { GTEST_SKIP() << "on purpose"; }

"""The main of the project's Python test scripts: unittest's own, except
that where the variable CI is set (to anything but the empty string) a
skipped test fails, as it does in the GoogleTest programs (test_main.cc)."""
import os
import unittest


class _SkipsFail(unittest.TextTestResult):
    def addSkip(self, test, reason):
        failure = AssertionError(f"skipped while CI is set: every test must run here ({reason})")
        self.addFailure(test, (AssertionError, failure, None))


def main(argv=None, verbosity=2):
    """Runs the tests of __main__ with the arguments argv (default sys.argv)."""
    runner = unittest.TextTestRunner(verbosity=verbosity, resultclass=_SkipsFail if os.environ.get("CI") else None)
    unittest.main(argv=argv, testRunner=runner)

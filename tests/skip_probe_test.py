#!/usr/bin/env python3
"""A test that always skips, for the checks of ci_unittest: with CI set it
must fail, without it must be reported as skipped."""
import unittest

import ci_unittest


class SkipProbe(unittest.TestCase):
    def test_skips(self):
        self.skipTest("on purpose")


if __name__ == "__main__":
    ci_unittest.main()

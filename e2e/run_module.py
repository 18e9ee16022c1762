#!/usr/bin/env python3
"""Runs one end-to-end test module, the way CTest does:
    run_module.py test_launch [-v] [-k PATTERN]
    run_module.py --make-template      (re)builds the Wine prefix template
The bitness under test is TAVRELO_E2E_BITNESS: i686 (the shipped build, from
TAVRELO_WIN32_DIR, the default) or x86_64 (from TAVRELO_WIN64_DIR).
Exits with 77, which CTest reads as "skipped", when the Windows build or
Wine is not available, unless TAVRELO_E2E_REQUIRED=1 makes that a failure.
A missing or unusable 32-bit half of Wine always fails the i686 tests, with
one exception: a system that runs no 32-bit program at all, where the kernel
refuses them and no emulator could be registered (scripts/install-deps tries).
There the i686 tests are skipped, always, and say so."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import config as config_module  # noqa: E402
from harness import wine  # noqa: E402
from harness.xvfb import Xvfb  # noqa: E402

SKIPPED = 77


class ResultKeepingFailures(unittest.TextTestResult):
    """Keeps the results folder of each failed or broken test (the tests'
    keep_results) and names it under its failure: a failure then explains
    itself without a rerun."""

    def addFailure(self, test, err):
        super().addFailure(test, self.noted(test, err))

    def addError(self, test, err):
        super().addError(test, self.noted(test, err))

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err and self.noted(test, err))

    @staticmethod
    def noted(test, err):
        keep = getattr(test, "keep_results", None)
        try:
            folder = keep and keep()
        except OSError as error:
            folder = f"nowhere: {error}"
        if folder:
            err[1].add_note(f"results kept in {folder}")
        return err


class RunnerKeepingFailures(unittest.TextTestRunner):
    resultclass = ResultKeepingFailures


def make_template(template, display):
    xvfb = None
    try:
        if not display:
            xvfb = Xvfb()
            display = xvfb.start()
        wine.ensure_template(template, display, fresh=True)
    finally:
        if xvfb:
            xvfb.stop()
    print(f"Wine prefix template ready in {template}")
    problem = wine.i686_problem(template)
    if problem:
        # The x86_64 tests can still use it; each i686 module fails on this.
        print(f"warning: the template holds only the 64-bit half of Wine: {problem}", file=sys.stderr)
    return 0


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    # Where the tests must run (CI), a missing build or Wine is a failure.
    required = os.environ.get("TAVRELO_E2E_REQUIRED", "") not in ("", "0")
    config = config_module.load()
    making_template = argv[1] == "--make-template"
    problems = config_module.tool_problems() if making_template else config.problems
    if problems:
        print(("missing: " if required else "skipped: ") + "; ".join(problems), file=sys.stderr)
        return 1 if required else SKIPPED
    if making_template:
        return make_template(config.template, config.display)
    if config.bitness == "i686" and wine.wow64_problem():
        if wine.wow64_problem() == wine.NO_I386:
            print(f"SKIPPED, not run on this machine: {wine.NO_I386}", file=sys.stderr)
            return SKIPPED
        print(f"error: the i686 tests cannot run: {wine.wow64_problem()}", file=sys.stderr)
        return 1
    program = unittest.main(module=argv[1], argv=[argv[0]] + argv[2:], exit=False, testRunner=RunnerKeepingFailures)
    result = program.result
    if not result.wasSuccessful():
        return 1
    if result.testsRun == 0 or len(result.skipped) == result.testsRun:
        return 1 if required else SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

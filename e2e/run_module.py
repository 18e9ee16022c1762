#!/usr/bin/env python3
"""Runs one end-to-end test module, the way CTest does:
    run_module.py test_launch [-v] [-k PATTERN]
    run_module.py --make-template      (re)builds the Wine prefix template
Exits with 77, which CTest reads as "skipped", when the Windows build or
Wine is not available, unless TAVRELO_E2E_REQUIRED=1 makes that a failure."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import config as config_module  # noqa: E402
from harness import wine  # noqa: E402
from harness.xvfb import Xvfb  # noqa: E402

SKIPPED = 77


def make_template(config):
    xvfb = None
    display = config.display
    try:
        if not display:
            xvfb = Xvfb()
            display = xvfb.start()
        wine.ensure_template(config.template, display, fresh=True)
    finally:
        if xvfb:
            xvfb.stop()
    print(f"Wine prefix template ready in {config.template}")
    return 0


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    config = config_module.load()
    # Where the tests must run (CI), a missing build or Wine is a failure.
    required = os.environ.get("TAVRELO_E2E_REQUIRED", "") not in ("", "0")
    if config.problems:
        print(("missing: " if required else "skipped: ") + "; ".join(config.problems), file=sys.stderr)
        return 1 if required else SKIPPED
    if argv[1] == "--make-template":
        return make_template(config)
    program = unittest.main(module=argv[1], argv=[argv[0]] + argv[2:], exit=False)
    result = program.result
    if not result.wasSuccessful():
        return 1
    if result.testsRun == 0 or len(result.skipped) == result.testsRun:
        return 1 if required else SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

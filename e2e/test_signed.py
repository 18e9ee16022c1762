"""End-to-end test of the executable as users get it, signed with
Authenticode: the session's tavrelo.exe, signed with a throw-away
certificate, still runs its launch sequence under Wine to exit code 0,
having started the runtime once.

Run by hand:
    TAVRELO_E2E_BITNESS=x86_64 TAVRELO_WIN64_DIR=build/win64 /usr/bin/python3 e2e/run_module.py test_signed -v
"""

import shutil
import sys
import unittest
from pathlib import Path

import harness
from harness import expected_command, runtime_program

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from checks.throwaway_signer import make_signer, sign, verify  # noqa: E402


setUpModule, tearDownModule = harness.module_session("signed")


class SignedLaunchTests(harness.LauncherTestCase):
    def test_the_signed_exe_starts_the_runtime_and_exits_0(self):
        jre = self.runtime("Program Files", "Java Signed", "jre")
        self.use_runtimes([("1.6", jre.home)])
        app = self.app_folder("Signed App")
        signer = make_signer(self.scratch, "throwaway password")
        signed = self.scratch / "tavrelo-signed.exe"
        sign(signer, self.session.config.exe, signed)
        shutil.copyfile(signed, app.unix / "tavrelo.exe")
        verdict = verify(signer, app.unix / "tavrelo.exe")
        self.assertEqual(verdict.returncode, 0, verdict.stdout + verdict.stderr)

        result, records = self.launch(app, kill_on_record=False, timeout_ms=30000)
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command(runtime_program(jre), app.win))
        self.assertFalse(result.killed, result.summary())
        self.assertEqual(result.exit_code, 0, result.summary())
        self.assert_no_boxes(result)


if __name__ == "__main__":
    unittest.main()

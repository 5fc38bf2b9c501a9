"""A program that runs past a minute during a silent installation: the wait
has no time limit, and the log says what is awaited while it lasts.

  waits_test.py BUILD [unittest arguments]
"""
import pathlib
import re
import shutil
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "package"))
import kvildemo  # noqa: E402

BUILD = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else pathlib.Path("build").resolve()


class LongWaits(unittest.TestCase):
    def setUp(self):
        # The Windows update (wusa, which the prefix's Windows 2012 R2 gets) is
        # a recorder that sleeps 65 s; Wine runs it instead of its own stub.
        env = {"WINEDLLOVERRIDES": "mscoree,mshtml=;wusa.exe=n", "KVIL_RECORDER_SLEEP_WUSA": "65000",
               "KVIL_RECORDER_LOG": "C:\\kvildemo\\wusa.log"}
        self.machine = kvildemo.Machine(BUILD, BUILD / "e2e" / "waits", env=env)
        self.machine.prepare()
        self.addCleanup(self.machine.close)
        shutil.copy(BUILD / "bin" / "recorder.exe", self.machine.drive / "windows/system32/wusa.exe")

    def test_a_program_that_runs_past_a_minute_is_waited_for_visibly(self):
        run = self.machine.msiexec("install", "/i", self.machine.package(), "/qn")
        self.assertEqual(run.windows_status, 0, run.log_path)
        self.assertTrue((self.machine.drive / "kvildemo" / "wusa.log").exists(), "wusa did not run")
        self.assertRegex(run.log, r'Still waiting for wusa "[^"]*KB2999226-x64\.msu" /quiet '
                                  r'/log:"[^"]*vclog\.log", 1 minutes\.', run.log_path)
        self.assertNotIn(", 2 minutes.", run.log)
        # What the vendor library is handed to run is named before it runs.
        self.assertIn("Waiting for ExecuteCommands of feature IWS, phase PreInstall", run.log)
        self.assertEqual(run.results().get("caKVILRunVCRedist"), 1, run.log_path)


if __name__ == "__main__":
    unittest.main(verbosity=2)

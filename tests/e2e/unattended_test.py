"""An unattended installation as a deployment service starts it: msiexec /qn
on a window station that no user sees. A failure that shows a message box on
an administrator's desktop must reach the log as an installer error instead,
and the installation must end (a box there would never be answered).

  unattended_test.py BUILD [unittest arguments]
"""
import pathlib
import shutil
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "package"))
import kvildemo  # noqa: E402
from kvilreport import msistatus  # noqa: E402  (kvildemo puts report/ on the path)

BUILD = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else pathlib.Path("build").resolve()
# Where a box would wait for ever, the bound says so.
BOUND = 180


class InvisibleWindowStation(unittest.TestCase):
    def setUp(self):
        self.machine = kvildemo.Machine(BUILD, BUILD / "e2e" / "unattended")
        self.machine.prepare()
        self.addCleanup(self.machine.close)

    def package_without(self, export):
        """The demo package with a vendor library that lacks EXPORT."""
        bin_folder = self.machine.work / f"bin-no_{export}"
        shutil.rmtree(bin_folder, ignore_errors=True)
        shutil.copytree(BUILD / "bin", bin_folder, ignore=shutil.ignore_patterns("kvil_tests*.exe"))
        shutil.copy(BUILD / "bin" / "simvariants" / f"no_{export}" / "KVIL64.dll", bin_folder / "KVIL64.dll")
        out = self.machine.work / "package-no-library-function"
        self.machine.step("building the package without " + export, sys.executable,
                          kvildemo.ROOT / "package" / "build-package.py", bin_folder, out)
        shutil.copy(out / "orvessa-demo.msi", self.machine.drive / "kvildemo" / "unattended.msi")
        return "C:\\kvildemo\\unattended.msi"

    def test_unattended_installation_on_an_invisible_window_station(self):
        """A deferred action that fails logs its box, and the installation ends."""
        package = self.package_without("ExecuteCommands")
        shutil.copy(BUILD / "bin" / "kvilinvisible.exe", self.machine.drive / "kvildemo")
        log_path = self.machine.drive / "kvildemo" / "unattended.log"
        status = self.machine.step("installing on an invisible window station", "wine",
                                   "C:\\kvildemo\\kvilinvisible.exe", "msiexec", "/i", package, "/qn",
                                   "/l*v", "C:\\kvildemo\\unattended.log", check=False, timeout=BOUND)
        self.assertEqual(msistatus.windows_status(status), 1603, log_path)
        log = log_path.read_text(errors="replace")
        # The pre-install phase and its rollback each report the missing
        # function to the installer, with their caption on the line before.
        reported = ('Message box "KVILAction" not shown: no user can see this process\'s windows. '
                    "Its text follows as an error message to the installer.\n"
                    "Failed to get address for function ExecuteCommands\n")
        self.assertEqual(log.replace("\r\n", "\n").count(reported), 2, log_path)
        results = kvildemo.Run(self.machine, "unattended", status).results()
        self.assertEqual(results.get("caKVILPreInstall"), 0, log_path)  # Wine's "failed"
        self.assertIn("caKVILPreInstallRollback", log)
        self.assertEqual(self.machine.registry(), [])
        self.assertFalse((self.machine.drive / "Program Files/Tavrin/SysMgt").exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)

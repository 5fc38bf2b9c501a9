"""End-to-end runs of the demo package under wine msiexec, one fresh Wine
prefix per test. The actions expected in a run are those of the list below
whose export KVILMSI64.def lists, so the tests grow as the exports land.

  e2e_test.py BUILD [unittest arguments]
"""
import pathlib
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "package"))
import kvildemo  # noqa: E402

BUILD = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else pathlib.Path("build").resolve()
EXPORTS = set(kvildemo.EXPORTS)

# The actions of a silent first installation, in their order.
FIRST_INSTALL = ["caKVILCheckTEMP", "caKVILSetFirstTimeInstall", "caKVILSystemCheck", "caKVILCTCheck",
                 "caKVILOldNodeCheck", "caKVILOldStationCheck", "caKVILPreReqCheckNode", "caKVILTestINSTALLDIR",
                 "caKVILResetDisallowedFeatures", "caKVILCheckforMGMTINT", "caKVILWriteInfo",
                 "caKVILHideCancelButton", "caKVILPreInstall", "caKVILPostInstall", "caKVILInstallPNPDrivers",
                 "caKVILRunVCRedist", "caKVILFinalize"]


def expected(actions):
    return [a for a in actions if a in EXPORTS]


class DemoPackage(unittest.TestCase):
    def setUp(self):
        self.machine = kvildemo.Machine(BUILD, BUILD / "e2e" / self.id().split(".")[-1])
        self.machine.prepare()
        self.addCleanup(self.machine.close)

    def assertActions(self, run, actions, result=1):
        results = run.results()
        for action in expected(actions):
            self.assertEqual(results.get(action), result, f"{action} in {run.log_path}")

    def assertNothingLeft(self, stopped=False):
        """Nothing of the product left. A run stopped before the execute phase
        leaves the qualification's folders (Program Files\\tempini from the
        hardware-list lookup, TEMP\\kviltmpmn): only the finalize clean-up
        removes them."""
        self.assertEqual(self.machine.registry(), [])
        self.assertEqual(self.machine.services(), [])
        places = ["Program Files/Tavrin/SysMgt"]
        if "caKVILFinalize" in EXPORTS and not stopped:
            places += ["tempini/kvil100.txt", "users/root/Temp/kviltmpmn", "Program Files/tempini"]
        for place in places:
            self.assertFalse((self.machine.drive / place).exists(), place)

    def installed(self):
        return sorted(f.stem for f in (self.machine.drive / "Program Files/Tavrin/SysMgt").glob("*.txt"))

    def test_first_installation_maintenance_and_removal(self):
        package = self.machine.package()
        run = self.machine.msiexec("install", "/i", package, "/qn")
        self.assertEqual(run.status, 0, run.log_path)
        self.assertActions(run, FIRST_INSTALL)
        p = run.properties()
        self.assertEqual(p.get("CP_SYSTEMID"), "08FC")
        self.assertEqual(p.get("CP_14GSERVER"), "YES")
        self.assertEqual(p.get("CP_iVIRK12GSTATUS"), "3")
        self.assertNotIn("iVIRK", self.installed())
        self.assertIn("KVSS", self.installed())
        self.assertEqual(run.boxes(), [])

        change = self.machine.msiexec("change", "/i", package, "REMOVE=KVSS", "/qn")
        self.assertEqual(change.status, 0, change.log_path)
        self.assertNotIn("KVSS", self.installed())
        self.assertIn("IWS", self.installed())
        if "caKVILPreInstall" in EXPORTS:
            self.assertIn("Uninstalling feature KVSS", change.log)

        removal = self.machine.msiexec("remove", "/x", package, "/qn")
        self.assertEqual(removal.status, 0, removal.log_path)
        self.assertActions(removal, ["caKVILCheckTEMP", "caKVILSystemCheck", "caKVILWaitforServiceStop",
                                     "caKVILPreInstall", "caKVILPostInstall", "caKVILFinalize"])
        self.assertNothingLeft()

    @unittest.skipUnless("caKVILPreInstall" in EXPORTS, "caKVILPreInstall is not exported yet")
    def test_failing_feature_command_rolls_back(self):
        package = self.machine.package()
        (self.machine.drive / "kvil-fail-preinstall.txt").write_text("")
        run = self.machine.msiexec("install", "/i", package, "/qn")
        self.assertNotEqual(run.status, 0)
        # Wine's log gives a failed action the return value 0.
        self.assertEqual(run.results().get("caKVILPreInstall"), 0, run.log_path)
        self.assertIn("caKVILPreInstallRollback", run.started())
        self.assertNothingLeft()

    def test_older_model_stops_as_the_package_says(self):
        package = self.machine.package(profile=kvildemo.ROOT / "package/profiles/older-unsupported.ini")
        run = self.machine.msiexec("install", "/i", package, "/qn")
        self.assertNotEqual(run.status, 0)
        self.assertEqual(run.properties().get("CP_SUPPORTEDSYSTEM"), "2")
        self.assertIn("StopOlderSystem", run.started())
        self.assertNotIn("caKVILPreInstall", run.started())
        self.assertNothingLeft(stopped=True)

    def test_older_version_stops_beside_a_newer_installation(self):
        newer = self.machine.package()
        self.assertEqual(self.machine.msiexec("install", "/i", newer, "/qn").status, 0)
        installed = self.installed()
        older = self.machine.package(name="orvessa-demo-9.0.0.msi", version="9.0.0")
        run = self.machine.msiexec("downgrade", "/i", older, "/qn")
        self.assertNotEqual(run.status, 0)
        # The first-time check refuses the downgrade before the package's own
        # stop message is reached (Wine logs a failed action as 0).
        if "caKVILSetFirstTimeInstall" in EXPORTS:
            self.assertEqual(run.results().get("caKVILSetFirstTimeInstall"), 0, run.log_path)
        self.assertNotIn("caKVILPreInstall", run.started())
        # The newer installation is left as it was, and still removes cleanly.
        self.assertEqual(self.installed(), installed)
        self.assertEqual(self.machine.msiexec("remove", "/x", newer, "/qn").status, 0)
        self.assertNothingLeft()

    def test_major_upgrade_from_an_older_demo_package(self):
        older = self.machine.package(name="orvessa-demo-9.0.0.msi", version="9.0.0")
        first = self.machine.msiexec("install-old", "/i", older, "/qn")
        self.assertEqual(first.status, 0, first.log_path)
        settings = "Program Files/Tavrin/SysMgt/kvsa/ini/dcisdy64.ini"
        with (self.machine.drive / settings).open("a") as ini:
            ini.write("[Demo Preferences]\nSaved By=the user of 9.0.0\n")
        newer = self.machine.package()
        run = self.machine.msiexec("upgrade", "/i", newer, "/qn")
        self.assertEqual(run.status, 0, run.log_path)
        self.assertIn("{", run.properties().get("CP_OLDERPRODUCTS", ""))
        self.assertEqual(run.results().get("RemoveExistingProducts"), 1)
        if {"caKVILSetFirstTimeInstall", "caKVILFinalize"} <= EXPORTS:
            p = run.properties()
            self.assertEqual(p.get("CP_DOINGMAJORUPGRADE"), "YES")
            # From the earlier installation's kvsa\ini\dcisdy64.ini (its
            # finalize rewrote the other settings with the package's defaults).
            self.assertEqual(p.get("CP_MESSAGE_FORMAT"), "enhanced")
            self.assertIn("INI exists, CP_MESSAGE_FORMAT property is set to enhanced", run.log)
            self.assertActions(run, ["caKVILCreateUpgradeRegKey", "caKVILExportKVSAPrefs", "caKVILJREUpgrade",
                                     "caKVILImportKVSAPrefs"])
        self.assertIn("IWS", self.installed())
        if {"caKVILExportKVSAPrefs", "caKVILImportKVSAPrefs"} <= EXPORTS:
            # The earlier version is removed after this one is in place, so its
            # preferences are still there to go through the backup folder.
            temp = self.machine.drive / "users/root/Temp"
            self.assertIn("Preferences File exported successfully: C:\\Program Files\\Tavrin\\SysMgt"
                          "\\kvsa\\ini\\dcisdy64.ini", (temp / "KVSAPrefsExportLog.txt").read_text())
            self.assertIn("Preferences File imported successfully: C:\\ProgramData\\Tavrin\\Orvessa"
                          "\\kvsa\\ini\\dcisdy64.ini", (temp / "KVSAPrefsImportLog.txt").read_text())
            self.assertIn("Saved By=the user of 9.0.0", (self.machine.drive / settings).read_text())
        removal = self.machine.msiexec("remove", "/x", newer, "/qn")
        self.assertEqual(removal.status, 0, removal.log_path)
        self.assertNothingLeft()

    def test_full_interface_reaches_the_ready_dialog(self):
        package = self.machine.package()
        shot = self.machine.work / "ready-to-install.png"
        run = self.machine.msiexec("full", "/i", package, on_ready=lambda: self.machine.step(
            "taking a screenshot", "import", "-window", "root", shot))
        self.assertEqual(run.status, 0, run.log_path)
        self.assertIn("dialog|Ready to Install the Program", run.watched)
        self.assertIn("pressed|Install", run.watched)
        if "caKVILPreReqCheckNode" in EXPORTS:  # the prerequisite checker has not run here
            self.assertEqual([b[0] for b in run.boxes()], ["Orvessa Server Administrator"])
        self.assertGreater(shot.stat().st_size, 1000)
        if "caKVILSetSummaryText" in EXPORTS:
            self.assertIn("These features will be installed:", run.summary)
            self.assertIn("Orvessa Web Server", run.summary)
        self.assertActions(run, ["caKVILSystemCheck", "caKVILPreReqCheckNode", "caKVILSetSummaryText"])
        self.assertIn("IWS", self.installed())


if __name__ == "__main__":
    unittest.main(verbosity=2)

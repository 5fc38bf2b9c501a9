"""End-to-end runs of the demo package under wine msiexec, one fresh Wine
prefix per test. The actions expected in a run are those of the list below
whose export KVILMSI64.def lists, so the tests grow as the exports land.

  e2e_test.py BUILD [unittest arguments]
"""
import pathlib
import re
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "package"))
import kvildemo  # noqa: E402
from kvilreport import msistatus  # noqa: E402  (kvildemo puts report/ on the path)
from kvilreport import cli as kvilreport  # noqa: E402
from kvilreport import product as report_product  # noqa: E402
from kvilreport import text as report_text  # noqa: E402

BUILD = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else pathlib.Path("build").resolve()
EXPORTS = set(kvildemo.EXPORTS)

# The actions of a silent first installation, in their order.
FIRST_INSTALL = ["caKVILCheckTEMP", "caKVILSetFirstTimeInstall", "caKVILSystemCheck", "caKVILCTCheck",
                 "caKVILOldNodeCheck", "caKVILOldStationCheck", "caKVILPreReqCheckNode", "caKVILTestINSTALLDIR",
                 "caKVILResetDisallowedFeatures", "caKVILCheckforMGMTINT", "caKVILWriteInfo",
                 "caKVILHideCancelButton", "caKVILPreInstall", "caKVILPostInstall", "caKVILInstallPNPDrivers",
                 "caKVILRunVCRedist", "caKVILFinalize"]
# What the report reads of the default profile's qualification: each
# feature's reason, from the DLL's own lines (an empty list: selectable).
FEATURE_REASONS = {
    "RmtMgmt": ["Either WinRM is not detected or HTTPS Listener is not enabled.SSA should not be installed in "
                "typical mode"],
    "SNMP": [report_product.UNEXPLAINED],   # raised by the prerequisite checker's code, without a line
    "iVIRK": ["This is not a 12g server, do not enable ivirk12g for installation"],
}
# The actions of a repair or a change of the installed product (silent).
MAINTENANCE = ["caKVILCheckTEMP", "caKVILSetFirstTimeInstall", "caKVILSystemCheck", "caKVILCTCheck",
               "caKVILOldNodeCheck", "caKVILOldStationCheck", "caKVILWriteInfo", "caKVILHideCancelButton",
               "caKVILWaitforServiceStop", "caKVILPreInstall", "caKVILPostInstall", "caKVILInstallPNPDrivers",
               "caKVILRunVCRedist", "caKVILFinalize"]
# The actions of a silent removal.
REMOVAL = ["caKVILCheckTEMP", "caKVILSystemCheck", "caKVILCTCheck", "caKVILOldNodeCheck", "caKVILOldStationCheck",
           "caKVILWriteInfo", "caKVILHideCancelButton", "caKVILWaitforServiceStop", "caKVILPreInstall",
           "caKVILPostInstall", "caKVILFinalize"]
# The package's own custom actions, besides the exports of KVILMSI64.dll.
PACKAGE_ACTIONS = re.compile(r"caKVIL\w+|SetSupportDir|ExtractSupportFiles|SetRememberedInstallDir|RemoveSupportFiles\w+")
DEFAULT_FOLDER = "C:\\Program Files\\Tavrin\\SysMgt\\"
CHOSEN_FOLDER = "C:\\Ops Tools\\SysMgt\\"
# What the qualification's steps leave when a run stops before the execute
# phase: the hardware list in the work folder and the temporary folder. Only
# the finalize clean-up of an installation removes them.
QUALIFICATION_LEFTOVERS = ["Program Files/tempini/hwlist.ini", "users/root/Temp/kviltmpmn"]


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
        self.assertEqual(self.support_folders(), [])

    def support_folders(self):
        """The support folders (TEMP\\{ProductCode}) that runs left."""
        return sorted(p.name for p in (self.machine.drive / "users/root/Temp").glob("{*}"))

    def assertRun(self, run, windows_status, actions=(), failed=()):
        """The run ended with WINDOWS_STATUS, the ACTIONS succeeded, the FAILED
        ones failed (Wine logs 0) and every other custom action that ended
        succeeded; the support folder went at the end of the run."""
        self.assertEqual(msistatus.describe(run.windows_status), msistatus.describe(windows_status),
                         run.log_path)
        self.assertActions(run, actions)
        for action, value in run.results().items():
            if PACKAGE_ACTIONS.fullmatch(action):
                self.assertEqual(value, 0 if action in failed else 1, f"{action} in {run.log_path}")
        # A failure after the installation script began leaves the support
        # files to the rollback's last step.
        ends = {0: ["RemoveSupportFilesOnSuccess"], 1602: ["RemoveSupportFilesOnCancel"]}.get(
            windows_status, ["RemoveSupportFilesOnFailure", "RemoveSupportFilesAfterRollback"])
        # The clean-up that ran is the one whose result line follows its start
        # (a rollback action is also logged when it is scheduled).
        ran = re.findall(r"Action start [\d:]+: (RemoveSupportFiles\w+)\.\r?\nRemoveSupportFiles: \d+ files removed",
                         run.log)
        self.assertEqual(len(ran), 1, run.log_path)
        self.assertIn(ran[0], ends, run.log_path)
        self.assertEqual(self.support_folders(), [])

    def commands(self, since=0):
        """(command file, phase) of each ExecuteCommands call in the journal
        from line SINCE on."""
        return re.findall(r'ExecuteCommands\(.*"[^"]*\\(\w+)\.ini", "\w*", "(\w+)"',
                          "\n".join(self.machine.journal()[since:]))

    def installed(self, folder="Program Files/Tavrin/SysMgt"):
        return sorted(f.stem for f in (self.machine.drive / folder).glob("*.txt"))

    def test_first_installation_maintenance_and_removal(self):
        package = self.machine.package()
        run = self.machine.msiexec("install", "/i", package, "/qn")
        self.assertRun(run, 0, FIRST_INSTALL)
        p = run.properties()
        self.assertEqual(p.get("CP_SYSTEMID"), "08FC")
        self.assertEqual(p.get("CP_14GSERVER"), "YES")
        self.assertEqual(p.get("CP_iVIRK12GSTATUS"), "3")
        self.assertNotIn("iVIRK", self.installed())
        self.assertIn("KVSS", self.installed())
        self.assertEqual(run.boxes(), [])
        # The report on the live log: every feature's reason, the support
        # verdict and the DLL's build are read.
        found = report_product.findings(kvilreport.read(run.log_path))
        self.assertEqual({row.name: row.why for row in found.mine.features},
                         {feature: FEATURE_REASONS.get(feature, []) for feature in report_product.FEATURES})
        self.assertIn('  Support verdict: supported model ("This is supported system."; CP_SUPPORTEDSYSTEM = 1)',
                      report_text.machine_section(kvilreport.read(run.log_path), []))
        self.assertEqual(found.mine.dll_versions, [((BUILD / "kvil-version.txt").read_text().strip(), ["this run"])])

        change = self.machine.msiexec("change", "/i", package, "REMOVE=KVSS", "/qn")
        self.assertRun(change, 0, MAINTENANCE)
        self.assertNotIn("KVSS", self.installed())
        self.assertIn("IWS", self.installed())
        if "caKVILPreInstall" in EXPORTS:
            self.assertIn("Uninstalling feature KVSS", change.log)

        self.assertRun(self.machine.msiexec("remove", "/x", package, "/qn"), 0, REMOVAL)
        self.assertNothingLeft()

    @unittest.skipUnless("caKVILPreInstall" in EXPORTS, "caKVILPreInstall is not exported yet")
    def test_failing_feature_command_rolls_back(self):
        package = self.machine.package()
        (self.machine.drive / "kvil-fail-preinstall.txt").write_text("")
        run = self.machine.msiexec("install", "/i", package, "/qn")
        # Wine's log gives a failed action the return value 0.
        self.assertRun(run, 1603, ["caKVILPreInstallRollback"], failed=["caKVILPreInstall"])
        self.assertIn("caKVILPreInstallRollback", run.started())
        self.assertNothingLeft()

    def test_older_model_stops_as_the_package_says(self):
        package = self.machine.package(profile=kvildemo.ROOT / "package/profiles/older-unsupported.ini")
        run = self.machine.msiexec("install", "/i", package, "/qn")
        self.assertRun(run, 1603, ["caKVILCheckTEMP", "caKVILSystemCheck", "caKVILPreReqCheckNode"])
        self.assertEqual(run.properties().get("CP_SUPPORTEDSYSTEM"), "2")
        self.assertIn("StopOlderSystem", run.started())
        self.assertNotIn("caKVILPreInstall", run.started())
        self.assertNothingLeft(stopped=True)
        # The support folder went with the stopped run; what the
        # qualification's own steps made stays.
        self.assertEqual(self.machine.product_files(), QUALIFICATION_LEFTOVERS)

    def test_older_version_stops_beside_a_newer_installation(self):
        newer = self.machine.package()
        self.assertRun(self.machine.msiexec("install", "/i", newer, "/qn"), 0, FIRST_INSTALL)
        installed = self.installed()
        older = self.machine.package(name="orvessa-demo-9.0.0.msi", version="9.0.0")
        run = self.machine.msiexec("downgrade", "/i", older, "/qn")
        # The first-time check refuses the downgrade before the package's own
        # stop message is reached (Wine logs a failed action as 0).
        self.assertRun(run, 1603, ["caKVILCheckTEMP"], failed=["caKVILSetFirstTimeInstall"])
        self.assertNotIn("caKVILPreInstall", run.started())
        # The newer installation is left as it was, and still removes cleanly.
        self.assertEqual(self.installed(), installed)
        self.assertRun(self.machine.msiexec("remove", "/x", newer, "/qn"), 0, REMOVAL)
        self.assertNothingLeft()

    def test_major_upgrade_from_an_older_demo_package(self):
        older = self.machine.package(name="orvessa-demo-9.0.0.msi", version="9.0.0")
        first = self.machine.msiexec("install-old", "/i", older, "/qn")
        self.assertRun(first, 0, FIRST_INSTALL)
        settings = "Program Files/Tavrin/SysMgt/kvsa/ini/dcisdy64.ini"
        with (self.machine.drive / settings).open("a") as ini:
            ini.write("[Demo Preferences]\nSaved By=the user of 9.0.0\n")
        newer = self.machine.package()
        run = self.machine.msiexec("upgrade", "/i", newer, "/qn")
        self.assertRun(run, 0, FIRST_INSTALL)
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
        self.assertRun(self.machine.msiexec("remove", "/x", newer, "/qn"), 0, REMOVAL)
        self.assertNothingLeft()

    def test_full_interface_reaches_the_ready_dialog(self):
        package = self.machine.package()
        shot = self.machine.work / "ready-to-install.png"
        run = self.machine.msiexec("full", "/i", package, on_ready=lambda: self.machine.step(
            "taking a screenshot", "import", "-window", "root", shot))
        self.assertRun(run, 0, ["caKVILSystemCheck", "caKVILPreReqCheckNode", "caKVILSetSummaryText"])
        self.assertIn("dialog|Ready to Install the Program", run.watched)
        self.assertIn("pressed|Install", run.watched)
        if "caKVILPreReqCheckNode" in EXPORTS:  # the prerequisite checker has not run here
            self.assertEqual([b[0] for b in run.boxes()], ["Orvessa Server Administrator"])
        self.assertGreater(shot.stat().st_size, 1000)
        if "caKVILSetSummaryText" in EXPORTS:
            self.assertIn("These features will be installed:", run.summary)
            self.assertIn("Orvessa Web Server", run.summary)
        self.assertIn("IWS", self.installed())
        # The support folder goes last, after the execute sequence.
        self.assertEqual(run.started()[-1], "RemoveSupportFilesOnSuccess", run.log_path)
        self.assertEqual(self.support_folders(), [])

    def test_repair_keeps_the_installation(self):
        package = self.machine.package()
        self.assertRun(self.machine.msiexec("install", "/i", package, "/qn"), 0, FIRST_INSTALL)
        installed = self.installed()
        journal = len(self.machine.journal())
        # Wine's msiexec /f does not repair by product code: these are the
        # properties that /fvomus sets.
        repair = self.machine.msiexec("repair", "/i", package, "REINSTALL=ALL", "REINSTALLMODE=vomus", "/qn")
        self.assertRun(repair, 0, MAINTENANCE)
        p = repair.properties()
        self.assertEqual((p.get("Installed"), p.get("REINSTALL"), p.get("REINSTALLMODE")), ("1", "ALL", "vomus"))
        self.assertEqual(p.get("INSTALLDIR"), DEFAULT_FOLDER)
        self.assertNotIn("CP_FIRSTTIMEINSTALL", p)
        self.assertNotIn("caKVILPreReqCheckNode", repair.started())
        self.assertEqual(self.installed(), installed)
        if "caKVILPreInstall" in EXPORTS:
            # Every installed feature's install phases run again.
            phases = self.commands(journal)
            self.assertIn(("iws", "PreInstall"), phases)
            self.assertIn(("kvsm", "PostInstall"), phases)
            self.assertNotIn(("iws", "PreUnInstall"), phases)
        self.assertRun(self.machine.msiexec("remove", "/x", package, "/qn"), 0, REMOVAL)
        self.assertNothingLeft()

    def test_feature_removed_and_added_back(self):
        package = self.machine.package()
        self.assertRun(self.machine.msiexec("install", "/i", package, "/qn"), 0, FIRST_INSTALL)
        journal = len(self.machine.journal())
        change = self.machine.msiexec("change", "/i", package, "REMOVE=KVSS", "/qn")
        self.assertRun(change, 0, MAINTENANCE)
        self.assertEqual(change.properties().get("REMOVE"), "KVSS")
        self.assertNotIn("KVSS", self.installed())
        if "caKVILPreInstall" in EXPORTS:
            self.assertIn("Uninstalling feature KVSS", change.log)
            self.assertIn(("kvsm", "PreUnInstall"), self.commands(journal))
        journal = len(self.machine.journal())
        add = self.machine.msiexec("add", "/i", package, "ADDLOCAL=KVSS", "/qn")
        self.assertRun(add, 0, MAINTENANCE)
        self.assertEqual(add.properties().get("ADDLOCAL"), "KVSS")
        self.assertIn("KVSS", self.installed())
        if "caKVILPreInstall" in EXPORTS:
            # The feature's install-phase commands run again.
            phases = self.commands(journal)
            self.assertIn(("kvsm", "PreInstall"), phases)
            self.assertIn(("kvsm", "PostInstall"), phases)
            self.assertNotIn(("kvsm", "PreUnInstall"), phases)
        self.assertIn(r"Applications\KVSM", "\n".join(self.machine.registry()))
        self.assertRun(self.machine.msiexec("remove", "/x", package, "/qn"), 0, REMOVAL)
        self.assertNothingLeft()

    @unittest.skipUnless("caKVILPreInstall" in EXPORTS, "caKVILPreInstall is not exported yet")
    def test_failed_installation_then_a_successful_one(self):
        package = self.machine.package()
        marker = self.machine.drive / "kvil-fail-preinstall.txt"
        marker.write_text("")
        failed = self.machine.msiexec("failed", "/i", package, "/qn")
        self.assertRun(failed, 1603, ["caKVILPreInstallRollback", "caKVILPostInstallRollback"],
                       failed=["caKVILPreInstall"])
        # The rollback actions had the support library; its files went last.
        self.assertEqual(failed.started()[-1], "RemoveSupportFilesAfterRollback", failed.log_path)
        self.assertNothingLeft()
        marker.unlink()
        run = self.machine.msiexec("install", "/i", package, "/qn")
        # A first installation as on a machine that never saw the failed one.
        self.assertRun(run, 0, FIRST_INSTALL)
        p = run.properties()
        self.assertEqual(p.get("CP_FIRSTTIMEINSTALL"), "YES")
        self.assertNotIn("CP_DOINGMAJORUPGRADE", p)
        self.assertEqual(p.get("INSTALLDIR"), DEFAULT_FOLDER)
        self.assertEqual(self.installed(), ["BRCM", "CLI", "INTEL", "IWS", "KVSS", "NICInt", "OSLOG", "SI", "WMI",
                                            "orvessa"])
        self.assertRun(self.machine.msiexec("remove", "/x", package, "/qn"), 0, REMOVAL)
        self.assertNothingLeft()

    def test_basic_interface_installs_and_removes(self):
        package = self.machine.package()
        run = self.machine.msiexec("install", "/i", package, "/qb")
        self.assertRun(run, 0, FIRST_INSTALL)
        self.assertEqual(run.properties().get("UILevel"), "3")
        self.assertIn("IWS", self.installed())
        self.assertEqual(run.boxes(), [])
        removal = self.machine.msiexec("remove", "/x", package, "/qb")
        self.assertRun(removal, 0, REMOVAL)
        self.assertNothingLeft()

    def test_chosen_folder_with_a_blank(self):
        package = self.machine.package()
        chosen = "Ops Tools/SysMgt"
        runs = [self.machine.msiexec("install", "/i", package, "INSTALLDIR=" + CHOSEN_FOLDER, "/qn")]
        self.assertRun(runs[0], 0, FIRST_INSTALL)
        installed = self.installed(chosen)
        self.assertIn("IWS", installed)
        self.assertFalse((self.machine.drive / "Program Files/Tavrin/SysMgt").exists())
        # Later runs find the folder through the package's registry search.
        runs.append(self.machine.msiexec("repair", "/i", package, "REINSTALL=ALL", "REINSTALLMODE=vomus", "/qn"))
        self.assertRun(runs[1], 0, MAINTENANCE)
        self.assertEqual(runs[1].properties().get("REMEMBEREDINSTALLDIR"), CHOSEN_FOLDER)
        self.assertEqual(self.installed(chosen), installed)
        runs.append(self.machine.msiexec("remove", "/x", package, "/qn"))
        self.assertRun(runs[2], 0, REMOVAL)
        for run in runs:
            self.assertEqual(run.properties().get("INSTALLDIR"), CHOSEN_FOLDER, run.log_path)
            if "caKVILPreInstall" in EXPORTS:  # the value the deferred actions stored and read
                self.assertEqual(set(re.findall(r"^INSTALLDIR = (.*?)\r?$", run.log, re.M)),
                                 {CHOSEN_FOLDER.rstrip("\\")}, run.log_path)
        self.assertNothingLeft()
        self.assertFalse((self.machine.drive / chosen).exists(), chosen)

    @unittest.skipUnless("caKVILSetSummaryText" in EXPORTS, "caKVILSetSummaryText is not exported yet")
    def test_cancel_at_the_ready_dialog(self):
        package = self.machine.package()
        cancel = self.machine.drive / "kvildemo" / "cancel.watch.cancel"
        run = self.machine.msiexec("cancel", "/i", package, on_ready=lambda: cancel.write_text(""))
        self.assertRun(run, 1602, ["caKVILSystemCheck", "caKVILPreReqCheckNode", "caKVILSetSummaryText"])
        self.assertIn("pressed|Cancel", run.watched)
        self.assertNotIn("ExecuteAction", run.started())
        self.assertNothingLeft(stopped=True)
        self.assertEqual(self.machine.product_files(), QUALIFICATION_LEFTOVERS)


if __name__ == "__main__":
    unittest.main(verbosity=2)

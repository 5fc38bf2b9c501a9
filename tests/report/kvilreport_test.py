"""The report from an installation's verbose log (report/kvilreport), on
logs of real demo runs under Wine and on excerpts in Windows' format, plus the
demo's listing of what a run left. Plain Python: no Wine needed.

  kvilreport_test.py [unittest arguments]
"""
import codecs
import contextlib
import io
import pathlib
import random
import re
import subprocess
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
LOGS = pathlib.Path(__file__).resolve().parent / "logs"
sys.path[:0] = [str(ROOT / "report"), str(ROOT / "package")]
from kvilreport import cli, product  # noqa: E402
from kvilreport import findings as report_findings  # noqa: E402
from kvilreport import reading as report_reading  # noqa: E402
from kvilreport import text as report_text  # noqa: E402

# Wine's Japanese engine lines: an action's start and its end.
JAPANESE = ("アクション開始 7:42:41: caKVILSystemCheck。\r\n"
            "アクション終了 7:42:41: caKVILSystemCheck。 戻り値 1。")
STOPS = {"StopOlderSystem": "This server model is no longer supported by Orvessa Server Administrator. "
                            "The installation stops."}


def report(name, **options):
    return report_text.report(cli.read(LOGS / name), **options)


# Each log, how the report is asked for, and lines it must hold as a person reads them.
CASES = [
    ("wine-install-success.log", {"exit_status": 0}, [
        "Product: Orvessa Server Administrator 9.1.0; run: install",
        "  System identifier: 08FC (from the firmware tables)",
        "  Windows: VersionNT 603, build 9600 (Windows 8.1 / Server 2012 R2 or later), server",
        '  Support verdict: supported model ("This is supported system."; CP_SUPPORTEDSYSTEM = 1)',
        "  IWS      selectable -> installed",
        "  iVIRK    hidden: This is not a 12g server, do not enable ivirk12g for installation -> left as it was",
        "  RmtMgmt  shown, not selectable: Either WinRM is not detected or HTTPS Listener is not enabled."
        "SSA should not be installed in typical mode -> left as it was",
        "  caKVILPreInstall: PreInstall for IWS, SI, KVSS, WMI, CLI, OSLOG, NICInt, INTEL, BRCM",
        "  caKVILPostInstall: PostInstall for IWS, SI, KVSS, WMI, CLI, OSLOG, NICInt, INTEL, BRCM",
        "  in the installation script: caKVILPreInstall 1, caKVILPostInstall 1, caKVILInstallPNPDrivers 1, "
        "caKVILRunVCRedist 1, caKVILFinalize 1",
        "Outcome: succeeded",
        "  msiexec's exit status: 0 (success)",
        "  Restart: not asked for (REBOOT = Suppress)",
    ]),
    ("wine-removal.log", {}, [
        "Product: Orvessa Server Administrator 9.1.0; run: removal",
        "  (the qualification published no disposition in this run: CP_IWSSTATUS ... not set)",
        "  KVSS     not published -> removed",
        "  caKVILPreInstall: PreUnInstall for IWS, SI, KVSS, WMI, CLI, OSLOG, NICInt, INTEL, BRCM",
        "  in the installation script: caKVILWaitforServiceStop 1, caKVILPreInstall 1, caKVILPostInstall 1, "
        "caKVILFinalize 1",
        "Outcome: succeeded",
        "  Exit status: not in the log (Wine's log does not give it)",
    ]),
    ("wine-stopped-older-model.log", {"exit_status": 67}, [
        "  System identifier: 0287 (from the firmware tables)",
        '  Support verdict: older model, no longer supported ("This is an older system no longer supported."; '
        "CP_SUPPORTEDSYSTEM = 2)",
        "  KVSS     hidden: Making feature KVSS unselectable since it is not supported on this system.; "
        "Enable only console on this system. -> nothing done (the installation stopped)",
        "  BRCM     hidden: Broadcom card was not detected.; Enable only console on this system. "
        "-> nothing done (the installation stopped)",
        "  none ran (no caKVILPreInstall or caKVILPostInstall in the installation script)",
        "Outcome: stopped by the package's condition StopOlderSystem (an action of the package that ends "
        "the installation)",
        "  Its message: not in the log (Wine's installer does not write it)",
        "  Nothing was installed: it stopped before the installation script ran",
        "  msiexec's exit status: 1603 (fatal error during installation)",
    ]),
    ("wine-stopped-older-model.log", {"stop_messages": STOPS}, [
        "  Its message: " + STOPS["StopOlderSystem"] + " (the package's text; the log does not hold it)",
    ]),
    ("wine-failed-rolled-back.log", {"exit_status": 67}, [
        "  IWS      selectable -> installing it failed, then rolled back",
        # Its install phase never ran: nothing of it to roll back.
        "  SI       selectable -> not reached before the failure (the rollback ran its commands)",
        "  caKVILPreInstall: PreInstall for IWS; FAILED at IWS",
        "  caKVILPreInstallRollback: PreInstall with the rollback flag for IWS, SI, KVSS, WMI, CLI, OSLOG, NICInt, "
        "INTEL, BRCM",
        "  in the installation script: caKVILPreInstall 0 FAILED",
        "  SNMP     shown, not selectable: no line in the log explains it -> left as it was",
        "Outcome: FAILED in caKVILPreInstall in the installation script",
        "  It was installing the feature IWS (phase PreInstall)",
        "    KVIL64: command 2 returned 3",
        "    KVIL64:  of C:\\Program Files\\tempini\\iws.ini failed with 3",
        "  Rolled back: yes (caKVILPostInstallRollback 1, caKVILPreInstallRollback 1)",
        "  msiexec's exit status: 1603 (fatal error during installation)",
    ]),
    ("wine-failed-rolled-back.log",
     {"journal": (LOGS / "wine-failed-journal.txt").read_text().splitlines()}, [
        "The vendor library was asked to run:",
        "  ExecuteCommands PreInstall: iws.ini = 3",
        "  ExecuteCommands PostInstall (rollback): iws.ini, sa.ini, kvsm.ini, wmi.ini, cli.ini, oslog.ini, "
        "nicint.ini, intel.ini, brcm.ini",
    ]),
    ("windows-deferred-failure-utf16.log", {}, [
        "Product: Orvessa Server Administrator 9.1.0; run: install",
        "  System identifier: 0A5C (from the registry)",
        "  Windows release and server flags: CP_2012R2=YES, CP_15GSERVER=YES, CP_SUPPORTEDSYSTEM=1, "
        "CP_TAVRINSERVER=YES (This is 15g server)",
        "  iVIRK    hidden: Hiding feature iVIRK since it is not supported on this system.; This is not a 12g "
        "server, do not enable ivirk12g for installation -> left as it was",
        "  SI       selectable -> action Local (was Absent, request Local); installing it failed, then rolled back",
        "  caKVILPreInstall: PreInstall for IWS, SI; FAILED at SI",
        "  scheduled for the installation script: caKVILPreInstall",
        "  in the installation script: caKVILPreInstall (error code 1603) FAILED",
        "  rollback: caKVILPreInstallRollback",
        "Outcome: FAILED in caKVILPreInstall in the installation script",
        "  It was installing the feature SI (phase PreInstall)",
        "    CustomAction caKVILPreInstall returned actual error code 1603 (note this may not be 100% accurate if "
        "translation happened inside sandbox)",
        "  Rolled back: yes (caKVILPreInstallRollback)",
        "  Exit status in the log: 1603 (fatal error during installation)",
    ]),
    ("windows-stopped-ansi.log", {}, [
        '  Support verdict: older model, no longer supported ("This is an older system no longer supported."; '
        "CP_SUPPORTEDSYSTEM = 2)",
        "  immediate: caKVILCheckTEMP 1, caKVILSystemCheck 1, caKVILPreReqCheckNode 1, StopOlderSystem 3 FAILED",
        "Outcome: stopped by the package's condition StopOlderSystem (an action of the package that ends "
        "the installation)",
        "  Its message: " + STOPS["StopOlderSystem"],
        "  Exit status in the log: 1603 (fatal error during installation)",
    ]),
    ("wine-japanese-full-ui.log", {}, [
        "Product: Orvessa Server Administrator 9.1.0; run: install",
        "  System identifier: 08FC (from the firmware tables)",
        '  Support verdict: supported model ("This is supported system."; CP_SUPPORTEDSYSTEM = 1)',
        "  IWS      selectable -> installed",
        "  iVIRK    hidden: This is not a 12g server, do not enable ivirk12g for installation -> left as it was",
        "  caKVILPreInstall: PreInstall for IWS, SI, KVSS, WMI, CLI, OSLOG, NICInt, INTEL, BRCM",
        "  caKVILPostInstall: PostInstall for IWS, SI, KVSS, WMI, CLI, OSLOG, NICInt, INTEL, BRCM",
        # The ready-to-install dialog (Wine: error 2726, then the dialog, then 0) is no failed action.
        "  immediate: SetSupportDir 1, ExtractSupportFiles 1, caKVILCheckTEMP 1, caKVILSetFirstTimeInstall 1, "
        "caKVILSystemCheck 1, caKVILCTCheck 1, caKVILOldNodeCheck 1, caKVILOldStationCheck 1, "
        "caKVILPreReqCheckNode 1, caKVILSetTestINSTALLDIR 1, caKVILTestINSTALLDIR 1, "
        "caKVILResetDisallowedFeatures 1, caKVILCheckforMGMTINT 1, caKVILSetSummaryText 1, RecordSummaryText 1, "
        "ExtractSupportFiles 1, caKVILSetOSName2012R2 1, caKVILWriteInfo 1, caKVILSetRunVCRedistData 1, "
        "caKVILSetFinalizeData 1, caKVILHideCancelButton 1",
        "  scheduled for the installation script: caKVILPreInstallRollback, caKVILPreInstall, "
        "caKVILPostInstallRollback, caKVILPostInstall, caKVILInstallPNPDrivers, caKVILRunVCRedist, caKVILFinalize",
        "  in the installation script: caKVILPreInstall 1, caKVILPostInstall 1, caKVILInstallPNPDrivers 1, "
        "caKVILRunVCRedist 1, caKVILFinalize 1",
        "Outcome: succeeded",
        "  Restart: not asked for (REBOOT = Suppress)",
    ]),
    ("wine-repair.log", {}, [
        "Product: Orvessa Server Administrator 9.1.0; run: repair",
        # The vendor library's progress text is no action of its own.
        "  in the installation script: caKVILWaitforServiceStop 1, caKVILPreInstall 1, caKVILPostInstall 1, "
        "caKVILInstallPNPDrivers 1, caKVILRunVCRedist 1, caKVILFinalize 1",
        "  at the end of the run: RemoveSupportFilesOnSuccess 1",
        "Outcome: succeeded",
    ]),
    ("wine-cancel-at-ready-dialog.log", {"exit_status": 66}, [
        "Product: Orvessa Server Administrator; run: install",
        "  iVIRK    not published: This is not a 12g server, do not enable ivirk12g for installation "
        "-> nothing done (the installation was cancelled before its script ran)",
        "  immediate: SetSupportDir 1, ExtractSupportFiles 1, caKVILCheckTEMP 1, caKVILSetFirstTimeInstall 1, "
        "caKVILSystemCheck 1, caKVILCTCheck 1, caKVILOldNodeCheck 1, caKVILOldStationCheck 1, caKVILPreReqCheckNode 1, "
        "caKVILSetTestINSTALLDIR 1, caKVILTestINSTALLDIR 1, caKVILResetDisallowedFeatures 1, "
        "caKVILCheckforMGMTINT 1, caKVILSetSummaryText 1",
        "  at the end of the run: RemoveSupportFilesOnCancel 1",
        "Outcome: cancelled by the user at the dialog ReadyToInstall",
        "  Nothing was installed: it ended before the installation script ran",
        "  msiexec's exit status: 1602 (cancelled by the user)",
    ]),
    ("wine-downgrade-refused.log", {"exit_status": 67}, [
        "Product: Orvessa Server Administrator 9.0.0; run: install",
        "  immediate: SetSupportDir 1, ExtractSupportFiles 1, caKVILCheckTEMP 1, caKVILSetFirstTimeInstall 0 FAILED",
        "  at the end of the run: RemoveSupportFilesOnFailure 1",
        "Outcome: FAILED in caKVILSetFirstTimeInstall before the installation script",
        "  " + product.FAILURE_MEANINGS["caKVILSetFirstTimeInstall"].format(version="9.0.0"),
        "  Rolled back: nothing to roll back (it failed before the installation script ran)",
    ]),
    ("windows-progress-failure.log", {}, [
        "  in the installation script: caKVILInstallPNPDrivers (error code 1603) FAILED",
        "Outcome: FAILED in caKVILInstallPNPDrivers in the installation script",
        "    progress: Installing Plug and Play drivers. Please wait...",
    ]),
    ("windows-other-product.log", {}, [
        "Product: Quenby Notes 4.2.0; run: install",
        "This log has no action of KVILMSI64.dll (caKVIL...): it may belong to another product.",
        "Outcome: succeeded",
        # This product's sections are left out rather than listed as absent.
        "Not found in the log: any action of KVILMSI64.dll",
    ]),
]


# Each log, how the report is asked for, and words no line of it may hold.
NOT_SAID = [
    ("wine-repair.log", {}, ["KVILProgress"]),
    ("windows-progress-failure.log", {}, ["KVILProgress"]),
    ("wine-cancel-at-ready-dialog.log", {"exit_status": 66}, ["ReadyToInstall 2", "Rolled back", "FAILED",
                                                             "none of the product's features"]),
    ("wine-downgrade-refused.log", {"exit_status": 67}, ["Rolled back: yes", "rollback:"]),
]


def genuine(name, replace=(), cut_after=None, then=""):
    """A Log of a genuine log, changed: each (old, new) of replace made at
    its last place, the rest cut after the line that holds cut_after's last
    place, then added."""
    text = (LOGS / name).read_text()
    for old, new in replace:
        at = text.rindex(old)
        text = text[:at] + new + text[at + len(old):]
    if cut_after:
        start = text.rindex(cut_after)
        text = text[:text.index("\n", start) + 1] + then
    return cli.parse(text)


class Report(unittest.TestCase):
    def test_the_lines_a_person_reads(self):
        for name, options, expected in CASES:
            lines = report(name, **options)
            for line in expected:
                with self.subTest(log=name, options=sorted(options), line=line):
                    self.assertIn(line, lines)
        for name, options, words in NOT_SAID:
            lines = report(name, **options)
            for word in words:
                with self.subTest(log=name, options=sorted(options), word=word):
                    self.assertFalse([line for line in lines if word in line])

    def test_a_failure_in_a_genuine_log_changed_to_fail(self):
        prereq = product.FAILURE_MEANINGS["caKVILPreReqCheckNode"]
        for what, log, expected in [
            # The progress text of the failing action is among its last lines.
            # Wine ends the open actions with 0 when one fails.
            ("progress", genuine("wine-repair.log", [("caKVILInstallPNPDrivers. Return value 1.",
                                                      "caKVILInstallPNPDrivers. Return value 0.")],
                                 cut_after="caKVILInstallPNPDrivers. Return value 0.",
                                 then="Action ended 7:57:36: InstallFinalize. Return value 0.\n"
                                      + "Action ended 7:57:36: INSTALL. Return value 0.\n" * 2),
             ["Outcome: FAILED in caKVILInstallPNPDrivers in the installation script",
              "  Its last lines:",
              "    progress: Installing Plug and Play drivers. Please wait..."]),
            # The checker's stop: the action fails without a line of its own.
            ("checker", genuine("wine-cancel-at-ready-dialog.log",
                                [("caKVILPreReqCheckNode. Return value 1.", "caKVILPreReqCheckNode. Return value 0.")],
                                cut_after="Action ended 8:02:13: caKVILPreReqCheckNode.",
                                then="Action ended 8:02:13: INSTALL. Return value 0.\n"),
             ["Outcome: FAILED in caKVILPreReqCheckNode before the installation script",
              "  " + prereq,
              "  Its last lines:",
              "  (the qualification published no disposition in this run: CP_IWSSTATUS ... not set)",
              "  RmtMgmt  not published: Either WinRM is not detected or HTTPS Listener is not enabled.SSA should "
              "not be installed in typical mode -> nothing done (the installation failed before its script ran)"]),
        ]:
            lines = report_text.report(log, exit_status=67)
            for line in expected:
                with self.subTest(what, line=line):
                    self.assertIn(line, lines)
            if what == "checker":
                self.assertLess(lines.index("  " + prereq), lines.index("  Its last lines:"))

    def test_server_generation_lines(self):
        for said, shown in [
            ("This is 12g server, enable ivirk12g for installation",
             "(This is 12g server, enable ivirk12g for installation)"),
            ("This is 16g server", "(This is 16g server)"),
            ("Prereqcheck: The server has Windows 2019 OS.\nThis is 14g server",
             "(Prereqcheck: The server has Windows 2019 OS.; This is 14g server)"),
            ("This is not a 12g server, do not enable ivirk12g for installation", "none in the log"),
        ]:
            log = cli.parse(f"Action start 1:00:00: caKVILPreReqCheckNode.\n{said}\n")
            with self.subTest(said=said):
                self.assertIn("  Windows release and server flags: " + (
                    shown if shown == "none in the log" else "none in the log " + shown),
                    report_text.machine_section(log, []))

    def test_kind_of_run_and_cancel(self):
        for properties, kind in [
            ({}, "install"), ({"REMOVE": "ALL", "Installed": "1"}, "removal"),
            ({"REMOVE": "All", "UPGRADINGPRODUCTCODE": "{1}"}, "removal by an upgrade"),
            ({"REINSTALL": "ALL", "Installed": "1"}, "repair"), ({"REMOVE": "KVSS", "Installed": "1"},
                                                                 "change (maintenance)"),
            ({"CP_DOINGMAJORUPGRADE": "YES"}, "install (major upgrade)"), ({"ACTION": "ADMIN"}, "admin"),
        ]:
            log = cli.parse("".join(f"Property(S): {k} = {v}\n" for k, v in {"ACTION": "INSTALL",
                                                                                **properties}.items()))
            with self.subTest(properties=properties):
                self.assertEqual(report_findings.run_kind(log), kind)
        dialog = "Action start 1:00:00: INSTALL.\nAction start 1:00:00: WelcomeDlg.\n" \
                 "Action ended 1:00:01: WelcomeDlg. Return value 2.\nAction ended 1:00:01: INSTALL. Return value 2.\n"
        for text, status, expected in [(dialog, None, ("cancelled", "WelcomeDlg")),
                                       ("Action start 1:00:00: INSTALL.\n", 1602, ("cancelled", None)),
                                       ("Action start 1:00:00: INSTALL.\n", 1603, ("unknown", None))]:
            outcome, run = report_findings.outcome_of(cli.parse(text), status)
            with self.subTest(text=text, status=status):
                self.assertEqual((outcome, run and run.name), expected)

    def test_a_log_cut_short_says_where_it_ends(self):
        wine = (LOGS / "wine-failed-rolled-back.log").read_bytes()
        cut = wine[:wine.index(b"KVIL64: command 2 returned 3") + 30]
        windows = (LOGS / "windows-deferred-failure-utf16.log").read_bytes()
        odd = windows[:windows.index("Installing feature SI".encode("utf-16-le")) + 47]  # an odd byte count
        japanese = (LOGS / "wine-japanese-full-ui.log").read_bytes()
        japanese = japanese[:japanese.index(b"Installing feature KVSS") + 24]
        for name, raw, expected in [
            ("Wine", cut, ["Outcome: not known: the log ends before the installation did (it ends inside "
                           "caKVILPreInstall)",
                           "  caKVILPreInstall was installing the feature IWS when the log ends",
                           "    KVIL64: command 2 returned 3"]),
            ("UTF-16", odd, ["Outcome: not known: the log ends before the installation did (it ends inside "
                             "caKVILPreInstall)",
                             "  caKVILPreInstall was installing the feature SI when the log ends",
                             "  SI       selectable -> action Local (was Absent, request Local); installing it when "
                             "the log ends"]),
            ("Japanese", japanese, ["Outcome: not known: the log ends before the installation did (it ends inside "
                                    "caKVILPreInstall)",
                                    "  caKVILPreInstall was installing the feature KVSS when the log ends",
                                    "    KVIL64: running  of C:\\Program Files\\tempini\\sa.ini"]),
        ]:
            lines = report_text.report(cli.parse(raw))
            for line in expected:
                with self.subTest(log=name, line=line):
                    self.assertIn(line, lines)
            with self.subTest(log=name):
                self.assertTrue(lines[-1].startswith("Not found in the log: the end of the installation"), lines[-1])

    def test_engine_lines_in_another_language(self):
        # Wine's German forms of the engine's lines, in place of the English ones.
        german = [(r"^Action start ([\d:]+): (.*)\.$", r"Beginn der Aktion \1: \2."),
                  (r"^Action ended ([\d:]+): (.*)\. Return value (.*)\.$",
                   r"Ende der Aktion \1: \2. Rückgabewert \3."),
                  (r"^Action ([\d:]+): ", r"Aktion \1: "),
                  (r"^Message type: (.*), Argument: ", r"Nachrichtentyp: \1, Argument: ")]
        english = (LOGS / "wine-install-success.log").read_text()
        text = english
        for pattern, replacement in german:
            text = re.sub(pattern, replacement, text, flags=re.M)
        # The words come from the log itself: the same report as in English.
        self.assertEqual(report_text.report(cli.parse(text.encode("cp1252"))),
                         report_text.report(cli.parse(english)))
        # Without the outermost action's start there is nothing to learn them from.
        text = "\n".join(line for line in text.splitlines() if "INSTALL." not in line)
        lines = report_text.report(cli.parse(text.encode("cp1252")))
        for line in [
            "Product: Orvessa Server Administrator 9.1.0; run: install",
            "The engine's lines are in a language this report does not read (such as \"Aktion 7:35:35: "
            "FindRelatedProducts. Searching for related applications\"): its actions' starts, ends and return values, "
            "and so the outcome, are not known.",
            "  System identifier: 08FC (from the firmware tables)",
            "  not known (the engine's lines are in a language this report does not read)",
            "Outcome: not known (the engine's lines are in a language this report does not read)",
            "Not found in the log: the engine's lines in a language this report reads (English, Japanese)",
        ]:
            with self.subTest(line=line):
                self.assertIn(line, lines)
        self.assertFalse([line for line in lines if "another product" in line or "cut short" in line], lines)

    def test_never_fails_on_a_log_cut_anywhere_or_on_rubbish(self):
        rubbish = [b"", codecs.BOM_UTF16_LE, b"\xff\xfe\x00", bytes(range(256)) * 20,
                   b"Action ended 1:00:00: INSTALL. Return value 3.\n" * 3,
                   b"Action start 1:00:00: caKVILPreInstall.\nInstalling feature \n",
                   b"Rollback: x\nAction 1:00:00: Rollback.\n" + b"x" * 100000,
                   b"MSI (s) (3C:40) [10:21:04:473]: Executing op: CustomActionSchedule(Action=,ActionType=x)\n"]
        random.seed(19)
        for log in sorted(LOGS.glob("*.log")):
            raw = log.read_bytes()
            rubbish += [raw[:cut] for cut in range(0, len(raw), 997)]
            rubbish.append(bytes(b if random.random() > 0.01 else random.randrange(256) for b in raw))
        for raw in rubbish:
            with self.subTest(start=raw[:40], size=len(raw)):
                lines = report_text.report(cli.parse(raw), exit_status=67, journal=[])
                self.assertTrue(any(line.startswith("Outcome: ") for line in lines))

    def test_reads_each_way_a_log_is_stored(self):
        text = "Action start 9:14:41: caKVILSystemCheck.\r\nC:\\Users\\René\r\n"
        # Valid in code page 932 too, but holds no Japanese engine line.
        french = text.replace("René", "Ménétrier")
        folder = "C:\\ユーザー\r\n"
        for raw, expected, how in [
            (codecs.BOM_UTF16_LE + text.encode("utf-16-le"), text, "UTF-16 with a byte-order mark"),
            (codecs.BOM_UTF16_BE + text.encode("utf-16-be"), text, "UTF-16 with a byte-order mark"),
            (text.encode("utf-16-le"), text, "UTF-16 without a byte-order mark"),
            (codecs.BOM_UTF8 + text.encode("utf-8"), text, "UTF-8 with a byte-order mark"),
            (text.encode("cp1252"), text, "ANSI text (code page 1252)"),
            (french.encode("cp1252"), french, "ANSI text (code page 1252)"),
            (JAPANESE.encode("cp932"), JAPANESE, "ANSI text (code page 932)"),
            (folder.encode("cp932"), folder.encode("cp932").decode("cp1252", errors="replace"),
             "ANSI text (code page 1252)"),
        ]:
            with self.subTest(how=how, start=raw[:4]):
                self.assertEqual(report_reading.decode(raw), (expected, how))

    def test_a_japanese_log_cut_inside_a_character(self):
        raw = JAPANESE.encode("cp932")
        text, how = report_reading.decode(raw[:-3])  # "。" and half of "了"
        self.assertEqual((text, how), (JAPANESE[:-2], "ANSI text (code page 932)"))

    def test_failure_values_of_each_engine(self):
        wine, windows = cli.parse("Action ended 1:00:00: X. Return value 0."), cli.parse(
            "MSI (s) (3C:40) [10:21:04:473]: Doing action: X")
        for log, value, failed in [(wine, 0, True), (wine, 1, False), (windows, 3, True), (windows, 0, False),
                                   (windows, 1, False), (windows, 2, False)]:
            with self.subTest(engine=log.engine, value=value):
                self.assertEqual(log.failure(value), failed)

    def test_command_line(self):
        for args, status, output in [
            ([LOGS / "wine-failed-rolled-back.log", "--exit-status", "67"], 0,
             "  It was installing the feature IWS (phase PreInstall)"),
            ([LOGS / "wine-failed-rolled-back.log", "--journal", LOGS / "wine-failed-journal.txt"], 0,
             "  ExecuteCommands PreInstall: iws.ini = 3"),
            ([LOGS / "wine-japanese-full-ui.log"], 0,
             "(Wine's installer writing in Japanese, ANSI text (code page 932), 408 lines)"),
            ([LOGS / "no-such.log"], 2, "kvilreport: cannot read the log"),
            # A folder: the fleet summary, one line per file.
            ([LOGS], 0, "wine-removal.log: removal; succeeded; exit status not known"),
            ([LOGS / "wine-removal.log", "--journal", LOGS / "no-such.txt"], 2, "kvilreport: cannot read the journal"),
        ]:
            with self.subTest(args=[pathlib.Path(a).name for a in args]):
                run = subprocess.run([sys.executable, "-m", "kvilreport", *args], capture_output=True, text=True,
                                     cwd=ROOT / "report")
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertIn(output, run.stdout + run.stderr)


class Leftovers(unittest.TestCase):
    """The demo's listing of what a run left: what the actions' own steps
    leave before caKVILFinalize ran is named apart from anything else."""

    class Machine:
        def __init__(self, files):
            self.files = files

        def services(self):
            return []

        def registry(self):
            return []

        def product_files(self, temp_folder):
            return self.files

    def listing(self, files, finalized):
        import demo  # reads KVILMSI64.def through kvildemo
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            demo.leftovers(self.Machine(files), "users/root/Temp/{9491}", "on the machine", finalized)
        return out.getvalue().splitlines()

    def test_expected_and_unexpected(self):
        stopped = ["Program Files/tempini/hwlist.ini", "users/root/Temp/kviltmpmn", "users/root/Temp/{9491}/KVIL64.dll"]
        for files, finalized, expected in [
            (stopped, False, ["  left by the qualification's own steps, as expected when caKVILFinalize has not run:",
                              "    C:/Program Files/tempini (1 file): the hardware-list lookup's work folder with its "
                              "copy of hwlist.ini",
                              "    C:/users/root/Temp/kviltmpmn: caKVILCheckTEMP's work folder (CP_TEMPDIR)",
                              # the package removes its support folder at the end of every run
                              "  not expected: C:/users/root/Temp/{9491} (1 file)"]),
            (stopped + ["Program Files/tempini/iws.ini", "Program Files/Tavrin/SysMgt/IWS.txt"], False,
             ["  not expected: C:/users/root/Temp/{9491} (1 file), C:/Program Files/tempini (1 file), "
              "C:/Program Files/Tavrin/SysMgt (1 file)"]),
            (["tempini", "users/root/Temp/kvil100.txt"], False,
             ["    C:/tempini: the shared data file's folder",
              "    C:/users/root/Temp/kvil100.txt: caKVILWriteInfo's copy of the shared data file"]),
            (stopped, True, ["  files: C:/Program Files/tempini (1 file), C:/users/root/Temp/kviltmpmn, "
                             "C:/users/root/Temp/{9491} (1 file)"]),
            ([], True, ["  files: none"]),
            (["users/root/Temp/KVSAPrefsExportLog.txt", "users/root/Temp/KVSAPrefsImportLog.txt"], True,
             ["  left by the preferences export and import, as after every run that reaches them:",
              "    C:/users/root/Temp/KVSAPrefsExportLog.txt: the preferences export's log",
              "    C:/users/root/Temp/KVSAPrefsImportLog.txt: the preferences import's log", "  files: none"]),
        ]:
            lines = self.listing(files, finalized)
            for line in expected:
                with self.subTest(files=files, finalized=finalized, line=line):
                    self.assertIn(line, lines)


if __name__ == "__main__":
    unittest.main(verbosity=2)

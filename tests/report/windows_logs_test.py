"""The report on Windows Installer logs of any product, as Windows writes
them on a server: short excerpts in the format of real verbose logs (the
script's operations, a rollback script, the old version's removal nested in
a major upgrade, closing lines of each kind and language, /l* logs), each
checked through the JSON a fleet tool reads; and the fleet summary of a
folder. Plain Python: no Wine needed.

  windows_logs_test.py [unittest arguments]
"""
import codecs
import contextlib
import io
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import types
import unittest
from unittest import mock

REPORT = pathlib.Path(__file__).resolve().parents[2] / "report"
sys.path.insert(0, str(REPORT))
from kvilreport import cli, product  # noqa: E402
from kvilreport import fleet as report_fleet  # noqa: E402
from kvilreport import json_report as report_json  # noqa: E402
from kvilreport import reading as report_reading  # noqa: E402
from kvilreport import text as report_text  # noqa: E402


def windows(text, thread="D0:A0"):
    """A log in Windows' format: "@ " starts an engine line of the server
    (its prefix written out), "@XX:YY " one of another thread."""
    lines = []
    for line in text.strip("\n").splitlines():
        line = line.strip()
        if line.startswith("@"):
            pair, line = (line[1:6], line[7:]) if line[1] != " " else (thread, line[2:])
            line = f"MSI (s) ({pair}) [21:24:36:743]: {line}"
        lines.append(line)
    return "\r\n".join(lines) + "\r\n"


def as_json(text, **options):
    log = cli.parse(text.encode("utf-16"))
    return report_json.as_json(product.findings(log, **options), "server.log")


START = """
=== Verbose logging started: 31.01.2022  21:24:51  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
@ Command Line: CURRENTDIRECTORY=c:\\setup CLIENTUILEVEL=3 CLIENTPROCESSID=14244
Action start 21:24:36: INSTALL.
Action start 21:24:36: LaunchConditions.
Action ended 21:24:36: LaunchConditions. Return value 1.
Action start 21:24:36: InstallInitialize.
Action ended 21:24:36: InstallInitialize. Return value 1.
Action start 21:24:36: InstallFiles.
Action ended 21:24:36: InstallFiles. Return value 1.
Action start 21:24:36: WriteSettings.
Action ended 21:24:36: WriteSettings. Return value 1.
Action start 21:24:36: InstallFinalize.
@ Executing op: Header(Signature=1397708873,Version=500,Timestamp=1413458707,LangId=1033,Platform=0,ScriptType=1,ScriptMajorVersion=21,ScriptMinorVersion=4,ScriptAttributes=1)
@ Executing op: ProductInfo(ProductKey={89AE375F-37F6-4C86-A44E-7FDEBAFD1BC2},ProductName=Example App,PackageName=app.msi,Language=1033)
Action 21:24:36: GenerateScript. Generating script operations for action:
@ Executing op: RollbackInfo(,RollbackAction=Rollback,RollbackDescription=Rolling back action:,CleanupAction=RollbackCleanup)
@ Executing op: ActionStart(Name=InstallFiles,Description=Copying new files,Template=File: [1],  Directory: [9],  Size: [6])
@ Executing op: FileCopy(SourceName=app.dll,SourceCabKey=app.dll,DestName=app.dll,Attributes=512,FileSize=1024)
@ File: C:\\Program Files\\Example\\app.dll;	To be installed;	Won't patch;	No existing file
"""
DEFERRED_FAILS = START + """
@ Executing op: ActionStart(Name=WriteSettings,,)
@ Executing op: CustomActionSchedule(Action=WriteSettings,ActionType=1025,Source=BinaryData,Target=WriteSettings,)
CustomAction WriteSettings returned actual error code 1603 (note this may not be 100% accurate if translation happened inside sandbox)
@ Product: Example App -- Error 1722. There is a problem with this Windows Installer package.
Action ended 21:24:37: InstallFinalize. Return value 3.
"""
COPY_FAILS = START + """
@ Product: Example App -- Error 1310. Error writing to file: C:\\Program Files\\Example\\app.dll. Verify that you have access to that directory.
Action ended 21:24:37: InstallFinalize. Return value 3.
"""
ROLLBACK = """
@ Executing op: Header(Signature=1397708873,Version=500,Timestamp=1413458707,LangId=1033,Platform=0,ScriptType=2,ScriptMajorVersion=21,ScriptMinorVersion=4,ScriptAttributes=1)
@ Note: 1: 1402 2: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Rollback\\Scripts 3: 2
@ Executing op: RollbackInfo(,RollbackAction=Rollback,RollbackDescription=Rolling back action:,CleanupAction=RollbackCleanup)
Action 21:24:37: RollbackCleanup. Removing backup files
@ Executing op: ActionStart(Name=InstallFiles,Description=Copying new files,)
@ Executing op: FileRemove(,FileName=C:\\Program Files\\Example\\app.dll,,)
@ Executing op: End(Checksum=0,ProgressTotalHDWord=0,ProgressTotalLDWord=0)
"""
END = """
Action ended 21:24:37: INSTALL. Return value 3.
Property(S): ProductName = Example App
Property(S): ProductVersion = 2.0.0
Property(S): ACTION = INSTALL
@ MainEngineThread is returning 1603
@ Windows Installer installed the product. Product Name: Example App. Product Version: 2.0.0. Product Language: 1033. Manufacturer: Example. Installation success or error status: 1603.
=== Verbose logging stopped: 31.01.2022  21:24:37 ===
"""
# The old version's removal, nested in a major upgrade: its lines carry a
# thread of their own.
UPGRADE = """
=== Verbose logging started: 31.01.2022  21:53:01  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
@6C:A4 Command Line: CURRENTDIRECTORY=c:\\setup CLIENTUILEVEL=0 CLIENTPROCESSID=22720
Action start 21:53:02: INSTALL.
Action start 21:53:02: FindRelatedProducts.
FindRelatedProducts: Found application: {7D548A47-D599-4728-9309-7DF7C04AF04D}
Action ended 21:53:02: FindRelatedProducts. Return value 1.
Action start 21:53:02: InstallValidate.
Action ended 21:53:02: InstallValidate. Return value 1.
Action start 21:53:02: RemoveExistingProducts.
@6C:AC Command Line: UPGRADINGPRODUCTCODE={515DE46E-BD54-4FA3-87F3-3F993961979C} CLIENTPROCESSID=22720 CLIENTUILEVEL=3 REMOVE=ALL
@6C:AC PROPERTY CHANGE: Adding Installed property. Its value is '00:00:00'.
Action start 21:53:02: INSTALL.
Action start 21:53:02: InstallInitialize.
@6C:AC Product: Example App -- Error 1730. You must be an Administrator to remove this application.
Action ended 21:53:02: InstallInitialize. Return value 3.
Action ended 21:53:02: INSTALL. Return value 3.
CustomAction  returned actual error code 1603 (note this may not be 100% accurate if translation happened inside sandbox)
Action ended 21:53:02: RemoveExistingProducts. Return value 3.
Action ended 21:53:02: INSTALL. Return value 3.
@6C:A4 Windows Installer installed the product. Product Name: Example App. Product Version: 2.0.0. Product Language: 1033. Manufacturer: Example. Installation success or error status: 1603.
"""
# The old version cannot be removed at all (its source is gone).
NO_REMOVAL = """
=== Verbose logging started: 31.01.2022  21:53:01  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
Action start 21:53:02: INSTALL.
Action start 21:53:02: RemoveExistingProducts.
@ Product: Example App -- Error 1714. The older version of Example App cannot be removed. System Error 1612.
Action ended 21:53:02: RemoveExistingProducts. Return value 3.
Action ended 21:53:02: INSTALL. Return value 3.
@ Windows Installer installed the product. Product Name: Example App. Product Version: 2.0.0. Product Language: 1033. Manufacturer: Example. Installation success or error status: 1603.
"""
# A /l* log (not verbose) of a French Windows: the engine's lines and the
# closing line translated; the status still ends it.
FRENCH_NOT_VERBOSE = """
=== Logging started: 4/25/2015  4:25:27 ===
Début de l'action 4:25:27 : INSTALL.
Début de l'action 4:25:27 : InstallFiles.
Produit : Example App -- Erreur 1310.
Fin de l'action 4:25:28 : InstallFiles. Valeur renvoyée : 3.
Fin de l'action 4:25:28 : INSTALL. Valeur renvoyée : 3.
=== Logging stopped: 4/25/2015  4:25:28 ===
Windows Installer a installé le produit. Nom du produit : Example App. Version du produit : 2.0.0. Langue du produit : 1036. Fabricant : Example. Réussite de l’installation ou état d’erreur : 1603.
"""
# A verbose log of a German Windows: the actions' starts and ends and the
# closing line translated; the script's operations and error codes are not.
GERMAN = """
=== Verbose logging started: 31.01.2022  21:24:51  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
Aktion gestartet um 21:24:36: INSTALL.
Aktion gestartet um 21:24:36: InstallFinalize.
@ Executing op: ActionStart(Name=WriteSettings,,)
@ Executing op: CustomActionSchedule(Action=WriteSettings,ActionType=1025,Source=BinaryData,Target=WriteSettings,)
CustomAction WriteSettings returned actual error code 1603 (note this may not be 100% accurate if translation happened inside sandbox)
Aktion beendet um 21:24:37: InstallFinalize. Rückgabewert 3.
""" + ROLLBACK.replace("Action 21:24:37: RollbackCleanup. Removing backup files",
                       "Aktion 21:24:37: RollbackCleanup. Sicherungsdateien werden entfernt") + """
Aktion beendet um 21:24:37: INSTALL. Rückgabewert 3.
@ Windows Installer hat das Produkt installiert. Produktname: Example App. Fehler- oder Erfolgsstatus der Installation: 1603.
"""
CHANGE_NOT_VERBOSE = """
=== Logging started: 4/25/2015  4:25:27 ===
Action start 4:25:27: INSTALL.
Action start 4:25:27: MigrateFeatureStates.
Action ended 4:25:27: MigrateFeatureStates. Return value 0.
Action ended 4:25:28: INSTALL. Return value 1.
=== Logging stopped: 4/25/2015  4:25:28 ===
Windows Installer reconfigured the product. Product Name: Example App. Product Version: 2.0.0. Product Language: 1033. Manufacturer: Example. Reconfiguration success or error status: 0.
"""
CONTINUE_MARKING = """
=== Verbose logging started: 31.01.2022  21:24:51  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
Action start 21:24:36: INSTALL.
Action start 21:24:36: CheckOptionalTool.
CustomAction CheckOptionalTool returned actual error code 1603 but will be translated to success due to continue marking
Action ended 21:24:36: CheckOptionalTool. Return value 1.
Action ended 21:24:37: INSTALL. Return value 1.
Property(S): ProductName = Example App
Property(S): REBOOT = ReallySuppress
@ Windows Installer installed the product. Product Name: Example App. Product Version: 2.0.0. Product Language: 1033. Manufacturer: Example. Installation success or error status: 0.
"""
STOPPED = """
=== Verbose logging started: 05.02.2022  14:07:26  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
Action start 14:07:26: INSTALL.
Action start 14:07:26: LaunchConditions.
@ Product: Example App -- This product needs a server edition of Windows.
Action ended 14:07:27: LaunchConditions. Return value 3.
Action ended 14:07:27: INSTALL. Return value 3.
Property(C): ProductName = Example App
Property(C): REBOOT = Force
@ Windows Installer installed the product. Product Name: Example App. Product Version: 2.0.0. Product Language: 1033. Manufacturer: Example. Installation success or error status: 1603.
"""
# The script fails at one of its own operations (Error 1925), before any
# action; its rollback script has nothing to undo.
FIRST_OPERATION_FAILS = """
=== Verbose logging started: 31.01.2022  21:24:51  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
Action start 21:24:36: INSTALL.
Action start 21:24:36: InstallFinalize.
@ Executing op: Header(Signature=1397708873,Version=500,Timestamp=1413458707,LangId=1033,Platform=0,ScriptType=1,ScriptMajorVersion=21,ScriptMinorVersion=4,ScriptAttributes=1)
@ Executing op: ProductInfo(ProductKey={89AE375F-37F6-4C86-A44E-7FDEBAFD1BC2},ProductName=Example App (x64),PackageName=app.msi,Language=1033)
@ Product: Example App (x64) -- Error 1925. You do not have sufficient privileges to complete this installation for all users of the machine.
Action ended 21:24:37: InstallFinalize. Return value 3.
@ Executing op: Header(Signature=1397708873,Version=500,Timestamp=1413458707,LangId=1033,Platform=0,ScriptType=2,ScriptMajorVersion=21,ScriptMinorVersion=4,ScriptAttributes=1)
@ Executing op: End(Checksum=0,ProgressTotalHDWord=0,ProgressTotalLDWord=0)
Action ended 21:24:37: INSTALL. Return value 3.
"""
# An immediate custom action fails without a message of its own.
IMMEDIATE_FAILS = """
=== Verbose logging started: 05.02.2022  14:07:26  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
Action start 14:07:26: INSTALL.
Action start 14:07:26: CheckLicense.
Action ended 14:07:27: CheckLicense. Return value 3.
Action ended 14:07:27: INSTALL. Return value 3.
@ Windows Installer installed the product. Product Name: Example App. Product Version: 2.0.0. Product Language: 1033. Manufacturer: Example. Installation success or error status: 1603.
"""
# A run on the installed product that policy forbids before any action.
MAINTENANCE_REFUSED = """
=== Verbose logging started: 05.02.2022  14:07:26  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
@ Command Line: CURRENTDIRECTORY=c:\\setup CLIENTUILEVEL=3 CLIENTPROCESSID=14244
@ Product registered: entering maintenance mode
@ PROPERTY CHANGE: Adding ProductState property. Its value is '5'.
@ Product: Example App -- Error 1625. This installation is forbidden by system policy.
@ MainEngineThread is returning 1625
=== Verbose logging stopped: 05.02.2022  14:07:27 ===
"""
# The full interface: the engine's run (the server's INSTALL) inside the
# client's ExecuteAction.
FULL_INTERFACE = """
=== Verbose logging started: 05.02.2022  14:07:26  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
@A4:0C Command Line: CURRENTDIRECTORY=c:\\setup CLIENTUILEVEL=0 CLIENTPROCESSID=14244
Action start 14:07:26: INSTALL.
Action start 14:07:26: ExecuteAction.
@ Command Line: CURRENTDIRECTORY=c:\\setup CLIENTUILEVEL=0 CLIENTPROCESSID=14244
Action start 14:07:27: INSTALL.
Action ended 14:07:29: INSTALL. Return value 1.
Property(S): ProductName = Example App
Property(S): ProductVersion = 2.0.0
Action ended 14:07:29: ExecuteAction. Return value 1.
Action ended 14:07:29: INSTALL. Return value 1.
@A4:0C Windows Installer installed the product. Product Name: Example App. Product Version: 2.0.0. Product Language: 1033. Manufacturer: Example. Installation success or error status: 0.
"""
RUSSIAN_NOT_VERBOSE = FRENCH_NOT_VERBOSE.replace(FRENCH_NOT_VERBOSE.splitlines()[-1],
                                                 "Установщик Windows выполнил установку продукта. Имя продукта: Example "
                                                 "App. Версия продукта: 2.0.0. Язык продукта: 1049. Изготовитель: "
                                                 "Example. Установка завершена с состоянием: 1603.")
# This product's rollback action, its type without the rollback flag: it
# runs (and writes its version line) in the immediate sequence.
MISPLACED_ROLLBACK = """
=== Verbose logging started: 05.02.2022  14:07:26  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
Action start 14:07:26: INSTALL.
Action start 14:07:26: caKVILPreInstallRollback.
caKVILPreInstallRollback: KVILMSI64.dll 9.1.0.0
Action ended 14:07:27: caKVILPreInstallRollback. Return value 1.
Action start 14:07:27: caKVILPostInstallRollback.
caKVILPostInstallRollback: KVILMSI64.dll 9.1.0.0
Action ended 14:07:27: caKVILPostInstallRollback. Return value 3.
Action ended 14:07:27: INSTALL. Return value 3.
@ Windows Installer installed the product. Product Name: Orvessa Server Administrator. Product Version: 9.1.0. Product Language: 1033. Manufacturer: Tavrin. Installation success or error status: 1603.
"""
FAILED = {"product": "Example App", "kind": "install", "outcome": "failed", "exit_status": 1603, "restart": False,
          "cut": False, "features": None, "stop_message": None}


def cut_after(text, last):
    return text[:text.index("\n", text.index(last)) + 1]


class WindowsLogs(unittest.TestCase):
    def test_json_of_each_kind_of_log(self):
        cut = {"cut": True, "exit_status": None, "restart": None}
        for what, text, expected in [
            ("a deferred action fails; the rollback script undoes the files, no rollback action runs",
             windows(DEFERRED_FAILS + ROLLBACK + END),
             dict(FAILED, failed_action="WriteSettings", failed_in="script", rolled_back=True)),
            ("a standard action fails in the script (error 1310), then the rollback script",
             windows(COPY_FAILS + ROLLBACK + END),
             dict(FAILED, failed_action="InstallFiles", failed_in="script", rolled_back=True)),
            ("a rollback script that undoes nothing", windows(DEFERRED_FAILS + ROLLBACK.split("Action 21")[0] + END),
             dict(FAILED, failed_action="WriteSettings", rolled_back=True)),
            ("the script fails at its first operation; nothing to undo; no closing line or end of the log",
             windows(FIRST_OPERATION_FAILS),
             dict(FAILED, product="Example App (x64)", kind=None, exit_status=None, restart=None, cut=True,
                  failed_action="InstallFinalize",
                  failed_in="script", rolled_back=True)),
            ("an immediate custom action fails without a stop message", windows(IMMEDIATE_FAILS),
             dict(FAILED, failed_action="CheckLicense", failed_in="before the script", rolled_back=False)),
            ("a run on the installed product refused by policy (1625)", windows(MAINTENANCE_REFUSED),
             dict(FAILED, kind="change", exit_status=1625, rolled_back=False)),
            ("the same, a repair", windows(MAINTENANCE_REFUSED.replace("CLIENTUILEVEL=3", "REINSTALL=ALL")),
             dict(FAILED, kind="repair", exit_status=1625, rolled_back=False)),
            ("the engine's run ended, the log cut in its property list",
             windows(cut_after(FULL_INTERFACE, "Property(S): ProductName")),
             dict(FAILED, outcome="succeeded", exit_status=None, restart=False, cut=True, rolled_back=False)),
            ("the full interface, whole", windows(FULL_INTERFACE),
             dict(FAILED, outcome="succeeded", exit_status=0, cut=False, rolled_back=False)),
            ("not verbose, Russian: a closing line that begins in other words", RUSSIAN_NOT_VERBOSE,
             dict(FAILED, kind=None, product=None, failed_action="InstallFiles", failed_in=None,
                  rolled_back=None)),
            ("this product's rollback action of the wrong type runs and fails before the script",
             windows(MISPLACED_ROLLBACK),
             dict(FAILED, product="Orvessa Server Administrator", failed_action="caKVILPostInstallRollback",
                  failed_in="before the script", rolled_back=False, dll_versions=["9.1.0.0"],
                  misplaced_rollback_actions=[{"name": "caKVILPreInstallRollback", "kit_type": 3329},
                                              {"name": "caKVILPostInstallRollback", "kit_type": 3329}],
                  features=[])),
            ("cut short after the action's error code", windows(cut_after(DEFERRED_FAILS, "returned actual error")),
             dict(FAILED, **cut, failed_action="WriteSettings", failed_in="script", rolled_back=None)),
            ("cut short after the script's failure, the product named by the script only",
             windows(cut_after(COPY_FAILS, "InstallFinalize. Return value 3.")),
             dict(FAILED, **cut, failed_action="InstallFiles", failed_in="script", rolled_back=None)),
            ("cut short in the rollback script", windows(cut_after(COPY_FAILS + ROLLBACK, "FileRemove")),
             dict(FAILED, **cut, failed_action="InstallFiles", rolled_back=True)),
            ("cut short in the script before any failure; REBOOT = Force",
             windows(START.replace("CLIENTPROCESSID=14244", "CLIENTPROCESSID=14244\n"
                                   "@ PROPERTY CHANGE: Adding REBOOT property. Its value is 'Force'.")),
             dict(FAILED, **cut, outcome=None, failed_action=None, failed_in=None, rolled_back=None)),
            ("a failed run; REBOOT = Force",
             windows(DEFERRED_FAILS + ROLLBACK
                     + END.replace("ACTION = INSTALL", "ACTION = INSTALL\nProperty(S): REBOOT = Force")),
             dict(FAILED, failed_action="WriteSettings", failed_in="script", rolled_back=True)),
            ("the old version's removal fails in a major upgrade", windows(UPGRADE, thread="6C:A4"),
             dict(FAILED, kind="major upgrade", failed_action="RemoveExistingProducts",
                  failed_in="old version's removal", rolled_back=False)),
            ("the old version cannot be removed (error 1714)", windows(NO_REMOVAL),
             dict(FAILED, kind="major upgrade", failed_action="RemoveExistingProducts",
                  failed_in="old version's removal", rolled_back=False)),
            ("not verbose, French: the words of the actions' lines learned from the log", FRENCH_NOT_VERBOSE,
             dict(FAILED, kind=None, product=None, failed_action="InstallFiles", failed_in=None,
                  rolled_back=None)),
            ("not verbose, a closing line that ends with an East Asian full stop",
             FRENCH_NOT_VERBOSE.replace(FRENCH_NOT_VERBOSE.splitlines()[-1],
                                        "Windows Installer により製品がインストールされました。製品名: Example App。"
                                        "インストールの成功またはエラー状態: 1603。"),
             dict(FAILED, kind=None, product=None, failed_action="InstallFiles", failed_in=None,
                  rolled_back=None)),
            ("German", windows(GERMAN),
             dict(FAILED, kind=None, product=None, failed_action="WriteSettings", failed_in="script",
                  rolled_back=True)),
            ("German, cut short after the action's error code", windows(cut_after(GERMAN, "returned actual error")),
             dict(FAILED, **cut, kind=None, product=None, failed_action="WriteSettings", failed_in="script",
                  rolled_back=None)),
            ("a failed run, then a run that succeeded appended to the same log",
             windows(DEFERRED_FAILS + ROLLBACK + END + CONTINUE_MARKING),
             dict(FAILED, outcome="succeeded", exit_status=0, failed_action=None, failed_in=None,
                  rolled_back=False)),
            ("not verbose, a run appended to a change",
             CHANGE_NOT_VERBOSE + FRENCH_NOT_VERBOSE.replace("Début de l'action", "Action start").replace(
                 "Fin de l'action", "Action ended").replace(" : ", ": ").replace("Valeur renvoyée: ", "Return value "),
             dict(FAILED, kind=None, product=None, failed_action="InstallFiles", failed_in=None,
                  rolled_back=None)),
            ("not verbose, a change", CHANGE_NOT_VERBOSE,
             dict(FAILED, kind="change", outcome="succeeded", exit_status=0, rolled_back=False)),
            ("continue marking; REBOOT = ReallySuppress", windows(CONTINUE_MARKING),
             dict(FAILED, outcome="succeeded", exit_status=0, failed_action=None, failed_in=None,
                  rolled_back=False)),
            ("stopped by a launch condition; REBOOT = Force", windows(STOPPED),
             dict(FAILED, outcome="stopped", failed_action="LaunchConditions", failed_in="before the script",
                  rolled_back=False, stop_message="This product needs a server edition of Windows.")),
        ]:
            found = as_json(text)
            with self.subTest(what):
                self.assertEqual(list(found), report_json.KEYS)
                self.assertEqual({key: found[key] for key in expected}, expected)

    def test_text_of_a_windows_log(self):
        log = cli.parse(windows(DEFERRED_FAILS + ROLLBACK + END))
        lines = report_text.report(log)
        for line in ["Product: Example App 2.0.0; run: install",
                     "  in the installation script: WriteSettings (error code 1603) FAILED",
                     "Outcome: FAILED in WriteSettings in the installation script",
                     "  Rolled back: yes (the rollback script undid the script's operations; no rollback action ran)",
                     "  Exit status in the log: 1603 (fatal error during installation)"]:
            with self.subTest(line=line):
                self.assertIn(line, lines)
        # The engine's own steps are no custom actions.
        self.assertFalse([line for line in lines if "GenerateScript" in line or "RollbackCleanup" in line])
        appended = report_text.report(cli.parse(windows(DEFERRED_FAILS + ROLLBACK + END + CONTINUE_MARKING)))
        self.assertIn("The log holds 2 runs, one after another (msiexec /l*v+ appends): this report is of the last.",
                      appended)
        change = report_text.report(cli.parse(CHANGE_NOT_VERBOSE))
        self.assertEqual(change[:2], ["Not a verbose log (msiexec /l* without v): it lacks most of the engine's lines "
                                      "and the property list; the kind of run comes from its closing line.",
                                      "Product: Example App; run: change or repair (maintenance)"])
        # A whole log that is not verbose has no property list: nothing missing.
        self.assertFalse([line for line in change if "properties" in line])
        for what, text, expected in [
            ("the script's own operation fails", FIRST_OPERATION_FAILS, [
                "Product: Example App (x64); run: install",
                "Outcome: FAILED in InstallFinalize in the installation script",
                "    Error 1925. You do not have sufficient privileges to complete this installation "
                "for all users of the machine.",
                "  Rolled back: yes, with nothing to undo (the rollback script ran and held no undo operation)"]),
            ("a commit action the failed script only recorded", DEFERRED_FAILS.replace(
                "@ Executing op: ActionStart(Name=WriteSettings,,)",
                "@ Executing op: ActionStart(Name=CommitSettings,,)\nAction 21:24:36: CommitSettings.\n"
                "@ Executing op: CustomActionSchedule(Action=CommitSettings,ActionType=1537,Source=BinaryData,"
                "Target=CommitSettings,)\n@ Executing op: ActionStart(Name=WriteSettings,,)") + ROLLBACK + END, [
                "  in the installation script: WriteSettings (error code 1603) FAILED"]),
            ("maintenance, change or repair not told", MAINTENANCE_REFUSED, [
                "Product: Example App; run: change or repair (maintenance)",
                "  Exit status in the log: 1625"]),
            ("cut after the engine's run ended", cut_after(FULL_INTERFACE, "Property(S): ProductName"), [
                "Outcome: succeeded", "  The log is cut short: the run had ended, but its last lines are missing"]),
            ("this product's rollback action of the wrong type", MISPLACED_ROLLBACK, [
                "KVILMSI64.dll: version 9.1.0.0",
                "Outcome: FAILED in caKVILPostInstallRollback before the installation script",
                "  immediate: caKVILPreInstallRollback 1, caKVILPostInstallRollback 3 FAILED",
                "  caKVILPreInstallRollback ran before the installation script, outside any rollback: its custom "
                "action type in the package lacks the rollback flag (the kit gives it type 3329)"]),
        ]:
            lines = report_text.report(cli.parse(windows(text)))
            for line in expected:
                with self.subTest(what, line=line):
                    self.assertIn(line, lines)
        # A file with nothing of an installer in it is not called one.
        other = report_text.report(cli.parse("total 8\n-rw-r--r-- 1 root root 12 notes.txt\n", "ANSI text"),
                                  source="notes.txt")
        self.assertEqual(other[:3], ["Log: notes.txt (no line of an installer, ANSI text, 2 lines)",
                                     "Product: not read from the log",
                                     "No action, status or property of an installer in it: not an installer's log, "
                                     "or cut before its first action."])
        empty = report_text.report(cli.parse("", "ANSI text"), source="empty.log")
        self.assertEqual(empty[:3], ["Log: empty.log (no line of an installer, ANSI text, 0 lines)",
                                     "Product: not read from the log", "The log is empty."])
        upgrade = report_text.report(cli.parse(windows(UPGRADE, thread="6C:A4")))
        self.assertIn("Outcome: FAILED: the old version could not be removed (RemoveExistingProducts: its removal "
                      "failed in InstallInitialize)", upgrade)
        self.assertIn("  The engine said: Error 1730. You must be an Administrator to remove this application.",
                      upgrade)

    def test_lines_read_block_by_block(self):
        # Blocks of a few bytes: a "\r\n", a UTF-16 unit and a double-byte
        # character cut between two blocks, and the log cut inside the last.
        text = "Action start 1:00:00: A.\r\nC:\\René\r\rアクション開始 1:00:00: B。\r\n\r\nend"
        for codec, cut in [("utf-16", 0), ("utf-16-le", 1), ("cp932", 1), ("cp1252", 0), ("utf-8", 0)]:
            raw = text.encode(codec, errors="replace")
            raw = raw[:len(raw) - cut]
            with tempfile.NamedTemporaryFile() as log:
                log.write(raw)
                log.flush()
                for block in (1, 2, 3, 5):
                    with self.subTest(codec=codec, block=block):
                        report_reading.BLOCK = block
                        self.assertEqual(list(report_reading.LogFile(log.name).lines()),
                                         report_reading.decode(raw)[0].splitlines())
        report_reading.BLOCK = 1 << 20

    def test_a_line_longer_than_any_installer_writes_is_read_in_pieces(self):
        # A log whose end is zeros or binary after a crash: its lines are
        # never held whole, whatever their length.
        with tempfile.NamedTemporaryFile() as log:
            log.write(b"Action start 1:00:00: A.\r\n" + b"x" * 10 + b"\r\n" + b"y" * 9)
            log.flush()
            report_reading.BLOCK, report_reading.LONGEST = 3, 4
            try:
                lines = list(report_reading.LogFile(log.name).lines())
                self.assertLessEqual(max(map(len, lines)), 4)
                self.assertEqual("".join(lines), "Action start 1:00:00: A." + "x" * 10 + "y" * 9)
            finally:
                report_reading.BLOCK, report_reading.LONGEST = 1 << 20, 1 << 16

    def test_fleet_summary_of_a_folder(self):
        script = [sys.executable, "-m", "kvilreport"]
        with tempfile.TemporaryDirectory() as folder:
            logs = pathlib.Path(folder)
            (logs / "a-server.log").write_bytes(codecs.BOM_UTF16_LE + windows(COPY_FAILS + ROLLBACK + END)
                                                .encode("utf-16-le"))
            (logs / "b-server.log").write_text(windows(CONTINUE_MARKING), encoding="cp1252")
            (logs / "c-server.log").write_text(windows(UPGRADE, thread="6C:A4"), encoding="cp1252")
            (logs / "d-server.log").mkdir()   # a subfolder: not read
            (logs / "e-notes.txt").write_text("nothing of an installer\n")
            os.mkfifo(logs / "f-pipe.log")    # never opened: it would wait for a writer
            (logs / "g-gone.log").symlink_to(logs / "no-such.log")
            (logs / "h-link.log").symlink_to(logs / "b-server.log")   # a link to a log is the log
            run = subprocess.run([*script, folder], capture_output=True, text=True, cwd=REPORT, timeout=60)
            lines = run.stdout.splitlines()
            self.assertEqual(lines[:7], [
                f"{logs / 'a-server.log'}: install; failed; at InstallFiles (script); "
                "exit status 1603 (fatal error during installation)",
                f"{logs / 'b-server.log'}: install; succeeded; exit status 0 (success)",
                f"{logs / 'c-server.log'}: major upgrade; failed; at RemoveExistingProducts (old version's removal); "
                "exit status 1603 (fatal error during installation)",
                f"{logs / 'e-notes.txt'}: no action, status or property of an installer in it (no installer's log, "
                "or cut before its first action)",
                f"{logs / 'f-pipe.log'}: cannot read the log: not a regular file: a FIFO",
                f"{logs / 'g-gone.log'}: cannot read the log: a link to nothing ({logs / 'no-such.log'} does not "
                "exist)",
                f"{logs / 'h-link.log'}: install; succeeded; exit status 0 (success)"])
            self.assertEqual(lines[7:], ["", "7 logs: 2 succeeded, 2 failed, 2 unreadable, 1 no installer log",
                                         "Failing steps: InstallFiles (script) 1, "
                                         "RemoveExistingProducts (old version's removal) 1",
                                         f"Subfolders not read: {logs / 'd-server.log'}"])
            self.assertEqual(run.returncode, 2)
            # Named alone, a FIFO is refused at once too.
            fifo = subprocess.run([*script, logs / "f-pipe.log"], capture_output=True, text=True, cwd=REPORT,
                                  timeout=60)
            self.assertEqual((fifo.returncode, fifo.stderr.strip()), (2, f"kvilreport: cannot read the log "
                                                                          f"{logs / 'f-pipe.log'}: not a regular "
                                                                          "file: a FIFO"))
            # A log that cannot be read is said in its line; the others are read.
            missing = subprocess.run([*script, logs / "z-server.log", logs / "b-server.log"],
                                     capture_output=True, text=True, cwd=REPORT)
            self.assertEqual(missing.stdout.splitlines()[:2], [
                f"{logs / 'z-server.log'}: cannot read the log: No such file or directory",
                f"{logs / 'b-server.log'}: install; succeeded; exit status 0 (success)"])
            self.assertEqual(missing.returncode, 2)
            as_json = subprocess.run([*script, "--json", logs / "a-server.log", logs / "c-server.log"],
                                     capture_output=True, text=True, cwd=REPORT)
            objects = [json.loads(line) for line in as_json.stdout.splitlines()]
            self.assertEqual([(o["failed_action"], o["rolled_back"]) for o in objects],
                             [("InstallFiles", True), ("RemoveExistingProducts", False)])
            refused = subprocess.run([*script, folder, "--exit-status", "1603"],
                                     capture_output=True, text=True, cwd=REPORT)
            self.assertEqual(refused.returncode, 2)
            self.assertIn("--journal and --exit-status belong to one log", refused.stderr)

    def test_fleet_with_a_folder_that_cannot_be_listed(self):
        with tempfile.TemporaryDirectory() as folder, mock.patch("kvilreport.fleet.os.listdir",
                                                                 side_effect=PermissionError(13, "Permission denied")):
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                status = cli.main([folder])
            self.assertEqual(out.getvalue().splitlines(), [f"{folder}: cannot list the folder: Permission denied", "",
                                                           "1 log: 1 unreadable", "Failing steps: none"])
            self.assertEqual(status, 2)

    def test_fleet_counts_in_a_fixed_order(self):
        def found(outcome, action=None):
            return types.SimpleNamespace(outcome=outcome, failed_action=action, failed_in="script" if action else None,
                                         empty=False)
        results = [None, found(None), found("succeeded"), found("failed", "A"), found("failed", "B"),
                   found("failed", "B")]
        self.assertEqual(report_fleet.counts(results), ["6 logs: 3 failed, 1 succeeded, 1 not known, 1 unreadable",
                                                        "Failing steps: B (script) 2, A (script) 1"])
        self.assertEqual(report_fleet.counts([]), ["0 logs", "Failing steps: none"])


if __name__ == "__main__":
    unittest.main(verbosity=2)

#!/usr/bin/env python3
"""Builds the demo package from the build's bin folder.

  build-package.py BIN OUT [--version X.Y.Z] [--profile package/profiles/default.ini]
                   [--language 1033|1031|1041] [--record-summary]

wixl compiles demo.wxs with the packager's fragment kvilmsi64-actions.wxi;
msibuild then adds what wixl cannot express: the custom action types, the
ISSetupFile table with its streams, the feature conditions, the
ready-to-install dialog and the stop messages. Actions whose export is not
(yet) in KVILMSI64.def are left out with their sequence rows, so the package
always runs what the DLL has. The version defaults to the release's, the
VERSION of the project in CMakeLists.txt. Every tool's output goes to OUT/build.log; a
failing step names itself and shows the end of that log.
"""
import argparse
import pathlib
import re
import shutil
import subprocess
import sys
import uuid

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent

# Feature key, title, status property, command file (the product's feature
# table order) and the application key an installed feature has.
FEATURES = [
    ("IWS", "Orvessa Web Server", "CP_IWSSTATUS", "iws.ini", "IWS"),
    ("SI", "Server Instrumentation", "CP_SASTATUS", "sa.ini", "DataEngine"),
    ("KVSS", "Storage Management", "CP_KVSMSTATUS", "kvsm.ini", "KVSM"),
    ("RmtMgmt", "Remote Enablement", "CP_SSASTATUS", "ssa.ini", "SSA"),
    ("WMI", "WMI", "CP_WMISTATUS", "wmi.ini", "WMI"),
    ("SNMP", "SNMP", "CP_SNMPSTATUS", "snmp.ini", "SNMP"),
    ("CLI", "Command Line Interface", "CP_CLISTATUS", "cli.ini", "KVACORE"),
    ("OSLOG", "Operating System Logging", "CP_OSLOGSTATUS", "oslog.ini", "OSLOG"),
    ("iVIRK", "VIRK Command Line Tools", "CP_iVIRK12GSTATUS", "ivirk12g_mn.ini", "iVIRKMN_12G"),
    ("NICInt", "Network Interface Card Integration", "CP_NICSTATUS", "nicint.ini", "NIC_INT"),
    ("INTEL", "Intel SNMP Agent", "CP_INTELSTATUS", "intel.ini", "IntelSNMPAgent"),
    ("BRCM", "Broadcom SNMP Agent", "CP_BRCMSTATUS", "brcm.ini", "BroadcomSNMPAgent"),
]
APPLICATIONS = r"SOFTWARE\Tavrin Computer Corporation\Kevana\Applications"

# Stop messages (type 19): name, condition, text; in both sequences after the
# qualification actions.
STOPS = [
    ("StopOlderSystem", 'NOT Installed AND CP_SUPPORTEDSYSTEM = "2"',
     "This server model is no longer supported by Orvessa Server Administrator. The installation stops."),
    ("StopNewerInstalled", "NOT Installed AND CP_NEWERFOUND",
     "A later version of Orvessa Server Administrator is already installed. The installation stops."),
    ("Stop32BitInstalled", 'NOT Installed AND CP_BLOCKx32_UPGRADE = "YES"',
     "A 32-bit installation of Orvessa Server Administrator is present; remove it first."),
    ("StopDisallowedSelection", 'NOT Installed AND CP_CUSTOMINPUTOK = "NO"',
     "The selection holds a feature that cannot be installed on this system. The installation stops."),
    ("StopNoManagementInterface", 'NOT Installed AND CP_NOMGMTINT = "YES"',
     "The selection has no way to manage the server. The installation stops."),
]
STOP_SEQUENCE = 1035

# The support-file clean-up at the end of a run that succeeded (-1), was
# cancelled (-2) or failed (-3).
END_OF_RUN = [("RemoveSupportFilesOnSuccess", -1), ("RemoveSupportFilesOnCancel", -2),
              ("RemoveSupportFilesOnFailure", -3)]
# Once the installation script has begun, a failure is followed by a rollback
# whose actions load the support library, and Wine runs the rollback after the
# -3 action (Windows before it). The rollback then removes the support files as
# its last step (it undoes the actions in reverse order), and the -3 action
# leaves them to it; Wine runs no rollback in a run with REINSTALL.
ROLLBACK_CLEANUP = "RemoveSupportFilesAfterRollback"
ROLLBACK_PENDING = f"NOT {ROLLBACK_CLEANUP} OR REINSTALL"

# Each feature's command file: every phase leaves a line in
# kvildemo-commands.txt in the Windows temp folder.
# IWS fails its PreInstall phase on purpose while "kvil-fail-preinstall.txt"
# is at the root of the system drive, to show a rollback.
COMMANDS = """; Command file of the feature {key}, run by ExecuteCommands of KVIL64.dll.
[PreInstall]
1=echo {key} %PHASE% %SYSTEMID% >> "%SystemRoot%\\temp\\kvildemo-commands.txt"
{fail}
[PreInstall.Rollback]
1=echo {key} %PHASE% rollback >> "%SystemRoot%\\temp\\kvildemo-commands.txt"

[PostInstall]
1=echo {key} %PHASE% >> "%SystemRoot%\\temp\\kvildemo-commands.txt"

[PostInstall.Rollback]
1=echo {key} %PHASE% rollback >> "%SystemRoot%\\temp\\kvildemo-commands.txt"

[PreUnInstall]
1=echo {key} %PHASE% >> "%SystemRoot%\\temp\\kvildemo-commands.txt"

[PostUnInstall]
1=echo {key} %PHASE% >> "%SystemRoot%\\temp\\kvildemo-commands.txt"
"""
FAIL = '2=if exist "%SystemDrive%\\kvil-fail-preinstall.txt" exit /b 3\n'

TYPES = {"immediate": 1, "deferred": 3073, "rollback": 3329, "commit": 3585}

DIALOG = {
    "Dialog": ("Dialog\tHCentering\tVCentering\tWidth\tHeight\tAttributes\tTitle\tControl_First\tControl_Default\tControl_Cancel\n"
               "s72\ti2\ti2\ti2\ti2\tI4\tL128\ts50\tS50\tS50\n"
               "Dialog\tDialog\n"
               "ReadyToInstall\t50\t50\t370\t270\t3\tReady to Install the Program\tSummaryText\tInstall\tCancel\n"),
    "Control": ("Dialog_\tControl\tType\tX\tY\tWidth\tHeight\tAttributes\tProperty\tText\tControl_Next\tHelp\n"
                "s72\ts50\ts20\ti2\ti2\ti2\ti2\tI4\tS72\tL0\tS50\tL50\n"
                "Control\tDialog_\tControl\n"
                "ReadyToInstall\tSummaryText\tScrollableText\t20\t20\t330\t200\t7\t\t{\\rtf1 }\tInstall\t\n"
                "ReadyToInstall\tInstall\tPushButton\t200\t235\t70\t20\t3\t\tInstall\tCancel\t\n"
                "ReadyToInstall\tCancel\tPushButton\t280\t235\t70\t20\t3\t\tCancel\tSummaryText\t\n"),
    "ControlEvent": ("Dialog_\tControl_\tEvent\tArgument\tCondition\tOrdering\n"
                     "s72\ts50\ts50\ts255\tS255\tI2\n"
                     "ControlEvent\tDialog_\tControl_\tEvent\tArgument\tCondition\n"
                     "ReadyToInstall\tInstall\tEndDialog\tReturn\t1\t1\n"
                     "ReadyToInstall\tCancel\tEndDialog\tExit\t1\t1\n"),
}


# The package's own texts in each language it can be built in (ProductLanguage,
# the database code page, SummaryText1..4). English is the text of demo.wxs.
LANGUAGES = {
    "1031": ("1252", {
        "SummaryText1": "Orvessa Server Administrator <product-version> wird installiert in:",
        "SummaryText2": "Diese Funktionen werden installiert:",
        "SummaryText3": "Diese Funktionen werden entfernt:",
        "SummaryText4": "Die Voraussetzungsprüfung wurde vor dieser Installation nicht ausgeführt.",
    }),
    "1041": ("932", {
        "SummaryText1": "Orvessa Server Administrator <product-version> のインストール先:",
        "SummaryText2": "次の機能がインストールされます:",
        "SummaryText3": "次の機能が削除されます:",
        "SummaryText4": "このインストールの前に前提条件チェッカーが実行されていません。",
    }),
}


class Builder:
    def __init__(self, out):
        self.out = out
        self.log = out / "build.log"
        self.log.write_text("")

    def run(self, step, *command, cwd=None):
        with self.log.open("a") as log:
            log.write(f"== {step}: {' '.join(map(str, command))}\n")
            log.flush()
            result = subprocess.run(list(map(str, command)), cwd=cwd, stdout=log, stderr=subprocess.STDOUT)
        if result.returncode != 0:
            tail = "".join(self.log.read_text().splitlines(True)[-30:])
            sys.exit(f"build-package: {step} failed (exit {result.returncode}); the end of {self.log}:\n{tail}")

    def sql(self, msi, step, query):
        self.run(step, "msibuild", msi, "-q", query)


def exports():
    names = []
    for line in (ROOT / "KVILMSI64.def").read_text().splitlines():
        line = line.strip()
        if re.fullmatch(r"caKVIL\w+", line):
            names.append(line)
    return names


def fragment_actions():
    """(id, type, dll entry or None) of every custom action of the kit."""
    text = (HERE / "kvilmsi64-actions.wxi").read_text()
    actions = []
    for attrs in re.findall(r"<CustomAction\s([^>]*)/>", text):
        a = dict(re.findall(r'(\w+)="([^"]*)"', attrs))
        if "DllEntry" in a:
            kind = TYPES[a.get("Execute", "immediate")]
            if a.get("Return") == "ignore":
                kind += 64
            actions.append((a["Id"], kind, a["DllEntry"]))
        else:
            actions.append((a["Id"], 51, None))
    return actions


def stage(bin_dir, work, profile):
    """Writes the support files and the feature files; returns the support file names."""
    support = work / "ISSetupFile"
    shutil.rmtree(work, ignore_errors=True)
    support.mkdir(parents=True)
    (work / "files").mkdir()
    for name in ("KVIL64.dll", "PNPDRVR32.DLL"):
        shutil.copy(bin_dir / name, support / name)
    for name in ("hwlist.ini", "legadp.ini"):
        shutil.copy(ROOT / "simulator" / "samples" / name, support / name)
    shutil.copy(profile, support / "kvilsim.ini")
    for key, _title, _status, command_file, _app in FEATURES:
        text = COMMANDS.format(key=key, fail=FAIL if key == "IWS" else "")
        (support / command_file).write_text(text.replace("\n", "\r\n"))
        (work / "files" / f"{key}.txt").write_text(f"{key} feature of the demo package\r\n")
    (work / "files" / "orvessa.txt").write_text("Orvessa Server Administrator (demo)\r\n")
    (work / "files" / "dcisdy64.ini").write_text(
        "[System Info]\r\nMessage Preference=Enhanced\r\nAuto Archive SEL Log=False\r\nOS Log Filter=3\r\n")
    return sorted(p.name for p in support.iterdir())


def write_wxs(work):
    components, features = [], []
    for index, (key, title, _status, _file, application) in enumerate(FEATURES, start=1):
        guid = f"2B0E5C11-7A61-4C39-8E0C-1A2B3C4D5E{index + 1:02X}"
        components.append(
            f'            <Component Id="C_{key}" Guid="{guid}" Win64="yes">\n'
            f'              <File Id="F_{key}" Name="{key}.txt" Source="files/{key}.txt"/>\n'
            f'              <RegistryValue Root="HKLM" Key="{APPLICATIONS}\\{application}" Name="Version"'
            f' Type="string" Value="[ProductVersion]"/>\n'
            f'            </Component>')
        features.append(
            f'      <Feature Id="{key}" Title="{title}" Level="1" AllowAdvertise="no">'
            f'<ComponentRef Id="C_{key}"/></Feature>')
    text = (HERE / "demo.wxs").read_text()
    text = text.replace("@FEATURE_COMPONENTS@", "\n".join(components))
    text = text.replace("@FEATURES@", "\n".join(features))
    (work / "demo.wxs").write_text(text)


def write_idt(work, table, header, rows):
    (work / f"{table}.idt").write_text(header + "".join("\t".join(r) + "\n" for r in rows))


def localise(builder, msi, work, language):
    """Makes the package one of LANGUAGE: its ProductLanguage, the database's
    code page (which the engine decodes every string with) and its texts."""
    codepage, texts = LANGUAGES[language]
    (work / "_ForceCodepage.idt").write_text(f"\n\n{codepage}\t_ForceCodepage\n")
    builder.run(f"setting the code page {codepage}", "msibuild", msi, "-i", "_ForceCodepage.idt", cwd=work)
    builder.sql(msi, f"setting the language {language}",
                f"UPDATE `Property` SET `Value`='{language}' WHERE `Property`='ProductLanguage'")
    for name, text in texts.items():
        builder.sql(msi, f"translating {name}", f"UPDATE `Property` SET `Value`='{text}' WHERE `Property`='{name}'")


def record_summary(builder, msi):
    """Sequences RecordSummaryText (kvilsupport.dll) between the summary action
    and the dialog: a run given KVILDEMO_SUMMARYFILE gets the summary's bytes."""
    builder.sql(msi, "adding RecordSummaryText", "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
                "VALUES ('RecordSummaryText', 1, 'KVILSUPPORT', 'RecordSummaryText')")
    builder.sql(msi, "sequencing RecordSummaryText", "INSERT INTO `InstallUISequence` (`Action`, `Condition`, "
                "`Sequence`) VALUES ('RecordSummaryText', 'KVILDEMO_SUMMARYFILE', 1245)")


def project_version():
    """The release's version: the VERSION of project() in CMakeLists.txt."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"^project\(KVILMSI64 VERSION ([0-9]+\.[0-9]+\.[0-9]+)\b", text, re.MULTILINE)
    if not found:
        sys.exit("build-package: no project(KVILMSI64 VERSION X.Y.Z) line in CMakeLists.txt")
    return found.group(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin", type=pathlib.Path)
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("--version", default=project_version())
    parser.add_argument("--profile", type=pathlib.Path, default=HERE / "profiles" / "default.ini")
    parser.add_argument("--name", default="orvessa-demo.msi")
    parser.add_argument("--language", choices=["1033", *LANGUAGES], default="1033")
    parser.add_argument("--record-summary", action="store_true")
    args = parser.parse_args()
    out = args.out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    bin_dir = args.bin.resolve()
    builder = Builder(out)
    work = out / (args.name + ".work")
    support_files = stage(bin_dir, work, args.profile.resolve())
    write_wxs(work)
    shutil.copy(HERE / "kvilmsi64-actions.wxi", work)
    # wixl takes source files only by relative paths.
    for name in ("KVILMSI64.dll", "kvilsupport.dll"):
        shutil.copy(bin_dir / name, work / name)
    msi = out / args.name
    # A product code per version, the same for every build of one version.
    product_code = str(uuid.uuid5(uuid.NAMESPACE_URL, "kvil-demo-" + args.version)).upper()
    builder.run("compiling the package with wixl", "wixl", "-a", "x64", "-o", msi,
                "-D", f"Version={args.version}", "-D", f"ProductCode={product_code}",
                "-D", "KVILMSI64Dll=KVILMSI64.dll", "-D", "SupportDll=kvilsupport.dll",
                "demo.wxs", cwd=work)

    present = set(exports())
    for action, kind, entry in fragment_actions():
        if entry and entry not in present:
            for table in ("CustomAction", "InstallUISequence", "InstallExecuteSequence"):
                builder.sql(msi, f"leaving out {action}", f"DELETE FROM `{table}` WHERE `Action`='{action}'")
        else:
            builder.sql(msi, f"setting the type of {action}",
                        f"UPDATE `CustomAction` SET `Type`={kind} WHERE `Action`='{action}'")
    builder.sql(msi, "setting the type of SetSupportDir",
                "UPDATE `CustomAction` SET `Type`=51 WHERE `Action`='SetSupportDir'")
    builder.sql(msi, "setting the type of SetRememberedInstallDir",
                "UPDATE `CustomAction` SET `Type`=51 WHERE `Action`='SetRememberedInstallDir'")
    # The support folder goes at the end of every run; wixl misplaces the
    # negative sequence numbers of the end-of-run actions.
    for action, sequence in END_OF_RUN:
        builder.sql(msi, f"setting the type of {action}",
                    f"UPDATE `CustomAction` SET `Type`=65 WHERE `Action`='{action}'")
        condition = ROLLBACK_PENDING if sequence == -3 else ""
        for table in ("InstallUISequence", "InstallExecuteSequence"):
            builder.sql(msi, f"sequencing {action}",
                        f"UPDATE `{table}` SET `Sequence`={sequence}, `Condition`='{condition}' "
                        f"WHERE `Action`='{action}'")
    builder.sql(msi, f"adding {ROLLBACK_CLEANUP}",
                "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
                f"('{ROLLBACK_CLEANUP}', {TYPES['rollback'] + 64}, 'KVILSUPPORT', '{ROLLBACK_CLEANUP}')")
    builder.sql(msi, f"adding the data of {ROLLBACK_CLEANUP}",
                "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
                f"('Set{ROLLBACK_CLEANUP}', 51, '{ROLLBACK_CLEANUP}', '{';'.join(['[SUPPORTDIR]'] + support_files)}')")
    for action, sequence in ((f"Set{ROLLBACK_CLEANUP}", 1501), (ROLLBACK_CLEANUP, 1502)):
        builder.sql(msi, f"sequencing {action}", "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) "
                    f"VALUES ('{action}', {sequence})")
    builder.sql(msi, "detecting a later version",
                "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `VersionMax`, `Language`, `Attributes`, "
                "`Remove`, `ActionProperty`) VALUES ('{6F1E2A0C-4D7B-4E31-9A55-0B3C2D7E8F10}', "
                f"'{args.version}', '', '', 2, '', 'CP_NEWERFOUND')")

    # caKVILFinalize records the web server's folder in this key; the package
    # removes it with the product (a Registry row named "-").
    builder.sql(msi, "removing the key Tavrin KVA on uninstall",
                "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES "
                "('TavrinKVA', 2, 'SOFTWARE\\Tavrin Computer Corporation\\Tavrin KVA', '-', 'Core')")
    for offset, (name, condition, text) in enumerate(STOPS):
        builder.sql(msi, f"adding {name}", "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
                    f"VALUES ('{name}', 19, '', '{text}')")
        for table in ("InstallUISequence", "InstallExecuteSequence"):
            builder.sql(msi, f"sequencing {name}", f"INSERT INTO `{table}` (`Action`, `Condition`, `Sequence`) "
                        f"VALUES ('{name}', '{condition}', {STOP_SEQUENCE + offset})")
    builder.sql(msi, "sequencing ReadyToInstall",
                "INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) "
                "VALUES ('ReadyToInstall', 'NOT Installed', 1250)")

    write_idt(work, "ISSetupFile",
              "ISSetupFile\tFileName\tStream\tLanguage\tSplash\tPath\ns72\ts255\tV0\tS50\tI2\tS255\n"
              "ISSetupFile\tISSetupFile\n",
              [(f"SF{i}", name, name, "", "", "") for i, name in enumerate(support_files, start=1)])
    write_idt(work, "Condition", "Feature_\tLevel\tCondition\ns38\ti2\tS255\nCondition\tFeature_\tLevel\n",
              [row for key, _t, status, _f, _a in FEATURES
               for row in ((key, "0", f'{status} = "3"'), (key, "200", f'{status} = "2"'))])
    for table, text in DIALOG.items():
        (work / f"{table}.idt").write_text(text)
    for table in ("ISSetupFile", "Condition", "Dialog", "Control", "ControlEvent"):
        builder.run(f"importing {table}", "msibuild", msi, "-i", f"{table}.idt", cwd=work)
    if args.language != "1033":
        localise(builder, msi, work, args.language)
    if args.record_summary:
        record_summary(builder, msi)
    print(msi)


if __name__ == "__main__":
    main()

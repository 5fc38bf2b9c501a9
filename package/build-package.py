#!/usr/bin/env python3
"""Builds the demo package from the build's bin folder.

  build-package.py BIN OUT [--version X.Y.Z] [--profile package/profiles/default.ini]
                   [--language 1033|1031|1041] [--record-summary]
  build-package.py BIN OUT --support-files-only [--profile ...]

wixl compiles demo.wxs with the packager's kit (kit/wix3: the actions of
KVILMSI64.dll and of kvilsupport.dll); kit/example/mend.py sets what wixl
gets wrong (the custom action types, the negative sequence numbers, the
ISSetupFile table with its streams) and msibuild adds the feature
conditions, the ready-to-install dialog and the stop messages. With
--support-files-only, OUT receives the support files alone (the simulated
vendor libraries, the profile as kvilsim.ini, the hardware lists and the
command files). The version defaults to the release's, the
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
KITS = [ROOT / "kit" / "wix3" / "kvilmsi64-actions.wxi", ROOT / "kit" / "wix3" / "kvilsupport-actions.wxi"]
sys.path.insert(0, str(ROOT / "kit" / "example"))
from features import FEATURES  # noqa: E402
import mend  # noqa: E402

# The features' titles: the string table's English text of their title id,
# and the network card integration's own (it has no string).
TITLES = {"NICInt": "Network Interface Card Integration"}
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


def english_titles():
    titles = dict(line.split("\t", 1) for line in
                  (ROOT / "resources" / "text" / "en.txt").read_text(encoding="utf-8").splitlines() if "\t" in line)
    return {f.key: titles.get(f.title_id) or TITLES[f.key] for f in FEATURES}


def write_support_files(bin_dir, support, profile):
    """Writes the support files into SUPPORT: the simulated vendor libraries,
    the machine PROFILE as kvilsim.ini, the hardware lists and the command
    files. Returns their names."""
    support.mkdir(parents=True, exist_ok=True)
    for name in ("KVIL64.dll", "PNPDRVR32.DLL"):
        shutil.copy(bin_dir / name, support / name)
    for name in ("hwlist.ini", "legadp.ini"):
        shutil.copy(ROOT / "simulator" / "samples" / name, support / name)
    shutil.copy(profile, support / "kvilsim.ini")
    for feature in FEATURES:
        text = COMMANDS.format(key=feature.key, fail=FAIL if feature.key == "IWS" else "")
        (support / feature.command_file).write_text(text.replace("\n", "\r\n"))
    return sorted(p.name for p in support.iterdir())


def stage(bin_dir, work, profile):
    """Writes the support files and the feature files."""
    shutil.rmtree(work, ignore_errors=True)
    write_support_files(bin_dir, work / "support", profile)
    (work / "files").mkdir()
    for feature in FEATURES:
        (work / "files" / f"{feature.key}.txt").write_text(f"{feature.key} feature of the demo package\r\n")
    (work / "files" / "orvessa.txt").write_text("Orvessa Server Administrator (demo)\r\n")
    (work / "files" / "dcisdy64.ini").write_text(
        "[System Info]\r\nMessage Preference=Enhanced\r\nAuto Archive SEL Log=False\r\nOS Log Filter=3\r\n")


def write_wxs(work):
    components, features = [], []
    titles = english_titles()
    for index, feature in enumerate(FEATURES, start=1):
        key, title, application = feature.key, titles[feature.key], feature.application_key
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
    parser.add_argument("--support-files-only", action="store_true")
    args = parser.parse_args()
    out = args.out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    bin_dir = args.bin.resolve()
    if args.support_files_only:
        write_support_files(bin_dir, out, args.profile.resolve())
        return
    builder = Builder(out)
    work = out / (args.name + ".work")
    stage(bin_dir, work, args.profile.resolve())
    write_wxs(work)
    for kit in KITS:
        shutil.copy(kit, work)
    # wixl takes source files only by relative paths.
    for name in ("KVILMSI64.dll", "kvilsupport.dll"):
        shutil.copy(bin_dir / name, work / name)
    msi = out / args.name
    # A product code per version, the same for every build of one version.
    product_code = str(uuid.uuid5(uuid.NAMESPACE_URL, "kvil-demo-" + args.version)).upper()
    builder.run("compiling the package with wixl", "wixl", "-a", "x64", "-o", msi,
                "-D", f"Version={args.version}", "-D", f"ProductCode={product_code}",
                "-D", "KVILMSI64Dll=KVILMSI64.dll", "-D", "KVILSupportDll=kvilsupport.dll",
                "demo.wxs", cwd=work)

    # The types, sequence numbers and support files that wixl cannot write.
    msibuild = mend.Msibuild(msi, builder.log)
    mend.set_types_and_sequences(msibuild, KITS + [work / "demo.wxs"])
    mend.add_support_files(msibuild, work / "support")
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

    write_idt(work, "Condition", "Feature_\tLevel\tCondition\ns38\ti2\tS255\nCondition\tFeature_\tLevel\n",
              [row for f in FEATURES for row in ((f.key, "0", f'{f.status_property} = "3"'),
                                                 (f.key, "200", f'{f.status_property} = "2"'))])
    for table, text in DIALOG.items():
        (work / f"{table}.idt").write_text(text)
    for table in ("Condition", "Dialog", "Control", "ControlEvent"):
        builder.run(f"importing {table}", "msibuild", msi, "-i", f"{table}.idt", cwd=work)
    if args.language != "1033":
        localise(builder, msi, work, args.language)
    if args.record_summary:
        record_summary(builder, msi)
    print(msi)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Mends what wixl gets wrong in a package built on the kit.

  mend.py PACKAGE.msi SUPPORT_FOLDER SOURCE.wxs|KIT.wxi...

wixl writes every DLL custom action as type 2049 and every type-51 setter as
2099, whatever its Execute, Impersonate and Return say, and moves the
negative sequence numbers (-1 success, -2 cancel, -3 failure) to the end of
the sequence; it cannot write the ISSetupFile table either. This script sets
each custom action of the sources given (the kits and the package's own
source) to the type its attributes declare, each of their sequence rows to
its number, and puts every file of SUPPORT_FOLDER (but a README.txt) into
ISSetupFile with its content as a stream. It needs msibuild (msitools) and
Python 3 alone; every msibuild call and its output go to PACKAGE.msi.log.
"""
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

# Custom action type bits: a DLL in the Binary table (1), a property set from
# a formatted text (51); in-script execution (1024) as rollback (+256) or
# commit (+512); no impersonation (2048); return code ignored (64).
DLL, SET_PROPERTY = 1, 51
IN_SCRIPT, ROLLBACK, COMMIT, NO_IMPERSONATION, RETURN_IGNORED = 1024, 256, 512, 2048, 64
SCRIPT_KINDS = {"deferred": IN_SCRIPT, "rollback": IN_SCRIPT + ROLLBACK, "commit": IN_SCRIPT + COMMIT}


def attributes(text):
    return dict(re.findall(r'([\w:]+)="([^"]*)"', text))


def action_type(a):
    """The type that the attributes A of a <CustomAction> declare."""
    if "Property" in a:
        return SET_PROPERTY
    kind = DLL
    execute = a.get("Execute", "immediate")
    if execute != "immediate":
        kind += SCRIPT_KINDS[execute]
        if a.get("Impersonate") == "no":
            kind += NO_IMPERSONATION
    if a.get("Return") == "ignore":
        kind += RETURN_IGNORED
    return kind


def kit_actions(kit):
    """(id, type, DLL entry or None) of each custom action of the source KIT."""
    actions = []
    for attrs in re.findall(r"<CustomAction\s([^>]*?)/?>", pathlib.Path(kit).read_text(encoding="utf-8")):
        a = attributes(attrs)
        actions.append((a["Id"], action_type(a), a.get("DllEntry")))
    return actions


def kit_sequences(kit):
    """(sequence table, action, number) of each <Custom> row of the source KIT."""
    text = pathlib.Path(kit).read_text(encoding="utf-8")
    rows = []
    for table, body in re.findall(r"<(InstallUISequence|InstallExecuteSequence)>(.*?)</\1>", text, re.S):
        for attrs in re.findall(r"<Custom\s([^>]*?)/?>", body):
            a = attributes(attrs)
            rows.append((table, a["Action"], int(a["Sequence"])))
    return rows


# The release's testing/ folder says in this file what its files are for; it
# is no support file.
NOTE = "README.txt"


class Msibuild:
    """Runs msibuild on one package, every call and its output in LOG."""

    def __init__(self, msi, log):
        self.msi, self.log = pathlib.Path(msi).resolve(), pathlib.Path(log)

    def run(self, step, *args, cwd=None):
        with self.log.open("a") as log:
            log.write(f"== {step}: msibuild {self.msi} {' '.join(args)}\n")
            log.flush()
            result = subprocess.run(["msibuild", str(self.msi), *args], cwd=cwd, stdout=log,
                                    stderr=subprocess.STDOUT)
        if result.returncode != 0:
            tail = "".join(self.log.read_text(errors="replace").splitlines(True)[-30:])
            sys.exit(f"mend: {step} failed (exit {result.returncode}); the end of {self.log}:\n{tail}")

    def sql(self, step, query):
        self.run(step, "-q", query)


def set_types_and_sequences(msibuild, kits):
    for kit in kits:
        for action, kind, _entry in kit_actions(kit):
            msibuild.sql(f"setting the type of {action} to {kind}",
                         f"UPDATE `CustomAction` SET `Type`={kind} WHERE `Action`='{action}'")
        for table, action, number in kit_sequences(kit):
            msibuild.sql(f"sequencing {action} at {number} in {table}",
                         f"UPDATE `{table}` SET `Sequence`={number} WHERE `Action`='{action}'")


def add_support_files(msibuild, folder):
    """Every file of FOLDER but a README.txt as a row of ISSetupFile (key SF1,
    SF2, ..., its name as FileName, its content as Stream); returns the names."""
    names = sorted(p.name for p in pathlib.Path(folder).iterdir() if p.is_file() and p.name != NOTE)
    if not names:
        sys.exit(f"mend: {folder} holds no support files")
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        # msibuild reads a stream column's files from a folder named as the table.
        (work / "ISSetupFile").mkdir()
        for name in names:
            shutil.copy(pathlib.Path(folder) / name, work / "ISSetupFile" / name)
        rows = "".join(f"SF{i}\t{name}\t{name}\t\t\t\n" for i, name in enumerate(names, start=1))
        (work / "ISSetupFile.idt").write_text(
            "ISSetupFile\tFileName\tStream\tLanguage\tSplash\tPath\n"
            "s72\ts255\tV0\tS50\tI2\tS255\n"
            "ISSetupFile\tISSetupFile\n" + rows)
        msibuild.run("adding the ISSetupFile table", "-i", "ISSetupFile.idt", cwd=work)
    return names


def main():
    if len(sys.argv) < 4:
        sys.exit("usage: mend.py PACKAGE.msi SUPPORT_FOLDER SOURCE.wxs|KIT.wxi...")
    msi, folder, kits = sys.argv[1], sys.argv[2], sys.argv[3:]
    msibuild = Msibuild(msi, msi + ".log")
    msibuild.log.write_text("")
    set_types_and_sequences(msibuild, kits)
    names = add_support_files(msibuild, folder)
    print(f"mend: {len(names)} support files in ISSetupFile; types and sequences as in "
          + ", ".join(pathlib.Path(k).name for k in kits))


if __name__ == "__main__":
    main()

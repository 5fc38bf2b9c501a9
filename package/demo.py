#!/usr/bin/env python3
"""The main job after the build: builds the demo package for a machine
profile, installs it silently under wine msiexec with a verbose log, prints
what happened, and removes the product again.

  demo.py BUILD [PROFILE]     PROFILE: a name in package/profiles (default) or a file
"""
import pathlib
import subprocess
import sys

import kvildemo  # puts report/ on the path
from kvilreport import cli as kvilreport
from kvilreport.msistatus import describe, windows_status
from kvilreport.text import outcome_section, report as report_lines

# What the actions' own steps leave on the machine when a run ends before
# caKVILFinalize, whose clean-up is the only one that removes all of it: the
# place (below C:), the files it may hold (None: any), whose steps, and what.
QUALIFICATION = "the qualification's own steps"
INSTALLATION = "the installation actions' own steps (the rollback deletes the shared data file only)"
LEFT_BY_STEPS = [
    ("Program Files/tempini", {"hwlist.ini"}, QUALIFICATION,
     "the hardware-list lookup's work folder with its copy of hwlist.ini"),
    ("users/root/Temp/kviltmpmn", set(), QUALIFICATION, "caKVILCheckTEMP's work folder (CP_TEMPDIR)"),
    ("tempini", set(), INSTALLATION, "the shared data file's folder"),
    ("users/root/Temp/kvil100.txt", None, INSTALLATION, "caKVILWriteInfo's copy of the shared data file"),
]


def progress(number, text):
    print(f"[{number}/5] {text}", flush=True)


def stop_messages(package_file):
    """{action: message} of the package's stop actions (type 19), which Wine's
    log does not show."""
    table = subprocess.run(["msiinfo", "export", str(package_file), "CustomAction"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True, errors="replace").stdout
    rows = [line.rstrip("\r").split("\t") for line in table.splitlines()]
    return {row[0]: row[3] for row in rows if len(row) >= 4 and row[1] == "19"}


def read_log(run):
    try:
        return kvilreport.read(run.log_path)
    except OSError as error:
        return kvilreport.parse("", f"no log: {error.strerror}")


def report(machine, run, profile, package_file):
    print()
    print(f"Machine profile:   {profile.name}")
    log = read_log(run)
    print("\n".join(report_lines(log, exit_status=run.status, journal=machine.journal(),
                                     stop_messages=stop_messages(package_file))))
    ran = [a for a in kvildemo.EXPORTS if any(r.name == a for r in log.runs)]
    print()
    print(f"Exports of KVILMSI64.def in this run: {len(ran)} of {len(kvildemo.EXPORTS)}")
    for box in run.boxes():
        print(f"Message box answered: {box[0]}: {box[1]}")
    installed = sorted(f.stem for f in (machine.drive / "Program Files/Tavrin/SysMgt").glob("*.txt")
                       if f.stem in kvildemo.FEATURES)
    print("Features installed (their files on the machine): " + (", ".join(installed) or "none"))
    print(f"Full log: {run.log_path}")


def folders(files):
    """'C:/folder (n files)' for each folder of a list of files and empty folders."""
    found = {}
    for name in files:
        folder = name.rsplit("/", 1)[0] if "." in name.rsplit("/", 1)[-1] else name
        found[folder] = found.get(folder, 0) + (folder != name)
    return [f"C:/{f}" + (f" ({n} file{'s' if n > 1 else ''})" if n else "") for f, n in found.items()]


def leftovers(machine, temp_folder, when, finalized):
    """What the product left. Unless caKVILFinalize ran to the end, what the
    actions' own steps leave is named as such, apart from anything else."""
    print(f"Left {when}:")
    print("  services: " + (", ".join(machine.services()) or "none"))
    print("  registry keys: " + (", ".join(machine.registry()) or "none"))
    # The demo package removes its support folder at the end of every run, so
    # whatever is left of it is not expected.
    expected, unexpected = {}, []
    for name in machine.product_files(temp_folder):
        for place, allowed, who, what in LEFT_BY_STEPS if not finalized else []:
            inside = name == place or name.startswith(place + "/")
            if inside and (allowed is None or name == place or name.rsplit("/", 1)[-1] in allowed):
                expected.setdefault(who, {}).setdefault((place, what), []).append(name)
                break
        else:
            unexpected.append(name)
    for who, found in expected.items():
        print(f"  left by {who}, as expected when caKVILFinalize has not run:")
        for (place, what), names in found.items():
            print(f"    {f'C:/{place}' if names == [place] else ', '.join(folders(names))}: {what}")
    print(("  not expected: " if expected else "  files: ") + (", ".join(folders(unexpected)) or "none"))


def main():
    build = pathlib.Path(sys.argv[1])
    profile = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "default")
    if not profile.exists():
        profile = kvildemo.ROOT / "package" / "profiles" / (profile.name.removesuffix(".ini") + ".ini")
    if not profile.exists():
        sys.exit(f"demo: no machine profile {sys.argv[2]} (see package/profiles)")
    machine = kvildemo.Machine(build, build / "demo")
    try:
        progress(2, "Preparing a Wine prefix configured as a Windows server")
        machine.prepare()
        progress(3, "Building the demo package for the profile " + profile.name)
        package = machine.package(profile=profile)
        progress(4, "Installing silently: wine msiexec /i orvessa-demo.msi /qn")
        run = machine.msiexec("install", "/i", package, "/qn")
        temp_folder = run.properties().get("SUPPORTDIR", "")[3:].replace("\\", "/")
        report(machine, run, profile, machine.work / "orvessa-demo.msi")
        print()
        finalized = False
        if run.succeeded:
            progress(5, "Removing the product: wine msiexec /x orvessa-demo.msi /qn")
            removal = machine.msiexec("remove", "/x", package, "/qn")
            print(f"Removal: {'succeeded' if removal.succeeded else 'failed'}, exit status "
                  f"{describe(windows_status(removal.status))}; log: {removal.log_path}")
            if not removal.succeeded:
                print("\n".join(outcome_section(read_log(removal), [], removal.status)))
            finalized = removal.succeeded
        else:
            progress(5, "Nothing to remove")
        leftovers(machine, temp_folder, "after the removal" if run.succeeded else "on the machine", finalized)
    except kvildemo.StepFailed as failure:
        sys.exit(f"demo: {failure}")
    finally:
        machine.close()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The main job after the build: builds the demo package for a machine
profile, installs it silently under wine msiexec with a verbose log, prints
what happened, and removes the product again.

  demo.py BUILD [PROFILE]     PROFILE: a name in package/profiles (default) or a file
"""
import pathlib
import re
import sys

import kvildemo

DISPOSITIONS = {"0": "selectable", "1": "selectable (checker code 1)", "2": "shown, not selectable",
                "3": "hidden"}
# Log lines of the qualification that explain a disposition, and the features they concern.
REASONS = [
    (r"Hiding feature (\w+) since .*", None),
    (r"Making feature (\w+) unselectable .*", None),
    (r"Intel card was not detected\.", "INTEL"),
    (r"Broadcom card was not detected\.", "BRCM"),
    (r"This is not a 12g server.*", "iVIRK"),
    (r"Disable the VIRK tools feature", "iVIRK"),
    (r"WMI not detected.*", "RmtMgmt"),
    (r"Either WinRM is not detected.*", "RmtMgmt"),
]


def progress(number, text):
    print(f"[{number}/5] {text}", flush=True)


def reasons(log, feature, status):
    found = []
    for pattern, concerns in REASONS:
        for match in re.finditer(pattern, log):
            key = match.group(1) if match.groups() else concerns
            if key == feature and match.group(0) not in found:
                found.append(match.group(0))
    if "Enable only console on this system." in log and feature != "IWS" and status == "3":
        found.append("Enable only console on this system.")
    return found


def report(machine, run, profile):
    p = run.properties()
    print()
    print(f"Machine profile:   {profile.name}")
    print(f"System identifier: {p.get('CP_SYSTEMID', '(not set)')}")
    flags = [f"{n}={p[n]}" for n in ("CP_2012", "CP_2012R2", "CP_2016", "CP_2019", "CP_2022",
                                     "CP_12GSERVER", "CP_13GSERVER", "CP_14GSERVER", "CP_15GSERVER",
                                     "CP_16GSERVER", "CP_SUPPORTEDSYSTEM", "CP_TAVRINSERVER") if n in p]
    print("Windows release and server flags: " + (", ".join(flags) or "(none set)"))
    print("Features (disposition from the qualification, and why):")
    for feature, status_property in zip(kvildemo.FEATURES, kvildemo.STATUS):
        status = p.get(status_property, "")
        why = reasons(run.log, feature, status)
        print(f"  {feature:8} {DISPOSITIONS.get(status, 'not published')}" + (f": {'; '.join(why)}" if why else ""))
    installed = sorted(f.stem for f in (machine.drive / "Program Files/Tavrin/SysMgt").glob("*.txt")
                       if f.stem in kvildemo.FEATURES)
    print("Features installed: " + (", ".join(installed) or "(none)"))
    results = run.results()
    ran = [f"{a}={results[a]}" for a in kvildemo.EXPORTS if a in results]
    print(f"Custom actions in the run ({len(ran)}; KVILMSI64.def lists {len(kvildemo.EXPORTS)}; "
          "1 = success, 0 = failure; rollback actions count when scheduled): "
          + ", ".join(ran))
    print("The vendor library was asked to run:")
    phases = {}
    for line in machine.journal():
        command = re.match(r'ExecuteCommands\(.*"[^"]*\\([^"\\]+)", "[^"]*", "(\w+)", (\d+), (\d+)\) = (-?\d+)', line)
        if command:
            name, phase, removal, rollback, result = command.groups()
            phase += " (complete removal)" if removal == "1" else ""
            phase += " (rollback)" if rollback == "1" else ""
            phases.setdefault(phase, []).append(name + ("" if result == "0" else f" = {result}"))
        elif line.startswith(("LaunchAppAndWait", "InstallPNPDevices")):
            print("  " + line)
    for phase, files in phases.items():
        print(f"  ExecuteCommands {phase}: {', '.join(files)}")
    for box in run.boxes():
        print(f"Message box answered: {box[0]}: {box[1]}")


def leftovers(machine, temp_folder, when):
    services = machine.services()
    registry = machine.registry()
    files = machine.product_files(temp_folder)
    print(f"Left {when}:")
    print("  services: " + (", ".join(services) or "none"))
    print("  registry keys: " + (", ".join(registry) or "none"))
    folders = {}
    for name in files:
        folder = name.rsplit("/", 1)[0] if "." in name.rsplit("/", 1)[-1] else name
        folders[folder] = folders.get(folder, 0) + (folder != name)
    print("  files: " + (", ".join(f"C:/{f}" + (f" ({n} files)" if n else "") for f, n in folders.items())
                         or "none"))


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
        report(machine, run, profile)
        stops = [a for a in run.started() if a.startswith("Stop")]
        print(f"Installation: {'succeeded' if run.succeeded else 'stopped (msiexec exit %s)' % run.status}"
              + (f" by the package's condition {stops[0]} (package/build-package.py lists its message)" if stops else ""))
        print(f"Full log: {run.log_path}")
        print()
        if run.succeeded:
            progress(5, "Removing the product: wine msiexec /x orvessa-demo.msi /qn")
            removal = machine.msiexec("remove", "/x", package, "/qn")
            print(f"Removal: {'succeeded' if removal.succeeded else 'failed (msiexec exit %s)' % removal.status}"
                  f"; log: {removal.log_path}")
        else:
            progress(5, "Nothing to remove")
        leftovers(machine, temp_folder, "after the removal" if run.succeeded else "on the machine")
    except kvildemo.StepFailed as failure:
        sys.exit(f"demo: {failure}")
    finally:
        machine.close()


if __name__ == "__main__":
    main()

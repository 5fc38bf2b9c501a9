#!/usr/bin/env python3
"""How fast, and in how much memory, the report reads a large log: a verbose
log of Windows' installer (a failed installation, rolled back) made about
125 MB long by 300,000 extra lines in its script (Executing op: FileCopy and
File: lines, as a package of many files writes them). The figure is the
report's time against a bare Python loop over the same file's lines, and the
report's peak memory. Bounds: 8 times the loop, 150 MB.

  report_bench.py [--out DIR] [--lines N] [--size BYTES] [--rounds N]

Writes DIR/report.txt (default: build-bench/bench) and prints it. Exit
status 1 when a bound is passed."""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The report as python3 -m kvilreport runs it from its folder.
REPORT = [sys.executable, "-m", "kvilreport"]
os.environ["PYTHONPATH"] = str(ROOT / "report")
TIME_BOUND = 8.0
MEMORY_BOUND = 150   # MB
PREFIX = "MSI (s) (D0:A0) [21:24:36:743]: "

HEAD = """=== Verbose logging started: 31.01.2022  21:24:31  Build type: SHIP UNICODE 5.00.10011.00  Calling process: msiexec.exe ===
MSI (s) (D0:A0) [21:24:32:165]: Command Line: CURRENTDIRECTORY=c:\\setup CLIENTUILEVEL=3 ACTION=INSTALL
Action start 21:24:36: INSTALL.
Action start 21:24:36: InstallInitialize.
Action ended 21:24:36: InstallInitialize. Return value 1.
Action start 21:24:36: InstallFinalize.
MSI (s) (D0:A0) [21:24:36:696]: Executing op: Header(Signature=1397708873,Version=500,Timestamp=1413458707,LangId=1033,Platform=0,ScriptType=1,ScriptMajorVersion=21,ScriptMinorVersion=4,ScriptAttributes=1)
MSI (s) (D0:A0) [21:24:36:711]: Executing op: ActionStart(Name=InstallFiles,Description=Copying new files,Template=File: [1],  Directory: [9],  Size: [6])
"""
TAIL = """MSI (s) (D0:A0) [21:24:36:743]: Executing op: ActionStart(Name=WriteSettings,,)
MSI (s) (D0:A0) [21:24:36:744]: Executing op: CustomActionSchedule(Action=WriteSettings,ActionType=1025,Source=BinaryData,Target=WriteSettings,)
CustomAction WriteSettings returned actual error code 1603 (note this may not be 100% accurate if translation happened inside sandbox)
Action ended 21:24:37: InstallFinalize. Return value 3.
MSI (s) (D0:A0) [21:24:37:260]: Executing op: Header(Signature=1397708873,Version=500,Timestamp=1413458707,LangId=1033,Platform=0,ScriptType=2,ScriptMajorVersion=21,ScriptMinorVersion=4,ScriptAttributes=1)
MSI (s) (D0:A0) [21:24:37:399]: Executing op: ActionStart(Name=InstallFiles,Description=Copying new files,)
MSI (s) (D0:A0) [21:24:37:400]: Executing op: FileRemove(,FileName=C:\\Program Files\\Example\\file0.dll,,)
Action ended 21:24:37: INSTALL. Return value 3.
Property(S): ProductName = Example App
MSI (s) (D0:A0) [21:24:37:487]: Windows Installer installed the product. Product Name: Example App. Product Version: 1.0.0. Product Language: 1033. Manufacturer: Example. Installation success or error status: 1603.
=== Verbose logging stopped: 31.01.2022  21:24:37 ===
"""


def make_log(path, extra, size):
    """The log at path: extra lines in the script, about size bytes in all."""
    pad = "x" * max(0, (size // max(1, extra // 2) - 440) // 2)
    with open(path, "w", encoding="cp1252", newline="\r\n") as log:
        log.write(HEAD)
        for n in range(extra // 2):
            log.write(f"{PREFIX}Executing op: FileCopy(SourceName=file{n}.dll|{pad}file{n}.dll,SourceCabKey=file{n}.dll,"
                      f"DestName=file{n}.dll,Attributes=512,FileSize=1024,PerTick=65536,,VerifyMedia=1,,,,,"
                      f"CheckCRC=0,,,InstallMode=58982400,HashOptions=0,HashPart1=1,HashPart2=2,HashPart3=3,"
                      f"HashPart4=4,,)\n")
            log.write(f"{PREFIX}File: C:\\Program Files\\Example\\{pad}\\file{n}.dll;\tTo be installed;\t"
                      "Won't patch;\tNo existing file\n")
        log.write(TAIL)


# Runs a command and gives its peak memory: the only child of this wrapper,
# so the wrapper's children's peak is the command's own.
MEASURE = ("import resource, subprocess, sys\n"
           "run = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)\n"
           "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n"
           "sys.exit(run.returncode)\n")


def run_once(command):
    """(seconds, peak memory in MB) of one run of command."""
    start = time.perf_counter()
    run = subprocess.run([sys.executable, "-c", MEASURE, *command], capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    if run.returncode:
        sys.exit(f"report_bench: {' '.join(command)} failed:\n{run.stderr[-2000:]}")
    return elapsed, int(run.stdout.split()[-1]) / 1024


LOOP = "import sys\nfor line in open(sys.argv[1], encoding='cp1252', errors='replace'):\n    pass\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default=str(ROOT / "build-bench" / "bench"))
    parser.add_argument("--lines", type=int, default=300_000, help="extra lines in the script")
    parser.add_argument("--size", type=int, default=125_000_000, help="the log's size in bytes, about")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        log = pathlib.Path(work) / "large.log"
        make_log(log, args.lines, args.size)
        size = log.stat().st_size / 1e6
        loops = [run_once([sys.executable, "-c", LOOP, str(log)]) for _ in range(args.rounds)]
        reports = [run_once([*REPORT, str(log)]) for _ in range(args.rounds)]
        outcome = subprocess.run([*REPORT, "--json", str(log)], capture_output=True,
                                 text=True).stdout.strip()
    loop = min(seconds for seconds, _ in loops)
    report = min(seconds for seconds, _ in reports)
    memory = max(peak for _, peak in reports)
    ratio = report / loop
    lines = [
        f"Report on a {size:.0f} MB verbose log ({args.lines} extra script lines), best of {args.rounds}:",
        f"  bare Python loop over its lines: {loop:.2f} s",
        f"  report: {report:.2f} s, {ratio:.1f} times the loop (bound {TIME_BOUND:g}); "
        f"peak memory {memory:.0f} MB (bound {MEMORY_BOUND} MB)",
        f"  its findings: {outcome}",
    ]
    (out / "report.txt").write_text("\n".join(lines) + "\n")
    print("\n".join(lines))
    return 1 if ratio > TIME_BOUND or memory > MEMORY_BOUND else 0


if __name__ == "__main__":
    sys.exit(main())

"""What an installation did, from its Windows Installer log alone: the kind
of run (install, major upgrade, change, repair, removal), how it ended
(succeeded, failed, cancelled, stopped by a launch condition) and in which
step (a custom or standard action, before the installation script or in it,
or the old version's removal), whether the script was rolled back, the exit
status and whether a restart was asked for. For the Orvessa package's own
logs also the machine as the qualification saw it, each feature's
disposition and why, and the command phases by feature. Reads logs of
Windows' installer (ANSI or UTF-16, verbose or not) and of Wine's; several
logs, or a folder of them, give a fleet summary.

  kvilreport LOG [--journal FILE] [--exit-status N] [--json]
  kvilreport LOG LOG... | FOLDER [--json]

--journal adds what the simulated vendor library was asked to run (its
journal file); --exit-status gives msiexec's exit status when the log does not
hold it (Wine's does not); --json prints one JSON object per log. Exit status
0 when every log could be read, else 2."""
import argparse
import os
import pathlib
import sys

from . import fleet as report_fleet
from . import json_report as report_json
from .log import Log
from .product import LAYER, findings
from .reading import LogFile, decode
from .text import report


def read(path):
    """The log at path, read as a stream with this product's layer; OSError
    when it cannot be read or is no regular file."""
    log_file = LogFile(path)
    return Log(log_file.lines(), log_file.encoding, LAYER)


def parse(raw, encoding=""):
    """A log held in memory (bytes, or text stored as encoding says) read
    with this product's layer."""
    return Log(*decode(raw), LAYER) if isinstance(raw, bytes) else Log(raw, encoding, LAYER)


def one(args):
    try:
        log = read(args.logs[0])
    except OSError as error:
        print(f"kvilreport: cannot read the log {args.logs[0]}: {error.strerror or error}", file=sys.stderr)
        return 2
    journal = None
    if args.journal:
        try:
            journal = pathlib.Path(args.journal).read_text(errors="replace").splitlines()
        except OSError as error:
            print(f"kvilreport: cannot read the journal {args.journal}: {error.strerror or error}",
                  file=sys.stderr)
            return 2
    if args.json:
        print(report_json.line(report_json.as_json(findings(log, args.exit_status), args.logs[0])))
    else:
        print("\n".join(report(log, args.exit_status, journal, source=args.logs[0])))
    return 0


def fleet(args):
    logs, subfolders = report_fleet.logs_of(args.logs)
    results = []
    for number, (path, why) in enumerate(logs, 1):
        if len(logs) > report_fleet.PROGRESS_AFTER:
            print(f"kvilreport: reading log {number} of {len(logs)}: {path.name}", file=sys.stderr, flush=True)
        if why is None:
            try:
                found = findings(read(path))
            except OSError as error:
                why = f"cannot read the log: {error.strerror or error}"
        if why is not None:
            results.append(None)
            print(report_json.line(report_json.unreadable(path, why)) if args.json else
                  report_fleet.unreadable_line(path, why), flush=True)
            continue
        results.append(found)
        print(report_json.line(report_json.as_json(found, path)) if args.json else
              report_fleet.summary_line(path, found), flush=True)
    if not args.json:
        print()
        print("\n".join(report_fleet.counts(results, subfolders)))
    return 2 if None in results else 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="kvilreport", description=__doc__.split("\n\n")[0])
    parser.add_argument("logs", nargs="+", metavar="LOG",
                        help="an installer log (msiexec /l*v), or several, or a folder of them")
    parser.add_argument("--journal", help="the simulated vendor library's journal file (one log only)")
    parser.add_argument("--exit-status", type=int, help="msiexec's exit status, when the log lacks it (one log only)")
    parser.add_argument("--json", action="store_true", help="one JSON object per log")
    args = parser.parse_args(argv)
    several = len(args.logs) > 1 or os.path.isdir(args.logs[0])
    if several and (args.journal or args.exit_status is not None):
        parser.error("--journal and --exit-status belong to one log; with several logs or a folder, leave them out")
    return fleet(args) if several else one(args)


def run():
    """The command: main() with its exit status."""
    try:
        sys.exit(main())
    except BrokenPipeError:
        # The reader stopped reading (kvilreport logs/ | head): no error of ours.
        sys.stderr.close()
        sys.exit(0)

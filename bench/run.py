#!/usr/bin/env python3
"""What each custom action adds to an installation.

For every export of KVILMSI64.def that bench/exports.txt prepares, a package
calls the export CALLS times; a floor package calls the no-op export of
kvilbench_floor.dll as often, and an empty package calls nothing. All of them
are installed (and removed again) under `wine msiexec /qn`, in a new order each
round (the empty and the floor package three times a round). Per export the
table gives the milliseconds that one call adds beyond the empty package
(median over the rounds of the paired differences), the ratio to
the floor, the child processes started per call (counted by recorders standing
in for the Windows tools) and the DLL's size.

Two more figures say where the time goes. The in-process column is the same
export called by kvilbench_inproc in a session of its package opened in that
process, where an installer call is a plain function call: what is left is the
export's own work (and the vendor library's). The calibration packages call
exports of the floor DLL that make 50 installer calls of one kind each, which
gives what one property read, property write, feature-state query or log line
costs a custom action under msiexec. Only the standard library is used; the
chart is drawn by gnuplot.

Run through scripts/bench.sh, which builds what this needs and creates the prefix.
"""
import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time
import uuid

# The Windows tools the actions start; each is replaced in the bench prefix by
# the recorder, which appends one line per start to system32\recorder.log.
RECORDED_TOOLS = ["attrib", "cacls", "icacls", "powershell", "sc", "net", "mofcomp", "wmic",
                  "regsvr32", "cscript", "wusa", "pnputil", "dcicfg64"]
SUPPORT_FILES = ["KVIL64.dll", "PNPDRVR32.DLL"]
RULE_FILES = ["hwlist.ini", "legadp.ini"]
PROFILE = "r14g-supported.ini"
# The floor DLL's calibration exports, each making this many installer calls
# of one kind: what one such call costs a custom action.
CALIBRATION = [("caBenchPropertyReads", "property read"),
               ("caBenchPropertyWrites", "property write"),
               ("caBenchFeatureStates", "feature-state query"),
               ("caBenchLogLines", "log line (MsiProcessMessage)")]
CALIBRATION_CALLS = 50
# Installs per round of the empty and the floor package.
BASELINE_RUNS = 3
FIRST_SEQUENCE = 1010  # after CostFinalize (1000), before InstallValidate (1400)
# Tables an export's package needs beyond what wixl writes: the summary text
# goes into the ReadyToInstall dialog's SummaryText control.
PACKAGE_SQL = {
    "caKVILSetSummaryText": [
        "CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, "
        "`Type` CHAR(20) NOT NULL, `X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT "
        "NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, `Property` CHAR(72), "
        "`Text` LONGCHAR LOCALIZABLE, `Control_Next` CHAR(50), `Help` CHAR(50) "
        "LOCALIZABLE PRIMARY KEY `Dialog_`, `Control`)",
        "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, "
        "`Attributes`, `Text`) VALUES ('ReadyToInstall', 'SummaryText', 'ScrollableText', "
        "10, 10, 300, 120, 3, 'summary')",
    ],
}


def fail(message, log=None):
    print("bench: " + message, file=sys.stderr)
    if log and os.path.exists(log):
        with open(log, errors="replace") as f:
            tail = f.readlines()[-40:]
        print("bench: the end of " + log + ":", file=sys.stderr)
        sys.stderr.writelines(tail)
    sys.exit(1)


def def_exports(path):
    names, in_exports = [], False
    for line in open(path):
        word = line.split(";")[0].strip()
        if word == "EXPORTS":
            in_exports = True
        elif in_exports and word:
            names.append(word.split()[0])
    return names


def read_inputs(path):
    inputs = {}
    for number, line in enumerate(open(path), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = [field.strip() for field in line.rstrip("\n").split("|")]
        if len(fields) == 4:
            fields.append("")
        if len(fields) != 5 or fields[4] not in ("", "restore"):
            fail("%s:%d: want 4 or 5 fields separated by |, the fifth \"restore\" or empty"
                 % (path, number))
        export, modes, properties, stored, restore = fields
        inputs[export] = {
            "modes": ["-"] if modes == "-" else modes.split(","),
            "properties": [p.split("=", 1) for p in properties.split()],
            "stored": [s.split("=", 1) for s in stored.split()],
            "restore": restore == "restore",
        }
    return inputs


def windows_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def xml(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


class Bench:
    def __init__(self, args):
        self.args = args
        self.bin = os.path.abspath(args.bin)
        self.prefix = os.path.abspath(args.prefix)
        self.out = os.path.abspath(args.out)
        self.drive_c = os.path.join(self.prefix, "drive_c")
        # Wine runs its own built-in tool even where a program of that name
        # lies in system32, unless told to take the file there.
        overrides = "mscoree,mshtml=;" + ",".join(t + ".exe" for t in RECORDED_TOOLS) + "=n"
        # The installer's errors stay on: a custom action that crashes is
        # counted as a success and shows only there.
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all,err+msi", LC_ALL="C.UTF-8",
                        WINEDLLOVERRIDES=overrides)
        self.env.pop("KVIL_RECORDER_LOG", None)
        self.recorder_log = os.path.join(self.drive_c, "windows", "system32", "recorder.log")
        self.tool_log = os.path.join(self.out, "tools.log")

    # ------------------------------------------------------------ preparation

    def run_tool(self, command, cwd=None):
        """Runs a build tool; its output goes to tools.log, shown on failure."""
        with open(self.tool_log, "a") as log:
            log.write("== " + " ".join(command) + "\n")
            log.flush()
            result = subprocess.run(command, cwd=cwd, env=self.env, stdout=log,
                                    stderr=subprocess.STDOUT)
        if result.returncode != 0:
            fail("%s failed with %d" % (command[0], result.returncode), self.tool_log)

    def support_folder(self, mode, folder=None):
        """C:\\kvilbench\\support-<mode>: the simulator, a profile and the rule files."""
        folder = folder or os.path.join(self.drive_c, "kvilbench", "support-" + mode)
        os.makedirs(folder, exist_ok=True)
        for name in SUPPORT_FILES:
            shutil.copy(os.path.join(self.bin, name), folder)
        for name in RULE_FILES:
            shutil.copy(os.path.join(self.bin, "simfiles", name), folder)
        with open(os.path.join(self.bin, "simfiles", "profiles", PROFILE)) as f:
            profile = f.read()
        if mode == "quiet":
            profile += "\n[Simulator]\nQuiet=1\n"
        with open(os.path.join(folder, "kvilsim.ini"), "w", newline="\r\n") as f:
            f.write(profile)
        return "C:\\kvilbench\\support-" + mode

    def install_recorders(self):
        system32 = os.path.join(self.drive_c, "windows", "system32")
        for tool in RECORDED_TOOLS:
            shutil.copy(os.path.join(self.bin, "kvilbench_recorder.exe"),
                        os.path.join(system32, tool + ".exe"))
        # Proof that a started tool is counted: one start, one line.
        self.clear(self.recorder_log)
        with open(self.tool_log, "a") as log:
            log.write("== wine attrib /? (the recorder's check)\n")
            log.flush()
            subprocess.run(["wine", "C:\\windows\\system32\\attrib.exe", "/?"], env=self.env,
                           stdout=log, stderr=subprocess.STDOUT)
        if self.count_lines(self.recorder_log) != 1:
            fail("the recorder standing in for attrib did not record its start", self.tool_log)

    def restore_property(self, mode):
        """BenchRestore for the restore step: copies of the mode's support
        folder and of the shared data file, put back before each call."""
        base = os.path.join(self.drive_c, "kvilbench", "restore-" + mode)
        self.support_folder(mode, os.path.join(base, "support"))
        os.makedirs(os.path.join(base, "tempini"), exist_ok=True)
        win = "C:\\kvilbench\\restore-" + mode
        return (win + "\\support>C:\\kvilbench\\support-" + mode + "|" +
                win + "\\tempini>C:\\tempini")

    def build_package(self, name, dll, entry, calls, properties, restore=False, sql=()):
        folder = os.path.join(self.out, "packages", name)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "payload.txt"), "w") as f:
            f.write("benchmark payload\n")
        lines = [
            '<?xml version="1.0" encoding="utf-8"?>',
            '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
            ' <Product Id="*" Name="KVIL bench %s" Language="1033" Version="1.0.0"'
            ' Manufacturer="KVIL bench" UpgradeCode="%s">' % (xml(name), uuid.uuid4()),
            '  <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>',
            '  <Media Id="1" Cabinet="payload.cab" EmbedCab="yes"/>',
        ]
        for key, value in properties:
            lines.append('  <Property Id="%s" Value="%s"/>' % (xml(key), xml(value)))
        # The calls in their order; with `restore`, each one follows a call of
        # the restore step (alone in the restore step's reference package).
        sequence = []
        if restore:
            shutil.copy(os.path.join(self.bin, "kvilbench_floor.dll"),
                        os.path.join(folder, "restore.dll"))
            lines.append('  <Binary Id="RestoreDll" SourceFile="restore.dll"/>')
        if dll:
            # wixl takes only file names relative to the folder it runs in.
            shutil.copy(dll, os.path.join(folder, "action.dll"))
            lines.append('  <Binary Id="ActionDll" SourceFile="action.dll"/>')
        for call in range(calls):
            if restore:
                lines.append('  <CustomAction Id="Restore%02d" BinaryKey="RestoreDll"'
                             ' DllEntry="caBenchRestore" Execute="immediate" Return="check"/>'
                             % call)
                sequence.append("Restore%02d" % call)
            if dll:
                lines.append('  <CustomAction Id="Call%02d" BinaryKey="ActionDll" DllEntry="%s"'
                             ' Execute="immediate" Return="check"/>' % (call, xml(entry)))
                sequence.append("Call%02d" % call)
        lines += [
            '  <Directory Id="TARGETDIR" Name="SourceDir">',
            '   <Directory Id="ProgramFiles64Folder">',
            '    <Directory Id="INSTALLDIR" Name="KVIL bench %s">' % xml(name),
            '     <Component Id="Payload" Guid="%s" Win64="yes">' % uuid.uuid4(),
            '      <File Id="payload.txt" Source="payload.txt"/>',
            '     </Component>',
            '    </Directory>',
            '   </Directory>',
            '  </Directory>',
            '  <Feature Id="Main" Level="1"><ComponentRef Id="Payload"/></Feature>',
        ]
        if sequence:
            lines.append('  <InstallExecuteSequence>')
            for number, action in enumerate(sequence):
                lines.append('   <Custom Action="%s" Sequence="%d">NOT Installed</Custom>'
                             % (action, FIRST_SEQUENCE + number))
            lines.append('  </InstallExecuteSequence>')
        lines += [' </Product>', '</Wix>']
        with open(os.path.join(folder, "package.wxs"), "w") as f:
            f.write("\n".join(lines) + "\n")
        self.run_tool(["wixl", "-a", "x64", "-o", "package.msi", "package.wxs"], cwd=folder)
        if sequence:
            # wixl marks every action no-impersonate: make them plain immediate DLL calls.
            self.run_tool(["msibuild", "package.msi", "-q", "UPDATE CustomAction SET Type=1"],
                          cwd=folder)
        for query in sql:
            self.run_tool(["msibuild", "package.msi", "-q", query], cwd=folder)
        return os.path.join(folder, "package.msi")

    def measure_in_process(self, row, product, floor, calls):
        """Milliseconds per call of the export run by kvilbench_inproc, in a
        session of its package opened in that process; None when it fails."""
        self.prepare(row)
        command = ["wine", os.path.join(self.bin, "kvilbench_inproc.exe"),
                   windows_path(row["package"]), windows_path(product), row["export"], str(calls)]
        if row["restore"]:
            command.append(windows_path(floor))
        with open(self.tool_log, "a") as log:
            log.write("== " + " ".join(command) + "\n")
            log.flush()
            result = subprocess.run(command, cwd=self.out, env=self.env, stdout=subprocess.PIPE,
                                    stderr=log, universal_newlines=True)
        fields = dict(word.split("=", 1) for word in result.stdout.split() if "=" in word)
        if result.returncode != 0 or "ms" not in fields:
            return None
        return float(fields["ms"])

    # ---------------------------------------------------------------- running

    @staticmethod
    def clear(path):
        if os.path.exists(path):
            os.remove(path)

    @staticmethod
    def count_lines(path):
        if not os.path.exists(path):
            return 0
        with open(path, "rb") as f:
            return sum(1 for _ in f)

    def write_stored(self, stored, support, folder=None):
        folder = folder or os.path.join(self.drive_c, "tempini")
        path = os.path.join(folder, "kvil100.txt")
        if not stored:
            self.clear(path)
            return
        os.makedirs(folder, exist_ok=True)
        with open(path, "w", newline="\r\n") as f:
            for key, value in stored:
                f.write("%s=%s\n" % (key, value.replace("{support}", support or "")))

    def msiexec(self, option, package):
        started = time.perf_counter()
        # From the output folder: what the actions leave in their working
        # folder (a shell redirection's file) stays out of the source tree.
        result = subprocess.run(["wine", "msiexec", option, windows_path(package), "/qn"],
                                cwd=self.out, env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, universal_newlines=True, errors="replace")
        seconds = time.perf_counter() - started
        crashed = re.search(r"Custom action \(.*\) caused a page fault", result.stderr)
        if crashed or result.returncode != 0:
            # Kept beside the package; the table's note names it.
            with open(os.path.join(os.path.dirname(package), "msiexec.log"), "a") as log:
                log.write("== msiexec %s (exit %d)\n%s" % (option, result.returncode, result.stderr))
        return seconds, "crash" if crashed else result.returncode

    def journals(self):
        base = os.path.join(self.drive_c, "kvilbench")
        for mode in ("journal", "quiet"):
            yield os.path.join(base, "support-" + mode, "kvilsim-journal.txt")

    def prepare(self, row):
        # An action may empty its support folder (a rollback does): each
        # package starts from complete ones.
        for mode in ("journal", "quiet"):
            self.support_folder(mode)
        self.write_stored(row["stored"], row["support"])
        if row["restore"]:
            # The restore step copies this one back before each call.
            self.write_stored(row["stored"], row["support"],
                              os.path.join(self.drive_c, "kvilbench", "restore-" + row["mode"],
                                           "tempini"))
        for journal in self.journals():
            self.clear(journal)
        self.clear(self.recorder_log)

    def measure(self, row, round_number):
        self.prepare(row)
        row["rounds"].append(round_number)
        seconds, code = self.msiexec("/i", row["package"])
        _, removed = self.msiexec("/x", row["package"])
        # Tools started without a wait may still be writing: count after removal.
        row["children"].append(self.count_lines(self.recorder_log))
        row["seconds"].append(seconds)
        if code != 0:
            row["failures"].append(code)
        if removed != 0:
            row["removal_failures"].append(removed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True, help="build output folder (KVILMSI64.dll, ...)")
    parser.add_argument("--prefix", required=True, help="Wine prefix for the installs")
    parser.add_argument("--out", required=True, help="folder for packages, table and chart")
    parser.add_argument("--def", dest="def_file", required=True, help="KVILMSI64.def")
    parser.add_argument("--inputs", required=True, help="bench/exports.txt")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--calls", type=int, default=20)
    parser.add_argument("--only", default="", help="comma-separated exports (default: all)")
    parser.add_argument("--in-process-calls", type=int, default=5,
                        help="calls per export in the in-process pass (0: no such pass)")
    args = parser.parse_args()
    wall = time.perf_counter()

    bench = Bench(args)
    shutil.rmtree(os.path.join(bench.out, "packages"), ignore_errors=True)
    os.makedirs(bench.out, exist_ok=True)
    bench.clear(bench.tool_log)
    product = os.path.join(bench.bin, "KVILMSI64.dll")
    floor = os.path.join(bench.bin, "kvilbench_floor.dll")
    dll_kb = os.path.getsize(product) / 1024.0

    exports = def_exports(args.def_file)
    inputs = read_inputs(args.inputs)
    only = [name for name in args.only.split(",") if name]
    supports = {mode: bench.support_folder(mode) for mode in ("journal", "quiet")}
    bench.install_recorders()

    def row(name, export, mode, package, stored=(), restore=False, reference=None):
        return {"name": name, "export": export, "mode": mode, "package": package,
                "stored": list(stored), "support": supports.get(mode), "seconds": [], "rounds": [],
                "children": [], "failures": [], "removal_failures": [], "restore": restore,
                "reference": reference}

    rows = [row("empty", "(no custom action)", "-",
                bench.build_package("empty", None, None, 0, [])),
            row("floor", "(floor: no-op export)", "-",
                bench.build_package("floor", floor, "caBenchNoop", args.calls, []))]
    for entry, kind in CALIBRATION:
        rows.append(row("calibration-" + entry, kind, "-",
                        bench.build_package("calibration-" + entry, floor, entry, args.calls, [])))
        rows[-1]["calibration"] = True
    not_measured = []
    for export in exports:
        if only and export not in only:
            continue
        if export not in inputs:
            not_measured.append(export)
            continue
        restore = inputs[export]["restore"]
        for mode in inputs[export]["modes"]:
            name = export if mode == "-" else export + "-" + mode
            properties = [["SUPPORTDIR", supports.get(mode, supports["journal"])]]
            properties += [[key, value.replace("{support}", properties[0][1])]
                           for key, value in inputs[export]["properties"]]
            reference = None
            if restore:
                # The reference: the restore step alone, as often.
                reference = "restore-" + mode
                properties.append(["BenchRestore", bench.restore_property(mode)])
                if reference not in [each["name"] for each in rows]:
                    rows.append(row(reference, "(restore step, %s)" % mode, mode,
                                    bench.build_package(reference, None, None, args.calls,
                                                        properties[-1:], restore=True),
                                    inputs[export]["stored"], True))
            rows.append(row(name, export, mode,
                            bench.build_package(name, product, export, args.calls, properties,
                                                restore, PACKAGE_SQL.get(export, ())),
                            inputs[export]["stored"], restore, reference))

    shuffle = random.Random(13)
    for number in range(args.rounds):
        # The two baselines every figure rests on are installed BASELINE_RUNS
        # times a round, spread over it, so that one slow install of theirs
        # does not move the whole table.
        order = rows[:] + rows[:2] * (BASELINE_RUNS - 1)
        shuffle.shuffle(order)
        for each in order:
            bench.measure(each, number)
        print("round %d of %d done (%.0f s)" % (number + 1, args.rounds,
                                                time.perf_counter() - wall), flush=True)
    # The same exports with the installer in their own process: what remains
    # is their own work. After the installs, since these calls change the
    # prefix as the installs do.
    own_rows = [each for each in rows[2:] if not each.get("calibration") and
                not each["name"].startswith("restore-")]
    if args.in_process_calls > 0:
        for each in own_rows:
            each["in_process_ms"] = bench.measure_in_process(each, product, floor,
                                                             args.in_process_calls)
        print("in-process pass done (%.0f s)" % (time.perf_counter() - wall), flush=True)
    bench.write_stored([], None)

    # Paired per round: what the package took beyond the empty one (or, for
    # an export behind the restore step, beyond the restore step's package),
    # per call.
    def round_seconds(each):
        return [statistics.median(s for s, r in zip(each["seconds"], each["rounds"]) if r == number)
                for number in range(args.rounds)]

    empty = round_seconds(rows[0])
    by_name = {each["name"]: each for each in rows}
    for each in rows:
        base = round_seconds(by_name[each["reference"]]) if each["reference"] else empty
        each["per_call_ms"] = statistics.median(
            (s - e) * 1000.0 / args.calls for s, e in zip(round_seconds(each), base))
    floor_ms = rows[1]["per_call_ms"]

    header = "%-36s %-8s %9s %8s %10s %14s %7s  %s" % (
        "Export", "Library", "ms/call", "x floor", "in-process", "children/call", "DLL KB", "Note")
    lines = [
        "KVILMSI64 benchmark: %d calls per package, %d rounds, wine msiexec /qn" %
        (args.calls, args.rounds),
        "Empty package install (median): %.0f ms; floor: %.2f ms per call" %
        (statistics.median(empty) * 1000.0, floor_ms),
        "KVILMSI64.dll: %.1f KB" % dll_kb,
        "",
        header,
        "-" * len(header),
    ]
    chart = []
    for each in rows[1:]:
        if each.get("calibration"):
            continue
        ratio = each["per_call_ms"] / floor_ms if floor_ms > 0 else float("nan")
        children = statistics.median(each["children"]) / args.calls if each["name"] != "floor" else 0
        library = each["mode"]
        note = "failed (exit %s)" % sorted(set(map(str, each["failures"]))) if each["failures"] else ""
        if each["removal_failures"]:
            note += " removal failed (exit %s)" % sorted(set(map(str, each["removal_failures"])))
        if each["failures"] or each["removal_failures"]:
            note += " (see packages/%s/msiexec.log)" % each["name"]
        if each["reference"]:
            note = ("beyond the restore step " + note).strip()
        own = each["name"] != "floor" and not each["name"].startswith("restore-")
        size = "%.0f" % dll_kb if own else "%.0f" % (os.path.getsize(floor) / 1024.0)
        in_process = each.get("in_process_ms")
        in_process = "-" if in_process is None else "%.2f" % in_process
        if each in own_rows and args.in_process_calls > 0 and in_process == "-":
            note = (note + " in-process run failed (see tools.log)").strip()
        lines.append("%-36s %-8s %9.2f %8.2f %10s %14.2f %7s  %s" % (
            each["export"], library, each["per_call_ms"], ratio, in_process, children, size, note))
        if own:
            label = each["export"] + ("" if each["mode"] == "-" else " (" + each["mode"] + ")")
            chart.append((label, ratio))
    for export in not_measured:
        lines.append("%-36s %-8s %9s %8s %10s %14s %7s  %s" % (
            export, "-", "-", "-", "-", "-", "-", "not measured: no inputs in bench/exports.txt"))
    lines.append("")
    lines.append("One installer call from a custom action (%d per call of a calibration "
                 "export, beyond the floor):" % CALIBRATION_CALLS)
    for each in rows:
        if each.get("calibration"):
            lines.append("  %-30s %6.3f ms" % (
                each["export"], (each["per_call_ms"] - floor_ms) / CALIBRATION_CALLS))
    lines.append("")
    lines.append("Full run: %.0f s" % (time.perf_counter() - wall))
    table = "\n".join(lines) + "\n"
    sys.stdout.write(table)
    with open(os.path.join(bench.out, "results.txt"), "w") as f:
        f.write(table)
    draw_chart(bench, chart)
    return 0


def draw_chart(bench, chart):
    data = os.path.join(bench.out, "ratios.dat")
    with open(data, "w") as f:
        for label, ratio in chart:
            f.write('"%s" %.3f\n' % (label, ratio))
    png = os.path.join(bench.out, "ratios.png")
    script = "\n".join([
        'set terminal pngcairo size 1000,%d font ",10"' % (220 + 28 * len(chart)),
        'set output "%s"' % png,
        'set title "Cost per call relative to the floor (no-op DLL custom action)"',
        'set style data histograms',
        'set style fill solid 0.8 border -1',
        'set boxwidth 0.7',
        'set xtics rotate by -35 noenhanced',
        'set ylabel "x floor (log scale)"',
        # A log scale: the child-process actions cost 50 to 80 floors, the
        # immediate ones are judged against 2.
        'set logscale y',
        'set yrange [0.3:*]',
        'set grid ytics',
        'set key top left',
        'set rmargin 16',
        'plot "%s" using 2:xtic(1) title "ratio to the floor" lc rgb "#3a6ea5", '
        '2 with lines lw 2 dt 2 lc rgb "#c0392b" title "goal: 2x floor"' % data,
    ])
    with open(os.path.join(bench.out, "ratios.gp"), "w") as f:
        f.write(script + "\n")
    bench.run_tool(["gnuplot", os.path.join(bench.out, "ratios.gp")])
    print("Table: %s\nChart: %s" % (os.path.join(bench.out, "results.txt"), png))


if __name__ == "__main__":
    sys.exit(main())

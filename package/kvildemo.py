"""Installs the demo package under Wine: a prefix configured as a Windows
server, msiexec runs with a verbose log, a bound and a watcher that answers
every window, and readers of what a run left (log, journal, registry, files).
Used by demo.py (the main job) and the end-to-end tests. Every tool's output
goes to WORK/steps.log; a failing step names itself and shows its end."""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

# The report (report/) reads the runs' logs and exit statuses.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "report"))
from kvilreport import msistatus  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent
RUN_TIMEOUT = int(os.environ.get("KVIL_RUN_TIMEOUT", "300"))
PRODUCT_KEY = r"HKLM\SOFTWARE\Tavrin Computer Corporation"
SERVICES = ("Orvessa", "dcstor64", "dcevt64", "kvasad")
# What Wine's installer writes when a DLL custom action faults; it then goes on
# as if the action had returned success.
CRASH = re.compile(r"Custom action \(.*\) caused a page fault")
# The export table: an action runs in the package once its export is listed.
EXPORTS = [line.strip() for line in (ROOT / "KVILMSI64.def").read_text().splitlines()
           if re.fullmatch(r"\s*caKVIL\w+\s*", line)]
FEATURES = ["IWS", "SI", "KVSS", "RmtMgmt", "WMI", "SNMP", "CLI", "OSLOG", "iVIRK", "NICInt", "INTEL", "BRCM"]
STATUS = ["CP_IWSSTATUS", "CP_SASTATUS", "CP_KVSMSTATUS", "CP_SSASTATUS", "CP_WMISTATUS", "CP_SNMPSTATUS",
          "CP_CLISTATUS", "CP_OSLOGSTATUS", "CP_iVIRK12GSTATUS", "CP_NICSTATUS", "CP_INTELSTATUS", "CP_BRCMSTATUS"]


class StepFailed(Exception):
    pass


# The demo package's first DLL custom action in either sequence; it takes well
# under a second.
FIRST_DLL_ACTION = "ExtractSupportFiles"
STARTUP_STALL = int(os.environ.get("KVIL_STARTUP_STALL", "60"))
STARTUP_HANG = object()


class StallWatch:
    """Tells a run whose verbose log has ended on the start of the first DLL
    custom action and not grown for STARTUP_STALL seconds."""

    def __init__(self, verbose_log):
        self.path = verbose_log
        self.size = -1
        self.since = time.monotonic()
        self.checked = 0.0

    def hung_at_first_action(self):
        now = time.monotonic()
        if now - self.checked < 5:
            return False
        self.checked = now
        size = self.path.stat().st_size if self.path.exists() else 0
        if size != self.size:
            self.size, self.since = size, now
            return False
        if now - self.since < STARTUP_STALL:
            return False
        with self.path.open("rb") as log:
            log.seek(max(0, size - 2000))
            tail = log.read().decode(errors="replace")
        starts = re.findall(r"Action start [\d:]+: (\w+)\.", tail)
        return bool(starts) and starts[-1] == FIRST_DLL_ACTION and "Action ended" not in tail.rsplit(
            "Action start", 1)[-1]


class Machine:
    """One Wine prefix below WORK, in which the demo package is installed."""


    def __init__(self, build, work, env=None):
        self.build = pathlib.Path(build).resolve()
        self.work = pathlib.Path(work).resolve()
        self.work.mkdir(parents=True, exist_ok=True)
        self.steps = self.work / "steps.log"
        self.prefix = self.work / "prefix"
        self.drive = self.prefix / "drive_c"
        # The installer's own errors stay on: a custom action that crashes is
        # logged as a success and shows only there (see msiexec below).
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all,err+msi",
                        LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=")
        # E.g. LC_ALL/LANG of a Japanese system: Wine takes the ANSI code page from them.
        self.env.update(env or {})

    def step(self, description, *command, check=True, timeout=RUN_TIMEOUT, attempts=1):
        for attempt in range(attempts):
            with self.steps.open("a") as log:
                again = f" (attempt {attempt + 1})" if attempt else ""
                log.write(f"== {description}{again}: {' '.join(map(str, command))}\n")
                log.flush()
                try:
                    result = subprocess.run(list(map(str, command)), env=self.env, stdout=log,
                                            stderr=subprocess.STDOUT, timeout=timeout)
                except subprocess.TimeoutExpired:
                    self.fail(f"{description} did not end within {timeout} s")
            if result.returncode == 0:
                break
            time.sleep(1)
        if check and result.returncode != 0:
            self.fail(f"{description} failed (exit {result.returncode})")
        return result.returncode

    def fail(self, what):
        tail = "".join(self.steps.read_text(errors="replace").splitlines(True)[-30:])
        raise StepFailed(f"{what}; the end of {self.steps}:\n{tail}")

    def output(self, *command):
        return subprocess.run(list(map(str, command)), env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, errors="replace").stdout

    def prepare(self):
        """A fresh prefix, copied from the build's test prefix when there is one,
        made a Windows 8.1-class server (Windows Server 2012 R2)."""
        self.step("stopping an earlier wineserver", "wineserver", "-k", check=False)
        shutil.rmtree(self.prefix, ignore_errors=True)
        # A pristine prefix, made once per build folder (the unit tests' prefix
        # holds what they leave).
        template = self.build / "e2e-template"
        if not (template / ".kvil-ready").exists():
            self.step("creating the Wine prefix", ROOT / "cmake" / "make-prefix.sh", template)
        self.step("copying the Wine prefix", "cp", "-a", template, self.prefix)
        self.step("starting the wineserver", "wineserver", "-p")
        # The first programs Wine starts in a freshly copied prefix now and then
        # fail to start ("ShellExecuteEx failed"): these steps get three tries.
        self.step("making the prefix a Windows 8.1-class system", "wine", "winecfg", "/v", "win81",
                  attempts=3)
        self.step("making the prefix a server", "wine", "reg", "add",
                  r"HKLM\System\CurrentControlSet\Control\ProductOptions", "/v", "ProductType", "/d",
                  "ServerNT", "/f", attempts=3)
        (self.drive / "kvildemo").mkdir(exist_ok=True)
        shutil.copy(self.build / "bin" / "kvilwatch.exe", self.drive / "kvildemo")

    def close(self):
        self.step("stopping the wineserver", "wineserver", "-k", check=False)

    def package(self, name="orvessa-demo.msi", version="9.1.0", profile=None, options=()):
        """Builds a demo package into the prefix's C:\\kvildemo; returns its Windows path.
        OPTIONS go to build-package.py as they are (e.g. --language 1041)."""
        args = [sys.executable, ROOT / "package" / "build-package.py", self.build / "bin", self.work,
                "--name", name, "--version", version, *options]
        if profile:
            args += ["--profile", profile]
        self.step(f"building the package {name}", *args)
        shutil.copy(self.work / name, self.drive / "kvildemo" / name)
        return "C:\\kvildemo\\" + name

    def msiexec(self, name, *args, answer="yes", on_ready=None):
        """Runs wine msiexec ARGS with the verbose log C:\\kvildemo\\NAME.log while
        the watcher answers message boxes with ANSWER (yes or no). When the
        ready-to-install dialog shows, on_ready (if given) is called before
        Install is pressed. Returns a Run; a run that does not end within the
        bound fails. Now and then Wine's installer never starts the server of
        the run's first custom action (the package's own support-file
        extraction): such a run is stopped and made once more, and says so."""
        status = self._msiexec_once(name, args, answer, on_ready)
        if status is STARTUP_HANG:
            note = (f"msiexec {' '.join(args)}: Wine's installer hung at {FIRST_DLL_ACTION}, before any "
                    f"action of the product ran ({STARTUP_STALL} s without a log line); running it again")
            with self.steps.open("a") as log:
                log.write(f"== {note}\n")
            print(f"kvildemo: {note}", file=sys.stderr, flush=True)
            status = self._msiexec_once(name, args, answer, on_ready)
        if status is STARTUP_HANG:
            self.fail(f"msiexec {' '.join(args)} hung twice at {FIRST_DLL_ACTION}")
        return Run(self, name, status)

    def _msiexec_once(self, name, args, answer, on_ready):
        folder = self.drive / "kvildemo"
        for old in folder.glob(name + ".*"):
            old.unlink()
        if on_ready is None:
            (folder / f"{name}.watch.go").write_text("")
        verbose_log = folder / f"{name}.log"
        with self.steps.open("a") as log:
            log.write(f"== msiexec {' '.join(args)}\n")
            log.flush()
            run_output_start = log.tell()
            watcher = subprocess.Popen(["wine", "C:\\kvildemo\\kvilwatch.exe", f"C:\\kvildemo\\{name}.watch", answer],
                                       env=self.env, stdout=log, stderr=subprocess.STDOUT)
            run = subprocess.Popen(["wine", "msiexec", *args, "/l*v", f"C:\\kvildemo\\{name}.log"],
                                   env=self.env, stdout=log, stderr=subprocess.STDOUT)
            deadline = time.monotonic() + RUN_TIMEOUT
            stall = StallWatch(verbose_log)
            hung = False
            while run.poll() is None and time.monotonic() < deadline:
                if on_ready and (folder / f"{name}.watch.ready").exists():
                    time.sleep(1)  # let the dialog paint
                    on_ready()
                    (folder / f"{name}.watch.go").write_text("")
                    on_ready = None
                if stall.hung_at_first_action():
                    hung = True
                    break
                time.sleep(0.2)
            status = run.poll()
            (folder / f"{name}.watch.stop").write_text("")
            try:
                watcher.wait(timeout=30)
            except subprocess.TimeoutExpired:
                watcher.kill()
        if hung or status is None:
            run.kill()
            self.step("stopping the hung run", "wineserver", "-k", check=False)
            if hung:
                return STARTUP_HANG
            self.fail(f"msiexec {' '.join(args)} did not end within {RUN_TIMEOUT} s")
        with self.steps.open("rb") as log:
            log.seek(run_output_start)
            output = log.read().decode(errors="replace")
        crashes = [line.strip() for line in output.splitlines() if CRASH.search(line)]
        if crashes:
            self.fail(f"a custom action crashed in msiexec {' '.join(args)} "
                      f"(its log says it succeeded): {crashes[0]}")
        return status

    # What the machine holds.
    def registry(self):
        """The product's registry keys (none when the maker's key is gone)."""
        return [line for line in self.output("wine", "reg", "query", PRODUCT_KEY, "/s").splitlines()
                if line.startswith("HKEY")]

    def services(self):
        present = []
        for service in SERVICES:
            if "SERVICE_NAME" in self.output("wine", "sc", "query", service):
                present.append(service)
        return present

    def product_files(self, temp_folder=""):
        """Files and folders of the product anywhere they may be left."""
        places = ["Program Files/Tavrin", "Program Files/tempini", "tempini", "users/root/Temp/kviltmpmn",
                  "users/root/Temp/kvil100.txt"]
        if temp_folder:
            places.append(temp_folder)
        left = []
        for place in places:
            path = self.drive / place
            if path.is_dir():
                left += sorted(str(p.relative_to(self.drive)) for p in path.rglob("*") if p.is_file()) or [place]
            elif path.exists():
                left.append(place)
        return left

    def journal(self):
        path = self.drive / "windows" / "temp" / "kvilsim-journal.txt"
        return path.read_text(errors="replace").splitlines() if path.exists() else []


class Run:
    """One msiexec run: its exit code, verbose log and what the watcher saw."""

    def __init__(self, machine, name, status):
        folder = machine.drive / "kvildemo"
        self.status = status
        self.log_path = folder / f"{name}.log"
        self.log = self.log_path.read_text(errors="replace") if self.log_path.exists() else ""
        watch = folder / f"{name}.watch"
        self.watched = watch.read_text(errors="replace").splitlines() if watch.exists() else []
        summary = folder / f"{name}.watch.summary"
        self.summary = summary.read_text(errors="replace") if summary.exists() else None

    @property
    def succeeded(self):
        return self.status == 0

    @property
    def windows_status(self):
        """The exit status as Windows reports it (1603, not the 67 Linux sees)."""
        return msistatus.windows_status(self.status)

    def results(self):
        """{action: return value} of every action that ended (the last run of each)."""
        return {m[0]: int(m[1]) for m in re.findall(r"Action ended [\d:]+: (\w+)\. Return value (-?\d+)", self.log)}

    def started(self):
        return re.findall(r"Action start [\d:]+: (\w+)\.", self.log)

    def properties(self):
        """The properties at the end of the run, as the log lists them."""
        return dict(re.findall(r"Property\([SC]\): (\w+) = ([^\r\n]*)", self.log))

    def boxes(self):
        return [line.split("|", 2)[1:] for line in self.watched if line.startswith("box|")]

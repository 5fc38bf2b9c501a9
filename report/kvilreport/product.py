"""The product layer over the log model: what the report knows of the
Orvessa package of KVILMSI64.dll (its features and the properties that
publish their dispositions, the qualification's lines that explain them,
the system check's verdicts, the command phases, the actions that run in
the installation script with their types, what a failure of its silent
actions means), and what it finds with that in a log: each feature's
disposition and what the run did with it, the DLL's versions that ran, and
a rollback action that ran outside a rollback script."""
import re
from dataclasses import dataclass, field

from . import findings as generic
from .log import ROLLBACK_TYPE, Layer
from .product_data import FEATURES as FEATURE_TABLE
from .product_data import SCRIPT_ACTIONS as SCRIPT_ACTION_TYPES

# The product's features and the properties that publish their dispositions.
FEATURES = [key for key, _ in FEATURE_TABLE]
STATUS = [status for _, status in FEATURE_TABLE]
DISPOSITIONS = {"0": "selectable", "1": "selectable (checker code 1)", "2": "shown, not selectable",
                "3": "hidden"}
FLAGS = ["CP_2012", "CP_2012R2", "CP_2016", "CP_2019", "CP_2022", "CP_12GSERVER", "CP_13GSERVER",
         "CP_14GSERVER", "CP_15GSERVER", "CP_16GSERVER", "CP_SUPPORTEDSYSTEM", "CP_PEARL", "CP_TAVRINSERVER",
         "CP_REQUIRESAFAMGT"]
PRODUCT_TYPES = {"1": "workstation", "2": "domain controller", "3": "server"}
# The qualification's log lines that explain a disposition, the feature each
# concerns (None: the feature named in the line) and the disposition it raises
# the feature to (an installed feature keeps 0 whatever the line says).
REASONS = [
    (r"Hiding feature (\w+) since .*", None, 3),
    (r"Making feature (\w+) unselectable .*", None, 2),
    (r"Intel card was not detected\.", "INTEL", 2),
    (r"Broadcom card was not detected\.", "BRCM", 2),
    (r"This is not a 12g server.*", "iVIRK", 3),
    (r"Disable the VIRK tools feature", "iVIRK", 3),
    (r"WMI not detected.*", "RmtMgmt", 3),
    (r"Either WinRM is not detected.*", "RmtMgmt", 2),
]
CONSOLE_ONLY = "Enable only console on this system."   # every feature but IWS hidden
UNEXPLAINED = "no line in the log explains it"
# What a failure means of the product's actions that fail on purpose without
# a line of their own. {version}: the package's ProductVersion.
FAILURE_MEANINGS = {
    "caKVILPreReqCheckNode": (
        "Its failure (1603) is one of these, none of which writes a log line: the vendor library "
        "KVIL64.dll could not be used (it did not load or lacks a function; a message box named it, "
        "except for IsSystem13GFullCheck); the user answered No when asked whether to go on although "
        "the Prerequisite Checker was not run, or although its version differs from the package's; "
        "without the full interface, the checker's version differs from the package's; or the "
        "Prerequisite Checker reported failure for all features (its ALL code is 3 or more)"),
    "caKVILSetFirstTimeInstall": (
        "Its failure (1603) only refuses a downgrade: the installed version (registry value Version of "
        "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\SystemsManagement) is later than "
        "the package's ({version}); with the full interface the user saw \"The installed version is later "
        "than the version you are trying to install.\""),
}
# The system check's verdict lines, in the words a support engineer reads.
VERDICTS = [
    ("This is Rack Lumetra system", "rack workstation model, always accepted"),
    ("This is an older system no longer supported.", "older model, no longer supported"),
    ("This is NOT a supported system.", "not a supported model"),
    ("This is supported system.", "supported model"),
    ("User does not want to check the system.", "not checked (SYSTEMCHECK = NO or nosystemcheck.txt)"),
]
SYSTEM_ID = r"System id of the system = .*"
SYSTEM_ID_SOURCE = r"Using (registry|SMBIOS) to get system id\."
RELEASES = [r"Prereqcheck: The server has Windows \d+ OS\.",
            r"This is 1\dg server(, enable ivirk12g for installation)?"]
# The command phases: the phase given to features being installed / removed.
PHASES = {"caKVILPreInstall": ("PreInstall", "PreUnInstall"), "caKVILPostInstall": ("PostInstall", "PostUnInstall"),
          "caKVILPreInstallRollback": ("PreInstall", "PreUnInstall"),
          "caKVILPostInstallRollback": ("PostInstall", "PostUnInstall")}
FEATURE_WORK = re.compile(r"(Installing|Uninstalling) feature (\w+)\s*$")
# The line each export writes first: its name and the DLL's file version.
VERSION_LINE = re.compile(r"(caKVIL\w+): KVILMSI64\.dll (\S+)\s*$")
# The product's actions that run in the installation script; in the
# immediate pass the log only shows them being scheduled.
SCRIPT_ACTIONS = frozenset(SCRIPT_ACTION_TYPES)
ROLLBACK_ACTIONS = {name: kind for name, kind in SCRIPT_ACTION_TYPES.items() if kind & ROLLBACK_TYPE}
OWN_ACTIONS = "caKVIL"   # the start of every action of KVILMSI64.dll
# The lines of the product's actions that the findings read, kept while the
# log streams by (nothing else of the log is kept).
KEPT_LINES = re.compile("(?:" + "|".join([
    SYSTEM_ID, SYSTEM_ID_SOURCE, *RELEASES, *(pattern for pattern, _, _ in REASONS), re.escape(CONSOLE_ONLY),
    *(re.escape(line) for line, _ in VERDICTS)]) + r")\Z")


class ProductLayer(Layer):
    own_prefix = OWN_ACTIONS
    script_actions = SCRIPT_ACTIONS
    kept_lines = KEPT_LINES
    noted_lines = re.compile(f"{FEATURE_WORK.pattern}|{VERSION_LINE.pattern}")


LAYER = ProductLayer()


# What the layer finds in a log.

@dataclass
class FeatureRow:
    name: str
    disposition: str      # as the qualification published it, in words
    why: list             # the qualification's lines that explain it
    action: str           # what the run did with it


@dataclass
class Mine:
    """What this product's layer finds in a log (Findings.mine)."""
    own: bool             # the log holds this product's actions
    features: list = field(default_factory=list)
    dll_versions: list = field(default_factory=list)   # [(version, [where it ran])], in order of first run
    misplaced: list = field(default_factory=list)      # [(rollback action, the kit's type)] run outside a rollback


def findings(log, exit_status=None, stop_messages=None):
    """The findings of a log (read with LAYER), with this product's own."""
    found = generic.findings(log, exit_status, stop_messages)
    own = any(r.name.startswith(OWN_ACTIONS) for r in log.runs)
    outcome = found.outcome or "unknown"
    found.mine = Mine(own, feature_rows(log, outcome) if own else [], dll_versions(log), misplaced_rollbacks(log))
    return found


def command_runs(log):
    """The command phases that ran, in the installation script or its rollback."""
    return [r for r in log.runs if r.name in PHASES and r.phase in ("script", "rollback")]


def dll_versions(log):
    """[(file version, [where it ran])] of KVILMSI64.dll from the line each
    export writes first: "this run" or "the old version's removal"."""
    versions = {}
    for run in log.runs:
        for line in run.noted:
            if m := VERSION_LINE.match(line):
                where = "the old version's removal" if run.nested else "this run"
                places = versions.setdefault(m[2], [])
                if where not in places:
                    places.append(where)
    return list(versions.items())


def misplaced_rollbacks(log):
    """[(action, the kit's type)] of this product's rollback actions that ran
    before the installation script, outside any rollback: they wrote their
    own lines or failed between their start and end. Their type in the
    package lacks the rollback flag (a compiler that did not write the
    kit's types)."""
    found = []
    for run in log.runs:
        if run.name in ROLLBACK_ACTIONS and not run.nested and run.phase in ("immediate", "scheduled") and (
                run.wrote_own or log.failed(run)) and run.name not in (name for name, _ in found):
            found.append((run.name, ROLLBACK_ACTIONS[run.name]))
    return found


# This product's features.

def reasons(log, feature, status):
    """The qualification's lines that explain the feature's disposition
    status ("" when not published: every line about the feature). A line
    that raises it above its final disposition did not apply (the feature
    is installed) and is left out; a disposition above 1 that no line
    reaches is said to be unexplained (the qualification raises some
    without a line: a missing Version registry value, the prerequisite
    checker's codes, a major upgrade's lock)."""
    found, final = {}, int(status) if status in DISPOSITIONS else None
    for pattern, concerns, value in REASONS + [(re.escape(CONSOLE_ONLY), "not IWS", 3)]:
        for line in log.found(pattern):
            key = re.fullmatch(pattern, line).group(1) if concerns is None else concerns
            if (key == feature or key == "not IWS" and feature != "IWS") and (final is None or value <= final):
                found.setdefault(line, value)
    if final is not None and final >= 2 and final not in found.values():
        return list(found) + [UNEXPLAINED if not found else
                              f"{UNEXPLAINED} as {DISPOSITIONS[status].split(',')[0]}"]
    return list(found)


def work_of(run):
    """[(Installing or Uninstalling, feature)] of a command phase's run, in order."""
    return [m.groups() for line in run.noted if (m := FEATURE_WORK.match(line))]


def failing_feature(run):
    """('Installing' or 'Uninstalling', feature) of the last feature the run began."""
    began = work_of(run)
    return began[-1] if began else None


def doing(verb):
    return "installing" if verb == "Installing" else "removing"


def feature_work(log):
    """{feature: what the command phases did with it} from the runs of the
    installation script and of its rollback."""
    work = {}
    for run in command_runs(log):
        for verb, feature in work_of(run):
            if run.phase == "rollback":
                if feature not in work:
                    # The run failed before this feature's turn.
                    work[feature] = "not reached before the failure (the rollback ran its commands)"
                elif not work[feature].endswith(("rolled back", ")")):
                    work[feature] += ", then rolled back"
            else:
                work.setdefault(feature, "installed" if verb == "Installing" else "removed")
        if failing_feature(run) and (log.failed(run) or run in log.open_at_end):
            verb, feature = failing_feature(run)
            work[feature] = f"{doing(verb)} it failed" if log.failed(run) else f"{doing(verb)} it when the log ends"
    return work


def published(log):
    return any(s in log.properties for s in STATUS)


def feature_rows(log, outcome):
    """Each feature of the product: its disposition, why, and what the run
    did with it; [] when none appears in the log."""
    p = log.properties
    work = feature_work(log)
    why_of = {feature: reasons(log, feature, p.get(status, "")) for feature, status in zip(FEATURES, STATUS)}
    if not published(log) and not work and not set(FEATURES) & set(log.feature_states) and \
            not any(why_of.values()):
        return []
    rows = []
    for feature, status_property in zip(FEATURES, STATUS):
        status = p.get(status_property, "")
        disposition = DISPOSITIONS.get(status, "not published")
        if feature in log.feature_states:
            installed, request, action = log.feature_states[feature]
            final = f"action {action} (was {installed}, request {request})" + (
                f"; {work[feature]}" if feature in work else "")
        elif feature in work:
            final = work[feature]
        elif outcome == "stopped":
            final = "nothing done (the installation stopped)"
        elif outcome in ("cancelled", "failed") and not log.script_ran():
            final = f"nothing done (the installation {'was cancelled' if outcome == 'cancelled' else 'failed'} " \
                    "before its script ran)"
        elif any(r.phase == "script" for r in command_runs(log)):
            final = "left as it was"
        else:
            final = "not known (no command phase in the log)"
        rows.append(FeatureRow(feature, disposition, why_of[feature], final))
    return rows


def phase_of(run, feature):
    """The command phase a run gave a feature it was installing or removing."""
    return PHASES.get(run.name, ("", ""))[feature[0] != "Installing"]

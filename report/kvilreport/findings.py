"""Findings about a run, plain functions over a Log: what kind of run it was,
how it ended and in which step, whether the script was rolled back, the exit
status, whether a restart was asked for, whether the log is cut short. They
hold for any product; a product layer adds its own (Findings.mine). The text
and the JSON renderings are both made from these findings."""
from dataclasses import dataclass

from .log import SCRIPT_RUNNERS, STANDARD_ACTIONS, UPGRADE
from .msistatus import windows_status

SUCCESS = (0, 3010, 1641)
# The words of the closing line for each kind of run it names.
CLOSING_KINDS = {"installed": "install", "reconfigured": "change", "removed": "removal"}
# How the first line of the text report names each kind.
KIND_WORDS = {"major upgrade": "install (major upgrade)", "administrative": "admin"}
# The properties that make a maintenance run a change (features added or removed).
CHANGES = ("ADDLOCAL", "ADDSOURCE", "ADDDEFAULT", "REMOVE", "ADVERTISE")
# Where the failing step was, as the JSON names it.
BEFORE_SCRIPT, SCRIPT, OLD_REMOVAL, ROLLBACK, COMMIT = (
    "before the script", "script", "old version's removal", "rollback", "commit")


def kind_of(log):
    """install, major upgrade, change, repair, removal, administrative,
    advertise, or None: from the installer's properties (the run's own, not
    the nested removal's), else its command line, else the closing line or
    the outermost action."""
    p = log.properties or log.command_line
    if not p:
        kind = CLOSING_KINDS.get(log.closing_verb or "")
        if log.top and log.top.name in ("ADMIN", "ADVERTISE"):
            kind = "administrative" if log.top.name == "ADMIN" else "advertise"
        elif kind is None and log.top and log.top.name == "INSTALL" and log.engine == "Wine":
            kind = "install"
        return "major upgrade" if kind == "install" and upgrading(log) else kind
    action = (p.get("ACTION") or "INSTALL").upper()
    if action == "ADMIN":
        return "administrative"
    if action == "ADVERTISE":
        return "advertise"
    if p.get("REMOVE", "").upper() == "ALL":
        return "removal"
    if p.get("REINSTALL"):
        return "repair"
    if maintenance(log):
        return "change"
    if upgrading(log) or p.get("CP_DOINGMAJORUPGRADE", "").upper() == "YES":
        return "major upgrade"
    return "install"


def maintenance(log):
    """Whether the product was installed already: the engine entered
    maintenance mode, or Installed or ProductState 5 (installed) is set."""
    p = log.properties or log.command_line
    return log.maintenance or bool(p.get("Installed")) or p.get("ProductState") == "5"


def change_or_repair(log):
    """Whether the log cannot tell a change from a repair: no REINSTALL, and
    neither a whole property list nor a feature being added or removed."""
    p = log.properties or log.command_line
    return not p.get("REINSTALL") and not log.property_list and not any(p.get(name) for name in CHANGES)


def upgrading(log):
    """Whether the run removed, or tried to remove, an old version: a nested
    removal started, or RemoveExistingProducts failed (error 1714)."""
    return log.upgrade or any(r.name == UPGRADE and not r.nested and log.failed(r) for r in log.runs)


def run_kind(log):
    """The kind of run as the text report's first line names it."""
    p = log.properties or log.command_line
    kind = kind_of(log)
    if kind == "removal" and p.get("UPGRADINGPRODUCTCODE"):
        return "removal by an upgrade"
    if kind is None:
        return log.top.name.lower() if log.top and not p else ""
    if kind == "change":
        return "change or repair (maintenance)" if change_or_repair(log) else "change (maintenance)"
    return KIND_WORDS.get(kind, kind)


def outcome_of(log, exit_status=None):
    """(outcome, the run that ended it): outcome is succeeded, failed,
    stopped, cancelled or unknown. exit_status: msiexec's, as Windows gives it."""
    top = log.top
    if (top is None or top.value is None) and log.engine_run:
        # The engine's run (the server's INSTALL under the client's
        # ExecuteAction) ended before the log was cut.
        top = log.engine_run
    ending = None
    for run in log.runs:
        if run.phase not in ("rollback", "end") and run.children == 0 and log.failed(run):
            ending = run
    if ending is None:
        # Nothing failed but in the rollback (a rollback action after a cancel).
        ending = next((r for r in reversed(log.runs) if r.phase == "rollback" and r.children == 0
                       and log.failed(r)), None)
    status = log.status if log.status is not None else exit_status
    cancel = next((r for r in log.runs if r.value == 2 and r.children == 0
                   and r.phase not in ("rollback", "end")), None)
    if cancel or status == 1602 or (top and top.value == 2):
        return "cancelled", cancel
    if top is None or top.value is None:
        if log.status is not None:
            if log.status in SUCCESS:
                return "succeeded", None
            return ("stopped" if stopped(ending, log) else "failed"), ending
        if ending and (log.engine == "Windows" or ending.name not in STANDARD_ACTIONS):
            # Cut short after a failure: the failure is in the log. (Wine
            # ends a standard action that had nothing to do with 0 too.)
            return ("stopped" if stopped(ending, log) else "failed"), ending
        return "unknown", ending
    if top.value == 1:
        return "succeeded", None
    if stopped(ending, log):
        return "stopped", ending
    return "failed", ending


def stopped(run, log):
    """Whether the failing run is a stop: LaunchConditions, or an action of
    the package that writes nothing but its message (a stop message, type
    19). Windows logs the message; Wine does not, so there any action of
    the package that writes nothing is taken for one."""
    if not run or run.nested or run.phase not in ("immediate", "scheduled"):
        return False
    if run.name == "LaunchConditions":
        return True
    if run.name in STANDARD_ACTIONS or log.layer.owns(run.name) or run.wrote_own:
        return False
    return bool(run.said) or log.engine == "Wine"


# Standard actions that every sequence runs before the installation script
# is prepared.
BEFORE_ANY_SCRIPT = {
    "AppSearch", "CCPSearch", "RMCCPSearch", "FindRelatedProducts", "LaunchConditions",
    "ValidateProductID", "CostInitialize", "FileCost", "IsolateComponents", "CostFinalize",
    "MigrateFeatureStates", "ExecuteAction", "InstallValidate",
}


def failed_in(run, log):
    """Where the failing step was: before the script, in the script, in the
    old version's removal, in the rollback or a commit action."""
    if run is None:
        return None
    if run.nested or run.name == UPGRADE:
        return OLD_REMOVAL
    if run.name in SCRIPT_RUNNERS and log.script_started:
        # The script failed at an operation of its own (Error 1925 right
        # after its first operations), in no action of the package.
        return SCRIPT
    if run.phase == "script":
        return COMMIT if run.commit else SCRIPT
    if run.phase == "rollback":
        return ROLLBACK
    if not log.verbose and run.name not in BEFORE_ANY_SCRIPT:
        # A log written without v holds none of the script's operations, and
        # it names an action alike when it prepares it and when the script
        # runs it: only the actions that always come first are placed.
        return None
    return BEFORE_SCRIPT


def stop_message(run, messages):
    """The stop's text and whether it is the package's (not the log's)."""
    if run.said:
        return run.said[-1], False
    if run.name in (messages or {}):
        return messages[run.name], True
    return None, False


def unread(log):
    """Whether the engine wrote its lines in a language the report does not read."""
    return log.language is None and log.unread_line is not None


def ended(log):
    """Whether the log shows the run's end: a status, or the end of its
    outermost action or of the engine's own run."""
    return log.status is not None or (log.top is not None and log.top.value is not None) or \
        log.engine_run is not None


def cut(log):
    """Whether the log ends before its last line was written, whether or not
    the run had ended: Windows ends a log with its closing line (with the
    status) or "=== Logging stopped"; Wine's ends with the outermost action
    and the actions that follow it (the end of a failed or cancelled run)."""
    if log.engine == "Windows":
        return not (log.closed or log.logging_stopped)
    return log.top is None or log.top.value is None or bool(log.open_at_end)


def rolled_back(log, outcome, place_known=True):
    """True, False, or None when the log cannot tell (cut short while the
    script may still have been undone, or a log without the script's
    operations that does not show where the run failed)."""
    if log.rolled_back:
        return True
    if outcome == "succeeded":
        return False
    if not place_known:
        return None
    if outcome in ("failed", "cancelled", "stopped"):
        if not ended(log) and log.script_ran():
            return None
        return False
    return None


def restart(log, status, outcome):
    """(asked for: True, False or None, why)."""
    p = log.properties
    reboot = p.get("REBOOT", "").upper()
    if status in (3010, 1641):
        return True, f"asked for (exit status {status})"
    if outcome == "stopped":
        return False, "not asked for (a stopped run never restarts, whatever REBOOT says)"
    if outcome == "cancelled":
        return False, "not asked for (the run was cancelled)"
    if reboot == "REALLYSUPPRESS":
        return False, "not asked for (REBOOT = ReallySuppress: no restart, whatever an action asked)"
    if p.get("CP_KVREBOOT", "").upper() == "YES":
        return True, "asked for (CP_KVREBOOT = YES: the installation information writer decided on a restart)"
    if not ended(log) and status is None:
        return None, "not known (the log ends before the run did)"
    if reboot == "FORCE":
        if outcome == "failed":
            # A failed run is rolled back and ends with its error.
            return False, "not asked for (the run failed: REBOOT = Force restarts only after a run that succeeds)"
        return True, "asked for (REBOOT = Force)"
    if reboot == "SUPPRESS":
        return False, "not asked for (REBOOT = Suppress)"
    if status is not None:
        return False, f"not asked for (exit status {status})"
    if not p:
        return None, "not known (the log holds no property)"
    return False, "not asked for in the log (neither CP_KVREBOOT nor REBOOT is set)"


def removal_failure(log):
    """(the failing step of the old version's removal, or None when its run
    never started; the engine's last message about it: an error such as 1730
    in the nested run, or 1714 when the old version could not be removed at
    all)."""
    failing = [r for r in log.runs if (r.nested or r.name == UPGRADE) and r.children == 0 and log.failed(r)]
    run = failing[-1] if failing else None
    said = [line for r in log.runs if r.name == UPGRADE or r.nested for line in r.said]
    return (run.name if run and run.nested else None), (said[-1] if said else None)


@dataclass
class Findings:
    """What the log tells of a run, for the text and the JSON alike."""
    product: str
    kind: str
    outcome: str          # succeeded, failed, cancelled, stopped, or None
    failing: object       # the failing ActionRun (or the cancelled dialog)
    failed_action: str
    failed_in: str
    rolled_back: bool
    exit_status: int
    exit_source: str      # "log", "given" (msiexec's) or None
    restart: bool
    restart_why: str
    stop_message: str
    stop_message_from_package: bool
    cut: bool             # the log ends before its last line was written
    ended: bool           # the log shows the run's end (a status, or its outermost action's end)
    empty: bool           # no action, status or property at all (no installer's log, or cut before)
    mine: object = None   # what a product layer found


def findings(log, exit_status=None, stop_messages=None):
    """The findings of a log. exit_status: what msiexec returned (as Windows
    or a Linux parent saw it) when the log lacks it; stop_messages: {action:
    text} of the package's stop messages, for logs that do not hold them."""
    given = windows_status(exit_status)
    outcome, run = outcome_of(log, given)
    if unread(log):
        # The actions' lines are not read: the status tells the outcome, and
        # the script's operations and error codes (English in any language)
        # the failing action of the script.
        run = run if run and run.error_code else None
        status = log.status if log.status is not None else given
        if status is None:
            # Cut short: a failure already in the log is a failure.
            outcome = "failed" if run else "unknown"
        else:
            outcome = "succeeded" if status in SUCCESS else "cancelled" if status == 1602 else "failed"
    status, source = (log.status, "log") if log.status is not None else (
        (given, "given") if given is not None else (None, None))
    asked, why = restart(log, status, outcome)
    message, from_package = (stop_message(run, stop_messages) if outcome == "stopped" and run else (None, False))
    failing_run = run if outcome in ("failed", "stopped") else None
    where = failed_in(failing_run, log)
    action = failing_run.name if failing_run else None
    if failing_run and failing_run.nested:
        action = UPGRADE
    return Findings(
        product=log.product, kind=kind_of(log), outcome=None if outcome == "unknown" else outcome,
        failing=run, failed_action=action, failed_in=where,
        rolled_back=rolled_back(log, "unknown" if unread(log) else outcome,
                                place_known=where is not None or failing_run is None),
        exit_status=status, exit_source=source,
        restart=asked, restart_why=why, stop_message=message, stop_message_from_package=from_package,
        cut=cut(log), ended=ended(log), empty=log.top is None and log.status is None and not log.properties)


"""Findings about a run, plain functions over a Log: what kind of run it was,
how it ended and in which step, whether the script was rolled back, the exit
status, whether a restart was asked for, whether the log is cut short; and,
for this product's logs, what the run did with each feature. The text and
the JSON renderings are both made from these findings."""
import re
from dataclasses import dataclass, field

from msistatus import windows_status
from report_log import STANDARD_ACTIONS, UPGRADE
from report_product import (CONSOLE_ONLY, DISPOSITIONS, FEATURES, OWN_ACTIONS, PHASES, REASONS, STATUS,
                            UNEXPLAINED)

SUCCESS = (0, 3010, 1641)
# The words of the closing line for each kind of run it names.
CLOSING_KINDS = {"installed": "install", "reconfigured": "change", "removed": "removal"}
# How the first line of the text report names each kind.
KIND_WORDS = {"major upgrade": "install (major upgrade)", "change": "change (maintenance)", "administrative": "admin"}
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
    if p.get("Installed"):
        return "change"
    if upgrading(log) or p.get("CP_DOINGMAJORUPGRADE", "").upper() == "YES":
        return "major upgrade"
    return "install"


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
    return KIND_WORDS.get(kind, kind)


def outcome_of(log, exit_status=None):
    """(outcome, the run that ended it): outcome is succeeded, failed,
    stopped, cancelled or unknown. exit_status: msiexec's, as Windows gives it."""
    top = log.top
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
            return ("stopped" if stopped(ending) else "failed"), ending
        if ending and (log.engine == "Windows" or ending.name not in STANDARD_ACTIONS):
            # Cut short after a failure: the failure is in the log. (Wine
            # ends a standard action that had nothing to do with 0 too.)
            return ("stopped" if stopped(ending) else "failed"), ending
        return "unknown", ending
    if top.value == 1:
        return "succeeded", None
    if stopped(ending):
        return "stopped", ending
    return "failed", ending


def stopped(run):
    """Whether the failing run is a stop: LaunchConditions, or an action of
    the package that writes nothing but its message (a stop message, type 19)."""
    return bool(run) and not run.nested and run.phase in ("immediate", "scheduled") and (
        run.name == "LaunchConditions" or (
            run.name not in STANDARD_ACTIONS and not run.name.startswith(OWN_ACTIONS) and not run.wrote_own))


def failed_in(run):
    """Where the failing step was: before the script, in the script, in the
    old version's removal, in the rollback or a commit action."""
    if run is None:
        return None
    if run.nested or run.name == UPGRADE:
        return OLD_REMOVAL
    if run.phase == "script":
        return COMMIT if run.commit else SCRIPT
    if run.phase == "rollback":
        return ROLLBACK
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


def cut(log):
    """Whether the log ends before the run did: its outermost action never
    ends and no closing status follows."""
    return log.status is None and (log.top is None or log.top.value is None)


def rolled_back(log, outcome):
    """True, False, or None when the log cannot tell (cut short while the
    script may still have been undone)."""
    if log.rolled_back:
        return True
    if outcome == "succeeded":
        return False
    if outcome in ("failed", "cancelled", "stopped"):
        if cut(log) and log.script_ran():
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
    if cut(log) and status is None:
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
class FeatureRow:
    name: str
    disposition: str      # as the qualification published it, in words
    why: list             # the qualification's lines that explain it
    action: str           # what the run did with it


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
    cut: bool
    own: bool             # the log holds this product's actions
    empty: bool           # no action, status or property at all (no installer's log, or cut before)
    features: list = field(default_factory=list)


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
    action = failing_run.name if failing_run else None
    if failing_run and failing_run.nested:
        action = UPGRADE
    own = any(r.name.startswith(OWN_ACTIONS) for r in log.runs)
    return Findings(
        product=log.product, kind=kind_of(log), outcome=None if outcome == "unknown" else outcome,
        failing=run, failed_action=action, failed_in=failed_in(failing_run),
        rolled_back=rolled_back(log, "unknown" if unread(log) else outcome),
        exit_status=status, exit_source=source,
        restart=asked, restart_why=why, stop_message=message, stop_message_from_package=from_package,
        cut=cut(log), own=own, empty=log.top is None and log.status is None and not log.properties,
        features=feature_rows(log, outcome) if own else [])


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


def failing_feature(run):
    """('Installing' or 'Uninstalling', feature) of the last feature the run began."""
    return run.work[-1] if run.work else None


def doing(verb):
    return "installing" if verb == "Installing" else "removing"


def feature_work(log):
    """{feature: what the command phases did with it} from the runs of the
    installation script and of its rollback."""
    work = {}
    for run in log.command_runs():
        for verb, feature in run.work:
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
        elif any(r.phase == "script" for r in log.command_runs()):
            final = "left as it was"
        else:
            final = "not known (no command phase in the log)"
        rows.append(FeatureRow(feature, disposition, why_of[feature], final))
    return rows


def phase_of(run, feature):
    """The command phase a run gave a feature it was installing or removing."""
    return PHASES.get(run.name, ("", ""))[feature[0] != "Installing"]

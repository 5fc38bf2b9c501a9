"""The report a person reads, from the findings: the run's kind and product,
the machine as the qualification saw it, each feature's disposition and what
the run did with it, the command phases, the custom actions in order, what
the vendor library was asked to run, and the outcome. Each section returns
its lines and adds what it could not find to missing. It claims only what
the log shows."""
import re

from .events import LANGUAGES
from .findings import BEFORE_SCRIPT, COMMIT, OLD_REMOVAL, ROLLBACK, removal_failure, run_kind, unread
from .msistatus import describe
from .product import (FAILURE_MEANINGS, FLAGS, PHASES, PRODUCT_TYPES, RELEASES, SYSTEM_ID, SYSTEM_ID_SOURCE,
                      VERDICTS, command_runs, doing, failing_feature, findings, phase_of, published, work_of)

UNREAD = "the engine's lines are in a language this report does not read"
# The Windows release of a VersionNT. The installer reports 603 (build 9600)
# on Windows 8.1 and every later release alike.
WINDOWS_RELEASES = {"600": "Windows Vista / Server 2008", "601": "Windows 7 / Server 2008 R2",
                    "602": "Windows 8 / Server 2012", "603": "Windows 8.1 / Server 2012 R2 or later"}


def engine(log):
    return "Windows'" if log.engine == "Windows" else "Wine's"


def machine_section(log, missing):
    p = log.properties
    lines = ["The machine"]
    identifier = log.found(SYSTEM_ID)
    source = log.found(SYSTEM_ID_SOURCE)
    if identifier:
        how = " (from the registry)" if source and "registry" in source[-1] else (
            " (from the firmware tables)" if source else "")
        lines.append(f"  System identifier: {identifier[-1].split('= ', 1)[1]}{how}")
    elif p.get("CP_SYSTEMID"):
        lines.append(f"  System identifier: {p['CP_SYSTEMID']} (CP_SYSTEMID)")
    else:
        lines.append("  System identifier: not in the log")
        missing.append("the system identifier (the system check's lines and CP_SYSTEMID)")
    if "VersionNT" in p:
        kind = PRODUCT_TYPES.get(p.get("MsiNTProductType", ""), "product type not logged")
        build = f", build {p['WindowsBuild']}" if "WindowsBuild" in p else ""
        release = WINDOWS_RELEASES.get(p["VersionNT"])
        lines.append(f"  Windows: VersionNT {p['VersionNT']}{build}" + (f" ({release})" if release else "")
                     + f", {kind}")
    flags = [f"{n}={p[n]}" for n in FLAGS if n in p]
    releases = [line for pattern in RELEASES for line in log.found(pattern)]
    lines.append("  Windows release and server flags: " + (", ".join(flags) or "none in the log")
                 + (f" ({'; '.join(releases)})" if releases else ""))
    words = dict(VERDICTS)
    said = [line for line in log.kept if line in words]
    if said:
        # A rack workstation is accepted whatever the supported-model list says.
        line = VERDICTS[0][0] if VERDICTS[0][0] in said else said[-1]
        supported = f"; CP_SUPPORTEDSYSTEM = {p['CP_SUPPORTEDSYSTEM']}" if "CP_SUPPORTEDSYSTEM" in p else ""
        lines.append(f'  Support verdict: {words[line]} ("{line}"{supported})')
    else:
        lines.append("  Support verdict: not in the log (the system check's verdict line is missing)")
        missing.append("the support verdict of the system check")
    return lines


def features_section(log, found):
    lines = ["Features (disposition from the qualification, why, and what the run did with each)"]
    if not found.mine.features:
        return lines + ["  none of the product's features appears in the log"]
    for row in found.mine.features:
        lines.append(f"  {row.name:8} {row.disposition}" + (f": {'; '.join(row.why)}" if row.why else "")
                     + f" -> {row.action}")
    if not published(log):
        lines.insert(1, "  (the qualification published no disposition in this run: CP_IWSSTATUS ... not set)")
    return lines


def last_lines(run):
    return ["  Its last lines:"] + ["    " + line for line in run.lines[-6:]] if run.lines else []


def phases_section(log):
    lines = ["Command phases by feature"]
    for run in command_runs(log):
        installing = [feature for verb, feature in work_of(run) if verb == "Installing"]
        removing = [feature for verb, feature in work_of(run) if verb == "Uninstalling"]
        install, remove = PHASES[run.name]
        rollback = " with the rollback flag" if run.phase == "rollback" else ""
        parts = ([f"{install}{rollback} for {', '.join(installing)}"] if installing else []) + (
            [f"{remove}{rollback} for {', '.join(removing)}"] if removing else [])
        failed = ""
        if log.failed(run) and failing_feature(run):
            failed = f"; FAILED at {failing_feature(run)[1]}"
        lines.append(f"  {run.name}: {'; '.join(parts) or 'no feature'}{failed}")
    if len(lines) == 1:
        lines.append(f"  not known ({UNREAD})" if unread(log) else
                     "  none ran (no caKVILPreInstall or caKVILPostInstall in the installation script)")
    return lines


def actions_section(log):
    meaning = "1 success, 0 failure" if log.engine == "Wine" else "1 success, 3 failure, 2 cancelled"
    lines = [f"Custom actions in order (return values as {engine(log)} installer logs them: {meaning})"]
    groups = [("immediate", "immediate"), ("scheduled", "scheduled for the installation script"),
              ("script", "in the installation script"), ("rollback", "rollback"),
              ("end", "at the end of the run")]
    runs = [r for r in log.custom_runs() if not r.nested]
    for phase, title in groups:
        shown = [r for r in runs if r.phase == phase and (
            phase != "rollback" or r.value is not None or r.lines or r.name.endswith("Rollback"))]
        if not shown:
            continue
        if phase == "scheduled":
            names = [r.name for r in shown]
        else:
            names = [r.name + (f" {r.value}" if r.value is not None else "")
                     + (f" (error code {r.error_code})" if r.error_code else "")
                     + (" FAILED" if log.failed(r) else "") for r in shown]
        lines.append(f"  {title}: " + ", ".join(names))
    nested = [r.name for r in log.custom_runs() if r.nested]
    if nested:
        lines.append("  in the old version's removal: " + ", ".join(dict.fromkeys(nested)))
    if len(lines) == 1:
        lines.append(f"  not known ({UNREAD})" if unread(log) else "  none in the log")
    return lines


def rolled_back_line(log, found):
    if found.rolled_back:
        rollbacks = [r.name + (f" {r.value}" if r.value is not None else "")
                     for r in log.custom_runs() if r.phase == "rollback" and not r.nested]
        if rollbacks:
            return f"  Rolled back: yes ({', '.join(rollbacks)})"
        if log.rollback_script and not log.undid:
            return "  Rolled back: yes, with nothing to undo (the rollback script ran and held no undo operation)"
        return "  Rolled back: yes (the rollback script undid the script's operations; no rollback action ran)"
    if found.rolled_back is None:
        why = UNREAD if unread(log) else (
            "a log written without v does not show the script's operations" if not log.verbose
            else "the log ends before a rollback would show")
        return f"  Rolled back: not known ({why})"
    if found.failed_in in (BEFORE_SCRIPT, OLD_REMOVAL) and not log.script_ran():
        return "  Rolled back: nothing to roll back (it failed before the installation script ran)"
    return "  Rolled back: no rollback in the log"


WHERE = {"script": " in the installation script", COMMIT: " in a commit action of the installation script",
         ROLLBACK: " in the rollback of the installation script", BEFORE_SCRIPT: " before the installation script"}


def outcome_section(log, missing, exit_status=None, stop_messages=None, found=None):
    found = found or findings(log, exit_status, stop_messages)
    outcome, run = found.outcome, found.failing
    lines = []
    if outcome == "succeeded":
        lines.append("Outcome: succeeded")
    elif outcome == "cancelled":
        lines.append("Outcome: cancelled by the user" + (
            (f" at the dialog {run.name}" if run.dialog else f" during {run.name}") if run else ""))
        if not log.script_ran():
            lines.append("  Nothing was installed: it ended before the installation script ran")
        else:
            lines.append("  Rolled back: " + ("yes" if log.rolled_back else "no rollback in the log"))
    elif outcome == "stopped":
        if run.name == "LaunchConditions":
            lines.append("Outcome: stopped by a launch condition of the package (LaunchConditions)")
        else:
            lines.append(f"Outcome: stopped by the package's condition {run.name} (an action of the package "
                         "that ends the installation)")
        message = found.stop_message
        if message and found.stop_message_from_package:
            message += " (the package's text; the log does not hold it)"
        lines.append(f"  Its message: {message}" if message else
                     "  Its message: not in the log" + (" (Wine's installer does not write it)"
                                                        if log.engine == "Wine" else ""))
        if not log.script_ran():
            lines.append("  Nothing was installed: it stopped before the installation script ran")
    elif outcome == "failed":
        if found.failed_in == OLD_REMOVAL:
            step, said = removal_failure(log)
            lines.append(f"Outcome: FAILED: the old version could not be removed ({found.failed_action}"
                         + (f": its removal failed in {step})" if step else ")"))
            if said:
                lines.append(f"  The engine said: {said}")
        elif run:
            lines.append(f"Outcome: FAILED in {run.name}{WHERE.get(found.failed_in, '')}")
            feature = failing_feature(run)
            if feature:
                phase = phase_of(run, feature)
                lines.append(f"  It was {doing(feature[0])} the feature {feature[1]}"
                             + (f" (phase {phase})" if phase else ""))
            if run.name in FAILURE_MEANINGS:
                lines.append("  " + FAILURE_MEANINGS[run.name].format(
                    version=log.properties.get("ProductVersion", "not in the log")))
            lines += last_lines(run) or ["  It wrote no lines of its own into the log"]
        else:
            lines.append("Outcome: FAILED (the log names no failing action)")
            missing.append("the action that failed")
        lines.append(rolled_back_line(log, found))
    elif unread(log):
        lines.append(f"Outcome: not known ({UNREAD})")
    else:
        last = log.open_at_end[-1].name if log.open_at_end else None
        lines.append("Outcome: not known: the log ends before the installation did"
                     + (f" (it ends inside {last})" if last else ""))
        missing.append("the end of the installation (the log is cut short)")
        if last:
            run = log.open_at_end[-1]
            feature = failing_feature(run)
            if feature:
                lines.append(f"  {run.name} was {doing(feature[0])} the feature {feature[1]} when the log ends")
            lines += last_lines(run)
    if found.cut and outcome in ("failed", "stopped", "cancelled", "succeeded"):
        last = log.open_at_end[-1].name if log.open_at_end else None
        if found.ended:
            lines.append("  The log is cut short: the run had ended, but its last lines are missing")
            missing.append("the log's last lines (it is cut short)")
        else:
            lines.append("  The log is cut short: it ends after the failure, before the installation did"
                         + (f" (inside {last})" if last else ""))
            missing.append("the end of the installation (the log is cut short)")
    if found.exit_source == "log":
        lines.append(f"  Exit status in the log: {describe(found.exit_status)}")
    elif found.exit_source == "given":
        lines.append(f"  msiexec's exit status: {describe(found.exit_status)}")
    else:
        lines.append("  Exit status: not in the log" + (" (Wine's log does not give it)"
                                                        if log.engine == "Wine" else ""))
    lines.append("  Restart: " + found.restart_why)
    for action, kind in found.mine.misplaced:
        lines.append(f"  {action} ran before the installation script, outside any rollback: its custom action "
                     f"type in the package lacks the rollback flag (the kit gives it type {kind})")
    return lines


def dll_versions_text(versions):
    """The file versions that ran, from the line each export writes first."""
    if not versions:
        return "version not in the log (its actions wrote no version line)"
    if len(versions) == 1 and versions[0][1] == ["this run"]:
        return f"version {versions[0][0]}"
    return "versions " + ", ".join(f"{version} ({' and '.join(where)})" for version, where in versions)


def journal_section(journal):
    """What the simulated vendor library was asked to run, from its journal."""
    lines = ["The vendor library was asked to run:"]
    phases = {}
    for line in journal:
        command = re.match(r'ExecuteCommands\(.*"[^"]*\\([^"\\]+)", "[^"]*", "(\w+)", (\d+), (\d+)\) = (-?\d+)',
                           line)
        if command:
            name, phase, removal, rollback, result = command.groups()
            phase += " (complete removal)" if removal == "1" else ""
            phase += " (rollback)" if rollback == "1" else ""
            phases.setdefault(phase, []).append(name + ("" if result == "0" else f" = {result}"))
        elif line.startswith(("LaunchAppAndWait", "InstallPNPDevices")):
            lines.append("  " + line.rstrip())
    for phase, files in phases.items():
        lines.append(f"  ExecuteCommands {phase}: {', '.join(files)}")
    if len(lines) == 1:
        lines.append("  nothing")
    return lines


def report(log, exit_status=None, journal=None, stop_messages=None, source=None):
    """The report's lines. exit_status: what msiexec returned (as Windows or
    a Linux parent saw it) when the log lacks it; journal: the simulator's
    journal lines; stop_messages: {action: text} of the package's stop
    messages, for logs that do not hold them."""
    missing = []
    found = findings(log, exit_status, stop_messages)
    lines = []
    if source:
        language = f" writing in {log.language.name}" if log.language else ""
        who = "no line of an installer" if found.empty and log.engine != "Windows" else \
            f"{engine(log)} installer{language}"
        lines.append(f"Log: {source} ({who}, {log.encoding}, {log.line_count} lines)")
    if log.runs_in_log > 1:
        lines.append(f"The log holds {log.runs_in_log} runs, one after another (msiexec /l*v+ appends): "
                     "this report is of the last.")
    if not log.verbose:
        lines.append("Not a verbose log (msiexec /l* without v): it lacks most of the engine's lines and the "
                     "property list; the kind of run comes from its closing line.")
    product = log.product or "not read from the log"
    version = log.properties.get("ProductVersion")
    action = run_kind(log)
    lines.append(f"Product: {product}" + (f" {version}" if version else "")
                 + (f"; run: {action}" if action else ""))
    if unread(log):
        lines.append(f"The engine's lines are in a language this report does not read (such as "
                     f"\"{log.unread_line}\"): its actions' starts, ends and return values"
                     + (", and so the outcome, are not known." if found.outcome is None else
                        " are not known; the outcome comes from the status in the log and the script's "
                        "operations alone."))
        missing.append(f"the engine's lines in a language this report reads "
                       f"({', '.join(language.name for language in LANGUAGES)})")
    elif found.empty and log.line_count:
        lines.append("No action, status or property of an installer in it: not an installer's log, or cut before "
                     "its first action.")
        missing.append("any line of an installer")
    elif not log.line_count:
        lines.append("The log is empty.")
    elif not found.mine.own:
        lines.append("This log has no action of KVILMSI64.dll (caKVIL...): it may belong to another product.")
        missing.append("any action of KVILMSI64.dll")
    if found.mine.own or found.mine.dll_versions:
        lines.append("KVILMSI64.dll: " + dll_versions_text(found.mine.dll_versions))
    if found.mine.own or found.mine.dll_versions or unread(log):
        # The machine, the features and the phases are this product's: on
        # another product's log they would only list what is absent.
        lines.append("")
        lines += machine_section(log, missing)
        lines.append("")
        lines += features_section(log, found)
        lines.append("")
        lines += phases_section(log)
    lines.append("")
    lines += actions_section(log)
    if journal is not None:
        lines.append("")
        lines += journal_section(journal)
    lines.append("")
    lines += outcome_section(log, missing, exit_status, stop_messages, found)
    if not log.properties and log.verbose and log.line_count:
        missing.append("the installer's properties (no property list at the end, no property change"
                       + (": the log is cut short)" if found.cut else ")"))
    if not log.line_count:
        missing.insert(0, "any line: the log is empty")
    if missing:
        lines.append("")
        lines.append("Not found in the log: " + "; ".join(dict.fromkeys(missing)))
    return lines

"""The fleet summary: the logs of many servers (one log each, as a fleet
tool collects them), one line per log, then how many ended each way and in
which failing step."""
import os
import pathlib
from collections import Counter

from .msistatus import describe
from .product import failing_feature

PROGRESS_AFTER = 5   # more logs than this: a progress line on standard error
NO_LOG = "no installer log"
OUTCOMES = ["succeeded", "failed", "cancelled", "stopped", "not known", NO_LOG, "unreadable"]


def logs_of(paths):
    """(the logs named, the subfolders not read). Each log is (path, why it
    cannot be read, or None): a folder stands for everything in it but its
    subfolders, in name order (what is no regular file, such as a FIFO or a
    link to nothing, is then found unreadable); a folder that cannot be
    listed stands for itself, with the reason."""
    logs, subfolders = [], []
    for path in map(pathlib.Path, paths):
        if not os.path.isdir(path):
            logs.append((path, None))
            continue
        try:
            names = sorted(os.listdir(path))
        except OSError as error:
            logs.append((path, f"cannot list the folder: {error.strerror or error}"))
            continue
        for name in names:
            (subfolders if os.path.isdir(path / name) else logs).append((path / name, None))
    return logs, [path for path, _ in subfolders]


def step(found):
    """The failing step in words: its name and where it was."""
    if not found.failed_action:
        return None
    return f"{found.failed_action} ({found.failed_in})" if found.failed_in else found.failed_action


def summary_line(source, found):
    """One log's line: log, kind, outcome, failing step, feature, exit status."""
    if found.empty:
        return f"{source}: no action, status or property of an installer in it (no installer's log, or cut " \
               "before its first action)"
    outcome = found.outcome or "outcome not known"
    if found.cut:
        outcome += " (log cut short)"
    parts = [found.kind or "kind not known", outcome]
    if step(found):
        parts.append(f"at {step(found)}")
    feature = failing_feature(found.failing) if found.failing and found.outcome == "failed" else None
    if feature:
        parts.append(f"feature {feature[1]}")
    parts.append("exit status " + (describe(found.exit_status) if found.exit_status is not None else "not known"))
    return f"{source}: " + "; ".join(parts)


def unreadable_line(source, why):
    return f"{source}: {why}"


def counts(results, subfolders=()):
    """The lines that count the logs by outcome and by failing step, and
    name the subfolders not read. results: findings, or None for a log
    that could not be read."""
    outcomes = Counter((NO_LOG if f.empty else f.outcome or "not known") if f else "unreadable" for f in results)
    steps = Counter(step(f) for f in results if f and step(f))
    # The most frequent first; equal counts always in the same order.
    order = sorted(outcomes, key=lambda outcome: (-outcomes[outcome], OUTCOMES.index(outcome)))
    lines = [f"{len(results)} log{'' if len(results) == 1 else 's'}" + (": " if results else "")
             + ", ".join(f"{outcomes[o]} {o}" for o in order)]
    lines.append("Failing steps: " + (", ".join(f"{name} {n}" for name, n in steps.most_common()) or "none"))
    if subfolders:
        lines.append("Subfolders not read: " + ", ".join(map(str, subfolders)))
    return lines

"""The report a tool reads: one JSON object per log, made from the same
findings as the text."""
import json

# The keys of every object, in order; those between "log" and "features" are
# the findings' own names.
KEYS = ["log", "product", "kind", "outcome", "failed_action", "failed_in", "rolled_back", "exit_status", "restart",
        "stop_message", "cut", "features", "dll_versions", "misplaced_rollback_actions"]


def as_json(found, source):
    """The findings of the log at source as a JSON object (a dict). The
    product's keys are null in a log without its actions."""
    mine = found.mine
    own = bool(mine and mine.own)
    features = [{"name": row.name, "disposition": row.disposition, "action": row.action}
                for row in mine.features] if own else None
    versions = [version for version, _ in mine.dll_versions] if mine and (own or mine.dll_versions) else None
    misplaced = [{"name": name, "kit_type": kind} for name, kind in mine.misplaced] if own else None
    return {"log": str(source), **{key: getattr(found, key) for key in KEYS[1:KEYS.index("features")]},
            "features": features, "dll_versions": versions, "misplaced_rollback_actions": misplaced}


def unreadable(source, why):
    """The object of a log that could not be read: every key null, and why."""
    return dict(dict.fromkeys(KEYS), log=str(source), error=why)


def line(obj):
    return json.dumps(obj, ensure_ascii=False)

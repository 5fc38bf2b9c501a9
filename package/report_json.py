"""The report a tool reads: one JSON object per log, made from the same
findings as the text."""
import json

# The keys of every object, in order; those between "log" and "features" are
# the findings' own names.
KEYS = ["log", "product", "kind", "outcome", "failed_action", "failed_in", "rolled_back", "exit_status", "restart",
        "stop_message", "cut", "features"]


def as_json(found, source):
    """The findings of the log at source as a JSON object (a dict)."""
    features = None
    if found.own:
        features = [{"name": row.name, "disposition": row.disposition, "action": row.action}
                    for row in found.features]
    return {"log": str(source), **{key: getattr(found, key) for key in KEYS[1:-1]}, "features": features}


def unreadable(source, why):
    """The object of a log that could not be read: every key null, and why."""
    return dict(dict.fromkeys(KEYS), log=str(source), error=why)


def line(obj):
    return json.dumps(obj, ensure_ascii=False)

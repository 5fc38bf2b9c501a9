#!/usr/bin/env python3
"""Writes kvilreport/product_data.py, the report's copy of what it knows of
KVILMSI64.dll from the files that define it: the features (their keys and
the properties that publish their dispositions) from resources/features.csv,
the exports from KVILMSI64.def, and the custom action type of each action of
the packager's kit (package/kvilmsi64-actions.wxi). The copy ships with the
report, which needs none of these files.

  generate_product_data.py [--check]

--check writes nothing and fails when the copy differs from what its sources
give (a source changed and the copy was not made again)."""
import csv
import pathlib
import pprint
import sys
import xml.etree.ElementTree as ElementTree

ROOT = pathlib.Path(__file__).resolve().parents[1]
FEATURES = "resources/features.csv"
EXPORTS = "KVILMSI64.def"
KIT = "package/kvilmsi64-actions.wxi"
OUT = pathlib.Path(__file__).resolve().parent / "kvilreport" / "product_data.py"
# Custom action type bits of a DLL action stored in the Binary table (1).
DEFERRED, ROLLBACK, COMMIT, NO_IMPERSONATE, IGNORE_RETURN = 0x400, 0x100, 0x200, 0x800, 0x40
EXECUTE = {"immediate": 0, "deferred": DEFERRED, "rollback": DEFERRED | ROLLBACK, "commit": DEFERRED | COMMIT}


def action_type(element):
    """The type the kit's <CustomAction> declares, as the CustomAction table holds it."""
    kind = 1 | EXECUTE[element.get("Execute", "immediate")]
    if kind & DEFERRED and element.get("Impersonate") == "no":
        kind |= NO_IMPERSONATE
    if element.get("Return") == "ignore":
        kind |= IGNORE_RETURN
    return kind


def text():
    with open(ROOT / FEATURES, newline="", encoding="utf-8") as file:
        features = [(row["key"], row["status_property"]) for row in csv.DictReader(file)]
    lines = (ROOT / EXPORTS).read_text(encoding="utf-8").splitlines()
    exports = [line.split()[0] for line in lines[lines.index("EXPORTS") + 1:] if line.strip()]
    kit = ElementTree.parse(ROOT / KIT).getroot()
    types = {element.get("Id"): action_type(element) for element in kit.iter()
             if element.tag.endswith("}CustomAction") and element.get("DllEntry")}
    script = {name: kind for name, kind in types.items() if kind & DEFERRED}
    return f'''# Generated from {FEATURES}, {EXPORTS} and {KIT}
# by report/generate_product_data.py; do not edit.
"""What the report knows of KVILMSI64.dll from the files that define it."""

# The features in the order the actions walk them, with the property that
# publishes each one's disposition.
FEATURES = {pprint.pformat(features, width=100)}
# The DLL's exports.
EXPORTS = {pprint.pformat(exports, width=100, compact=True)}
# The kit's actions that run in the installation script (deferred, rollback
# and commit), with their custom action types.
SCRIPT_ACTIONS = {pprint.pformat(script, width=100, sort_dicts=False)}
'''


def main(argv):
    made = text()
    if argv[1:] == ["--check"]:
        if not OUT.exists() or OUT.read_text(encoding="utf-8") != made:
            print(f"{OUT.relative_to(ROOT)} differs from its sources: run report/generate_product_data.py",
                  file=sys.stderr)
            return 1
        return 0
    if argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2
    OUT.write_text(made, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

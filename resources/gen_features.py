#!/usr/bin/env python3
"""Writes what is made from the feature table resources/features.csv: the
C++ rows of qualify/feature_table.cpp (qualify/feature_rows.inc) and the
table of feature keys in docs/packaging.md (between its "features" markers).

  python3 resources/gen_features.py           rewrites them
  python3 resources/gen_features.py --check   fails when one differs
"""
import csv
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE = ROOT / "resources" / "features.csv"
ROWS = ROOT / "qualify" / "feature_rows.inc"
PACKAGING = ROOT / "docs" / "packaging.md"
BEGIN = "<!-- features: generated from resources/features.csv by resources/gen_features.py; do not edit -->"
END = "<!-- end of features -->"


def features():
    with open(TABLE, newline="", encoding="utf-8") as table:
        return list(csv.DictReader(table))


def cpp_rows(rows):
    lines = ["// Generated from resources/features.csv by resources/gen_features.py; do not edit.",
             "// The rows of kFeatureTable, in the order every action walks them."]
    for r in rows:
        title = r["title_id"] or "kNoTitle"
        check = "true" if r["support_check"] == "1" else "false"
        lines.append(f'{{"{r["key"]}", "{r["command_file"]}", "{r["status_property"]}", {title}, {check}, '
                     f'"{r["application_key"]}"}},')
    return "\n".join(lines) + "\n"


def markdown_rows(rows):
    lines = [BEGIN,
             "| Feature key | Command file | Status property | Installed when this key exists |",
             "|---|---|---|---|"]
    for r in rows:
        lines.append(f'| `{r["key"]}` | `{r["command_file"]}` | `{r["status_property"]}` | '
                     f'`Applications\\{r["application_key"]}` |')
    return "\n".join(lines + [END])


def with_markdown(text, rows):
    start, end = text.index(BEGIN), text.index(END) + len(END)
    return text[:start] + markdown_rows(rows) + text[end:]


def main():
    check = sys.argv[1:] == ["--check"]
    rows = features()
    wanted = {ROWS: cpp_rows(rows), PACKAGING: with_markdown(PACKAGING.read_text(encoding="utf-8"), rows)}
    drifted = [str(path.relative_to(ROOT)) for path, text in wanted.items()
               if not path.exists() or path.read_text(encoding="utf-8") != text]
    if check:
        if drifted:
            sys.exit("gen_features: not as resources/features.csv makes them (run python3 "
                     "resources/gen_features.py): " + ", ".join(drifted))
        return
    for path, text in wanted.items():
        path.write_text(text, encoding="utf-8")


if __name__ == "__main__":
    main()

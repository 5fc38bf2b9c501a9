"""Each fact written once: the copies made from resources/features.csv and
kit/wix3 are as their generators make them; no hand-written file names a
feature's command file; every list of exports agrees with KVILMSI64.def and
the packager's document gives each action the kit's type.

  one_source_test.py [unittest arguments]
"""
import pathlib
import re
import subprocess
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "package"))
sys.path.insert(0, str(ROOT / "kit" / "example"))
import features  # noqa: E402
import mend  # noqa: E402

KIT = ROOT / "kit" / "wix3" / "kvilmsi64-actions.wxi"


def exports_of_def():
    return [line.strip() for line in (ROOT / "KVILMSI64.def").read_text().splitlines()
            if re.fullmatch(r"\s*caKVIL\w+\s*", line)]


def packaging_tables():
    """{export: its rows} of the tables of docs/packaging.md, each row's cells."""
    rows = {}
    for line in (ROOT / "docs" / "packaging.md").read_text(encoding="utf-8").splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")] if line.startswith("| `caKVIL") else []
        for name in re.findall(r"`(caKVIL\w+)`", cells[0] if cells else ""):
            rows.setdefault(name, []).append(cells)
    return rows


class OneSource(unittest.TestCase):
    def test_generated_copies_are_as_their_sources_make_them(self):
        for generator in (ROOT / "resources" / "gen_features.py", ROOT / "kit" / "wix4.py"):
            with self.subTest(generator.name):
                checked = subprocess.run([sys.executable, generator, "--check"], capture_output=True, text=True)
                self.assertEqual(checked.returncode, 0, checked.stderr)

    def test_only_generated_files_name_a_command_file(self):
        names = "|".join(re.escape(f.command_file) for f in features.FEATURES)
        pattern = re.compile(rf"(?<![\w.])({names})\b")
        tracked = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True, check=True)
        naming = []
        for name in tracked.stdout.splitlines():
            path = ROOT / name
            if name.startswith(("resources/", "tests/")) or name.endswith(".md") or not path.is_file():
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            if pattern.search(text) and "Generated" not in "".join(text.splitlines(True)[:5]):
                naming.append(name)
        self.assertEqual(naming, [])

    def test_every_list_of_exports_agrees_with_the_def_file(self):
        exports = exports_of_def()
        self.assertEqual(len(exports), 26)
        header = re.findall(r"UINT __stdcall (caKVIL\w+)\(", (ROOT / "runtime" / "exports.h").read_text())
        kit = [entry for _id, _type, entry in mend.kit_actions(KIT) if entry]
        bench = [line.split("|")[0].strip() for line in (ROOT / "bench" / "exports.txt").read_text().splitlines()
                 if line.startswith("caKVIL")]
        documented = packaging_tables()
        lists = {"runtime/exports.h": header, "the kit": kit, "bench/exports.txt": bench,
                 "docs/packaging.md": list(documented)}
        for where, names in lists.items():
            with self.subTest(where):
                self.assertEqual(sorted(names), sorted(exports))
        # Each export in both tables of the document, the first giving the kit's type.
        types = {entry: kind for _id, kind, entry in mend.kit_actions(KIT) if entry}
        for export, rows in documented.items():
            with self.subTest(export):
                self.assertEqual(len(rows), 2)
                self.assertEqual(rows[0][2], str(types[export]))


if __name__ == "__main__":
    unittest.main(verbosity=2)

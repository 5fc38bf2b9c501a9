"""The packager's path from the release alone: the release folder as
scripts/stage-release.sh makes it, copied elsewhere; the example package built
there by kit/example/build.sh as the release's README says; every custom
action of the type its kit declares; then installed, repaired and removed
under wine msiexec.

  kit_example_test.py BUILD [unittest arguments]
"""
import pathlib
import shutil
import subprocess
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "package"))
sys.path.insert(0, str(ROOT / "kit" / "example"))
import kvildemo  # noqa: E402
import mend  # noqa: E402

BUILD = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else (ROOT / "build")
BUILD_COMMAND = "sh kit/example/build.sh"


def table(msi, name):
    """{first column: row} of one table of MSI."""
    exported = subprocess.run(["msiinfo", "export", str(msi), name], capture_output=True, text=True, check=True)
    return {row.split("\t")[0]: row.split("\t") for row in exported.stdout.splitlines()[3:]}


class KitExample(unittest.TestCase):
    def test_example_from_the_release_installs_repairs_and_removes(self):
        self.assertIn(BUILD_COMMAND, (ROOT / "docs" / "packaging.md").read_text(encoding="utf-8"))
        machine = kvildemo.Machine(BUILD, BUILD / "e2e" / "kit_example")
        machine.prepare()
        self.addCleanup(machine.close)
        staged, release = machine.work / "staged", machine.work / "release"
        for folder in (staged, release):
            shutil.rmtree(folder, ignore_errors=True)
        machine.step("staging the release", ROOT / "scripts" / "stage-release.sh", BUILD / "bin", staged)
        shutil.copytree(staged, release)
        machine.step("building the example as the README says", "sh", "-c", f"cd '{release}' && {BUILD_COMMAND}")
        msi = release / "kit" / "example" / "example.msi"

        declared = {action: kind for source in [*sorted((release / "kit" / "wix3").glob("*.wxi")),
                                                 release / "kit" / "example" / "product.wxs"]
                    for action, kind, _entry in mend.kit_actions(source)}
        written = {action: int(row[1]) for action, row in table(msi, "CustomAction").items()}
        self.assertEqual(written, declared)
        self.assertEqual(sorted(row[1] for row in table(msi, "ISSetupFile").values()),
                         sorted(p.name for p in (release / "testing").iterdir() if p.name != mend.NOTE))

        shutil.copy(msi, machine.drive / "kvildemo" / "example.msi")
        package = "C:\\kvildemo\\example.msi"
        runs = [("install", "/i", package), ("repair", "/i", package, "REINSTALL=ALL", "REINSTALLMODE=vomus"),
                ("remove", "/x", package)]
        for name, *args in runs:
            with self.subTest(name):
                run = machine.msiexec(name, *args, "/qn")
                self.assertEqual(run.status, 0, run.log_path)
                results = run.results()
                self.assertIn("caKVILFinalize", results, run.log_path)
                failed = {a: v for a, v in results.items() if a in declared and v != 1}
                self.assertEqual(failed, {}, run.log_path)
        self.assertEqual(machine.registry(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)

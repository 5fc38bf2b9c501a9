"""The report as a tool of its own (report/): the log model reads a log
with the product layer absent; the product layer's copy of the product's
knowledge is what its sources give today; and the report installed with pip
and made into one file with zipapp reads a log as the source does. Plain
Python: no Wine needed.

  package_test.py [unittest arguments]
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
REPORT = ROOT / "report"
LOG = pathlib.Path(__file__).resolve().parent / "logs" / "windows-deferred-failure-utf16.log"
# The log model: it knows no product.
MODEL = ["__init__.py", "reading.py", "events.py", "log.py", "findings.py", "msistatus.py"]
# Debian's Python, with the python3-venv and python3-setuptools of the install step.
DEBIAN_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


def run(*args, **options):
    done = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=600, **options)
    assert done.returncode == 0, f"{args}: {done.stdout}{done.stderr}"
    return done.stdout


class ReportPackage(unittest.TestCase):
    def test_log_model_reads_a_log_without_the_product_layer(self):
        with tempfile.TemporaryDirectory() as folder:
            package = pathlib.Path(folder) / "kvilreport"
            package.mkdir()
            for name in MODEL:
                shutil.copy(REPORT / "kvilreport" / name, package)
                if name != "__init__.py":   # the package's description names the layer
                    text = (package / name).read_text()
                    mention = re.search(r"caKVIL|KVILMSI64|Orvessa|from \.product|product_data", text)
                    self.assertIsNone(mention, name)
            found = run(sys.executable, "-c", "import sys\n"
                        "from kvilreport import findings, log, reading\n"
                        "f = reading.LogFile(sys.argv[1])\n"
                        "found = findings.findings(log.Log(f.lines(), f.encoding))\n"
                        "print(found.outcome, found.failed_action, found.failed_in, found.rolled_back)",
                        LOG, cwd=folder)
            self.assertEqual(found.split(), ["failed", "caKVILPreInstall", "script", "True"])

    def test_product_knowledge_is_its_sources_copy(self):
        run(sys.executable, REPORT / "generate_product_data.py", "--check")
        data = (REPORT / "kvilreport" / "product_data.py").read_text()
        self.assertTrue(data.startswith("# Generated from resources/"))
        self.assertIn("do not edit", data.splitlines()[1])
        # The script actions are exports of the DLL (KVILMSI64.def), each with the kit's type.
        sys.path.insert(0, str(REPORT))
        from kvilreport import product_data
        self.assertLessEqual(set(product_data.SCRIPT_ACTIONS), set(product_data.EXPORTS))
        self.assertEqual(sorted(set(product_data.SCRIPT_ACTIONS.values())), [3073, 3329])
        cmake = re.search(r"project\(KVILMSI64 VERSION ([\d.]+)", (ROOT / "CMakeLists.txt").read_text())[1]
        self.assertIn(f'version = "{cmake}"', (REPORT / "pyproject.toml").read_text())

    def test_installed_command_and_one_file_read_a_log_as_the_source_does(self):
        expected = run(sys.executable, "-m", "kvilreport", LOG, "--json", cwd=REPORT)
        with tempfile.TemporaryDirectory() as folder:
            folder = pathlib.Path(folder)
            # A copy: pip builds in the source tree.
            shutil.copytree(REPORT, folder / "report", ignore=shutil.ignore_patterns("__pycache__"))
            # Debian's setuptools and wheel from the system, no network.
            run(DEBIAN_PYTHON, "-m", "venv", "--system-site-packages", folder / "venv")
            run(folder / "venv/bin/python", "-m", "pip", "install", "-q", "--no-index", "--no-build-isolation",
                folder / "report")
            self.assertEqual(run(folder / "venv/bin/kvilreport", LOG, "--json", cwd=folder), expected)
            self.assertEqual(run(folder / "venv/bin/python", "-m", "kvilreport", LOG, "--json", cwd=folder),
                             expected)
            run(sys.executable, REPORT / "make_pyz.py", folder / "kvilreport.pyz")
            self.assertEqual(run(sys.executable, folder / "kvilreport.pyz", LOG, "--json", cwd=folder), expected)


if __name__ == "__main__":
    unittest.main(verbosity=2)

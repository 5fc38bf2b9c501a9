"""What scripts/release.sh ships: the DLL, what it imports and its size;
and signing with scripts/sign-dll.sh (the step scripts/release.sh signs
with) under a throwaway certificate made here: a signature that verifies against the certificate's
chain and a DLL that still loads and runs under Wine; a certificate the script
cannot use refused with a clear error and no signed file.

  release_test.py BUILD [unittest arguments]
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
BUILD = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else (ROOT / "build")
DLL = BUILD / "bin" / "KVILMSI64.dll"
SIGN = ROOT / "scripts" / "sign-dll.sh"
BUDGET = 448 * 1024
# DLLs every supported Windows has in System32 (scripts/release.sh checks the
# same list); the package ships no runtime of its own.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "msi.dll", "version.dll", "shell32.dll",
               "msvcrt.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll", "gdi32.dll", "setupapi.dll",
               "ws2_32.dll"}


def run(*args, env=None):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, env=env)


def certificate(folder, name, password, usage="codeSigning"):
    """A self-signed certificate, for code signing unless USAGE says
    otherwise: FOLDER/NAME.pem and NAME.pfx."""
    key, pem, pfx = (folder / (name + suffix) for suffix in (".key", ".pem", ".pfx"))
    made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
               "-subj", f"/CN={name}", "-addext", "extendedKeyUsage=" + usage,
               "-keyout", key, "-out", pem)
    assert made.returncode == 0, made.stderr
    exported = run("openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-out", pfx,
                   "-passout", "pass:" + password)
    assert exported.returncode == 0, exported.stderr
    return pem, pfx


def issued_certificate(folder):
    """A code-signing certificate issued by a throwaway authority, in a PKCS#12
    file without the authority's root, as authorities hand them out:
    FOLDER/root.pem and FOLDER/issued.pfx."""
    root, _ = certificate(folder, "root", "")
    key, request, pem, pfx = (folder / name for name in ("issued.key", "issued.csr", "issued.pem", "issued.pfx"))
    extensions = folder / "issued.ext"
    extensions.write_text("extendedKeyUsage=codeSigning\nbasicConstraints=CA:FALSE\n")
    steps = [
        ("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Issued code signing",
         "-keyout", key, "-out", request),
        ("openssl", "x509", "-req", "-in", request, "-CA", root, "-CAkey", folder / "root.key",
         "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", pem),
        ("openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-out", pfx, "-passout", "pass:"),
    ]
    for step in steps:
        made = run(*step)
        assert made.returncode == 0, made.stderr
    return root, pfx


def sign(pfx, out, password=None, roots=None):
    env = dict(os.environ)
    env.pop("KVIL_SIGN_PASSWORD", None)
    if password is not None:
        env["KVIL_SIGN_PASSWORD"] = password
    if roots is not None:
        env["SSL_CERT_FILE"] = str(roots)
    return run("sh", SIGN, DLL, out, pfx, env=env)


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


class BuildNumber(unittest.TestCase):
    def test_build_number_is_one_number_everywhere(self):
        project = re.search(r"^project\(KVILMSI64 VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text(),
                            re.MULTILINE).group(1)
        # Written as given, 010 would be octal 8 in the fixed version and 010 in the strings.
        for given, written in [("0", "0"), ("010", "10"), ("65535", "65535")]:
            with self.subTest(given), tempfile.TemporaryDirectory(dir=BUILD) as folder:
                configured = run("cmake", "-S", ROOT, "-B", folder, "-G", "Ninja",
                                 "-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake", "-DBUILD_TESTING=OFF",
                                 "-DKVIL_BUILD_SIMULATOR=OFF", "-DKVIL_BUILD_NUMBER=" + given)
                self.assertEqual(configured.returncode, 0, configured.stdout + configured.stderr)
                version = f"{project}.{written}"
                self.assertEqual((pathlib.Path(folder) / "kvil-version.txt").read_text(), version + "\n")
                rc = (pathlib.Path(folder) / "version" / "KVILMSI64.rc").read_text()
                self.assertIn("FILEVERSION    " + version.replace(".", ","), rc)
                self.assertIn('"FileVersion",      "' + version + '"', rc)
        # The release refuses a number out of range before it builds anything.
        for given in ["65536", "0000070000", "1234567", "12a", ""]:
            with self.subTest(given):
                refused = run("sh", ROOT / "scripts" / "release.sh", "--build-number", given)
                self.assertEqual(refused.returncode, 1, refused.stdout + refused.stderr)
                self.assertEqual(refused.stdout, "")
                self.assertIn("release: --build-number takes a whole number from 0 to 65535", refused.stderr)


class ReleaseDll(unittest.TestCase):
    def setUp(self):
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="release-test.", dir=BUILD))
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)

    def test_imports_only_system_dlls_within_its_budget(self):
        dump = run("x86_64-w64-mingw32-objdump", "-p", DLL)
        self.assertEqual(dump.returncode, 0, dump.stderr)
        imports = {line.split()[-1].lower() for line in dump.stdout.splitlines() if "DLL Name:" in line}
        self.assertTrue(imports and imports <= SYSTEM_DLLS, sorted(imports))
        self.assertLessEqual(DLL.stat().st_size, BUDGET)

    def test_signed_dll_verifies_loads_and_runs(self):
        pem, pfx = certificate(self.folder, "Throwaway code signing", "s3cret pass")
        stranger, _ = certificate(self.folder, "Someone else", "x")
        signed = self.folder / "KVILMSI64.dll"
        result = sign(pfx, signed, "s3cret pass")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("sign: Signature verification: ok", result.stdout)
        self.assertIn("sign: Timestamp is not available", result.stdout)  # none unless asked for
        verified = run("osslsigncode", "verify", "-in", signed, "-CAfile", pem)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Message digest algorithm  : SHA256", verified.stdout)
        # The check means something: another certificate's chain is refused.
        self.assertNotEqual(run("osslsigncode", "verify", "-in", signed, "-CAfile", stranger).returncode, 0)
        env = dict(os.environ, WINEPREFIX=os.environ.get("WINEPREFIX", str(BUILD / "prefix")),
                   WINEDEBUG="-all")
        called = run("wine", BUILD / "bin" / "kvilcallexport.exe", windows_path(signed), "caKVILCTCheck", env=env)
        self.assertEqual(called.returncode, 0, called.stdout + called.stderr)
        self.assertEqual(called.stdout.strip(), "caKVILCTCheck returned 0")

    def test_signing_finds_the_root_among_trusted_roots(self):
        root, pfx = issued_certificate(self.folder)
        certificate(self.folder, "Another root", "")
        # The file holds no root: the system's trusted roots complete the chain, or nothing does.
        out = self.folder / "untrusted.dll"
        refused = sign(pfx, out, roots=self.folder / "Another root.pem")
        self.assertEqual(refused.returncode, 1, refused.stderr)
        self.assertIn("does not verify against the chain of " + str(pfx), refused.stderr.splitlines()[0])
        self.assertFalse(out.exists())
        out = self.folder / "trusted.dll"
        signed = sign(pfx, out, roots=root)
        self.assertEqual(signed.returncode, 0, signed.stderr)
        self.assertIn("sign: Signature verification: ok", signed.stdout)
        verified = run("osslsigncode", "verify", "-in", out, "-CAfile", root)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)

    def test_signing_refuses_a_certificate_it_cannot_use(self):
        pem, pfx = certificate(self.folder, "Throwaway code signing", "right")
        _, open_pfx = certificate(self.folder, "No password", "")
        _, web_pfx = certificate(self.folder, "A web server", "", usage="serverAuth")
        cases = [
            ("wrong password", pfx, "wrong", "cannot open the certificate " + str(pfx) + ": wrong password in KVIL_SIGN_PASSWORD"),
            ("password unset", pfx, None, "cannot open the certificate " + str(pfx) + " without a password"),
            ("missing file", self.folder / "missing.pfx", "right",
             "the certificate " + str(self.folder / "missing.pfx") + " does not exist"),
            ("not a PKCS#12 file", pem, None, "or not a PKCS#12 file"),
            ("not for code signing", web_pfx, None, "does not verify against the chain of " + str(web_pfx)),
        ]
        for label, certificate_file, password, message in cases:
            with self.subTest(label):
                out = self.folder / (label.replace(" ", "-") + ".dll")
                result = sign(certificate_file, out, password)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertTrue(result.stderr.startswith("sign: "), result.stderr)
                self.assertIn(message, result.stderr.splitlines()[0])
                self.assertFalse(out.exists())
        # A certificate without a password opens with KVIL_SIGN_PASSWORD unset.
        out = self.folder / "open.dll"
        self.assertEqual(sign(open_pfx, out).returncode, 0)
        self.assertTrue(out.exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)

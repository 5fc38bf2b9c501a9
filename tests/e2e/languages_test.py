"""The demo package's full interface in other languages under wine msiexec:
the ready-to-install dialog shows the summary with the feature titles of the
package's language. The Japanese run is made as on a Japanese system (locale
ja_JP.UTF-8, so Wine's ANSI code page is 932). Each run checks the summary's
bytes as the engine hands them to the dialog (recorded by the package's
RecordSummaryText), the whole text the dialog shows, the message box in the
same language, and saves a screenshot (build/e2e/<test>/ready-to-install.png).

  languages_test.py BUILD [unittest arguments]
"""
import pathlib
import re
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "package"))
import kvildemo  # noqa: E402
from kvilreport import msistatus  # noqa: E402  (kvildemo puts report/ on the path)

BUILD = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else pathlib.Path("build").resolve()
EXPORTS = set(kvildemo.EXPORTS)
TEXTS = kvildemo.ROOT / "resources" / "text"

# Each feature's title in the library's string table (feature-table order;
# NICInt has none and is never listed).
TITLE_IDS = {"IWS": 2022, "SI": 2009, "KVSS": 2010, "RmtMgmt": 2005, "WMI": 2018, "SNMP": 2052, "CLI": 2053,
             "OSLOG": 2054, "iVIRK": 2011, "NICInt": None, "INTEL": 2015, "BRCM": 2016}

# Language: ProductLanguage, text file, locale of the system, its ANSI code
# page, the font's character set in the summary's header, and the package's
# own texts (build-package.py's translations).
LANGUAGES = {
    "german": ("1031", "de.txt", "C.UTF-8", "cp1252", "\\fcharset0", {
        "SummaryText1": "Orvessa Server Administrator <product-version> wird installiert in:",
        "SummaryText2": "Diese Funktionen werden installiert:",
        "SummaryText4": "Die Voraussetzungsprüfung wurde vor dieser Installation nicht ausgeführt.",
    }),
    "japanese": ("1041", "ja.txt", "ja_JP.UTF-8", "cp932", "\\fcharset128", {
        "SummaryText1": "Orvessa Server Administrator <product-version> のインストール先:",
        "SummaryText2": "次の機能がインストールされます:",
        "SummaryText4": "このインストールの前に前提条件チェッカーが実行されていません。",
    }),
}
# "Action ended HH:MM:SS: name. Return value N." in English; a Japanese
# system's engine writes its log in Japanese and in code page 932.
ACTION_ENDED = re.compile(r"^[^\n]*? [\d:]+: (\w+)[.\u3002] (?:Return value|\u623b\u308a\u5024) (-?\d+)[.\u3002]", re.M)
# The package's own custom actions and the product's.
PACKAGE_ACTIONS = re.compile(r"caKVIL\w+|SetSupportDir|ExtractSupportFiles|SetRememberedInstallDir|RemoveSupportFiles\w+|"
                             r"RecordSummaryText")
HEADER = ("{\\rtf1{\\fonttbl{\\f0\\fswiss%s\\fprq2{\\*\\panose 020b0604020202020204}Arial;}}"
          "{\\f0\\fs17\\insrsid6824715\\charrsid15495136 ")
PARAGRAPH = "{\\par }"


def string_table(file_name):
    """{id: text} of one language's source of the string table."""
    texts = {}
    for line in (TEXTS / file_name).read_text(encoding="utf-8").splitlines():
        number, _, text = line.partition("\t")
        if number.isdigit():
            texts[int(number)] = text.replace("\\n", "\n")
    return texts


def rich_text(text, codepage, literal=False):
    """TEXT as the summary writes it: each character outside ASCII as the
    \\'hh of every byte of its encoding (a double-byte character's second
    byte too, whatever it is); with LITERAL, "\\", "{" and "}" escaped."""
    written = []
    for char in text:
        encoded = char.encode(codepage)
        if len(encoded) == 1 and encoded[0] < 0x80:
            written.append("\\" + char if literal and char in "\\{}" else char)
        else:
            written.extend("\\'%02x" % byte for byte in encoded)
    return "".join(written)


def expected_summary(charset, codepage, own, titles, version, folder):
    """The summary of a first installation without the prerequisite checker."""
    items = "".join("{\\tab " + rich_text(title, codepage) + "}" + PARAGRAPH for title in titles)
    return (HEADER % charset
            + "{" + rich_text(own["SummaryText1"].replace("<product-version>", version), codepage) + "}" + PARAGRAPH
            + "{\\tab " + rich_text(folder, codepage, literal=True) + "}" + PARAGRAPH + PARAGRAPH
            + "{" + rich_text(own["SummaryText2"], codepage) + "}" + PARAGRAPH + items + PARAGRAPH
            + "{" + rich_text(own["SummaryText4"], codepage) + "}" + "}}")


def expected_shown(own, titles, version, folder):
    """What the dialog's RichEdit control shows for that summary: its
    paragraphs, each ended by a line break that the watcher writes as two
    spaces."""
    paragraphs = ([own["SummaryText1"].replace("<product-version>", version), "\t" + folder, "",
                   own["SummaryText2"]] + ["\t" + title for title in titles] + ["", own["SummaryText4"]])
    return "  ".join(paragraphs)


def results(run, codepage):
    """{action: return value} of a verbose log in the system's language."""
    return dict(ACTION_ENDED.findall(run.log_path.read_bytes().decode(codepage, errors="replace")))


@unittest.skipUnless("caKVILSetSummaryText" in EXPORTS, "caKVILSetSummaryText is not exported yet")
class FullInterfaceLanguages(unittest.TestCase):
    def run_in(self, language):
        product_language, text_file, locale, codepage, charset, own = LANGUAGES[language]
        machine = kvildemo.Machine(BUILD, BUILD / "e2e" / self.id().split(".")[-1],
                                   env={"LC_ALL": locale, "LANG": locale})
        machine.prepare()
        self.addCleanup(machine.close)
        package = machine.package(options=["--language", product_language, "--record-summary"])
        shot = machine.work / "ready-to-install.png"
        run = machine.msiexec("full", "/i", package, "KVILDEMO_SUMMARYFILE=C:\\kvildemo\\full.summary.rtf",
                              on_ready=lambda: machine.step("taking a screenshot", "import", "-window", "root", shot))
        self.assertEqual(msistatus.describe(run.windows_status), msistatus.describe(0), run.log_path)
        self.assertIn("dialog|Ready to Install the Program", run.watched)
        self.assertIn("pressed|Install", run.watched)
        ended = results(run, codepage)
        self.assertEqual(ended.get("INSTALL"), "1", run.log_path)
        # Every custom action of the package and the product succeeded, the
        # summary's among them, and the support folder went at the end.
        for action in ("caKVILSetSummaryText", "RecordSummaryText", "caKVILFinalize", "RemoveSupportFilesOnSuccess"):
            self.assertIn(action, ended, run.log_path)
        for action, value in ended.items():
            if PACKAGE_ACTIONS.fullmatch(action):
                self.assertEqual(value, "1", f"{action} in {run.log_path}")
        self.assertEqual(list((machine.drive / "users/root/Temp").glob("{*}")), [])
        for place in ("tempini", "Program Files/tempini", "users/root/Temp/kviltmpmn"):
            self.assertFalse((machine.drive / place).exists(), place)
        self.assertGreater(shot.stat().st_size, 1000)
        properties = run.properties()
        self.assertEqual(properties.get("ProductLanguage"), product_language)

        # The summary's bytes: the header of the language's character set and
        # every installed feature's title in the language's encoding, in the
        # feature table's order.
        folder = machine.drive / "kvildemo"
        recorded = (folder / "full.summary.rtf").read_bytes()
        self.assertEqual(re.findall(rb"\\fcharset\d+", recorded), [charset.encode()])
        installed = {f.stem for f in (machine.drive / "Program Files/Tavrin/SysMgt").glob("*.txt")}
        table = string_table(text_file)
        titles = [table[number] for key, number in TITLE_IDS.items() if number and key in installed]
        self.assertGreaterEqual(len(titles), 3, installed)
        version, install_folder = properties.get("ProductVersion"), properties.get("INSTALLDIR")
        expected = expected_summary(charset, codepage, own, titles, version, install_folder)
        self.assertEqual(recorded, expected.encode("ascii"))

        # What the dialog shows: every text of the summary, whole, as the
        # string table and the package hold it.
        shown = (folder / "full.watch.summary").read_bytes().decode(codepage, errors="backslashreplace")
        self.assertEqual(shown.rstrip("\r\n"), "RichEdit20W|" + expected_shown(own, titles, version, install_folder))

        # The box about the prerequisite checker speaks the same language.
        if "caKVILPreReqCheckNode" in EXPORTS:
            watched = (folder / "full.watch").read_bytes().decode(codepage, errors="backslashreplace")
            boxes = re.findall(r"^box\|([^|]*)\|(.*)$", watched, re.M)
            self.assertEqual(len(boxes), 1, watched)
            self.assertIn(table[2002].split("\n")[0], boxes[0][1])
        self.assertIn("IWS", installed)

    def test_full_interface_in_german(self):
        self.run_in("german")

    def test_full_interface_in_japanese(self):
        self.run_in("japanese")


if __name__ == "__main__":
    unittest.main(verbosity=2)

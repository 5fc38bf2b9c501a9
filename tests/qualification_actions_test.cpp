// caKVILCheckTEMP, caKVILSetFirstTimeInstall, caKVILTestINSTALLDIR,
// caKVILResetDisallowedFeatures, caKVILCheckforMGMTINT and caKVILSetSummaryText:
// their rules as plain functions, and real sessions for what only a session shows.
#include "harness/support_folder.h"
#include "qualify/first_time_install.h"
#include "qualify/install_dir_rules.h"
#include "qualify/summary_text.h"
#include "runtime/installer.h"
#include "runtime/text.h"

#include <climits>

using namespace test;

#include "runtime/exports.h"

namespace {
const std::string kKevana = "SOFTWARE\\Tavrin Computer Corporation\\Kevana";
const std::string kSystemsManagement = kKevana + "\\Applications\\SystemsManagement";
}  // namespace

// ---------------------------------------------------------------- plain rules

TEST(QualificationRules, InstallFolderRulesInTheirOrder)
{
    const std::string s80 = "C:\\" + std::string(76, 'a') + "\\";  // 80 with its backslash
    struct Case {
        std::string typed;
        int expected;
    } cases[] = {
        {"C:", 2029},                           {"c:\\WINDOWS\\system32\\x", 2028},
        {"C:\\WindowsApps", 2028},              {"\\\\server\\share\\dir", 2030},
        {"C:\\ \\", 2029},                      {"C:\\\\\\", 2029},
        {"C:\\Program Files (x86)\\App_1.0", 0}, {"C:\\Apps#1", 2047},
        {"C:\\M\xFC" "ller", 2047},             {"C:\\{Vendor}", 2047},
        {"C:\\a\tb", 2047},                     {s80, 0},
        {"C:\\" + std::string(77, 'a'), 2048},              {"", 0},
    };
    for (const Case& c : cases) {
        const std::string candidate = kvil::withTrailingBackslash(c.typed);
        int refusal = kvil::locationRefusal(candidate, "C:\\windows");
        if (!refusal)
            refusal = kvil::nameRefusal(candidate);
        EXPECT_EQ(c.expected, refusal) << c.typed;
    }
    for (UINT type : {0u, 1u, 3u, 6u})
        EXPECT_EQ(0, kvil::driveTypeRefusal(type)) << type;
    for (UINT type : {2u, 4u, 5u})
        EXPECT_EQ(2030, kvil::driveTypeRefusal(type)) << type;
    for (const char* name : {"FAT", "FAT32"})
        EXPECT_EQ(2017, kvil::fileSystemRefusal(name)) << name;
    for (const char* name : {"exFAT", "NTFS", "", "fat32"})
        EXPECT_EQ(0, kvil::fileSystemRefusal(name)) << name;
}

TEST(QualificationRules, VersionsCompareByMajorAndOneDigitOfMinorAndLast)
{
    struct Case {
        const char* installed;
        const char* package;
        bool newer;  // without a "." the first character counts as minor and last
    } cases[] = {{"9.0.0", "9.1.0", true},   {"9.2.0", "9.1.0", false}, {"9.10.0", "9.9.0", true},
                 {"9.1.0", "9.1.1", true},   {"9.1.0", "10.0.0", true}, {"9.1.1", "9.1.0", false},
                 {"9.1.0", "9.1.0", false}, {"9", "9.1", false},        {"", "1", true}};
    for (const Case& c : cases)
        EXPECT_EQ(c.newer, kvil::packageVersionIsNewer(c.installed, c.package))
            << c.installed << " -> " << c.package;
}

TEST(QualificationRules, LeadingIntegersAreOnlyTheDigitsThatOpenTheText)
{
    for (auto c : {std::make_pair("2009", 2009), std::make_pair(" 2009", 0),
                   std::make_pair("+1809", 0), std::make_pair("-1", 0), std::make_pair("3x", 3),
                   std::make_pair("4294967299", INT_MAX)})  // too large: no wrap round to 3
        EXPECT_EQ(c.second, kvil::leadingInteger(c.first)) << c.first;
}

TEST(QualificationRules, RichTextWritesBytesOutsideAsciiAndTrailBytesAsHex)
{
    struct Case {
        std::string text;
        UINT codePage;
        std::string bytes, literal;
    } cases[] = {
        {"Web {\\b Server}", 1252, "Web {\\b Server}", "Web \\{\\\\b Server\\}"},
        {"C:\\M\xFCller\\", 1252, "C:\\M\\'fcller\\", "C:\\\\M\\'fcller\\\\"},
        // In 932 マ is 83 7D and ソ 83 5C: their second byte is part of them.
        {"\x83\x7d\x83\x5c", 932, "\\'83\\'7d\\'83\\'5c", "\\'83\\'7d\\'83\\'5c"},
        {"\x94\x5c\\", 932, "\\'94\\'5c\\", "\\'94\\'5c\\\\"},
        {"\x81\x81" "A", 932, "\\'81\\'81A", "\\'81\\'81A"},  // lead byte as trail byte
        {"a\x83", 932, "a\\'83", "a\\'83"},                     // a lead byte cut off
        {"\xC1\x5C" "}", 936, "\\'c1\\'5c}", "\\'c1\\'5c\\}"},   // 乗 in 936
        // In 1252, 0x83 is a character of its own and "}" stays markup.
        {"\x83\x7d", 1252, "\\'83}", "\\'83\\}"},
        {"\x83\x7d", CP_ACP, "\\'83}", "\\'83\\}"},  // the tests' system code page is 1252
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.bytes, kvil::richTextBytes(c.text, c.codePage)) << c.text;
        EXPECT_EQ(c.literal, kvil::richTextLiteral(c.text, c.codePage)) << c.text;
    }
}

TEST(QualificationRules, SummaryRichTextByteForByte)
{
    const std::string header = "{\\rtf1{\\fonttbl{\\f0\\fswiss\\fcharset0\\fprq2{\\*\\panose "
                               "020b0604020202020204}Arial;}}{\\f0\\fs17\\insrsid6824715"
                               "\\charrsid15495136 ";
    kvil::SummaryInputs in;
    in.firstTime = true;
    in.installFolder = "C:\\Program Files\\{Vendor}\\";
    in.heading = "H1";
    in.installHeading = "H2";
    in.removeHeading = "H3";
    in.closingNote = "H4";
    in.toInstall = {"Orvessa Web Server", "Server Instrumentation"};
    in.nothingSelected = "none";
    EXPECT_EQ(header + "{H1}{\\par }{\\tab C:\\\\Program Files\\\\\\{Vendor\\}\\\\}{\\par }{\\par }"
                       "{H2}{\\par }{\\tab Orvessa Web Server}{\\par }{\\tab Server "
                       "Instrumentation}{\\par }{\\par }{H4}}}",
              kvil::summaryRichText(in));

    in.firstTime = false;
    in.toInstall.clear();
    in.toRemove = {"SNMP"};
    EXPECT_EQ(header + "{H3}{\\par }{\\tab SNMP}{\\par }{\\par }}}", kvil::summaryRichText(in));

    in.firstTime = true;
    in.toRemove.clear();
    in.languageOffset = 6000;
    EXPECT_EQ(kvil::replaceAll(header, "fcharset0", "fcharset128") + "{\\par }{none}{\\par }}}",
              kvil::summaryRichText(in));
    in.languageOffset = 7000;
    EXPECT_TRUE(kvil::contains(kvil::summaryRichText(in), "\\fcharset134\\fprq2"));
}

// A Japanese package on a system of code page 1252: the titles and the notice
// come in 932, the folder and the package's texts in 1252. 0xFC is a lead
// byte in 932 only, and the second byte of マ (83 7D) is "}" in 1252.
TEST(QualificationRules, SummaryTextsAreWrittenInTheCodePageTheyCameIn)
{
    const std::string header = "{\\rtf1{\\fonttbl{\\f0\\fswiss\\fcharset128\\fprq2{\\*\\panose "
                               "020b0604020202020204}Arial;}}{\\f0\\fs17\\insrsid6824715"
                               "\\charrsid15495136 ";
    kvil::SummaryInputs in;
    in.languageOffset = 6000;
    in.tableCodePage = 932;
    in.systemCodePage = 1252;
    in.firstTime = true;
    in.installFolder = "C:\\M\xFC\\";
    in.heading = "1\xFC" "A";
    in.installHeading = "2\xFC" "A";
    in.removeHeading = "3\xFC" "A";
    in.closingNote = "4\xFC" "A";
    in.toInstall = {"\x83\x7d"};
    in.toRemove = {"\x83\x7d"};
    EXPECT_EQ(header + "{1\\'fcA}{\\par }{\\tab C:\\\\M\\'fc\\\\}{\\par }{\\par }"
                       "{2\\'fcA}{\\par }{\\tab \\'83\\'7d}{\\par }{\\par }"
                       "{3\\'fcA}{\\par }{\\tab \\'83\\'7d}{\\par }{\\par }{4\\'fcA}}}",
              kvil::summaryRichText(in));

    in.toInstall.clear();
    in.toRemove.clear();
    in.nothingSelected = "\x83\x7d";
    EXPECT_EQ(header + "{\\par }{\\'83\\'7d}{\\par }}}", kvil::summaryRichText(in));
}

// ---------------------------------------------------------------- sessions

class Qualification : public ::testing::Test {
protected:
    void SetUp() override { scrubProductRegistry(); }
    void TearDown() override { scrubProductRegistry(); }

    ActionRun run(Action action, MSIHANDLE session)
    {
        ActionRun result = runAction(action, session);
        EXPECT_CLEAN(result);
        return result;
    }

    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    TestPackage package{scratch};
};

TEST_F(Qualification, InstallFolderRefusalsAreBoxesUnderTheFullInterfaceAndLogLinesOtherwise)
{
    SupportFolder support(scratch);
    MSIHANDLE session = package.property("SUPPORTDIR", support.path()).open();
    package.set("UILevel", "5");
    package.set("TestINSTALLDIR", "C:");
    ActionRun full = run(caKVILTestINSTALLDIR, session);
    EXPECT_EQ(0u, full.result);
    ASSERT_EQ(1u, full.boxes.size());
    EXPECT_TRUE(isBox(full, 0, "Orvessa Test", "You must not install to a root folder.",
                      MB_OK | MB_ICONERROR, Owner::kForeground));
    EXPECT_TRUE(full.boxes[0].errorIcon);
    EXPECT_EQ("", package.get("TestINSTALLDIR"));

    // Real removable, CD-ROM and network drives of the prefix; a fixed one passes.
    package.set("UILevel", "3");
    for (const char* folder : {"R:\\Apps", "S:\\Apps", "T:\\Apps"}) {
        package.set("TestINSTALLDIR", folder);
        ActionRun quiet = run(caKVILTestINSTALLDIR, session);
        EXPECT_EQ(1603u, quiet.result) << folder;
        EXPECT_TRUE(quiet.boxes.empty());
        EXPECT_EQ(folder, package.get("TestINSTALLDIR"));
    }
    EXPECT_TRUE(support.journalHas(
        "KVILLog(" + std::to_string(session) +
        ", \"The installation directory you entered is invalid. Installation to mapped network "
        "drives, CD-ROM/DVD drives, UNC locations, floppy drives, etc. is not supported. See the "
        "\"\"Installation and Security User's Guide\"\" for more information.\", 0)"));
    package.set("TestINSTALLDIR", "C:\\kviltest\\Apps");
    EXPECT_EQ(0u, run(caKVILTestINSTALLDIR, session).result);
    EXPECT_EQ("C:\\kviltest\\Apps", package.get("TestINSTALLDIR"));
    EXPECT_TRUE(support.journalHas("KVILLog(" + std::to_string(session) +
                                   ", \"DRIVETYPECHECK flag is set to NO. hence skipping the "
                                   "check\", 2)"));
    package.set("DRIVETYPECHECK", "yes");  // checked: the NTFS drive passes without the line
    const size_t journalLines = support.journal().size();
    EXPECT_EQ(0u, run(caKVILTestINSTALLDIR, session).result);
    EXPECT_EQ(journalLines, support.journal().size());
}

TEST_F(Qualification, TempFailuresStopWithABoxOnlyUnderTheFullInterface)
{
    MSIHANDLE session = package.property("SUPPORTDIR", "C:\\support").open();
    setEnvironment("TEMP", scratch / "missing");
    package.set("UILevel", "5");
    ActionRun full = run(caKVILCheckTEMP, session);
    EXPECT_EQ(1603u, full.result);
    ASSERT_EQ(1u, full.boxes.size());
    EXPECT_TRUE(isBox(full, 0, "Orvessa Test",
                      "Install failed to write to the directory pointed to by the \"TEMP\" "
                      "environment variable.\nMake sure the currently logged in user has write "
                      "access to that directory.\nCreate the directory if it does not already "
                      "exist.",
                      MB_OK | MB_ICONERROR, Owner::kForeground));
    setEnvironment("TEMP", environment.temp);
    package.set("SUPPORTDIR", std::string(1100, 's'));  // cannot be read whole
    ActionRun extracted = run(caKVILCheckTEMP, session);
    EXPECT_EQ(1603u, extracted.result);
    ASSERT_EQ(1u, extracted.boxes.size());
    EXPECT_TRUE(isBox(extracted, 0, "Orvessa Test",
                      "MSI failed to extract support files. This can occur if you do not have "
                      "sufficient COM permission on this system. See the readme file for details "
                      "on how to fix COM permission problems.",
                      MB_OK | MB_ICONERROR, Owner::kForeground));
    EXPECT_EQ(environment.temp + "\\kviltmpmn", package.get("CP_TEMPDIR"));
    unsetEnvironment("TEMP");
    package.set("CP_TEMPDIR", "");
    package.set("UILevel", "2");
    ActionRun silent = run(caKVILCheckTEMP, session);
    EXPECT_EQ(1603u, silent.result);
    EXPECT_TRUE(silent.boxes.empty());
    EXPECT_EQ("", package.get("CP_TEMPDIR"));
}

TEST_F(Qualification, TempPublishesTheWorkFolderAndImportsEveryRecordedValue)
{
    const std::string recorded = kKevana + "\\Installer1101X";
    const std::string longName(200, 'N'), longData(300, 'd');
    setRegistryString(recorded, "INSTALLDIR", "D:\\Apps");
    setRegistryString(recorded, "A_LONG", longData);
    setRegistryString(recorded, longName.c_str(), "named");
    setRegistryString(recorded, "ZLAST", "z");
    setRegistryString(kSystemsManagement, "Version", "9.1.0");
    MSIHANDLE session = package.property("SUPPORTDIR", "C:\\support").open();
    ActionRun result = run(caKVILCheckTEMP, session);
    EXPECT_EQ(0u, result.result);
    EXPECT_EQ(environment.temp + "\\kviltmpmn", package.get("CP_TEMPDIR"));
    EXPECT_TRUE(exists(environment.temp + "\\kviltmpmn"));
    EXPECT_EQ("D:\\Apps", package.get("INSTALLDIR"));
    EXPECT_EQ(longData, package.get("A_LONG"));
    EXPECT_EQ("named", package.get(longName));
    EXPECT_EQ("z", package.get("ZLAST"));
    EXPECT_EQ("NO", package.get("OSCHECK"));  // same version installed
}

TEST_F(Qualification, FirstTimeInstallClassifiesTheRun)
{
    setRegistryString(kSystemsManagement, "Version", "9.0.0");
    setRegistryString(kSystemsManagement, "InstallPath", "D:\\Orvessa\\");
    MSIHANDLE session = package.property("PATCH", "p.msp").open();
    EXPECT_EQ(0u, run(caKVILSetFirstTimeInstall, session).result);
    for (const char* flag : {"CP_UPGRADEFLAG", "CP_DOINGMAJORUPGRADE", "CP_FIRSTTIMEINSTALL"})
        EXPECT_EQ("YES", package.get(flag)) << flag;
    EXPECT_EQ("D:\\Orvessa\\", package.get("INSTALLDIR"));
    EXPECT_EQ("ALL", package.get("REINSTALL"));
    EXPECT_EQ("", package.get("CP_IMPORTKVSAPREFERENCES"));
    EXPECT_EQ("Disable", package.get("MSIRESTARTMANAGERCONTROL"));

    // A 32-bit installation blocks the upgrade before anything else is decided.
    setRegistryString(kSystemsManagement, "Version", "8.0.0", true);
    package.set("CP_UPGRADEFLAG", "");
    EXPECT_EQ(0u, run(caKVILSetFirstTimeInstall, session).result);
    EXPECT_EQ("YES", package.get("CP_BLOCKx32_UPGRADE"));
    EXPECT_EQ("", package.get("CP_UPGRADEFLAG"));
}

TEST_F(Qualification, ADowngradeStopsWithAGermanBoxUnderTheFullInterface)
{
    setRegistryString(kSystemsManagement, "Version", "9.2.0");
    MSIHANDLE session = package.property("ProductLanguage", "1031").open();
    package.set("UILevel", "5");
    ActionRun full = run(caKVILSetFirstTimeInstall, session);
    EXPECT_EQ(1603u, full.result);
    ASSERT_EQ(1u, full.boxes.size());
    EXPECT_TRUE(isBox(full, 0, "Orvessa Test",
                      "Die installierte Version ist neuer als die Version, die Sie installieren "
                      "m\xF6" "chten.",
                      MB_OK | MB_ICONERROR, Owner::kForeground));
    EXPECT_EQ("", package.get("CP_FIRSTTIMEINSTALL"));
}

TEST_F(Qualification, SelectionChecksNameDisallowedFeaturesAndWantAManagementInterface)
{
    for (const char* key : {"IWS", "SI", "SNMP", "NICInt", "INTEL", "BRCM"})
        package.feature({key, key, ""});
    MSIHANDLE session = package.property("CP_DISALLOWINSTALL", "INTEL;BRCM;NICInt;").open();
    package.set("UILevel", "2");  // boxes appear at every UI level
    for (const char* key : {"SI", "NICInt", "INTEL"})
        package.requestState(key, INSTALLSTATE_LOCAL);
    for (const char* key : {"IWS", "SNMP", "BRCM"})
        package.requestState(key, INSTALLSTATE_ABSENT);
    ActionRun refused = run(caKVILResetDisallowedFeatures, session);
    ASSERT_EQ(1u, refused.boxes.size());
    EXPECT_TRUE(isBox(refused, 0, "Orvessa Test",
                      "You cannot install Intel SNMP Agent on this system due to hardware or "
                      "software constraints. If you have not already run the prerequisite "
                      "checker, run the prerequisite checker for more information. It is "
                      "recommended that you always run the prerequisite checker before "
                      "installing any applications.",
                      MB_ICONERROR, Owner::kForeground));
    EXPECT_EQ("NO", package.get("CP_CUSTOMINPUTOK"));

    ActionRun alone = run(caKVILCheckforMGMTINT, session);
    ASSERT_EQ(1u, alone.boxes.size());
    EXPECT_TRUE(isBox(alone, 0, "Orvessa Test",
                      "You have chosen to install Server Instrumentation. To proceed with "
                      "installation, choose either Orvessa Web Server or one of the Management "
                      "Interfaces. This will enable you to manage the server.",
                      MB_ICONERROR, Owner::kForeground));
    EXPECT_EQ("YES", package.get("CP_NOMGMTINT"));

    createKey(kKevana + "\\Applications\\IWS");  // the web server is there already
    EXPECT_TRUE(run(caKVILCheckforMGMTINT, session).boxes.empty());
    EXPECT_EQ("YES", package.get("CP_NOMGMTINT"));  // never reset
    package.requestState("INTEL", INSTALLSTATE_ABSENT);
    EXPECT_TRUE(run(caKVILResetDisallowedFeatures, session).boxes.empty());
    EXPECT_EQ("YES", package.get("CP_CUSTOMINPUTOK"));
}

TEST_F(Qualification, TheSummaryReplacesTheControlRowWithATemporaryOne)
{
    for (const char* key : {"IWS", "SNMP"})
        package.feature({key, key, ""});
    package.control("ReadyToInstall", "SummaryText", "old")
        .property("SummaryText2", "Install:")
        .property("SummaryText3", "Remove:")
        .property("ProductLanguage", "1031");  // titles in the package's language
    MSIHANDLE session = package.openInstalled();  // both features installed
    package.requestState("SNMP", INSTALLSTATE_ABSENT);
    package.requestState("IWS", INSTALLSTATE_LOCAL);
    EXPECT_EQ(0u, run(caKVILSetSummaryText, session).result);

    std::string text;
    kvil::Installer(session).query(
        "SELECT `Text` FROM `Control` WHERE `Dialog_`='ReadyToInstall' AND `Control`='SummaryText'",
        [&](MSIHANDLE, MSIHANDLE record) {
            text = kvil::recordString(record, 1);
            return false;
        });
    EXPECT_TRUE(kvil::contains(text, "{Install:}{\\par }{\\tab Orvessa-Webserver}{\\par }{\\par }"
                                     "{Remove:}{\\par }{\\tab SNMP}{\\par }{\\par }}}"))
        << text;
}

TEST_F(Qualification, TheSummaryFailsWhenTheDialogHasNoSummaryControl)
{
    package.control("ReadyToInstall", "Title", "kept");
    MSIHANDLE session = package.open();
    EXPECT_EQ(1603u, run(caKVILSetSummaryText, session).result);
}

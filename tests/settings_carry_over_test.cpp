// Settings of an earlier installation carried over into properties: the value
// rules, and the stage against real ini files found through InstallPath.
#include "harness/harness.h"
#include "qualify/settings_carry_over.h"
#include "runtime/installer.h"

using namespace test;
namespace rules = kvil::carry_over;

TEST(SettingsCarryOverRules, ValuesAreComparedLetterExact)
{
    EXPECT_EQ("enhanced", rules::messageFormat("Enhanced"));
    EXPECT_EQ("traditional", rules::messageFormat("enhanced"));
    EXPECT_EQ("False", rules::trueUnlessFalse("False"));
    EXPECT_EQ("True", rules::trueUnlessFalse("false"));
    EXPECT_EQ("True", rules::trueUnlessFalse(""));
    EXPECT_EQ("6", rules::osLogFilter("6"));
    for (const char* value : {"7", "06", " 3", ""})
        EXPECT_EQ("7", rules::osLogFilter(value)) << value;
    EXPECT_EQ("sha1", rules::keySigningAlgorithm("sha1"));
    EXPECT_EQ("SHA256", rules::keySigningAlgorithm("MD5"));
    EXPECT_EQ("0", rules::accessMask("10"));
    EXPECT_EQ("2", rules::accessMask("12"));
    EXPECT_EQ("3", rules::accessMask(""));
}

TEST(SettingsCarryOverRules, LogFileSizeIsCappedAsTextNotAsANumber)
{
    for (const char* value : {"6", "500", "\xE9"})  // bytes compare unsigned
        EXPECT_EQ("50", rules::customLogFileSize(value)) << value;
    for (const char* value : {"100", "49", "50", ""})
        EXPECT_EQ(value, rules::customLogFileSize(value));
}

// The stage in a session, logging into a list instead of the vendor library.
class SettingsCarryOver : public ::testing::Test {
protected:
    void SetUp() override
    {
        scrubProductRegistry();
        setRegistryString("SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\"
                          "SystemsManagement",
                          "InstallPath", earlier.path());
    }
    void TearDown() override { scrubProductRegistry(); }

    std::vector<std::string> carryOver()
    {
        kvil::Installer installer(package.open());
        std::vector<std::string> lines;
        kvil::carrySettingsOver(installer, [&](const std::string& line) { lines.push_back(line); });
        return lines;
    }

    // Writes a file under the earlier installation folder, making its folders.
    void write(const std::string& relativePath, const std::string& text)
    {
        for (size_t at = relativePath.find('\\', 1); at != std::string::npos;
             at = relativePath.find('\\', at + 1))
            CreateDirectoryA((earlier.path() + relativePath.substr(0, at)).c_str(), nullptr);
        writeFile(earlier.path() + relativePath, text);
    }

    ScratchFolder scratch;
    ScratchFolder earlier{"SettingsCarryOverEarlierInstallation"};
    TestPackage package{scratch};
};

TEST_F(SettingsCarryOver, AllFourFilesOfAnEarlierInstallation)
{
    write("\\kvsa\\ini\\dcisdy64.ini",
          "[System Info]\r\nMessage Preference=Enhanced\r\nAuto Archive SEL Log=False\r\n"
          "Log All Sensors=false\r\nOS Log Filter=4\r\n");
    write("\\kva\\ini\\produsefeedback.ini", "[ProductLog Properties]\r\nCustomLogFileSize=6\r\n");
    write("\\kva\\ini\\kvprv64.ini",
          "[certificates]\r\nkey_signing_algorithm=MD5\r\n[webserver]\r\nenableDWS=true\r\n");
    write("\\wwwroot\\oem\\data\\ini\\tavrin\\kvsaoem.ini", "[data]\r\naccessmask=12\r\n");

    EXPECT_EQ((std::vector<std::string>{
                  "INI exists, CP_MESSAGE_FORMAT property is set to enhanced",
                  "INI exists, CP_AUTOARCHIEVESELLOG property is set to False",
                  "INI exists, CP_LOGALLSENSORS property is set to True",
                  "INI exists, CP_OSLOGFILTER property is set to 4",
                  "KVPRV64INI exists, CP_KEY_SIGNING_ALGORITHM property is set to value as read",
                  "KVPRV64INI exists, CP_ENABLEDWS property is set to true",
                  "INI exists, CP_ACCESSMASK property is set to 2"}),
              carryOver());
    EXPECT_EQ("enhanced", package.get("CP_MESSAGE_FORMAT"));
    EXPECT_EQ("False", package.get("CP_AUTOARCHIEVESELLOG"));
    EXPECT_EQ("True", package.get("CP_LOGALLSENSORS"));
    EXPECT_EQ("4", package.get("CP_OSLOGFILTER"));
    EXPECT_EQ("50", package.get("CP_CUSTOMLOGFILESIZE"));
    EXPECT_EQ("SHA256", package.get("CP_KEY_SIGNING_ALGORITHM"));
    EXPECT_EQ("true", package.get("CP_ENABLEDWS"));
    EXPECT_EQ("2", package.get("CP_ACCESSMASK"));
}

TEST_F(SettingsCarryOver, MissingKeysGiveTheirDefaultsOrEmptyValues)
{
    write("\\kvsa\\ini\\dcisdy64.ini", "[Other]\r\nx=1\r\n");
    write("\\kva\\ini\\produsefeedback.ini", "");
    write("\\kva\\ini\\kvprv64.ini", "[webserver]\r\nenableDWS=True\r\n");
    write("\\wwwroot\\oem\\data\\ini\\tavrin\\kvsaoem.ini", "");
    package.property("CP_CUSTOMLOGFILESIZE", "20")
        .property("CP_KEY_SIGNING_ALGORITHM", "SHA384")
        .property("CP_ENABLEDWS", "preset");

    EXPECT_EQ("INI exists, CP_OSLOGFILTER property is set to 7", carryOver().at(3));
    EXPECT_EQ("traditional", package.get("CP_MESSAGE_FORMAT"));
    EXPECT_EQ("True", package.get("CP_AUTOARCHIEVESELLOG"));
    EXPECT_EQ("", package.get("CP_CUSTOMLOGFILESIZE"));      // emptied, not kept
    EXPECT_EQ("", package.get("CP_KEY_SIGNING_ALGORITHM"));  // likewise
    EXPECT_EQ("preset", package.get("CP_ENABLEDWS"));        // only "true" is carried
    EXPECT_EQ("3", package.get("CP_ACCESSMASK"));
}

TEST_F(SettingsCarryOver, FoldersInPlaceOfTheFilesDoNotCount)
{
    write("\\kvsa\\ini\\dcisdy64.ini\\x", "");
    write("\\kva\\ini\\produsefeedback.ini\\x", "");
    EXPECT_EQ((std::vector<std::string>{"No INI exists, CP_MESSAGE_FORMAT property not set",
                                        "No INI exists, CP_ACCESSMASK property not set"}),
              carryOver());
    EXPECT_EQ("", package.get("CP_MESSAGE_FORMAT"));
    EXPECT_EQ("", package.get("CP_CUSTOMLOGFILESIZE"));
}

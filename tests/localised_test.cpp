// Loading user texts in the language of the installation.
#include "harness/harness.h"
#include "runtime/installer.h"
#include "runtime/localised.h"

using namespace test;
using namespace kvil;

namespace {

std::string ansiText(UINT id)
{
    char buffer[1024] = {};
    LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof(buffer));
    return buffer;
}

std::wstring fromCodePage(const std::string& text, UINT codePage)
{
    wchar_t wide[1024] = {};
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.c_str(), -1, wide, 1024);
    return wide;
}

}  // namespace

class Localised : public ::testing::Test {
protected:
    ScratchFolder scratch;
    TestPackage package{scratch};
};

TEST_F(Localised, TheLanguageCodePicksTheBlock)
{
    EXPECT_EQ(3000, languageOffsetForCode("1031"));
    EXPECT_EQ(4000, languageOffsetForCode("1034"));
    EXPECT_EQ(5000, languageOffsetForCode("1036"));
    EXPECT_EQ(6000, languageOffsetForCode("1041"));
    EXPECT_EQ(7000, languageOffsetForCode("2052"));
    EXPECT_EQ(2000, languageOffsetForCode("1043"));
    EXPECT_EQ(2000, languageOffsetForCode(""));

    Installer installer(package.property("ProductLanguage", "1031").open());
    EXPECT_EQ(ansiText(3033), loadLocalisedString(installer, 2033));
    EXPECT_NE(ansiText(2033), ansiText(3033));
    package.set("ProductLanguage", "1043");
    EXPECT_EQ("Installing Plug and Play drivers. Please wait...", loadLocalisedString(installer, 2033));
    EXPECT_EQ(ansiText(5034), loadLocalisedStringForCode(installer, 2034, "1036"));
}

TEST_F(Localised, TheProductNameComesFromThePackageInEveryLanguage)
{
    Installer installer(package.property("ProductName", "Fleet Agent").open());
    for (const char* code : {"1033", "1031", "1041", "2052"}) {
        package.set("ProductLanguage", code);
        EXPECT_EQ("Fleet Agent", loadLocalisedString(installer, 2001)) << code;
    }
    package.set("ProductName", std::string(1100, 'n'));  // unreadable: the table's name
    EXPECT_EQ("Orvessa", loadLocalisedString(installer, 2001));
}

TEST_F(Localised, AnUnknownIdSaysSo)
{
    Installer installer(package.open());
    EXPECT_EQ("2060 resource id not found", loadLocalisedString(installer, 2060));
}

TEST_F(Localised, JapaneseAndChineseArriveInTheirOwnCodePagesOnA1252System)
{
    ASSERT_EQ(1252u, GetACP());
    Installer installer(package.property("ProductLanguage", "1041").open());
    EXPECT_EQ(L"\u30b5\u30fc\u30d3\u30b9\u3092\u958b\u59cb\u3057\u3066\u3044\u307e\u3059\u3002 "
              L"\u3057\u3070\u3089\u304f\u304a\u5f85\u3061\u304f\u3060\u3055\u3044...",
              fromCodePage(loadLocalisedString(installer, 2034), 932));
    package.set("ProductLanguage", "2052");
    EXPECT_EQ(L"\u6b63\u5728\u542f\u52a8\u670d\u52a1\u3002\u8bf7\u7a0d\u5019...",
              fromCodePage(loadLocalisedString(installer, 2034), 936));
    const std::string title = loadLocalisedString(installer, 2031);
    EXPECT_EQ(title.find("%s"), title.rfind("%s"));
}

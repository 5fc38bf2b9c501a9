// The version resource of every DLL the build makes: the release's version in
// the fixed part and in the strings Windows shows in the file's properties.
#include "harness/harness.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace test;

namespace {

struct VersionInfo {
    bool found = false;
    DWORD fileMS = 0, fileLS = 0, productMS = 0, productLS = 0;
    std::vector<char> block;
    std::string language;  // "040904b0" for the first translation

    std::string text(const char* name) const
    {
        char* value = nullptr;
        UINT length = 0;
        std::string path = "\\StringFileInfo\\" + language + "\\" + name;
        if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) ||
            value == nullptr)
            return "<missing>";
        return std::string(value);
    }
};

VersionInfo readVersion(const std::string& file)
{
    VersionInfo info;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0)
        return info;
    info.block.resize(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, info.block.data()))
        return info;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return info;
    info.fileMS = fixed->dwFileVersionMS;
    info.fileLS = fixed->dwFileVersionLS;
    info.productMS = fixed->dwProductVersionMS;
    info.productLS = fixed->dwProductVersionLS;
    WORD* translation = nullptr;
    if (!VerQueryValueA(info.block.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) || length < 4)
        return info;
    char language[9];
    std::snprintf(language, sizeof language, "%04x%04x", translation[0], translation[1]);
    info.language = language;
    info.found = true;
    return info;
}

}  // namespace

TEST(VersionResource, EveryBuiltDllCarriesTheReleaseVersion)
{
    unsigned major = 0, minor = 0, patch = 0, build = 0;
    ASSERT_EQ(4, std::sscanf(KVIL_VERSION, "%u.%u.%u.%u", &major, &minor, &patch, &build));
    const DWORD ms = MAKELONG(minor, major), ls = MAKELONG(build, patch);
    struct Case {
        const char* file;
        const char* originalName;
        const char* description;
    } cases[] = {
        {"KVILMSI64.dll", "KVILMSI64.dll", "Orvessa installer custom actions (64-bit)"},
        {"KVIL64.dll", "KVIL64.dll",
         "Test double simulating the vendor support library KVIL64.dll from a machine profile"},
        {"PNPDRVR32.DLL", "PNPDRVR32.DLL",
         "Test double simulating the plug-and-play driver installer PNPDRVR32.DLL"},
        {"simvariants\\no_GetSystemId\\KVIL64.dll", "KVIL64.dll",
         "Test double simulating the vendor support library KVIL64.dll from a machine profile, "
         "without GetSystemId"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.file);
        VersionInfo info = readVersion(programFolder() + "\\" + each.file);
        ASSERT_TRUE(info.found);
        EXPECT_EQ(ms, info.fileMS);
        EXPECT_EQ(ls, info.fileLS);
        EXPECT_EQ(ms, info.productMS);
        EXPECT_EQ(ls, info.productLS);
        EXPECT_EQ("040904b0", info.language);
        EXPECT_EQ(KVIL_VERSION, info.text("FileVersion"));
        EXPECT_EQ(KVIL_VERSION, info.text("ProductVersion"));
        EXPECT_EQ("Tavrin Computer Corporation", info.text("CompanyName"));
        EXPECT_EQ("Orvessa Server Administrator", info.text("ProductName"));
        EXPECT_EQ("Copyright (C) Tavrin Computer Corporation", info.text("LegalCopyright"));
        EXPECT_EQ(each.originalName, info.text("OriginalFilename"));
        EXPECT_EQ(each.description, info.text("FileDescription"));
    }
}

// caKVILCTCheck, the upgrade marker pair and caKVILWaitforServiceStop, and the
// export table of the built DLL.
#include "harness/harness.h"
#include "runtime/pause.h"

#include <chrono>
#include <fstream>

using namespace test;

#include "runtime/exports.h"

namespace {
const std::string kMaker = "SOFTWARE\\Tavrin Computer Corporation";
const std::string kKevana = kMaker + "\\Kevana";
const std::string kMarker = kKevana + "\\Installer1100X";

std::string markerValue()
{
    char value[64] = {};
    DWORD size = sizeof(value);
    RegGetValueA(HKEY_LOCAL_MACHINE, kMarker.c_str(), "CP_MAJORUPGRADE", RRF_RT_REG_SZ, nullptr,
                 value, &size);
    return value;
}
}  // namespace

class SmallActions : public ::testing::Test {
protected:
    void SetUp() override { scrubProductRegistry(); }
    void TearDown() override { scrubProductRegistry(); }
    ScratchFolder scratch;
    TestPackage package{scratch};
};

TEST_F(SmallActions, CtCheckNeverFlagsA64BitProcessAndKeepsAPresetValue)
{
    MSIHANDLE session = package.property("CP_WINDOWSCT", "MAYBE").open();
    ActionRun run = runAction(caKVILCTCheck, session);
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ("MAYBE", package.get("CP_WINDOWSCT"));
}

TEST_F(SmallActions, UpgradeMarkerIsCreatedWithItsParentsAndRewrittenWhenPresent)
{
    MSIHANDLE session = package.open();
    ActionRun run = runAction(caKVILCreateUpgradeRegKey, session);
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ("YES", markerValue());
    EXPECT_FALSE(keyExists(kMarker, true));  // the native 64-bit view only

    setRegistryString(kMarker, "CP_MAJORUPGRADE", "NO");
    EXPECT_EQ(0u, runAction(caKVILCreateUpgradeRegKey, session).result);
    EXPECT_EQ("YES", markerValue());
}

TEST_F(SmallActions, RollbackRemovesTheMarkerAndOnlyParentsLeftEmpty)
{
    MSIHANDLE session = package.open();
    createKey(kMarker);
    createKey(kKevana + "\\Applications\\IWS");
    ActionRun run = runAction(caKVILCreateUpgradeRegKeyRollback, session);
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_FALSE(keyExists(kMarker));
    EXPECT_TRUE(keyExists(kKevana + "\\Applications\\IWS"));

    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kKevana + "\\Applications").c_str());
    createKey(kMarker);
    EXPECT_EQ(0u, runAction(caKVILCreateUpgradeRegKeyRollback, session).result);
    EXPECT_FALSE(keyExists(kMaker));
    EXPECT_EQ(0u, runAction(caKVILCreateUpgradeRegKeyRollback, session).result);  // nothing left
}

TEST_F(SmallActions, WaitForServiceStopReturnsAtOnceWithoutTheServices)
{
    MSIHANDLE session = package.open();
    auto start = std::chrono::steady_clock::now();
    ActionRun run = runAction(caKVILWaitforServiceStop, session);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_LT(seconds, 2.0);
}

TEST_F(SmallActions, WaitForServiceStopGivesAStoppedServiceItsGraceTime)
{
    kvil::setPauseDivisor(100);
    TestService service("dcevt64");
    ASSERT_TRUE(service.created());
    auto start = std::chrono::steady_clock::now();
    ActionRun run = runAction(caKVILWaitforServiceStop, package.open());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    kvil::setPauseDivisor(1);
    EXPECT_EQ(0u, run.result);
    EXPECT_GE(seconds, 0.08);  // 9000 ms / 100 for the one stopped service
}

TEST(ExportTable, TheBuiltDllExportsEveryListedActionUndecorated)
{
    std::ifstream def("Z:" + std::string(KVIL_SOURCE_DIR) + "/KVILMSI64.def");
    HMODULE dll = LoadLibraryA((programFolder() + "\\KVILMSI64.dll").c_str());
    ASSERT_TRUE(dll != nullptr);
    std::string line;
    int exports = 0;
    while (std::getline(def, line)) {
        size_t start = line.find("caKVIL");
        if (start == std::string::npos)
            continue;
        std::string name = line.substr(start, line.find_first_of(" \r\t", start) - start);
        EXPECT_TRUE(GetProcAddress(dll, name.c_str()) != nullptr) << name;
        ++exports;
    }
    EXPECT_GE(exports, 4);
    auto ctCheck = reinterpret_cast<UINT(__stdcall*)(MSIHANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "caKVILCTCheck")));
    ASSERT_TRUE(ctCheck != nullptr);
    EXPECT_EQ(0u, ctCheck(0));
    FreeLibrary(dll);
}

// caKVILJREUpgrade: runs the product's key-store migration with the Java
// runtime below INSTALLDIR when the runtime recorded for an earlier
// installation is 1.7 or older. The migration's outcome never fails the
// installation; only an unusable vendor library does.
#include "install/jre_upgrade.h"

#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/registry.h"
#include "runtime/text.h"
#include "runtime/vendor_library.h"

#include <vector>

using namespace kvil;

namespace kvil {

JavaVersion javaVersionOf(const std::string& recorded)
{
    std::vector<std::string> tokens;
    size_t at = 0;
    while (tokens.size() < 2 && at < recorded.size()) {
        size_t end = recorded.find('.', at);
        if (end == std::string::npos)
            end = recorded.size();
        if (end > at)
            tokens.push_back(recorded.substr(at, end - at));
        at = end + 1;
    }
    JavaVersion version;
    if (tokens.size() > 0)
        version.major = leadingInteger(tokens[0]);
    if (tokens.size() > 1)
        version.minor = leadingInteger(tokens[1]);
    return version;
}

bool migrationNeeded(bool javaPresent, const JavaVersion& version)
{
    return javaPresent && version.major == 1 && version.minor <= 7;
}

std::string migrationCommandLine(const std::string& installFolder, const std::string& supportFolder)
{
    const std::string& I = installFolder;
    const std::string webInf = I + "\\apache-tomcat\\webapps\\kvsa\\WEB-INF";
    return "\"" + I + "\\jre\\bin\\java.exe\"" +
           " -cp " +
           "\"" + supportFolder + "\\KVKSMIG.jar\";" +
           "\"" + webInf + "\\shared\\KVCOMMON.jar\";" +
           "\"" + webInf + "\\lib\\xalan.jar\";" +
           "\"" + webInf + "\\lib\\xerces.jar\"" +
           " -Djava.library.path=" +
           "\"" + I + "\\kvsa\\bin\";" +
           "\"" + I + "\\kva\\bin\" " +
           "com.tavrin.kva.common.KVAKSMigrate" +
           " \"" + I + "\\\"";
}

}  // namespace kvil

namespace {

const char* const kCaption = "caKVILJREUpgrade";
const char* const kJreKey = "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\JRE";

UINT jreUpgrade(const Installer& installer)
{
    const std::string supportFolder = installer.property("SUPPORTDIR");
    VendorLibrary library(installer, supportFolder, "KVIL64.dll", {"KVKSMIG.jar"});
    if (!library.loaded()) {
        library.reportLoadFailure(kCaption);
        return ERROR_INSTALL_FAILURE;
    }
    auto kvilLog = library.require<KVILLogFn>(kCaption, "KVILLog");
    if (!kvilLog)
        return ERROR_INSTALL_FAILURE;
    auto launchAppAndWait = library.require<LaunchAppAndWaitFn>(kCaption, "LaunchAppAndWait");
    if (!launchAppAndWait)
        return ERROR_INSTALL_FAILURE;
    auto log = [&](const std::string& text) { kvilLog(installer.handle(), text.c_str(), 2); };

    const std::string installFolder = installer.property("INSTALLDIR");
    std::string recorded = readRegistryString(HKEY_LOCAL_MACHINE, kJreKey, "Version");
    if (recorded.empty()) {
        recorded = readRegistryString32(HKEY_LOCAL_MACHINE, kJreKey, "Version");
        if (recorded.empty()) {
            log("No Previously installed JRE present in the system, exit from JREUpgrade function call");
            return ERROR_SUCCESS;
        }
        log("No x64 JRE present in the system, reading from 32 bit hive of registry and proceeding "
            "with JREUpgrade function call");
    }

    const JavaVersion version = javaVersionOf(recorded);
    const std::string commandLine = migrationCommandLine(installFolder, supportFolder);
    if (migrationNeeded(pathIsFile(installFolder + "\\jre\\bin\\java.exe"), version)) {
        installer.message("Waiting for " + commandLine);
        launchAppAndWait(commandLine.c_str(), installFolder.c_str(), 0);
        log(commandLine);
        log("UpgradeUtilityCommand executed from JREUpgrade function call");
    }
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILJREUpgrade(MSIHANDLE handle)
{
    return guarded("caKVILJREUpgrade", handle, jreUpgrade);
}

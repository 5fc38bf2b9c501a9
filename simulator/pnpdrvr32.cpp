// PNPDRVR32.DLL simulator: the plug-and-play driver installer. It journals
// every call and runs the driver commands that pnpdrivers.ini in the support
// folder lists for each feature (see README.md).
#include "runtime/kvil_api.h"
#include "simulator/simcore.h"

#include <sstream>
#include <type_traits>

using namespace kvilsim;

extern "C" void __stdcall InstallPNPDevices(const char* supportFolder, const char* installFolder,
                                            const char* featureKeys)
{
    shielded([&] {
        const Profile profile = loadProfile();
        const IniFile drivers = IniFile::load(joinPath(text(supportFolder), "pnpdrivers.ini"));
        const std::string folder = isDirectory(text(supportFolder)) ? text(supportFolder) : "";

        // Feature keys, each followed by ",". A driver that fails to install
        // does not keep the others from installing, as with real devices.
        std::istringstream keys(text(featureKeys));
        std::string feature;
        std::string problems;
        while (std::getline(keys, feature, ',')) {
            const IniEntries* commands = drivers.section(feature);
            if (feature.empty() || !commands)
                continue;
            const Placeholders placeholders = {{"%SUPPORTDIR%", text(supportFolder)},
                                               {"%INSTALLDIR%", text(installFolder)},
                                               {"%FEATURE%", feature}};
            runCommands(0, *commands, placeholders, folder, false, &problems);
        }
        // No installer handle here: a driver command that could not be run
        // is explained on the journal line.
        journal(profile, "InstallPNPDevices",
                {quoted(supportFolder), quoted(installFolder), quoted(featureKeys)}, "", problems);
    });
}

static_assert(std::is_same<decltype(&InstallPNPDevices), InstallPNPDevicesFn>::value,
              "InstallPNPDevices");

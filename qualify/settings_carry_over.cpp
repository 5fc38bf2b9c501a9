#include "qualify/settings_carry_over.h"

#include "runtime/files.h"
#include "runtime/installer.h"
#include "runtime/registry.h"

#include <windows.h>

namespace kvil {

namespace carry_over {

std::string messageFormat(const std::string& value)
{
    return value == "Enhanced" ? "enhanced" : "traditional";
}

std::string trueUnlessFalse(const std::string& value)
{
    return value == "False" ? "False" : "True";
}

std::string osLogFilter(const std::string& value)
{
    if (value.size() == 1 && value[0] >= '0' && value[0] <= '6')
        return value;
    return "7";
}

std::string customLogFileSize(const std::string& value)
{
    // std::string compares bytes as unsigned, like strcmp.
    return value.compare("50") > 0 ? "50" : value;
}

std::string keySigningAlgorithm(const std::string& value)
{
    return value == "SHA1" || value == "MD5" ? "SHA256" : value;
}

std::string accessMask(const std::string& value)
{
    if (value.find('0') != std::string::npos)
        return "0";
    if (value.find('2') != std::string::npos)
        return "2";
    return "3";
}

}  // namespace carry_over

namespace {

std::string iniValue(const std::string& file, const char* section, const char* key)
{
    char buffer[1024] = {};
    GetPrivateProfileStringA(section, key, "", buffer, sizeof(buffer), file.c_str());
    return buffer;
}

void carryInstrumentationSettings(const Installer& installer, const LogLine& log,
                                  const std::string& file)
{
    if (!pathIsFile(file)) {
        log("No INI exists, CP_MESSAGE_FORMAT property not set");
        return;
    }
    const char* const section = "System Info";

    const std::string format =
        carry_over::messageFormat(iniValue(file, section, "Message Preference"));
    log("INI exists, CP_MESSAGE_FORMAT property is set to " + format);
    installer.setProperty("CP_MESSAGE_FORMAT", format);

    const std::string archive =
        carry_over::trueUnlessFalse(iniValue(file, section, "Auto Archive SEL Log"));
    log("INI exists, CP_AUTOARCHIEVESELLOG property is set to " + archive);
    installer.setProperty("CP_AUTOARCHIEVESELLOG", archive);

    const std::string sensors =
        carry_over::trueUnlessFalse(iniValue(file, section, "Log All Sensors"));
    log("INI exists, CP_LOGALLSENSORS property is set to " + sensors);
    installer.setProperty("CP_LOGALLSENSORS", sensors);

    const std::string filter = carry_over::osLogFilter(iniValue(file, section, "OS Log Filter"));
    log("INI exists, CP_OSLOGFILTER property is set to " + filter);
    installer.setProperty("CP_OSLOGFILTER", filter);
}

void carryProductLogSettings(const Installer& installer, const std::string& file)
{
    if (!pathIsFile(file))
        return;
    installer.setProperty("CP_CUSTOMLOGFILESIZE",
                          carry_over::customLogFileSize(
                              iniValue(file, "ProductLog Properties", "CustomLogFileSize")));
}

void carryWebServerSettings(const Installer& installer, const LogLine& log, const std::string& file)
{
    if (!pathIsFile(file))
        return;
    const std::string algorithm =
        carry_over::keySigningAlgorithm(iniValue(file, "certificates", "key_signing_algorithm"));
    log("KVPRV64INI exists, CP_KEY_SIGNING_ALGORITHM property is set to value as read");
    installer.setProperty("CP_KEY_SIGNING_ALGORITHM", algorithm);

    if (iniValue(file, "webserver", "enableDWS") == "true") {
        log("KVPRV64INI exists, CP_ENABLEDWS property is set to true");
        installer.setProperty("CP_ENABLEDWS", "true");
    }
}

void carryConsoleAccessMask(const Installer& installer, const LogLine& log, const std::string& file)
{
    if (!pathIsFile(file)) {
        log("No INI exists, CP_ACCESSMASK property not set");
        return;
    }
    const std::string mask = carry_over::accessMask(iniValue(file, "data", "accessmask"));
    log("INI exists, CP_ACCESSMASK property is set to " + mask);
    installer.setProperty("CP_ACCESSMASK", mask);
}

}  // namespace

void carrySettingsOver(const Installer& installer, const LogLine& log)
{
    // Without an earlier installation the relative paths are tried as they are.
    const std::string folder = readRegistryString(
        HKEY_LOCAL_MACHINE, kSystemsManagementKey, "InstallPath");

    carryInstrumentationSettings(installer, log, folder + "\\kvsa\\ini\\dcisdy64.ini");
    carryProductLogSettings(installer, folder + "\\kva\\ini\\produsefeedback.ini");
    carryWebServerSettings(installer, log, folder + "\\kva\\ini\\kvprv64.ini");
    carryConsoleAccessMask(installer, log,
                           folder + "\\wwwroot\\oem\\data\\ini\\tavrin\\kvsaoem.ini");
}

}  // namespace kvil

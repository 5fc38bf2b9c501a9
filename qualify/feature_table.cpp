#include "qualify/feature_table.h"

#include "runtime/installer.h"
#include "runtime/registry.h"
#include "runtime/text.h"

namespace kvil {

const std::array<FeatureRow, kFeatureCount> kFeatureTable = {{
    {"IWS", "iws.ini", "CP_IWSSTATUS", 2022, true, "IWS"},
    {"SI", "sa.ini", "CP_SASTATUS", 2009, true, "DataEngine"},
    {"KVSS", "kvsm.ini", "CP_KVSMSTATUS", 2010, true, "KVSM"},
    {"RmtMgmt", "ssa.ini", "CP_SSASTATUS", 2005, true, "SSA"},
    {"WMI", "wmi.ini", "CP_WMISTATUS", 2018, true, "WMI"},
    {"SNMP", "snmp.ini", "CP_SNMPSTATUS", 2052, true, "SNMP"},
    {"CLI", "cli.ini", "CP_CLISTATUS", 2053, true, "KVACORE"},
    {"OSLOG", "oslog.ini", "CP_OSLOGSTATUS", 2054, true, "OSLOG"},
    {"iVIRK", "ivirk12g_mn.ini", "CP_iVIRK12GSTATUS", 2011, true, "iVIRKMN_12G"},
    {"NICInt", "nicint.ini", "CP_NICSTATUS", kNoTitle, true, "NIC_INT"},
    {"INTEL", "intel.ini", "CP_INTELSTATUS", 2015, true, "IntelSNMPAgent"},
    {"BRCM", "brcm.ini", "CP_BRCMSTATUS", 2016, true, "BroadcomSNMPAgent"},
}};

const FeatureRow* findFeature(const std::string& key)
{
    for (const FeatureRow& row : kFeatureTable)
        if (equalsNoCase(row.key, key))
            return &row;
    return nullptr;
}

std::string applicationsKeyPath()
{
    if (registryKeyExists(HKEY_LOCAL_MACHINE, kApplicationsKey))
        return kApplicationsKey;
    return "SOFTWARE\\Wow6432Node\\Tavrin Computer Corporation\\Kevana\\Applications";
}

void FeatureSelection::raise(const std::string& featureKey, int value)
{
    const std::string applications = applicationsKeyPath();
    const FeatureRow* row = findFeature(featureKey);
    if (!row)
        return;
    State& state = states_[static_cast<std::size_t>(row - kFeatureTable.data())];
    const bool installed =
        registryKeyExists(HKEY_LOCAL_MACHINE, applications + "\\" + row->applicationKey);

    // Instrumentation already installed beside the client tools is hidden.
    if (equalsNoCase(row->key, "SI") && installed &&
        registryKeyExists(HKEY_LOCAL_MACHINE, std::string(kApplicationsKey) + "\\Client"))
        state.disposition = kHidden;

    if (!installed && value > state.disposition && value <= kHidden)
        state.disposition = value;
}

void addToDisallowedList(const Installer& installer, const std::string& featureKey)
{
    installer.setProperty("CP_DISALLOWINSTALL",
                          installer.property("CP_DISALLOWINSTALL") + featureKey + ";");
}

}  // namespace kvil

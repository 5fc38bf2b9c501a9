#include "qualify/feature_table.h"

#include "runtime/installer.h"
#include "runtime/registry.h"
#include "runtime/text.h"

namespace kvil {

// The rows come from resources/features.csv, the one table of the features.
const std::array<FeatureRow, kFeatureCount> kFeatureTable = {{
#include "qualify/feature_rows.inc"
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

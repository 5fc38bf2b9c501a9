// caKVILResetDisallowedFeatures: refuses a selection that installs a feature
// the qualification put on the disallowed list, naming each such feature in
// a box. CP_CUSTOMINPUTOK tells the package's dialog the outcome.
#include "qualify/feature_table.h"
#include "runtime/guard.h"
#include "runtime/localised.h"
#include "runtime/message_box.h"
#include "runtime/text.h"

using namespace kvil;

namespace {

UINT resetDisallowedFeatures(const Installer& installer)
{
    const std::string disallowed = installer.property("CP_DISALLOWINSTALL");
    bool accepted = true;
    for (const FeatureRow& row : kFeatureTable) {
        if (row.titleId == kNoTitle)
            continue;
        // The list first: the installer is asked only about listed features.
        if (contains(disallowed, std::string(row.key) + ";") &&
            installer.featureBeingInstalled(row.key)) {
            accepted = false;
            errorBox(installer, loadLocalisedString(installer, 2001),
                     fillFirstPlaceholder(loadLocalisedString(installer, 2031),
                                          loadLocalisedString(installer, row.titleId)),
                     MB_ICONERROR);
        }
    }
    installer.setProperty("CP_CUSTOMINPUTOK", accepted ? "YES" : "NO");
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILResetDisallowedFeatures(MSIHANDLE handle)
{
    return guarded("caKVILResetDisallowedFeatures", handle, resetDisallowedFeatures);
}

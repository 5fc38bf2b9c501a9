// The prerequisite checker's verdicts, left in the registry before the
// installer ran, turned into feature dispositions and warnings: the last
// stage of caKVILPreReqCheckNode, whose result it returns. Writes no log.
#pragma once

#include "qualify/feature_table.h"

#include <windows.h>

#include <string>

namespace kvil {

class Installer;

// ERROR_SUCCESS, or ERROR_INSTALL_FAILURE when the checker failed every
// feature, or a question to go on gets any answer but Yes (unanswered, each
// ends as the run does below the full interface). Every successful path
// publishes the dispositions; a failing one publishes nothing. `uiLevel` and
// `addLocal` are the UI level and the ADDLOCAL list that the node check read
// and rewrote in the same call: neither can change in between, so they are
// not read again.
UINT takePrerequisiteResults(const Installer& installer, FeatureSelection& features, int uiLevel,
                             const std::string& addLocal);

// Writes each packaged feature's disposition into its status property and
// adds the warning text to the features the checker warned about.
void publishFeatureDispositions(const Installer& installer, const FeatureSelection& features);

// Prefixes the feature's description in the running database (a temporary
// row) with the package's warning text.
void addFeatureWarning(const Installer& installer, const std::string& featureKey);

// The new description: the warning with the title in place of its first "%s"
// (the warning comes from the package and is never a printf format), ". \n",
// then the old description.
std::string warnedDescription(const std::string& warning, const std::string& title,
                              const std::string& oldDescription);

// Whether an installed version predates 7.2.0, compared as text without
// regard to letter case (so "10.1" does too).
bool versionPredates720(const std::string& installedVersion);

}  // namespace kvil

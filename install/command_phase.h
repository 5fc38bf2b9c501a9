// The command phases of the installation: each feature's command file is
// staged in a work folder and handed to the vendor support library, which
// runs the feature's commands of the phase. Shared by caKVILPreInstall,
// caKVILPostInstall and their rollback counterparts, which run deferred and so
// take every value from the shared data file.
#pragma once

#include "runtime/installer.h"

#include <string>

namespace kvil {

// Takes the local group Users off a staged file's access list.
std::string removeUsersAccessCommand(const std::string& path);

// Runs `installPhase` for the features stored as being installed and
// `uninstallPhase` for those being removed, in feature table order. Outside
// rollback a failing install phase stops the walk and gives 1603; removal
// answers, and every answer under rollback, are disregarded.
UINT runCommandPhase(const Installer& installer, const char* installPhase,
                     const char* uninstallPhase, bool rollback);

}  // namespace kvil

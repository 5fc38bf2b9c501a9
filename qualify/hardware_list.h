// Finding hwlist.ini, the supported-model list the vendor support library
// reads: a copy in the work folder, else beside the package's source, else
// beside the original database.
#pragma once

#include <string>

namespace kvil {

class Installer;

// The work folder: %ProgramFiles%\tempini (just "\tempini" when unset).
std::string workFolder();

// The path of hwlist.ini to hand to the library (possibly of a file that does
// not exist, or empty). Leaves the work folder and its copy in place.
std::string hardwareListPath(const Installer& installer);
// The same for an action that has read SUPPORTDIR already (`supportFolderRead`
// tells whether that read succeeded): the property is read once per action.
std::string hardwareListPath(const Installer& installer, const std::string& supportFolder,
                             bool supportFolderRead);

}  // namespace kvil

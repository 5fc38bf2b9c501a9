// Finding hwlist.ini, the supported-model list the vendor support library
// reads: this run's copy in the work folder, else the file beside the
// package's source, else beside the original database.
#pragma once

#include <string>

namespace kvil {

class Installer;

// The work folder: %ProgramFiles%\tempini (just "\tempini" when unset).
std::string workFolder();

// The path of an existing hwlist.ini to hand to the library, or empty when
// the package has none: then the library must not be asked at all. A copy
// that failed while SUPPORTDIR holds the file is logged ("Could not stage"),
// as is the search that found nothing. Leaves the work folder and its copy
// in place.
std::string hardwareListPath(const Installer& installer);
// The same for an action that has read SUPPORTDIR already (`supportFolderRead`
// tells whether that read succeeded): the property is read once per action.
std::string hardwareListPath(const Installer& installer, const std::string& supportFolder,
                             bool supportFolderRead);

}  // namespace kvil

// The shared data file through which deferred, commit and rollback actions
// receive the values an immediate action recorded for them: NAME=value lines
// in %SYSTEMDRIVE%\tempini\kvil100.txt.
#pragma once

#include <string>

namespace kvil {

class Installer;

// Creates the folder (hidden, readable by administrators only) and returns the
// file's full path.
std::string sharedDataFilePath();

// The copy of the shared data file in TEMP (the folder is not created).
std::string sharedDataCopyPath();

// An empty stored SUPPORTDIR means the writer's values never arrived: says so
// in the installer log ("The stored values are missing: <file> holds no
// SUPPORTDIR."), ahead of the failed library load that follows from it.
void noteMissingStoredValues(const Installer& installer, const std::string& storedSupportFolder);

// The value stored for NAME (letter case significant), or the empty string.
// When the folder or the file is not trusted (runtime/trust.h), every value
// reads as missing.
std::string storedValue(const std::string& name);

class Installer;
// Whether the stored values can be read; when not, the one "Not trusted"
// line says why. Actions that read stored values call it once first.
bool sharedDataTrusted(const Installer& installer);

// The lookup itself, over the file's text: the first line that begins with
// NAME= and has a non-empty value wins. Lines may be of any length.
std::string findStoredValue(const std::string& fileText, const std::string& name);

}  // namespace kvil

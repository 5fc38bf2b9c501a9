// The shared data file through which deferred, commit and rollback actions
// receive the values an immediate action recorded for them: NAME=value lines
// in %SYSTEMDRIVE%\tempini\kvil100.txt.
#pragma once

#include <string>

namespace kvil {

// Creates the folder (hidden, readable by administrators only) and returns the
// file's full path.
std::string sharedDataFilePath();

// The copy of the shared data file in TEMP (the folder is not created).
std::string sharedDataCopyPath();

// The value stored for NAME (letter case significant), or the empty string.
std::string storedValue(const std::string& name);

// The lookup itself, over the file's text: the first line that begins with
// NAME= and has a non-empty value wins. Lines may be of any length.
std::string findStoredValue(const std::string& fileText, const std::string& name);

}  // namespace kvil

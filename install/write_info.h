// The decisions of caKVILWriteInfo, kept apart from the session so that they
// can be checked on their own.
#pragma once

#include <string>

namespace kvil {

// One entry of the shared data file: NAME=value and CR LF. An entry is always
// exactly one line: a carriage return or line feed inside the value is
// written as a blank, so no value can add an entry of its own (such as a
// SUPPORTDIR from which the deferred actions would load a library).
std::string sharedDataLine(const std::string& key, const std::string& value);

// The folder without one trailing backslash (a second one stays).
std::string withoutTrailingBackslash(const std::string& folder);

// The storage boot driver is disabled while its loader starts at boot: both
// "Start" values as read from the registry (empty when missing).
bool bootDriverStartNeedsRepair(const std::string& dmloadStart, const std::string& dmbootStart);

}  // namespace kvil

// Settings of an earlier installation, kept in ini files under its folder,
// carried over into properties so that the new installation writes them back
// instead of its defaults. A stage of caKVILPreReqCheckNode; never fails.
#pragma once

#include <functional>
#include <string>

namespace kvil {

class Installer;

// Where the stage's log lines go (the vendor library's log while it is loaded).
using LogLine = std::function<void(const std::string&)>;

void carrySettingsOver(const Installer& installer, const LogLine& log);

// The value rules, over the raw ini values; comparisons are letter-exact.
namespace carry_over {

// "enhanced" only for exactly "Enhanced", else "traditional".
std::string messageFormat(const std::string& value);
// "False" only for exactly "False", else "True".
std::string trueUnlessFalse(const std::string& value);
// One of "0" to "6" as it is, anything else "7".
std::string osLogFilter(const std::string& value);
// Capped at "50", compared as byte strings (so "6" and "500" become "50").
std::string customLogFileSize(const std::string& value);
// The weak algorithms "SHA1" and "MD5" become "SHA256".
std::string keySigningAlgorithm(const std::string& value);
// "0" when the value holds a 0, else "2" when it holds a 2, else "3".
std::string accessMask(const std::string& value);

}  // namespace carry_over

}  // namespace kvil

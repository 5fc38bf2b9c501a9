// caKVILJREUpgrade: migration of the key store of a Java runtime of 1.7 or
// older. The decisions, as plain functions.
#pragma once

#include <string>

namespace kvil {

struct JavaVersion {
    int major = 0;
    int minor = 0;
};

// The first two "."-separated tokens (empty tokens skipped), each read as its
// leading decimal digits: "1.7.0_80" is 1.7.
JavaVersion javaVersionOf(const std::string& recorded);

// Migration runs only for a present java.exe of version 1.7 or older.
bool migrationNeeded(bool javaPresent, const JavaVersion& version);

// INSTALLDIR and SUPPORTDIR are used as read: an install folder that ends in
// "\" gives doubled backslashes, which Windows accepts.
std::string migrationCommandLine(const std::string& installFolder, const std::string& supportFolder);

}  // namespace kvil

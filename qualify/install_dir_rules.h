// The rules caKVILTestINSTALLDIR holds a candidate install folder against,
// as plain functions. Each answers the string id of the refusal, 0 to pass.
#pragma once

#include <windows.h>

#include <string>

namespace kvil {

// The candidate as the rules see it: a backslash appended unless it ends with
// one; an empty value stays empty.
std::string withTrailingBackslash(const std::string& folder);

// Inside the Windows folder (a prefix test, letter case ignored), a drive
// root, or a UNC path.
int locationRefusal(const std::string& candidate, const std::string& windowsDirectory);

// Removable, network and CD/DVD drives are refused.
int driveTypeRefusal(UINT driveType);

// FAT and FAT32 volumes are refused; exFAT and a failed query (empty name) pass.
int fileSystemRefusal(const std::string& fileSystemName);

// A root left after removing blanks and doubled backslashes, bytes outside the
// allowed set, or more than 80 characters.
int nameRefusal(const std::string& candidate);

}  // namespace kvil

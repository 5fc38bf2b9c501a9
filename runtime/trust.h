// What an action may load, run, copy or read: a file or folder that no other
// user could have planted or can change. Actions running as SYSTEM take their
// support files from folders a standard user may create (C:\tempini,
// C:\Windows\Temp\..., C:\ProgramData\...).
#pragma once

#include <windows.h>

#include <string>

namespace kvil {

class Installer;

// Why the file or folder is not trusted ("a link", "owned by S-...",
// "writable by S-..."), or the empty string when it is trusted. A path that
// does not exist has nothing to distrust. Trusted means all three of:
// - no link (reparse point), by the parent's listing and by the entry itself;
// - owned by SYSTEM, Administrators, the account this runs as, or a member
//   of the local Administrators group;
// - write, delete or rights-changing access granted to no other account
//   (entries for CREATOR OWNER that only pass on to new entries aside).
std::string distrustReason(const std::string& path);

// The same for a file already open (with READ_CONTROL): what the handle holds
// is what is judged, so a name swapped afterwards changes nothing.
std::string distrustReason(const std::string& path, HANDLE file);

// "Not trusted: <path> (<reason>)." as one installer log line.
void logNotTrusted(const Installer& installer, const std::string& path,
                   const std::string& reason);

// True when trusted; otherwise logs why and returns false.
bool trusted(const Installer& installer, const std::string& path);

// Makes `folder` the installer's own: a folder that is missing or not
// trusted is removed (a link as a link) and created again with a protected
// access list (full control for SYSTEM, Administrators and its creator,
// nothing inherited). False, after the "Not trusted" line, when that fails.
bool makeOwnFolder(const Installer& installer, const std::string& folder);

// Writes `text` as a new file: an existing one (or a link of that name) is
// deleted first, and the file is created only if nothing took the name since.
bool writeNewFile(const std::string& path, const std::string& text);

// A stored value that is about to go into a command line run through the
// command interpreter: a double quote would end its quoting and a percent
// sign expands variables even inside quotes. False, after the line
// "Not trusted: <value> (a quote or percent sign in a command line).", when
// it holds either.
bool safeInCommandLine(const Installer& installer, const std::string& value);

}  // namespace kvil

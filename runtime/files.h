// File and folder operations on 8-bit paths. None shows a message.
#pragma once

#include <windows.h>

#include <string>

namespace kvil {

class Installer;

// What is left to read of an open file, up to its end.
std::string readToEnd(HANDLE file);

// Both tests look the path up with FindFirstFileA, so a path with wildcards
// is judged by its first match.
bool pathIsDirectory(const std::string& path);
bool pathIsFile(const std::string& path);

// Deletes the folder's files (read-only ones too) and, when `recurse`, its
// subfolders, then the folder itself. True when nothing is left. A folder
// that is itself a link (junction, symbolic link) is removed as a link. Inside
// it, the walk goes by handles: an entry that is a link, or that is no longer
// the entry listed (swapped meanwhile), is neither entered nor deleted, so
// nothing behind a link is deleted or changed. A file with other names (hard
// links) keeps its attributes, shared with them.
bool removeDirectoryTree(const std::string& folder, bool recurse);

// Schedules an existing file or folder for deletion at the next restart.
void removeAtRestart(const std::string& path);

// Copies over an existing target and logs the outcome; true when the copy
// succeeded (GetLastError then still tells why it did not).
bool copyFileWithLog(const Installer& installer, const std::string& source,
                     const std::string& target);

// Copies over an existing target: 0, or the error of the failed copy.
DWORD copyOver(const std::string& source, const std::string& target);

// Creates the file (`creation`: CREATE_ALWAYS, CREATE_NEW) and writes the
// content, checking the write, the flush and the close: 0 when all of it
// reached the file, else the error. A file left incomplete is removed.
DWORD writeWholeFile(const std::string& path, const std::string& content, DWORD creation,
                     DWORD shareMode);

// The system's text for an error code (FormatMessage), without its line end.
std::string systemMessage(DWORD error);

// The installer log lines that say which file failed and why.
std::string couldNotStage(const std::string& source, DWORD error);
std::string couldNotWrite(const std::string& path, DWORD error);

// Creates a missing folder (one level), or probes an existing one with a new
// file of a name of its own, deleted when it is closed.
bool directoryIsWritable(const std::string& folder);

std::string windowsDirectory();

// Marker files at the root of the Windows drive by which an administrator
// switches the OS-version and model checks off.
bool osCheckSuppressed();
bool systemCheckSuppressed();

}  // namespace kvil

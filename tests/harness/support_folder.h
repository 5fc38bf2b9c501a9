// A SUPPORTDIR for tests: the simulated vendor library (or one of its
// variants lacking an export), the plug-and-play installer, the sample rule
// files and a machine profile, in a scratch folder.
#pragma once

#include "harness/harness.h"

namespace test {

class SupportFolder {
public:
    // `profile` names a file of simfiles\profiles; `missingExport` picks the
    // variant of KVIL64.dll that lacks that export.
    explicit SupportFolder(const ScratchFolder& scratch,
                           const std::string& profile = "r14g-supported.ini",
                           const std::string& missingExport = "");

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

    // Replaces the machine profile with the given ini text.
    void profileText(const std::string& iniText);
    void file(const std::string& name, const std::string& text);
    // Lines of the simulator's call journal.
    std::vector<std::string> journal() const;
    bool journalHas(const std::string& line) const;

private:
    std::string path_;
};

// The texts logged through KVILLog, in order, from the simulator's journal;
// each must have been logged at level 2 (information).
std::vector<std::string> loggedTexts(const SupportFolder& support);

// Journal lines of the calls to one library function.
std::vector<std::string> callsOf(const SupportFolder& support, const std::string& function);

}  // namespace test

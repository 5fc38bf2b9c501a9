// The Rich Text of the ready-to-install dialog, built from plain inputs so
// that it can be checked byte for byte.
#pragma once

#include <string>
#include <vector>

namespace kvil {

struct SummaryInputs {
    int languageOffset = 2000;  // picks the font's character set
    bool firstTime = false;
    bool ranPrerequisiteChecker = false;
    std::string installFolder;  // as typed; escaped when shown
    std::string heading;        // SummaryText1, product version filled in
    std::string installHeading, removeHeading, closingNote;  // SummaryText2..4
    std::vector<std::string> toInstall, toRemove;            // feature titles
    std::string nothingSelected;                             // text 2043
};

std::string summaryRichText(const SummaryInputs& inputs);

}  // namespace kvil

// The Rich Text of the ready-to-install dialog, built from plain inputs so
// that it can be checked byte for byte.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvil {

struct SummaryInputs {
    int languageOffset = 2000;  // picks the font's character set
    // The code pages the texts came in: the table's titles and notice in the
    // language's (932, 936, or the system's), the install folder and the
    // package's texts, read through the installer, in the system's.
    UINT tableCodePage = CP_ACP;
    UINT systemCodePage = CP_ACP;
    bool firstTime = false;
    bool ranPrerequisiteChecker = false;
    std::string installFolder;  // as typed; escaped when shown
    std::string heading;        // SummaryText1, product version filled in
    std::string installHeading, removeHeading, closingNote;  // SummaryText2..4
    std::vector<std::string> toInstall, toRemove;            // feature titles
    std::string nothingSelected;                             // text 2043
};

std::string summaryRichText(const SummaryInputs& inputs);

// Text of code page `codePage` as Rich Text that every reader reads the same:
// each byte of 0x80 or above, and the byte after a lead byte whatever its
// value, written as \'hh. Other ASCII stays as it is, so Rich Text markup in
// the text keeps working.
std::string richTextBytes(const std::string& text, UINT codePage);

// The same for literal text (a path): "\", "{" and "}" escaped as well,
// except as the second byte of a double-byte character.
std::string richTextLiteral(const std::string& text, UINT codePage);

}  // namespace kvil

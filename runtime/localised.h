// Texts shown to the user, from the library's string table in the language of
// the installation. Log lines are never localised.
#pragma once

#include <string>

namespace kvil {

class Installer;

// Block offset for ProductLanguage: 3000 German, 4000 Spanish, 5000 French,
// 6000 Japanese, 7000 Simplified Chinese, 2000 English (anything else).
int languageOffset(const Installer& installer);
int languageOffsetForCode(const std::string& languageCode);

// The code page of the texts loaded for a block: 932 for Japanese, 936 for
// Simplified Chinese, the system's ANSI code page (CP_ACP) for the others.
unsigned int textCodePage(int languageOffset);

// The text of a base id (2001-2059). 2001, the product name, is ProductName
// when that property can be read.
std::string loadLocalisedString(const Installer& installer, int baseId);
std::string loadLocalisedStringForCode(const Installer& installer, int baseId,
                                       const std::string& languageCode);

// The product's error box: caption 2001 (the product name), text `textId`,
// both localised. Returns the button pressed, or kUnanswered (message_box.h).
int localisedBox(const Installer& installer, int textId, unsigned int style);

}  // namespace kvil

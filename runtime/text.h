// Plain string helpers shared by the actions. Property values, paths and
// messages are 8-bit text in the ANSI code page throughout.
#pragma once

#include <string>

namespace kvil {

std::string toUpper(std::string text);

// Letter case ignored (ASCII), as the installer's flag values are compared.
bool equalsNoCase(const std::string& a, const std::string& b);

bool startsWith(const std::string& text, const std::string& prefix);
bool contains(const std::string& text, const std::string& part);

// Replaces every occurrence of `from`, scanning left to right past each
// replacement (so a replacement that contains `from` is not expanded again).
std::string replaceAll(std::string text, const std::string& from, const std::string& to);

// The value of the decimal digits that open the text, 0 when it does not
// begin with a digit (a leading blank or sign gives 0); INT_MAX when the
// digits stand for more than an int holds.
int leadingInteger(const std::string& text);

// printf-style formatting into a std::string.
std::string format(const char* pattern, ...);

// Puts `value` in place of the first "%s" of `pattern`; every other character
// (other % sequences included) stays literal. Texts that come from a package
// are never used as printf formats.
std::string fillFirstPlaceholder(const std::string& pattern, const std::string& value);

// `text` as a PowerShell single-quoted string (nothing inside is expanded).
// PowerShell ends such a string at ' and at the typographic quotes U+2018 to
// U+201B, so each of them is doubled. The text is read as characters of
// `codePage` (the ANSI code page, CP_ACP, in the actions): a byte is never
// doubled by its value alone, since in double-byte code pages the same values
// begin other characters. Every character keeps its own bytes.
std::string powerShellQuoted(const std::string& text, unsigned int codePage);

}  // namespace kvil

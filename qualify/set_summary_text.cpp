// caKVILSetSummaryText: writes the Rich Text summary of what the installation
// is about to do into the SummaryText control of the ReadyToInstall dialog,
// replacing the control's row by a temporary one.
#include "qualify/summary_text.h"

#include "qualify/feature_table.h"
#include "runtime/guard.h"
#include "runtime/localised.h"
#include "runtime/text.h"

namespace kvil {

namespace {

// Every byte of a character outside ASCII as \'hh; with `literal`, the
// control characters "\", "{" and "}" escaped too. A double-byte character
// whose second byte is one of them (in code page 932, \x83\x7d and \x94\x5c)
// stays one character: a reader that takes raw double-byte text byte by byte
// (RichEdit does) would read that byte as markup.
std::string richText(const std::string& text, UINT codePage, bool literal)
{
    static const char kHex[] = "0123456789abcdef";
    std::string written;
    bool trailByte = false;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || trailByte) {
            written += "\\'";
            written += kHex[byte >> 4];
            written += kHex[byte & 0x0F];
            trailByte = !trailByte && IsDBCSLeadByteEx(codePage, byte);
            continue;
        }
        if (literal && (c == '\\' || c == '{' || c == '}'))
            written += '\\';
        written += c;
    }
    return written;
}

const char* const kParagraph = "{\\par }";

std::string header(int languageOffset)
{
    const char* charset = languageOffset == 6000   ? "\\fcharset128"
                          : languageOffset == 7000 ? "\\fcharset134"
                                                   : "\\fcharset0";
    return std::string("{\\rtf1{\\fonttbl{\\f0\\fswiss") + charset +
           "\\fprq2{\\*\\panose 020b0604020202020204}Arial;}}"
           "{\\f0\\fs17\\insrsid6824715\\charrsid15495136 ";
}

std::string group(const std::string& text)
{
    return "{" + text + "}";
}

std::string listBlock(const SummaryInputs& in, const std::string& heading,
                      const std::vector<std::string>& titles)
{
    std::string block = group(richTextBytes(heading, in.systemCodePage)) + kParagraph;
    for (const std::string& title : titles)
        block += "{\\tab " + richTextBytes(title, in.tableCodePage) + "}" + kParagraph;
    return block + kParagraph;
}

}  // namespace

std::string richTextBytes(const std::string& text, UINT codePage)
{
    return richText(text, codePage, false);
}

std::string richTextLiteral(const std::string& text, UINT codePage)
{
    return richText(text, codePage, true);
}

std::string summaryRichText(const SummaryInputs& in)
{
    std::string text = header(in.languageOffset);
    if (in.toInstall.empty() && in.toRemove.empty())
        return text + kParagraph + group(richTextBytes(in.nothingSelected, in.tableCodePage)) +
               kParagraph + "}}";
    if (in.firstTime)
        text += group(richTextBytes(in.heading, in.systemCodePage)) + kParagraph + "{\\tab " +
                richTextLiteral(in.installFolder, in.systemCodePage) + "}" + kParagraph +
                kParagraph;
    if (!in.toInstall.empty())
        text += listBlock(in, in.installHeading, in.toInstall);
    if (!in.toRemove.empty())
        text += listBlock(in, in.removeHeading, in.toRemove);
    if (in.firstTime && !in.ranPrerequisiteChecker)
        text += group(richTextBytes(in.closingNote, in.systemCodePage));
    return text + "}}";
}

}  // namespace kvil

using namespace kvil;

namespace {

const char* const kSummaryQuery =
    "SELECT `Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, "
    "`Property`, `Text`, `Control_Next`, `Help` FROM `Control` WHERE "
    "(`Dialog_`='ReadyToInstall' AND `Control`='SummaryText')";

// The property, or `fallback` when it cannot be read.
std::string propertyOr(const Installer& installer, const char* name, const std::string& fallback)
{
    std::string value;
    return installer.readProperty(name, value) ? value : fallback;
}

SummaryInputs readInputs(const Installer& installer)
{
    SummaryInputs in;
    in.installFolder = propertyOr(installer, "INSTALLDIR", "INSTALLDIR");
    const std::string productVersion = installer.property("ProductVersion");
    in.firstTime = equalsNoCase(installer.property("CP_FIRSTTIMEINSTALL"), "YES");
    in.ranPrerequisiteChecker = equalsNoCase(installer.property("CP_USERRANPREREQ"), "YES");
    in.heading = replaceAll(propertyOr(installer, "SummaryText1", "SummaryText1"),
                            "<product-version>", productVersion);
    in.installHeading = propertyOr(installer, "SummaryText2", "SummaryText2");
    in.removeHeading = propertyOr(installer, "SummaryText3", "SummaryText3");
    in.closingNote = propertyOr(installer, "SummaryText4", "SummaryText4");
    // Read once: every title and the notice below are in this language.
    const std::string language = installer.property("ProductLanguage");
    in.languageOffset = languageOffsetForCode(language);
    in.tableCodePage = textCodePage(in.languageOffset);
    for (const FeatureRow& row : kFeatureTable) {
        if (row.titleId == kNoTitle)
            continue;
        const Installer::FeatureChange change = installer.featureChange(row.key);
        if (change == Installer::FeatureChange::kInstall)
            in.toInstall.push_back(loadLocalisedStringForCode(installer, row.titleId, language));
        else if (change == Installer::FeatureChange::kRemove)
            in.toRemove.push_back(loadLocalisedStringForCode(installer, row.titleId, language));
    }
    in.nothingSelected = loadLocalisedStringForCode(installer, 2043, language);
    return in;
}

UINT setSummaryText(const Installer& installer)
{
    MsiHandle database(MsiGetActiveDatabase(installer.handle()));
    if (!database)
        return ERROR_INSTALL_FAILURE;
    MsiHandle view;
    if (MsiDatabaseOpenViewA(database.get(), kSummaryQuery, view.receive()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    MsiHandle record;
    if (MsiViewFetch(view.get(), record.receive()) != ERROR_SUCCESS ||
        MsiViewModify(view.get(), MSIMODIFY_DELETE, record.get()) != ERROR_SUCCESS ||
        MsiRecordSetStringA(record.get(), 3, "ScrollableText") != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    const std::string text = summaryRichText(readInputs(installer));
    if (MsiRecordSetStringA(record.get(), 10, text.c_str()) != ERROR_SUCCESS ||
        MsiViewModify(view.get(), MSIMODIFY_INSERT_TEMPORARY, record.get()) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILSetSummaryText(MSIHANDLE handle)
{
    return guarded("caKVILSetSummaryText", handle, setSummaryText);
}

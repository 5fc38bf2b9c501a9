// The ready-to-install summary as its reader sees it: the Rich Text streamed
// into a real RichEdit control (the control the dialog's ScrollableText is)
// and read back as UTF-16, in every language of the string table, with the
// package's own texts and an install folder in the system's code page.
#include "qualify/feature_table.h"
#include "qualify/summary_text.h"
#include "runtime/installer.h"
#include "runtime/localised.h"

#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct ExpectedText {
    int id;
    const char* utf8;
};

const ExpectedText kExpected[] = {
#include "../resources/strings_expected.inc"
};

std::wstring widen(UINT codePage, const std::string& bytes)
{
    std::wstring out(bytes.size(), L'\0');
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0],
                                static_cast<int>(out.size()));
    out.resize(n > 0 ? n : 0);
    return out;
}

std::string narrow(UINT codePage, const std::wstring& text)
{
    std::string out(text.size() * 2, '\0');
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? n : 0);
    return out;
}

// The string table's text as the reader should see it.
std::wstring tableText(int id)
{
    for (const ExpectedText& e : kExpected)
        if (e.id == id)
            return widen(CP_UTF8, e.utf8);
    ADD_FAILURE() << "no text " << id;
    return L"";
}

// What a RichEdit control shows for `richText`, read back as UTF-16.
std::wstring readBack(const std::string& richText)
{
    LoadLibraryA("riched20.dll");
    HWND edit = CreateWindowExW(0, L"RichEdit20W", L"", ES_MULTILINE | ES_READONLY, 0, 0, 300, 200,
                                nullptr, nullptr, nullptr, nullptr);
    if (!edit) {
        ADD_FAILURE() << "no RichEdit control: " << GetLastError();
        return L"";
    }
    struct Source {
        const std::string* text;
        size_t at;
    } source = {&richText, 0};
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = [](DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) -> DWORD {
        Source& s = *reinterpret_cast<Source*>(cookie);
        const size_t n = std::min(static_cast<size_t>(wanted), s.text->size() - s.at);
        std::copy_n(s.text->data() + s.at, n, buffer);
        s.at += n;
        *given = static_cast<LONG>(n);
        return 0;
    };
    SendMessageW(edit, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    wchar_t shown[8192] = {};
    GETTEXTEX get = {sizeof(shown), GT_DEFAULT, 1200, nullptr, nullptr};
    SendMessageW(edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(shown));
    wchar_t window[8192] = {};
    SendMessageW(edit, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(window));
    DestroyWindow(edit);
    // WM_GETTEXT ends paragraphs with "\r\n", EM_GETTEXTEX with "\r": both
    // read the same characters.
    std::wstring fromWindow(window);
    std::wstring joined;
    for (size_t i = 0; i < fromWindow.size(); ++i)
        if (!(fromWindow[i] == L'\n' && i > 0 && fromWindow[i - 1] == L'\r'))
            joined += fromWindow[i];
    EXPECT_EQ(std::wstring(shown), joined) << "WM_GETTEXT and EM_GETTEXTEX disagree";
    return shown;
}

struct Language {
    const char* name;
    const char* code;  // ProductLanguage
    UINT systemCodePage;
    // The package's own texts (SummaryText1 to 4) and an install folder, as
    // a system of that language holds them.
    const wchar_t* ownTexts[4];
    const wchar_t* installFolder;
};

void PrintTo(const Language& language, std::ostream* os) { *os << language.name; }

const Language kLanguages[] = {
    {"English", "1033", 1252,
     {L"Orvessa <product-version> will be installed in:", L"These features will be installed:",
      L"These features will be removed:", L"The prerequisite checker was not run. {\\b Run it.}"},
     L"C:\\Program Files\\{Tavrin}\\"},
    {"German", "1031", 1252,
     {L"Orvessa <product-version> wird installiert in:", L"Diese Funktionen werden installiert:",
      L"Diese Funktionen werden entfernt:", L"Die Voraussetzungsprüfung wurde nicht ausgeführt."},
     L"C:\\Programme\\Überwachung\\"},
    {"Spanish", "1034", 1252,
     {L"Orvessa <product-version> se instalará en:", L"Se instalarán estas funciones:",
      L"Se quitarán estas funciones:", L"No se ejecutó el comprobador de requisitos previos."},
     L"C:\\Archivos de programa\\Administración\\"},
    {"French", "1036", 1252,
     {L"Orvessa <product-version> sera installé dans :", L"Ces fonctions seront installées :",
      L"Ces fonctions seront supprimées :", L"Le vérificateur des prérequis n'a pas été exécuté."},
     L"C:\\Programmes\\Géré\\"},
    // ソ (83 5C) and 能 (94 5C) end in "\", マ (83 7D) in "}".
    {"Japanese", "1041", 932,
     {L"Orvessa <product-version> のインストール先:", L"次の機能がインストールされます:",
      L"次の機能が削除されます:", L"コマンドラインの前提条件チェッカーが実行されていません。"},
     L"C:\\ソフト\\機能\\マネージャ\\"},
    // 乗 (C1 5C) ends in "\".
    {"Chinese", "2052", 936,
     {L"Orvessa <product-version> 将安装到:", L"将安装以下功能:", L"将删除以下功能:",
      L"未运行先决条件检查程序。"},
     L"C:\\乗用\\程序\\"},
};

class SummaryAsRead : public ::testing::TestWithParam<Language> {};

TEST_P(SummaryAsRead, EveryTitleNoticeAndOwnTextReadsBackWhole)
{
    const Language& language = GetParam();
    const kvil::Installer noSession(0);  // the titles and the notice come from the table
    const int offset = kvil::languageOffsetForCode(language.code);

    kvil::SummaryInputs in;
    in.languageOffset = offset;
    in.tableCodePage = kvil::textCodePage(offset);
    in.systemCodePage = language.systemCodePage;
    in.firstTime = true;
    in.installFolder = narrow(language.systemCodePage, language.installFolder);
    in.heading = narrow(language.systemCodePage, language.ownTexts[0]);
    in.installHeading = narrow(language.systemCodePage, language.ownTexts[1]);
    in.removeHeading = narrow(language.systemCodePage, language.ownTexts[2]);
    in.closingNote = narrow(language.systemCodePage, language.ownTexts[3]);
    std::wstring titles;
    for (const kvil::FeatureRow& row : kvil::kFeatureTable) {
        if (row.titleId == kvil::kNoTitle)
            continue;
        const std::string title =
            kvil::loadLocalisedStringForCode(noSession, row.titleId, language.code);
        in.toInstall.push_back(title);
        in.toRemove.push_back(title);
        titles += L"\t" + tableText(row.titleId - 2000 + offset) + L"\r";
    }

    // The package's texts are Rich Text of their own: "{\b Run it.}" shows
    // as bold "Run it.".
    std::wstring closingNote = language.ownTexts[3];
    const size_t markup = closingNote.find(L"{\\b ");
    if (markup != std::wstring::npos)
        closingNote = closingNote.substr(0, markup) + L"Run it.";
    const std::wstring expected = std::wstring(language.ownTexts[0]) + L"\r\t" +
                                  language.installFolder + L"\r\r" + language.ownTexts[1] +
                                  L"\r" + titles + L"\r" + language.ownTexts[2] + L"\r" + titles +
                                  L"\r" + closingNote;
    EXPECT_EQ(expected, readBack(kvil::summaryRichText(in)));

    in.toInstall.clear();
    in.toRemove.clear();
    in.nothingSelected = kvil::loadLocalisedStringForCode(noSession, 2043, language.code);
    // The last paragraph mark ends the document and reads as nothing.
    EXPECT_EQ(L"\r" + tableText(2043 - 2000 + offset), readBack(kvil::summaryRichText(in)));
}

INSTANTIATE_TEST_SUITE_P(Languages, SummaryAsRead, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<Language>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

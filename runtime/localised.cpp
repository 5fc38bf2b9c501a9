#include "runtime/localised.h"

#include "runtime/installer.h"
#include "runtime/message_box.h"
#include "runtime/text.h"

#include <windows.h>

namespace kvil {

namespace {

// The module these actions run in (the DLL, or the test program that links
// them), whose resources hold the string table.
HMODULE ownModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ownModule), &module);
    return module;
}

std::string loadAnsi(int id)
{
    char buffer[1023] = {};
    LoadStringA(ownModule(), static_cast<UINT>(id), buffer, sizeof(buffer));
    return buffer;
}

// The Japanese and Chinese blocks hold, per wide character, the code page
// 1252 reading of one byte of their double-byte encoding: converting back
// through 1252 yields cp932 / cp936 text whatever the system code page.
std::string loadDoubleByte(int id)
{
    wchar_t wide[1024] = {};
    LoadStringW(ownModule(), static_cast<UINT>(id), wide, 1024);
    char buffer[1024] = {};
    // At most 1023 wide characters come back, so the text and its zero always
    // fit the 1024 bytes.
    WideCharToMultiByte(1252, WC_COMPOSITECHECK, wide, -1, buffer, sizeof(buffer), nullptr,
                        nullptr);
    return buffer;
}

std::string loadFromTable(int baseId, int offset)
{
    int id = baseId - 2000 + offset;
    std::string text = offset >= 6000 ? loadDoubleByte(id) : loadAnsi(id);
    if (text.empty())
        text = loadAnsi(baseId);
    if (text.empty())
        text = format("%d resource id not found", baseId);
    return text;
}

std::string productNameOr(const Installer& installer, int baseId, int offset)
{
    if (baseId == 2001) {
        std::string name;
        if (installer.readProperty("ProductName", name))
            return name;
    }
    return loadFromTable(baseId, offset);
}

}  // namespace

int languageOffsetForCode(const std::string& code)
{
    if (equalsNoCase(code, "1031"))
        return 3000;
    if (equalsNoCase(code, "1041"))
        return 6000;
    if (equalsNoCase(code, "2052"))
        return 7000;
    if (equalsNoCase(code, "1034"))
        return 4000;
    if (equalsNoCase(code, "1036"))
        return 5000;
    return 2000;
}

unsigned int textCodePage(int languageOffset)
{
    return languageOffset == 6000 ? 932 : languageOffset == 7000 ? 936 : CP_ACP;
}

int languageOffset(const Installer& installer)
{
    return languageOffsetForCode(installer.property("ProductLanguage"));
}

std::string loadLocalisedString(const Installer& installer, int baseId)
{
    return productNameOr(installer, baseId, languageOffset(installer));
}

std::string loadLocalisedStringForCode(const Installer& installer, int baseId,
                                       const std::string& languageCode)
{
    return productNameOr(installer, baseId, languageOffsetForCode(languageCode));
}

int localisedBox(const Installer& installer, int textId, unsigned int style)
{
    return errorBox(installer, loadLocalisedString(installer, 2001),
                    loadLocalisedString(installer, textId), style);
}

}  // namespace kvil

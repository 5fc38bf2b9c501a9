#include "runtime/registry.h"

#include "runtime/handles.h"

#include <cstdio>

namespace kvil {

const char* const kKevanaKey = "SOFTWARE\\Tavrin Computer Corporation\\Kevana";
const char* const kApplicationsKey = "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications";
const char* const kSystemsManagementKey =
    "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\SystemsManagement";

namespace {

bool keyExists(HKEY root, const std::string& path, REGSAM view)
{
    RegKey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.receive()) == ERROR_SUCCESS;
}

std::string readString(HKEY root, const std::string& path, const char* valueName, REGSAM view)
{
    RegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.receive()) != ERROR_SUCCESS)
        return std::string();
    BYTE data[1024 + 1] = {};  // one spare zero ends a value that fills the buffer
    DWORD size = 1024;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key.get(), valueName, nullptr, &type, data, &size) != ERROR_SUCCESS)
        return std::string();
    if (type == REG_DWORD) {
        DWORD number = 0;
        memcpy(&number, data, sizeof(number));
        char text[16];
        std::snprintf(text, sizeof(text), "%d", static_cast<int>(number));
        return text;
    }
    return std::string(reinterpret_cast<const char*>(data));
}

}  // namespace

bool registryKeyExists(HKEY root, const std::string& path)
{
    return keyExists(root, path, 0);
}

bool registryKeyExists32(HKEY root, const std::string& path)
{
    return keyExists(root, path, KEY_WOW64_32KEY);
}

std::string readRegistryString(HKEY root, const std::string& path, const char* valueName)
{
    return readString(root, path, valueName, 0);
}

std::string readRegistryString32(HKEY root, const std::string& path, const char* valueName)
{
    return readString(root, path, valueName, KEY_WOW64_32KEY);
}

int writeRegistryValue(HKEY root, const std::string& path, const char* valueName,
                       const std::string& data, DWORD type)
{
    RegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, key.receive()) != ERROR_SUCCESS)
        return -1;
    LONG result = RegSetValueExA(key.get(), valueName, 0, type,
                                 reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1));
    return result == ERROR_SUCCESS ? 0 : -1;
}

int createRegistryKey(HKEY root, const std::string& parentPath, const char* subkeyName)
{
    if (registryKeyExists(root, parentPath + "\\" + subkeyName))
        return 0;
    RegKey parent;
    if (RegOpenKeyExA(root, parentPath.c_str(), 0, KEY_ALL_ACCESS, parent.receive()) != ERROR_SUCCESS)
        return -1;
    RegKey created;
    LONG result = RegCreateKeyExA(parent.get(), subkeyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr,
                                  created.receive(), nullptr);
    return result == ERROR_SUCCESS ? 0 : -1;
}

}  // namespace kvil

namespace kvil {

void deleteRegistryValue(HKEY root, const std::string& path, const char* valueName)
{
    RegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, key.receive()) == ERROR_SUCCESS)
        RegDeleteValueA(key.get(), valueName);
}

void deleteRegistryKeyWithoutSubkeys(HKEY root, const std::string& path)
{
    {
        RegKey key;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.receive()) != ERROR_SUCCESS)
            return;
        char name[256];
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_NO_MORE_ITEMS)
            return;
    }
    RegDeleteKeyA(root, path.c_str());
}

}  // namespace kvil

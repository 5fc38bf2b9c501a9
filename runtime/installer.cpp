#include "runtime/installer.h"

#include "runtime/text.h"

namespace kvil {

namespace {
const DWORD kPropertyBuffer = 1024;
}

bool Installer::readProperty(const char* name, std::string& value) const
{
    char buffer[kPropertyBuffer] = {};
    DWORD count = kPropertyBuffer;
    UINT result = MsiGetPropertyA(handle_, name, buffer, &count);
    buffer[kPropertyBuffer - 1] = '\0';
    value = buffer;
    return result == ERROR_SUCCESS;
}

std::string Installer::property(const char* name) const
{
    std::string value;
    readProperty(name, value);
    return value;
}

void Installer::setProperty(const char* name, const std::string& value) const
{
    MsiSetPropertyA(handle_, name, value.c_str());
}

int Installer::uiLevel() const
{
    std::string level;
    if (!readProperty("UILevel", level))
        return 5;
    return leadingInteger(level);
}

void Installer::message(const std::string& text, int kind) const
{
    MsiHandle record(MsiCreateRecord(1));
    if (!record)
        return;
    MsiRecordSetStringA(record.get(), 1, text.c_str());
    MsiRecordSetStringA(record.get(), 0, "[1]");
    INSTALLMESSAGE type = kind == kMessageError     ? INSTALLMESSAGE_ERROR
                          : kind == kMessageWarning ? INSTALLMESSAGE_WARNING
                                                    : INSTALLMESSAGE_INFO;
    MsiProcessMessage(handle_, type, record.get());
}

namespace {

// The installed and requested states of a feature; false when the package
// has no such feature.
bool featureStates(MSIHANDLE handle, const char* feature, INSTALLSTATE& installed,
                   INSTALLSTATE& action)
{
    installed = action = INSTALLSTATE_UNKNOWN;
    return MsiGetFeatureStateA(handle, feature, &installed, &action) == ERROR_SUCCESS;
}

}  // namespace

Installer::FeatureChange Installer::featureChange(const char* feature) const
{
    INSTALLSTATE installed, action;
    if (!featureStates(handle_, feature, installed, action))
        return FeatureChange::kNone;
    if (action == INSTALLSTATE_LOCAL || action == INSTALLSTATE_SOURCE ||
        action == INSTALLSTATE_DEFAULT)
        return FeatureChange::kInstall;
    if (installed == INSTALLSTATE_LOCAL && action == INSTALLSTATE_ABSENT)
        return FeatureChange::kRemove;
    return FeatureChange::kNone;
}

bool Installer::featureBeingInstalled(const char* feature) const
{
    return featureChange(feature) == FeatureChange::kInstall;
}

bool Installer::featureBeingRemoved(const char* feature) const
{
    return featureChange(feature) == FeatureChange::kRemove;
}

bool Installer::featureExists(const char* feature) const
{
    INSTALLSTATE installed, action;
    return featureStates(handle_, feature, installed, action);
}

bool Installer::query(const std::string& sql,
                      const std::function<bool(MSIHANDLE view, MSIHANDLE record)>& onRecord) const
{
    MsiHandle database(MsiGetActiveDatabase(handle_));
    if (!database)
        return false;
    MsiHandle view;
    if (MsiDatabaseOpenViewA(database.get(), sql.c_str(), view.receive()) != ERROR_SUCCESS)
        return false;
    if (MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
        return false;
    for (;;) {
        MsiHandle record;
        if (MsiViewFetch(view.get(), record.receive()) != ERROR_SUCCESS)
            break;
        if (!onRecord(view.get(), record.get()))
            break;
    }
    MsiViewClose(view.get());
    return true;
}

std::string recordString(MSIHANDLE record, unsigned int field)
{
    char buffer[kPropertyBuffer] = {};
    DWORD count = kPropertyBuffer;
    MsiRecordGetStringA(record, field, buffer, &count);
    buffer[kPropertyBuffer - 1] = '\0';
    return buffer;
}

std::string customActionData(const Installer& installer, const char* action, const char* setter)
{
    const std::string data = installer.property("CustomActionData");
    if (data.empty())
        installer.message(std::string("CustomActionData of ") + action + " is empty: the type-51 action " +
                          setter + " sets it before this action.");
    return data;
}

}  // namespace kvil

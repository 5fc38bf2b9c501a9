// Access to the running installation through the handle the installer passes
// to every custom action. The handle is borrowed: it is never closed here.
#pragma once

#include "runtime/handles.h"

#include <functional>
#include <string>

namespace kvil {

// Kinds of installer message: 0 error, 1 warning, anything else information.
enum MessageKind { kMessageError = 0, kMessageWarning = 1, kMessageInfo = 2 };

class Installer {
public:
    explicit Installer(MSIHANDLE handle) : handle_(handle) {}

    MSIHANDLE handle() const { return handle_; }

    // A property's value: at most 1023 characters, empty when absent or when
    // the read fails.
    std::string property(const char* name) const;
    // The same, also telling whether the read succeeded (a value of more than
    // 1023 characters does not: it comes back cut).
    bool readProperty(const char* name, std::string& value) const;
    // The installer's answer is not examined.
    void setProperty(const char* name, const std::string& value) const;

    // UILevel as a number; 5 (full interface) when it cannot be read.
    int uiLevel() const;

    // One line in the installer log (or an error/warning message).
    void message(const std::string& text, int kind = kMessageInfo) const;

    // Requested action state local, source or default.
    bool featureBeingInstalled(const char* feature) const;
    // Installed locally and requested absent.
    bool featureBeingRemoved(const char* feature) const;
    // Both of the above from one state query, for callers that ask both.
    enum class FeatureChange { kNone, kInstall, kRemove };
    FeatureChange featureChange(const char* feature) const;
    // Whether the package has the feature at all.
    bool featureExists(const char* feature) const;

    // Runs a query on the running database and hands each fetched record to
    // `onRecord` (with the view, for MsiViewModify) until it returns false or
    // the rows run out. Returns false when the query could not be run.
    bool query(const std::string& sql,
               const std::function<bool(MSIHANDLE view, MSIHANDLE record)>& onRecord) const;

private:
    MSIHANDLE handle_;
};

// A record field as a string (1024-character buffer).
std::string recordString(MSIHANDLE record, unsigned int field);

// The CustomActionData of `action`. An empty one gets a log line naming the
// type-51 action `setter` that should have set it: a package without the
// setter says so in its log, and the action goes on with empty values.
std::string customActionData(const Installer& installer, const char* action, const char* setter);

}  // namespace kvil

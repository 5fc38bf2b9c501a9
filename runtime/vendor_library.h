// Binding to the vendor support library KVIL64.dll (and the plug-and-play
// driver installer PNPDRVR32.DLL) that the package extracts into SUPPORTDIR.
// Each action binds afresh; the library is freed on every way out.
#pragma once

#include "runtime/handles.h"
#include "runtime/installer.h"
#include "runtime/kvil_api.h"

#include <string>
#include <vector>

namespace kvil {

class VendorLibrary {
public:
    // Loads supportFolder + "\" + fileName by its full path. A folder that is
    // empty or not an absolute path is refused as a failed load: the path
    // would name a file at the root of the current drive (or in the current
    // folder), where anybody may plant a DLL that the installer would run.
    // The installer receives the failure boxes where nobody can see a window.
    // The folder, the library and the `supportFiles` of the folder that the
    // action will hand on must all be trusted (runtime/trust.h); otherwise,
    // after the "Not trusted" line, nothing is loaded, as for a missing
    // library. The library file is held open without write or delete sharing
    // from its check until it is loaded.
    VendorLibrary(const Installer& installer, const std::string& supportFolder,
                  const char* fileName = "KVIL64.dll",
                  const std::vector<const char*>& supportFiles = {});

    bool loaded() const { return static_cast<bool>(module_); }
    // Not loaded because the folder, the library or a support file was not
    // trusted.
    bool refused() const { return refused_; }
    const std::string& path() const { return path_; }

    // The function by name, or nullptr when the library lacks it.
    template <typename Function>
    Function function(const char* name) const
    {
        return module_ ? reinterpret_cast<Function>(GetProcAddress(module_.get(), name)) : nullptr;
    }

    // The function by name, or nullptr after the standard missing-function
    // box, which names `reportedName` when given (some actions report a
    // function by another name than its export).
    template <typename Function>
    Function require(const char* actionName, const char* name,
                     const char* reportedName = nullptr) const
    {
        auto found = function<Function>(name);
        if (!found)
            reportMissingFunction(actionName, reportedName ? reportedName : name);
        return found;
    }

    void unload() { module_.reset(); }

    // The standard failure boxes, captioned with the action's name:
    // "Failed to load library <path>" (MB_OK) ...
    void reportLoadFailure(const char* actionName, UINT style = MB_OK) const;
    // ... and "Failed to get address for function <name>" (MB_ICONERROR).
    // Each text is also an information line of the installer log first: a box
    // under /qn, or one nobody sees, would leave no reason in the log.
    void reportMissingFunction(const char* actionName, const char* functionName) const;

private:
    const Installer& installer_;
    std::string path_;
    Module module_;
    bool refused_ = false;
};

}  // namespace kvil

#include "runtime/guard.h"

#include <exception>
#include <string>

namespace kvil {

UINT guarded(const char* actionName, MSIHANDLE handle,
             const std::function<UINT(const Installer&)>& action)
{
    Installer installer(handle);
    try {
        return action(installer);
    } catch (const std::exception& error) {
        installer.message(std::string(actionName) + ": unexpected error: " + error.what(),
                          kMessageError);
    } catch (...) {
        installer.message(std::string(actionName) + ": unexpected error", kMessageError);
    }
    return ERROR_INSTALL_FAILURE;
}

}  // namespace kvil

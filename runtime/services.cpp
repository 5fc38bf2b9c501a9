#include "runtime/services.h"

#include "runtime/handles.h"
#include "runtime/pause.h"
#include "runtime/registry.h"

namespace kvil {

namespace {

bool queryState(SC_HANDLE service, DWORD& state)
{
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status))
        return false;
    state = status.dwCurrentState;
    return true;
}

// Skips a service that is not installed.
void waitForStop(SC_HANDLE manager, const char* serviceName)
{
    ServiceHandle service(OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS));
    if (!service)
        return;
    for (int poll = 0; poll < 15; ++poll) {
        DWORD state = 0;
        if (queryState(service.get(), state) && state == SERVICE_STOPPED) {
            pause(9000);
            break;
        }
        pause(2000);
    }
}

}  // namespace

bool serviceIsRunning(const std::string& serviceName)
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;
    ServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_QUERY_STATUS));
    if (!service)
        return false;
    DWORD state = 0;
    return queryState(service.get(), state) && state == SERVICE_RUNNING;
}

bool serviceStartsAutomatically(const std::string& serviceName)
{
    std::string start = readRegistryString(
        HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + serviceName, "Start");
    return !start.empty() && start[0] == '2';
}

int waitForServiceStop(const std::string& serviceName)
{
    return waitForServicesToStop({serviceName.c_str()});
}

int waitForServicesToStop(std::initializer_list<const char*> serviceNames)
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return -1;
    for (const char* serviceName : serviceNames)
        waitForStop(manager.get(), serviceName);
    return 0;
}

}  // namespace kvil

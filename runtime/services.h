// Service control manager queries.
#pragma once

#include <initializer_list>
#include <string>

namespace kvil {

// True only when the service's current state is SERVICE_RUNNING.
bool serviceIsRunning(const std::string& serviceName);

// True when the service's "Start" value is automatic (2).
bool serviceStartsAutomatically(const std::string& serviceName);

// Polls the service up to 15 times, 2 s apart, and once it is seen stopped
// waits 9 s more so its files are released. 0, or -1 when the service control
// manager cannot be opened. A service that is not installed costs no time.
int waitForServiceStop(const std::string& serviceName);
// The same for each service in turn, through one connection to the manager.
int waitForServicesToStop(std::initializer_list<const char*> serviceNames);

}  // namespace kvil

// The fixed sleeps of the actions (service-stop polling) go through here, so
// the test program can shorten them without changing what an action does.
#pragma once

#include <windows.h>

namespace kvil {

void pause(DWORD milliseconds);

// A length of time as the pauses see it (divided like them, for tests).
DWORD pauseLength(DWORD milliseconds);

// For tests linked with the actions: every pause is divided by `divisor`
// (1 restores real time). The DLL itself never calls this.
void setPauseDivisor(DWORD divisor);

}  // namespace kvil

#include "runtime/pause.h"

namespace kvil {

namespace {
DWORD pauseDivisor = 1;
}

void pause(DWORD milliseconds)
{
    Sleep(pauseLength(milliseconds));
}

DWORD pauseLength(DWORD milliseconds)
{
    return milliseconds / pauseDivisor;
}

void setPauseDivisor(DWORD divisor)
{
    pauseDivisor = divisor == 0 ? 1 : divisor;
}

}  // namespace kvil

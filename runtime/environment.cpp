#include "runtime/environment.h"

#include <windows.h>

#include <vector>

namespace kvil {

std::string environmentVariable(const char* name)
{
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0)
        return std::string();
    std::vector<char> buffer(size);
    DWORD length = GetEnvironmentVariableA(name, buffer.data(), size);
    if (length == 0 || length >= size)
        return std::string();
    return std::string(buffer.data(), length);
}

}  // namespace kvil

// Environment variables, read with GetEnvironmentVariableA so that changes the
// process made to its own environment are seen.
#pragma once

#include <string>

namespace kvil {

// Empty when the variable is not set.
std::string environmentVariable(const char* name);

}  // namespace kvil

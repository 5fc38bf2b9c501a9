# The build number rule, the one place it is written: a whole number from 0
# to 65535, written without leading zeros (windres reads 010 as octal 8,
# which would put another number in the fixed version than in its strings).
# CMakeLists.txt includes it; scripts/release.sh runs it before it builds:
#   cmake -DKVIL_BUILD_NUMBER=N -P cmake/build-number.cmake
# prints the number as the version writes it, or fails.
# (A REGEX REPLACE of "^0+" would go on matching after the first digit.)
string(REGEX MATCH "[1-9][0-9]*$" KVIL_BUILD_NUMBER_VALUE "${KVIL_BUILD_NUMBER}")
if(KVIL_BUILD_NUMBER_VALUE STREQUAL "")
  set(KVIL_BUILD_NUMBER_VALUE 0)
endif()
string(LENGTH "${KVIL_BUILD_NUMBER_VALUE}" _kvil_digits)
if(NOT KVIL_BUILD_NUMBER MATCHES "^[0-9]+$" OR _kvil_digits GREATER 5 OR KVIL_BUILD_NUMBER_VALUE GREATER 65535)
  message(FATAL_ERROR "KVIL_BUILD_NUMBER must be a whole number from 0 to 65535, not '${KVIL_BUILD_NUMBER}'")
endif()
if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${KVIL_BUILD_NUMBER_VALUE}")
endif()

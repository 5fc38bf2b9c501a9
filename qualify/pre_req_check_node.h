// The decisions of caKVILPreReqCheckNode that need neither the installer nor
// the vendor library, as plain functions.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kvil {

// What the Windows Server release means for the release properties: steps of
// property writes (in order), each followed by its log line.
struct ReleaseStep {
    std::vector<std::pair<std::string, std::string>> properties;
    std::string logLine;
};
// From CP_OS_2016_MAJOR (any value means 2016 or later) and CP_OS_2019, the
// release number (1803 to 2008 is 2019, 2009 and later 2022).
std::vector<ReleaseStep> windowsReleaseSteps(const std::string& os2016Major,
                                             const std::string& os2019);

// The suite shorthands of a feature list: "SA" (instrumentation suite) and
// "KVSM" (storage suite) become their features. Plain substring replacement.
std::string expandSuiteShorthands(const std::string& features);

// Whether a command-line feature list asks for instrumentation or storage
// management without any way to manage the server (no web server, no
// management interface, none installed). `installed` is asked about an
// application key only when the tests before it passed.
bool namesOnlyInstrumentationOrStorage(const std::string& addLocal,
                                       const std::function<bool(const char*)>& installed);
// Adds the web server and WMI beside instrumentation and storage management.
std::string addConsoleToInstrumentation(const std::string& addLocal);

// A version split at dots (runs of dots are one separator, leading ones are
// skipped); minor and build stay empty when there is no major part.
struct VersionParts {
    std::string major, minor, build;
};
VersionParts splitVersion(const std::string& version);

}  // namespace kvil

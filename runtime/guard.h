// The boundary of every export: it first writes one information line naming
// the export and the DLL's file version ("caKVILSystemCheck: KVILMSI64.dll
// 9.1.0.0"), so a log tells which build ran; and a custom action must never
// throw into the installer, so anything that escapes an action is logged and
// turned into ERROR_INSTALL_FAILURE. Every action source includes this, so each export is
// also checked against its declaration.
#pragma once

#include "runtime/exports.h"
#include "runtime/installer.h"

#include <functional>

namespace kvil {

UINT guarded(const char* actionName, MSIHANDLE handle,
             const std::function<UINT(const Installer&)>& action);

}  // namespace kvil

// Questions about the running Windows release.
#pragma once

namespace kvil {

// Product type VER_NT_WORKSTATION.
bool osIsWorkstation();

// A 6.x server core edition (product types 12, 13, 14) or the hypervisor
// server (42).
bool osIsCoreOrHypervisor();

// The process is a 32-bit one on 64-bit Windows (IsWow64Process says TRUE).
bool runningUnderWow64();

}  // namespace kvil

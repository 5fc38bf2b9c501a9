// The custom actions the DLL exports (listed by name in KVILMSI64.def). Each
// takes the installer handle and returns 0 to go on or 1603 to stop.
#pragma once

#include <windows.h>
#include <msi.h>

extern "C" {
UINT __stdcall caKVILSystemCheck(MSIHANDLE handle);
UINT __stdcall caKVILPreReqCheckNode(MSIHANDLE handle);
UINT __stdcall caKVILOldNodeCheck(MSIHANDLE handle);
UINT __stdcall caKVILOldStationCheck(MSIHANDLE handle);
UINT __stdcall caKVILCTCheck(MSIHANDLE handle);
UINT __stdcall caKVILHideCancelButton(MSIHANDLE handle);
UINT __stdcall caKVILCreateUpgradeRegKey(MSIHANDLE handle);
UINT __stdcall caKVILCreateUpgradeRegKeyRollback(MSIHANDLE handle);
UINT __stdcall caKVILWaitforServiceStop(MSIHANDLE handle);
UINT __stdcall caKVILWriteInfo(MSIHANDLE handle);
UINT __stdcall caKVILPreInstall(MSIHANDLE handle);
UINT __stdcall caKVILPreInstallRollback(MSIHANDLE handle);
UINT __stdcall caKVILPostInstall(MSIHANDLE handle);
UINT __stdcall caKVILPostInstallRollback(MSIHANDLE handle);
UINT __stdcall caKVILInstallPNPDrivers(MSIHANDLE handle);
UINT __stdcall caKVILCheckTEMP(MSIHANDLE handle);
UINT __stdcall caKVILSetFirstTimeInstall(MSIHANDLE handle);
UINT __stdcall caKVILTestINSTALLDIR(MSIHANDLE handle);
UINT __stdcall caKVILResetDisallowedFeatures(MSIHANDLE handle);
UINT __stdcall caKVILCheckforMGMTINT(MSIHANDLE handle);
UINT __stdcall caKVILSetSummaryText(MSIHANDLE handle);
UINT __stdcall caKVILRunVCRedist(MSIHANDLE handle);
UINT __stdcall caKVILJREUpgrade(MSIHANDLE handle);
UINT __stdcall caKVILFinalize(MSIHANDLE handle);
UINT __stdcall caKVILExportKVSAPrefs(MSIHANDLE handle);
UINT __stdcall caKVILImportKVSAPrefs(MSIHANDLE handle);
}

// Call-site contract of the vendor support library (KVIL64.dll) and of the
// plug-and-play driver installer (PNPDRVR32.DLL).
//
// One header, shared by the custom actions (which resolve these functions by
// name with GetProcAddress) and by our simulator of both libraries (which
// exports them), so the two sides can never disagree on a signature.
#pragma once

#include <windows.h>
#include <msi.h>

#ifdef __cplusplus
extern "C" {
#endif

// Writes a line to the installer log. Levels: 2 information, 0 error.
typedef void(__stdcall* KVILLogFn)(MSIHANDLE handle, const char* text, int level);

// Runs the commands of a feature's command file (a full path, or a name in
// the ini folder) for one phase ("PreInstall" / "PostInstall"). Returns 0 on
// success, non-zero on failure.
typedef int(__stdcall* ExecuteCommandsFn)(MSIHANDLE handle, const char* installFolder,
                                          const char* iniFolder, const char* tempFolder,
                                          const char* commandFile, const char* systemId,
                                          const char* phase, BOOL completeRemoval,
                                          BOOL rollback);

// Starts a command line in a working folder and returns after it has ended.
typedef int(__stdcall* LaunchAppAndWaitFn)(const char* commandLine, const char* workingFolder,
                                           int flags);

// 1 when an old node installation is present.
typedef int(__stdcall* CheckForOldKVNodeFn)(void);

// 1 hide, 2 lock or hide, anything else no change.
typedef int(__stdcall* IsFeatureSupportedFn)(const char* hwlistPath, const char* featureKey,
                                             const char* systemId);

// Non-zero when a network card of the maker ("INTEL" or "BROADCOM") is present.
typedef BYTE(__stdcall* CheckForNICFn)(const char* maker);

// Generation and hardware probes: 1 means "yes".
typedef BYTE(__stdcall* HardwareProbeFn)(void);

// The server model number read from the firmware tables.
typedef DWORD(__stdcall* GetSystemIdFn)(void);

// 1 supported, 2 older model no longer supported, anything else not supported.
typedef int(__stdcall* IsSupportedSystemFn)(const char* hwlistPath, const char* systemId);

// 1 when the model needs the storage filter driver.
typedef BYTE(__stdcall* RequiresAfamgtFn)(const char* legadpPath, const char* systemId);

// The vendor name. The string is allocated with LocalAlloc and owned by the
// caller, who releases it with LocalFree (both sides use the process heap, so
// neither depends on the other's C runtime).
typedef char*(__stdcall* GetVendorNameStringFn)(void);

// Shows a text in the installer's progress dialog.
typedef void(__stdcall* UpdateProgressStatusMessageFn)(MSIHANDLE handle, const char* text);

// TRUE hides the installer's Cancel button, FALSE shows it.
typedef void(__stdcall* UpdateCancelButtonFn)(MSIHANDLE handle, BOOL hide);

// PNPDRVR32.DLL: installs the plug-and-play drivers of the listed features
// (feature keys, each followed by ",").
typedef void(__stdcall* InstallPNPDevicesFn)(const char* supportFolder, const char* installFolder,
                                             const char* featureKeys);

#ifdef __cplusplus
}
#endif

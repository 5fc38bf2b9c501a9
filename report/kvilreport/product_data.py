# Generated from resources/features.csv, KVILMSI64.def and package/kvilmsi64-actions.wxi
# by report/generate_product_data.py; do not edit.
"""What the report knows of KVILMSI64.dll from the files that define it."""

# The features in the order the actions walk them, with the property that
# publishes each one's disposition.
FEATURES = [('IWS', 'CP_IWSSTATUS'),
 ('SI', 'CP_SASTATUS'),
 ('KVSS', 'CP_KVSMSTATUS'),
 ('RmtMgmt', 'CP_SSASTATUS'),
 ('WMI', 'CP_WMISTATUS'),
 ('SNMP', 'CP_SNMPSTATUS'),
 ('CLI', 'CP_CLISTATUS'),
 ('OSLOG', 'CP_OSLOGSTATUS'),
 ('iVIRK', 'CP_iVIRK12GSTATUS'),
 ('NICInt', 'CP_NICSTATUS'),
 ('INTEL', 'CP_INTELSTATUS'),
 ('BRCM', 'CP_BRCMSTATUS')]
# The DLL's exports.
EXPORTS = ['caKVILSystemCheck', 'caKVILPreReqCheckNode', 'caKVILOldNodeCheck', 'caKVILOldStationCheck',
 'caKVILCTCheck', 'caKVILHideCancelButton', 'caKVILCreateUpgradeRegKey',
 'caKVILCreateUpgradeRegKeyRollback', 'caKVILWaitforServiceStop', 'caKVILWriteInfo',
 'caKVILPreInstall', 'caKVILPreInstallRollback', 'caKVILPostInstall', 'caKVILPostInstallRollback',
 'caKVILInstallPNPDrivers', 'caKVILCheckTEMP', 'caKVILSetFirstTimeInstall', 'caKVILTestINSTALLDIR',
 'caKVILResetDisallowedFeatures', 'caKVILCheckforMGMTINT', 'caKVILSetSummaryText',
 'caKVILRunVCRedist', 'caKVILJREUpgrade', 'caKVILFinalize', 'caKVILExportKVSAPrefs',
 'caKVILImportKVSAPrefs']
# The kit's actions that run in the installation script (deferred, rollback
# and commit), with their custom action types.
SCRIPT_ACTIONS = {'caKVILCreateUpgradeRegKeyRollback': 3329,
 'caKVILCreateUpgradeRegKey': 3073,
 'caKVILExportKVSAPrefs': 3073,
 'caKVILWaitforServiceStop': 3073,
 'caKVILPreInstallRollback': 3329,
 'caKVILPreInstall': 3073,
 'caKVILPostInstallRollback': 3329,
 'caKVILPostInstall': 3073,
 'caKVILInstallPNPDrivers': 3073,
 'caKVILRunVCRedist': 3073,
 'caKVILFinalize': 3073,
 'caKVILImportKVSAPrefs': 3073}

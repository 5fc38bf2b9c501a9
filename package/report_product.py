"""What the report knows of this product, the Orvessa package of
KVILMSI64.dll: its features and the properties that publish their
dispositions, the qualification's lines that explain them, the system
check's verdicts, the command phases, the actions that run in the
installation script, and what a failure of its silent actions means."""
import re

# The product's features and the properties that publish their dispositions.
FEATURES = ["IWS", "SI", "KVSS", "RmtMgmt", "WMI", "SNMP", "CLI", "OSLOG", "iVIRK", "NICInt", "INTEL", "BRCM"]
STATUS = ["CP_IWSSTATUS", "CP_SASTATUS", "CP_KVSMSTATUS", "CP_SSASTATUS", "CP_WMISTATUS", "CP_SNMPSTATUS",
          "CP_CLISTATUS", "CP_OSLOGSTATUS", "CP_iVIRK12GSTATUS", "CP_NICSTATUS", "CP_INTELSTATUS", "CP_BRCMSTATUS"]
DISPOSITIONS = {"0": "selectable", "1": "selectable (checker code 1)", "2": "shown, not selectable",
                "3": "hidden"}
FLAGS = ["CP_2012", "CP_2012R2", "CP_2016", "CP_2019", "CP_2022", "CP_12GSERVER", "CP_13GSERVER",
         "CP_14GSERVER", "CP_15GSERVER", "CP_16GSERVER", "CP_SUPPORTEDSYSTEM", "CP_PEARL", "CP_TAVRINSERVER",
         "CP_REQUIRESAFAMGT"]
PRODUCT_TYPES = {"1": "workstation", "2": "domain controller", "3": "server"}
# The qualification's log lines that explain a disposition, the feature each
# concerns (None: the feature named in the line) and the disposition it raises
# the feature to (an installed feature keeps 0 whatever the line says).
REASONS = [
    (r"Hiding feature (\w+) since .*", None, 3),
    (r"Making feature (\w+) unselectable .*", None, 2),
    (r"Intel card was not detected\.", "INTEL", 2),
    (r"Broadcom card was not detected\.", "BRCM", 2),
    (r"This is not a 12g server.*", "iVIRK", 3),
    (r"Disable the VIRK tools feature", "iVIRK", 3),
    (r"WMI not detected.*", "RmtMgmt", 3),
    (r"Either WinRM is not detected.*", "RmtMgmt", 2),
]
CONSOLE_ONLY = "Enable only console on this system."   # every feature but IWS hidden
UNEXPLAINED = "no line in the log explains it"
# What a failure means of the product's actions that fail on purpose without
# a line of their own. {version}: the package's ProductVersion.
FAILURE_MEANINGS = {
    "caKVILPreReqCheckNode": (
        "Its failure (1603) is one of these, none of which writes a log line: the vendor library "
        "KVIL64.dll could not be used (it did not load or lacks a function; a message box named it, "
        "except for IsSystem13GFullCheck); the user answered No when asked whether to go on although "
        "the Prerequisite Checker was not run, or although its version differs from the package's; "
        "without the full interface, the checker's version differs from the package's; or the "
        "Prerequisite Checker reported failure for all features (its ALL code is 3 or more)"),
    "caKVILSetFirstTimeInstall": (
        "Its failure (1603) only refuses a downgrade: the installed version (registry value Version of "
        "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\SystemsManagement) is later than "
        "the package's ({version}); with the full interface the user saw \"The installed version is later "
        "than the version you are trying to install.\""),
}
# The system check's verdict lines, in the words a support engineer reads.
VERDICTS = [
    ("This is Rack Lumetra system", "rack workstation model, always accepted"),
    ("This is an older system no longer supported.", "older model, no longer supported"),
    ("This is NOT a supported system.", "not a supported model"),
    ("This is supported system.", "supported model"),
    ("User does not want to check the system.", "not checked (SYSTEMCHECK = NO or nosystemcheck.txt)"),
]
SYSTEM_ID = r"System id of the system = .*"
SYSTEM_ID_SOURCE = r"Using (registry|SMBIOS) to get system id\."
RELEASES = [r"Prereqcheck: The server has Windows \d+ OS\.",
            r"This is 1\dg server(, enable ivirk12g for installation)?"]
# The command phases: the phase given to features being installed / removed.
PHASES = {"caKVILPreInstall": ("PreInstall", "PreUnInstall"), "caKVILPostInstall": ("PostInstall", "PostUnInstall"),
          "caKVILPreInstallRollback": ("PreInstall", "PreUnInstall"),
          "caKVILPostInstallRollback": ("PostInstall", "PostUnInstall")}
FEATURE_WORK = re.compile(r"(Installing|Uninstalling) feature (\w+)\s*$")
# The product's actions that run in the installation script; in the
# immediate pass the log only shows them being scheduled.
SCRIPT_ACTIONS = {"caKVILCreateUpgradeRegKey", "caKVILCreateUpgradeRegKeyRollback", "caKVILExportKVSAPrefs",
                  "caKVILWaitforServiceStop", "caKVILPreInstall", "caKVILPreInstallRollback", "caKVILPostInstall",
                  "caKVILPostInstallRollback", "caKVILInstallPNPDrivers", "caKVILRunVCRedist", "caKVILFinalize",
                  "caKVILImportKVSAPrefs"}
OWN_ACTIONS = "caKVIL"   # the start of every action of KVILMSI64.dll
# The lines of the product's actions that the findings read, kept while the
# log streams by (nothing else of the log is kept).
KEPT_LINES = re.compile("(?:" + "|".join([
    SYSTEM_ID, SYSTEM_ID_SOURCE, *RELEASES, *(pattern for pattern, _, _ in REASONS), re.escape(CONSOLE_ONLY),
    *(re.escape(line) for line, _ in VERDICTS)]) + r")\Z")

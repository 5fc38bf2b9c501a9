"""Windows Installer exit statuses as Windows reports them. A Linux parent of
wine msiexec sees only the low byte of the status (1603 arrives as 67)."""

MEANINGS = {
    0: "success",
    1602: "cancelled by the user",
    1603: "fatal error during installation",
    1605: "the product is not installed",
    1618: "another installation is already in progress",
    1619: "the package could not be opened",
    1620: "the package could not be opened (invalid package)",
    1624: "the transform could not be applied",
    1633: "this platform is not supported by the package",
    1638: "another version of the product is already installed",
    1639: "invalid command line argument",
    1641: "success; a restart has been started",
    3010: "success; a restart is required to finish",
}
# The low byte of each status above, for statuses that came through Linux.
_BY_LOW_BYTE = {code % 256: code for code in MEANINGS}


def windows_status(status):
    """The Windows exit status for what a Linux parent saw (67 -> 1603).
    A status above 255 is taken as already being Windows'."""
    if status is None or status > 255:
        return status
    return _BY_LOW_BYTE.get(status, status)


def describe(status):
    """'1603 (fatal error during installation)' for a Windows status."""
    meaning = MEANINGS.get(status)
    return f"{status} ({meaning})" if meaning else f"{status}"

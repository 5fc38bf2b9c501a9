#!/usr/bin/env python3
"""What an installation of the Orvessa package did, from its verbose log
(msiexec /l*v) alone: the machine as the qualification saw it, each feature's
disposition and why, the command phases by feature, the custom actions in
order, and the outcome (success, stopped by a condition, or failed: which
action, the feature it was processing, its last lines, rolled back or not).
Reads logs of Windows' installer (ANSI or UTF-16) and of Wine's, whose engine
lines are in English or Japanese (code page 932).

  kvilreport.py LOG [--journal FILE] [--exit-status N]

--journal adds what the simulated vendor library was asked to run (its
journal file); --exit-status gives msiexec's exit status when the log does not
hold it (Wine's does not). Exit status 0 when the log could be read."""
import argparse
import codecs
import pathlib
import re
import sys

from msistatus import describe, windows_status

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
# The command phases: the phase given to features being installed / removed.
PHASES = {"caKVILPreInstall": ("PreInstall", "PreUnInstall"), "caKVILPostInstall": ("PostInstall", "PostUnInstall"),
          "caKVILPreInstallRollback": ("PreInstall", "PreUnInstall"),
          "caKVILPostInstallRollback": ("PostInstall", "PostUnInstall")}
# The product's actions that run in the installation script; in the
# immediate pass the log only shows them being scheduled.
SCRIPT_ACTIONS = {"caKVILCreateUpgradeRegKey", "caKVILCreateUpgradeRegKeyRollback", "caKVILExportKVSAPrefs",
                  "caKVILWaitforServiceStop", "caKVILPreInstall", "caKVILPreInstallRollback", "caKVILPostInstall",
                  "caKVILPostInstallRollback", "caKVILInstallPNPDrivers", "caKVILRunVCRedist", "caKVILFinalize",
                  "caKVILImportKVSAPrefs"}
SCRIPT_RUNNERS = {"InstallFinalize", "InstallExecute", "InstallExecuteAgain"}
STANDARD_ACTIONS = set("""
ADMIN ADVERTISE INSTALL AllocateRegistrySpace AppSearch BindImage CCPSearch CostFinalize CostInitialize
CreateFolders CreateShortcuts DeleteServices DisableRollback DuplicateFiles ExecuteAction FileCost
FindRelatedProducts ForceReboot InstallAdminPackage InstallExecute InstallExecuteAgain InstallFiles
InstallFinalize InstallInitialize InstallODBC InstallServices InstallSFPCatalogFile InstallValidate
IsolateComponents LaunchConditions MigrateFeatureStates MoveFiles MsiConfigureServices MsiPublishAssemblies
MsiUnpublishAssemblies PatchFiles ProcessComponents PublishComponents PublishFeatures PublishProduct
RegisterClassInfo RegisterComPlus RegisterExtensionInfo RegisterFonts RegisterMIMEInfo RegisterProduct
RegisterProgIdInfo RegisterTypeLibraries RegisterUser RemoveDuplicateFiles RemoveEnvironmentStrings
RemoveExistingProducts RemoveFiles RemoveFolders RemoveIniValues RemoveODBC RemoveRegistryValues
RemoveShortcuts ResolveSource RMCCPSearch ScheduleReboot SelfRegModules SelfUnregModules SetODBCFolders
StartServices StopServices UnpublishComponents UnpublishFeatures UnpublishProduct UnregisterClassInfo
UnregisterComPlus UnregisterExtensionInfo UnregisterFonts UnregisterMIMEInfo UnregisterProgIdInfo
UnregisterTypeLibraries ValidateProductID WriteEnvironmentStrings WriteIniValues WriteRegistryValues
""".split())

# Windows puts "MSI (s) (3C:40) [10:22:31:123]: " before the engine's own lines.
ENGINE_PREFIX = re.compile(r"MSI \([a-zA-Z]\) \([0-9A-Fa-f]{1,4}[:!][0-9A-Fa-f]{1,4}\) \[[\d:]+\]: ?")


class EngineLanguage:
    """The engine's own lines in one language: an action's start and end, an
    action announced (a script operation, a dialog), the start of the
    "Message type" lines, and the ANSI code page of systems in that language."""

    def __init__(self, name, code_page, start, ended, announce, message_type, product):
        self.name = name
        self.code_page = code_page
        self.start = re.compile(start)
        self.ended = re.compile(ended)
        self.announce = re.compile(announce)
        self.message_type = message_type
        self.product = re.compile(product)

    def writes(self, text):
        """Whether text is an action's line of the engine in this language."""
        return bool(self.start.match(text) or self.ended.match(text) or self.announce.match(text))


# The engine's lines by language, as Wine 8's installer writes them (its
# msi.dll's strings); Windows' English logs have the same English forms. The
# lines only Windows writes (Executing op, Feature, PROPERTY CHANGE, Product,
# CustomAction ... returned) are read in English only.
ENGLISH = EngineLanguage(
    "English", "cp1252",
    start=r"Action start [\d:]+: ([\w.]+?)\.\s*$",
    ended=r"Action ended [\d:]+: ([\w.]+?)\. Return value (-?\d+)\.?\s*$",
    announce=r"Action [\d:]+: ([\w.]+?)\.(.*)$",
    message_type="Message type: ",
    product=r"Message type: 1, Argument: (.+?)\s*$")
LANGUAGES = [
    ENGLISH,
    EngineLanguage(
        "Japanese", "cp932",
        start=r"アクション開始 [\d:]+: ([\w.]+?)。\s*$",                  # Action start
        ended=r"アクション終了 [\d:]+: ([\w.]+?)。 戻り値 (-?\d+)。?\s*$",   # Action ended, Return value
        announce=r"アクション [\d:]+: ([\w.]+?)。(.*)$",                   # Action
        message_type="メッセージ種別: ",                                  # Message type
        product=r"メッセージ種別: 1, 引数: (.+?)\s*$"),                   # Message type, Argument
]
# An action's start or end in any language: words, a time, the action's name.
SOME_ACTION_LINE = re.compile(r"\S.*? \d{1,2}:\d\d:\d\d ?: [\w.]+\W")

CA_ERROR = re.compile(r"CustomAction (\S+) returned actual error code (\d+)")
SCHEDULED_OP = re.compile(r"Executing op: CustomAction(Schedule|Rollback)\(Action=([^,)]+),ActionType=(\d+)")
ROLLBACK_TYPE = 0x100   # the custom action type bit of a rollback action
ROLLBACK_OP = re.compile(r"Rollback: (\S+)\s*$")
PROPERTY = re.compile(r"Property\(([SC])\): (\w+) = (.*)$")
PROPERTY_CHANGE = re.compile(r"PROPERTY CHANGE: (Adding|Modifying|Deleting) (\w+) property\..*?"
                             r"(?:Its value is '(.*)'|Its new value: '(.*)')?\.?$")
FEATURE_STATE = re.compile(r"Feature: (\w+); Installed: (\w+);\s+Request: (\w+);\s+Action: (\w+)")
STATUS_LINE = re.compile(r"(?:Installation success or error status|MainEngineThread is returning):? (\d+)")
PRODUCT_MESSAGE = re.compile(r"Product: (.*?) -- (.*)$")
FEATURE_WORK = re.compile(r"(Installing|Uninstalling) feature (\w+)\s*$")
# Lines of the engine's own bookkeeping, not written by an action.
ENGINE_LINES = r"\d+: .* \d+: |\d+: \S*\s*$|Property\([SC]\): "


def engine_language(lines):
    """(the language of the engine's lines, None when the report does not
    read it; a line that looks like an action's start or end in a language it
    does not read, or None)."""
    unread = None
    for line in lines:
        text = line[prefix.end():] if (prefix := ENGINE_PREFIX.match(line)) else line
        for language in LANGUAGES:
            if language.writes(text):
                return language, None
        if unread is None and SOME_ACTION_LINE.match(text):
            unread = text.strip()
    return None, unread


class ActionRun:
    """One run of an action as the log shows it."""

    def __init__(self, name, phase, parent):
        self.name = name
        self.phase = phase        # immediate, scheduled, script, rollback or end (of a failed run)
        self.parent = parent
        self.children = 0
        self.value = None         # "Return value" as logged; None when not logged
        self.error_code = None    # Windows' "returned actual error code"
        self.lines = []           # what the action itself wrote
        self.said = []            # the engine's messages during the action (a stop's text)
        self.dialog = False       # a dialog of the user-interface sequence, not an action
        if parent:
            parent.children += 1


class Log:
    """A verbose installer log, read into action runs, properties and features."""

    def __init__(self, text, encoding=""):
        self.encoding = encoding
        self.lines = text.splitlines()
        self.engine = "Windows" if any(ENGINE_PREFIX.match(l) for l in self.lines[:2000]) else "Wine"
        self.language, self.unread_line = engine_language(self.lines)
        self.runs = []
        self.properties = {}
        self.property_source = None
        self.feature_states = {}
        self.status = None
        self.product = None
        self.top = None           # the outermost action (INSTALL)
        self.open_at_end = []     # actions the log never ends
        self.rolled_back = False
        self._found = {}
        self._parse()

    def _parse(self):
        language = self.language or ENGLISH
        start, ended, announce = language.start, language.ended, language.announce
        if self.unread_line:
            # Lines in another language are no action's start or end.
            start = ended = announce = re.compile(r"(?!)")
        bookkeeping = re.compile(f"(=== |{re.escape(language.message_type)}|{ENGINE_LINES})")
        stack, current, rollback = [], None, False
        seen = set()              # the actions the run started before it failed
        finished = False          # the outermost action has ended
        server, client, changed = {}, {}, {}
        for index, raw in enumerate(self.lines):
            line = raw.rstrip("\r\n\x00")
            prefix = ENGINE_PREFIX.match(line)
            text = line[prefix.end():] if prefix else line
            if m := start.match(text):
                run = ActionRun(m[1], self._after_failure(m[1], seen) if rollback else
                                "end" if finished and not stack else "immediate", stack[-1] if stack else None)
                if not rollback:
                    seen.add(m[1])
                if run.parent and (run.parent.name in SCRIPT_RUNNERS or run.parent.phase == "script"):
                    run.phase = "script" if not rollback else "rollback"
                if self.top is None:
                    self.top = run
                self.runs.append(run)
                stack.append(run)
                current = run
            elif m := ended.match(text):
                for depth in range(len(stack) - 1, -1, -1):
                    if stack[depth].name == m[1]:
                        stack[depth].value = int(m[2])
                        # Wine ends the outermost action of a failed run first
                        # and then logs its rollback as actions of their own.
                        if depth == 0:
                            finished = True
                            rollback = rollback or self.failure(stack[0].value)
                        del stack[depth:]
                        break
                current = stack[-1] if stack else None
            elif m := announce.match(text):
                following = self.lines[index + 1] if index + 1 < len(self.lines) else ""
                if m[1] == "Rollback":
                    rollback = self.rolled_back = True
                elif m[2].strip() == "Dialog created":
                    for run in reversed(self.runs):
                        if run.name == m[1]:
                            run.dialog = True
                            break
                elif (running := current if current and current.value is None else None) and \
                        running.name.startswith("caKVIL") and not m[1].startswith("caKVIL") and \
                        m[1] not in STANDARD_ACTIONS and not start.match(following.strip()):
                    # A product action's progress text: the vendor library
                    # announces it as an action of another name.
                    running.lines.append(f"progress: {m[2].strip()}")
                elif not start.match(following.strip()):
                    # An operation of the installation script (Windows logs no
                    # start and end for those).
                    current = self._script_run(m[1], stack, rollback)
                    if rollback and current.phase == "rollback":
                        current.phase = self._after_failure(m[1], seen)
            elif ROLLBACK_OP.match(text) and not prefix:
                # Windows names each action it rolls back past; an action runs
                # only where a rollback operation follows.
                rollback = self.rolled_back = True
                current = None
            elif prefix and (m := SCHEDULED_OP.search(text)):
                if m[1] == "Schedule" and int(m[3]) & ROLLBACK_TYPE:
                    # The script only records a rollback action here.
                    if current and current.name == m[2] and not current.lines:
                        self._drop(current)
                    current = None
                elif current is None or current.name != m[2]:
                    current = self._script_run(m[2], stack, rollback or m[1] == "Rollback")
            elif m := PROPERTY.match(text):
                (server if m[1] == "S" else client)[m[2]] = m[3].rstrip()
            elif m := PROPERTY_CHANGE.search(text):
                changed[m[2]] = m[3] if m[3] is not None else (m[4] or "")
                if m[1] == "Deleting":
                    changed.pop(m[2], None)
            elif m := FEATURE_STATE.search(text):
                self.feature_states[m[1]] = (m[2], m[3], m[4])
            elif m := CA_ERROR.search(text):
                for run in reversed(self.runs):
                    if run.name == m[1]:
                        run.error_code = int(m[2])
                        run.lines.append(text.strip())
                        break
            elif prefix:
                if m := STATUS_LINE.search(text):
                    self.status = int(m[1])
                if m := PRODUCT_MESSAGE.search(text):
                    self.product = self.product or m[1]
                    if current:
                        current.said.append(m[2].strip())
                        current.lines.append(m[2].strip())
            elif m := STATUS_LINE.search(text):
                self.status = int(m[1])
            elif (m := language.product.match(text)) and not self.product:
                self.product = m[1]
            elif text.strip() and not bookkeeping.match(text) and current:
                current.lines.append(text.strip())
        self.open_at_end = stack
        if stack and current and current not in stack:
            # Windows' script operations have no end line of their own.
            self.open_at_end = stack + [current]
        # The server's list is the installation's; the client's fills what the
        # server lacks (properties of the user-interface sequence).
        if server or client:
            self.properties = dict(client, **server)
            self.property_source = "the property list at the end of the log"
        elif changed:
            self.properties = changed
            self.property_source = "the property changes the log records"
        self.product = self.properties.get("ProductName") or self.product
        # Wine looks for a dialog among the actions first, logs that it found
        # none (error 2726), shows the dialog and ends it with return value 0.
        for run in self.runs:
            if any(line.endswith(f"Action not found: {run.name}") for line in run.lines):
                run.dialog = True
            # A dialog the user closed with Cancel ends with 2 (Wine logs no
            # "Dialog created" for it).
            if run.value == 2 and run.children == 0 and run.name not in STANDARD_ACTIONS \
                    and not run.name.startswith("caKVIL"):
                run.dialog = True
        in_script = {r.name for r in self.runs if r.phase in ("script", "rollback")}
        for run in self.runs:
            if run.phase == "immediate" and (run.name in SCRIPT_ACTIONS or run.name in in_script):
                run.phase = "scheduled"
        self.rolled_back = self.rolled_back or any(r.phase == "rollback" for r in self.runs)
        self.stripped = [ENGINE_PREFIX.sub("", line, count=1).strip() for line in self.lines]

    def _script_run(self, name, stack, rollback):
        run = ActionRun(name, "rollback" if rollback else "script", stack[-1] if stack else None)
        self.runs.append(run)
        return run

    @staticmethod
    def _after_failure(name, seen):
        """The phase of an action after the run failed: the rollback of the
        installation script (its rollback actions and the standard actions
        that undo what the script did; Wine logs each action of the script,
        a rollback action too, when it schedules it), else an action of the
        package for the end of a failed or cancelled run."""
        return "rollback" if name in STANDARD_ACTIONS or name in seen else "end"

    def _drop(self, run):
        self.runs.remove(run)
        if run.parent:
            run.parent.children -= 1

    def failure(self, value):
        """Whether a logged return value means failure (Wine logs 0, Windows 3)."""
        return value == 3 or (value == 0 and self.engine == "Wine")

    def failed(self, run):
        return not run.dialog and (run.error_code not in (None, 0) or (run.value is not None and self.failure(run.value)))

    def found(self, pattern):
        """The text of every line that matches pattern, in order."""
        if pattern not in self._found:
            compiled = re.compile(pattern)
            self._found[pattern] = [line for line in self.stripped if compiled.fullmatch(line)]
        return self._found[pattern]

    def custom_runs(self):
        return [r for r in self.runs if r.name not in STANDARD_ACTIONS and not r.dialog]

    def command_runs(self):
        """The command phases that ran, in the installation script or its rollback."""
        return [r for r in self.runs if r.name in PHASES and r.phase in ("script", "rollback")]


def read(path):
    """The log at path as a Log; OSError when the file cannot be read."""
    raw = pathlib.Path(path).read_bytes()
    return Log(*decode(raw))


def decode(raw):
    """The text of a log and how it was stored: UTF-16 with or without a
    byte-order mark, UTF-8, or an ANSI code page: that of a language whose
    engine lines the text holds in it (932: Japanese), else 1252."""
    if raw.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        return raw.decode("utf-16", errors="replace"), "UTF-16 with a byte-order mark"
    if raw.startswith(codecs.BOM_UTF8):
        return raw[3:].decode("utf-8", errors="replace"), "UTF-8 with a byte-order mark"
    sample = raw[:4000]
    if len(sample) > 8 and sample[1::2].count(0) > len(sample) // 4:
        return raw.decode("utf-16-le", errors="replace"), "UTF-16 without a byte-order mark"
    try:
        return raw.decode("utf-8"), "ANSI text"
    except UnicodeDecodeError:
        pass
    for language in LANGUAGES:
        if language.code_page == "cp1252":
            continue
        try:
            # Incremental: a log cut inside a double-byte character still reads.
            text = codecs.getincrementaldecoder(language.code_page)().decode(raw)
        except UnicodeDecodeError:
            continue
        if engine_language(text.splitlines())[0] is language:
            return text, f"ANSI text (code page {language.code_page[2:]})"
    return raw.decode("cp1252", errors="replace"), "ANSI text (code page 1252)"


# The sections of the report. Each returns its lines and adds what it could
# not find to missing.

def engine(log):
    return "Windows'" if log.engine == "Windows" else "Wine's"


UNREAD = "the engine's lines are in a language this report does not read"


def unread(log):
    """Whether the engine wrote its lines in a language the report does not read."""
    return log.language is None and log.unread_line is not None


def machine_section(log, missing):
    p = log.properties
    lines = ["The machine"]
    identifier = log.found(r"System id of the system = .*")
    source = log.found(r"Using (registry|SMBIOS) to get system id\.")
    if identifier:
        how = " (from the registry)" if source and "registry" in source[-1] else (
            " (from the firmware tables)" if source else "")
        lines.append(f"  System identifier: {identifier[-1].split('= ', 1)[1]}{how}")
    elif p.get("CP_SYSTEMID"):
        lines.append(f"  System identifier: {p['CP_SYSTEMID']} (CP_SYSTEMID)")
    else:
        lines.append("  System identifier: not in the log")
        missing.append("the system identifier (the system check's lines and CP_SYSTEMID)")
    if "VersionNT" in p:
        kind = PRODUCT_TYPES.get(p.get("MsiNTProductType", ""), "product type not logged")
        build = f", build {p['WindowsBuild']}" if "WindowsBuild" in p else ""
        lines.append(f"  Windows: VersionNT {p['VersionNT']}{build}, {kind}")
    flags = [f"{n}={p[n]}" for n in FLAGS if n in p]
    releases = log.found(r"Prereqcheck: The server has Windows \d+ OS\.") + log.found(r"This is 1\dg server(, enable ivirk12g for installation)?")
    lines.append("  Windows release and server flags: " + (", ".join(flags) or "none in the log")
                 + (f" ({'; '.join(releases)})" if releases else ""))
    words = dict(VERDICTS)
    said = [line for line in log.stripped if line in words]
    if said:
        # A rack workstation is accepted whatever the supported-model list says.
        line = VERDICTS[0][0] if VERDICTS[0][0] in said else said[-1]
        words = words[line]
        supported = f"; CP_SUPPORTEDSYSTEM = {p['CP_SUPPORTEDSYSTEM']}" if "CP_SUPPORTEDSYSTEM" in p else ""
        lines.append(f'  Support verdict: {words} ("{line}"{supported})')
    else:
        lines.append("  Support verdict: not in the log (the system check's verdict line is missing)")
        missing.append("the support verdict of the system check")
    return lines


def reasons(log, feature, status):
    """The qualification's lines that explain the feature's disposition
    status ("" when not published: every line about the feature). A line
    that raises it above its final disposition did not apply (the feature
    is installed) and is left out; a disposition above 1 that no line
    reaches is said to be unexplained (the qualification raises some
    without a line: a missing Version registry value, the prerequisite
    checker's codes, a major upgrade's lock)."""
    found, final = {}, int(status) if status in DISPOSITIONS else None
    for pattern, concerns, value in REASONS + [(re.escape(CONSOLE_ONLY), "not IWS", 3)]:
        for line in log.found(pattern):
            key = re.fullmatch(pattern, line).group(1) if concerns is None else concerns
            if (key == feature or key == "not IWS" and feature != "IWS") and (final is None or value <= final):
                found.setdefault(line, value)
    if final is not None and final >= 2 and final not in found.values():
        return list(found) + [UNEXPLAINED if not found else
                              f"{UNEXPLAINED} as {DISPOSITIONS[status].split(',')[0]}"]
    return list(found)


def feature_work(log):
    """{feature: what the command phases did with it} from the runs of the
    installation script and of its rollback."""
    work = {}
    for run in log.command_runs():
        for line in run.lines:
            if m := FEATURE_WORK.match(line):
                verb, feature = m.groups()
                if run.phase == "rollback":
                    if feature not in work:
                        # The run failed before this feature's turn.
                        work[feature] = "not reached before the failure (the rollback ran its commands)"
                    elif not work[feature].endswith(("rolled back", ")")):
                        work[feature] += ", then rolled back"
                else:
                    work.setdefault(feature, "installed" if verb == "Installing" else "removed")
        if failing_feature(run) and (log.failed(run) or run in log.open_at_end):
            verb, feature = failing_feature(run)
            work[feature] = f"{doing(verb)} it failed" if log.failed(run) else f"{doing(verb)} it when the log ends"
    return work


def features_section(log, outcome):
    p = log.properties
    work = feature_work(log)
    lines = ["Features (disposition from the qualification, why, and what the run did with each)"]
    published = any(s in p for s in STATUS)
    why_of = {feature: reasons(log, feature, p.get(status, "")) for feature, status in zip(FEATURES, STATUS)}
    if not published and not work and not set(FEATURES) & set(log.feature_states) and not any(why_of.values()):
        return lines + ["  none of the product's features appears in the log"]
    for feature, status_property in zip(FEATURES, STATUS):
        status = p.get(status_property, "")
        why = why_of[feature]
        disposition = DISPOSITIONS.get(status, "not published")
        if feature in log.feature_states:
            installed, request, action = log.feature_states[feature]
            final = f"action {action} (was {installed}, request {request})" + (
                f"; {work[feature]}" if feature in work else "")
        elif feature in work:
            final = work[feature]
        elif outcome == "stopped":
            final = "nothing done (the installation stopped)"
        elif outcome in ("cancelled", "failed") and not any(r.phase == "script" for r in log.runs):
            final = f"nothing done (the installation {'was cancelled' if outcome == 'cancelled' else 'failed'} " \
                    "before its script ran)"
        elif any(r.phase == "script" for r in log.command_runs()):
            final = "left as it was"
        else:
            final = "not known (no command phase in the log)"
        lines.append(f"  {feature:8} {disposition}" + (f": {'; '.join(why)}" if why else "") + f" -> {final}")
    if not published:
        lines.insert(1, "  (the qualification published no disposition in this run: CP_IWSSTATUS ... not set)")
    return lines


def failing_feature(run):
    """('Installing' or 'Uninstalling', feature) of the last feature the run began."""
    for line in reversed(run.lines):
        if m := FEATURE_WORK.match(line):
            return m.groups()
    return None


def doing(verb):
    return "installing" if verb == "Installing" else "removing"


def last_lines(run):
    return ["  Its last lines:"] + ["    " + line for line in run.lines[-6:]] if run.lines else []


def phases_section(log):
    lines = ["Command phases by feature"]
    for run in log.command_runs():
        installing = [m[2] for l in run.lines if (m := FEATURE_WORK.match(l)) and m[1] == "Installing"]
        removing = [m[2] for l in run.lines if (m := FEATURE_WORK.match(l)) and m[1] == "Uninstalling"]
        install, remove = PHASES[run.name]
        rollback = " with the rollback flag" if run.phase == "rollback" else ""
        parts = ([f"{install}{rollback} for {', '.join(installing)}"] if installing else []) + (
            [f"{remove}{rollback} for {', '.join(removing)}"] if removing else [])
        failed = ""
        if log.failed(run) and failing_feature(run):
            failed = f"; FAILED at {failing_feature(run)[1]}"
        lines.append(f"  {run.name}: {'; '.join(parts) or 'no feature'}{failed}")
    if len(lines) == 1:
        lines.append(f"  not known ({UNREAD})" if unread(log) else
                     "  none ran (no caKVILPreInstall or caKVILPostInstall in the installation script)")
    return lines


def actions_section(log):
    meaning = "1 success, 0 failure" if log.engine == "Wine" else "1 success, 3 failure, 2 cancelled"
    lines = [f"Custom actions in order (return values as {engine(log)} installer logs them: {meaning})"]
    groups = [("immediate", "immediate"), ("scheduled", "scheduled for the installation script"),
              ("script", "in the installation script"), ("rollback", "rollback"),
              ("end", "at the end of the run")]
    for phase, title in groups:
        runs = [r for r in log.custom_runs() if r.phase == phase and (
            phase != "rollback" or r.value is not None or r.lines or r.name.endswith("Rollback"))]
        if not runs:
            continue
        if phase == "scheduled":
            shown = [r.name for r in runs]
        else:
            shown = [r.name + (f" {r.value}" if r.value is not None else "")
                     + (f" (error code {r.error_code})" if r.error_code else "")
                     + (" FAILED" if log.failed(r) else "") for r in runs]
        lines.append(f"  {title}: " + ", ".join(shown))
    if len(lines) == 1:
        lines.append(f"  not known ({UNREAD})" if unread(log) else "  none in the log")
    return lines


def outcome_of(log, exit_status=None):
    """(outcome, the run that ended it): outcome is succeeded, failed,
    stopped, cancelled or unknown. exit_status: msiexec's, as Windows gives it."""
    top = log.top
    ending = None
    for run in log.runs:
        if run.phase not in ("rollback", "end") and run.children == 0 and log.failed(run):
            ending = run
    status = log.status if log.status is not None else exit_status
    cancel = next((r for r in log.runs if r.value == 2 and r.children == 0
                   and r.phase not in ("rollback", "end")), None)
    if cancel or status == 1602 or (top and top.value == 2):
        return "cancelled", cancel
    if top is None or top.value is None:
        if log.status is not None:
            return ("succeeded" if log.status in (0, 3010, 1641) else "failed"), ending
        return "unknown", ending
    if top.value == 1:
        return "succeeded", None
    # A stop: LaunchConditions, or an action of the package's own that writes
    # nothing but its message (a stop message, type 19).
    if ending and (ending.name == "LaunchConditions" or (
            ending.name not in STANDARD_ACTIONS and not ending.name.startswith("caKVIL")
            and set(ending.lines) <= set(ending.said))):
        return "stopped", ending
    return "failed", ending


def stop_message(run, messages):
    """The stop's text: from the log, else from the package's messages."""
    if run.said:
        return run.said[-1]
    if run.name in (messages or {}):
        return f"{messages[run.name]} (the package's text; the log does not hold it)"
    return None


def outcome_section(log, missing, exit_status=None, stop_messages=None):
    outcome, run = outcome_of(log, windows_status(exit_status))
    lines = []
    if outcome == "succeeded":
        lines.append("Outcome: succeeded")
    elif outcome == "cancelled":
        lines.append("Outcome: cancelled by the user" + (
            (f" at the dialog {run.name}" if run.dialog else f" during {run.name}") if run else ""))
        if not any(r.phase == "script" for r in log.runs):
            lines.append("  Nothing was installed: it ended before the installation script ran")
        else:
            lines.append("  Rolled back: " + ("yes" if log.rolled_back else "no rollback in the log"))
    elif outcome == "stopped":
        lines.append(f"Outcome: stopped by the package's condition {run.name} (an action of the package "
                     "that ends the installation)")
        message = stop_message(run, stop_messages)
        lines.append(f"  Its message: {message}" if message else
                     "  Its message: not in the log" + (" (Wine's installer does not write it)"
                                                        if log.engine == "Wine" else ""))
        lines.append("  Nothing was installed: it stopped before the installation script ran"
                     if not any(r.phase == "script" for r in log.runs) else "")
    elif outcome == "failed":
        if run:
            where = {"script": " in the installation script", "immediate": " before the installation script"
                     }.get(run.phase, "")
            lines.append(f"Outcome: FAILED in {run.name}{where}")
            feature = failing_feature(run)
            if feature:
                phase = PHASES.get(run.name, ("", ""))[feature[0] != "Installing"]
                lines.append(f"  It was {doing(feature[0])} the feature {feature[1]}"
                             + (f" (phase {phase})" if phase else ""))
            if run.name in FAILURE_MEANINGS:
                lines.append("  " + FAILURE_MEANINGS[run.name].format(
                    version=log.properties.get("ProductVersion", "not in the log")))
            lines += last_lines(run) or ["  It wrote no lines of its own into the log"]
        else:
            lines.append("Outcome: FAILED (the log names no failing action)")
            missing.append("the action that failed")
        rollbacks = [r.name + (f" {r.value}" if r.value is not None else "")
                     for r in log.custom_runs() if r.phase == "rollback"]
        if log.rolled_back:
            lines.append("  Rolled back: yes" + (f" ({', '.join(rollbacks)})" if rollbacks else ""))
        elif run and run.phase == "immediate":
            lines.append("  Rolled back: nothing to roll back (it failed before the installation script ran)")
        else:
            lines.append("  Rolled back: no rollback in the log")
    elif unread(log):
        lines.append(f"Outcome: not known ({UNREAD})")

    else:
        last = log.open_at_end[-1].name if log.open_at_end else None
        lines.append("Outcome: not known: the log ends before the installation did"
                     + (f" (it ends inside {last})" if last else ""))
        missing.append("the end of the installation (the log is cut short)")
        if last:
            run = log.open_at_end[-1]
            feature = failing_feature(run)
            if feature:
                lines.append(f"  {run.name} was {doing(feature[0])} the feature {feature[1]} when the log ends")
            lines += last_lines(run)
    lines = [l for l in lines if l]
    status = log.status
    if status is not None:
        lines.append(f"  Exit status in the log: {describe(status)}")
    elif exit_status is not None:
        status = windows_status(exit_status)
        lines.append(f"  msiexec's exit status: {describe(status)}")
    else:
        lines.append("  Exit status: not in the log" + (" (Wine's log does not give it)"
                                                        if log.engine == "Wine" else ""))
    lines.append("  Restart: " + restart(log, status))
    return lines


def restart(log, status):
    p = log.properties
    if status in (3010, 1641):
        return f"asked for (exit status {status})"
    if p.get("CP_KVREBOOT", "").upper() == "YES":
        return "asked for (CP_KVREBOOT = YES: the installation information writer decided on a restart)"
    if p.get("REBOOT", "").upper() == "FORCE":
        return "asked for (REBOOT = Force)"
    if p.get("REBOOT", "").upper() == "SUPPRESS":
        return "not asked for (REBOOT = Suppress)"
    if not p:
        return "not known (the log holds no property)"
    return "not asked for in the log (neither CP_KVREBOOT nor REBOOT is set)"


def journal_section(journal):
    """What the simulated vendor library was asked to run, from its journal."""
    lines = ["The vendor library was asked to run:"]
    phases = {}
    for line in journal:
        command = re.match(r'ExecuteCommands\(.*"[^"]*\\([^"\\]+)", "[^"]*", "(\w+)", (\d+), (\d+)\) = (-?\d+)',
                           line)
        if command:
            name, phase, removal, rollback, result = command.groups()
            phase += " (complete removal)" if removal == "1" else ""
            phase += " (rollback)" if rollback == "1" else ""
            phases.setdefault(phase, []).append(name + ("" if result == "0" else f" = {result}"))
        elif line.startswith(("LaunchAppAndWait", "InstallPNPDevices")):
            lines.append("  " + line.rstrip())
    for phase, files in phases.items():
        lines.append(f"  ExecuteCommands {phase}: {', '.join(files)}")
    if len(lines) == 1:
        lines.append("  nothing")
    return lines


def run_kind(log):
    """What kind of run the log is, from its properties (or its outermost
    action when it holds none)."""
    p = log.properties
    if not p:
        return log.top.name.lower() if log.top else ""
    action = p.get("ACTION", "INSTALL").upper()
    if action != "INSTALL":
        return action.lower()
    if p.get("REMOVE", "").upper() == "ALL":
        return "removal by an upgrade" if p.get("UPGRADINGPRODUCTCODE") else "removal"
    if p.get("REINSTALL"):
        return "repair"
    if p.get("Installed"):
        return "change (maintenance)"
    return "install (major upgrade)" if p.get("CP_DOINGMAJORUPGRADE", "").upper() == "YES" else "install"


def report(log, exit_status=None, journal=None, stop_messages=None, source=None):
    """The report's lines. exit_status: what msiexec returned (as Windows or
    a Linux parent saw it) when the log lacks it; journal: the simulator's
    journal lines; stop_messages: {action: text} of the package's stop
    messages, for logs that do not hold them."""
    missing = []
    outcome, _ = outcome_of(log, windows_status(exit_status))
    lines = []
    if source:
        language = f" writing in {log.language.name}" if log.language else ""
        lines.append(f"Log: {source} ({engine(log)} installer{language}, {log.encoding}, {len(log.lines)} lines)")
    product = log.product or "not named in the log"
    version = log.properties.get("ProductVersion")
    action = run_kind(log)
    lines.append(f"Product: {product}" + (f" {version}" if version else "")
                 + (f"; run: {action}" if action else ""))
    if unread(log):
        lines.append(f"The engine's lines are in a language this report does not read (such as "
                     f"\"{log.unread_line}\"): its actions' starts, ends and return values, and so the "
                     "outcome, are not known.")
        missing.append(f"the engine's lines in a language this report reads "
                       f"({', '.join(language.name for language in LANGUAGES)})")
    elif not any(r.name.startswith("caKVIL") for r in log.runs):
        lines.append("This log has no action of KVILMSI64.dll (caKVIL...): it may belong to another product.")
        missing.append("any action of KVILMSI64.dll")
    lines.append("")
    lines += machine_section(log, missing)
    lines.append("")
    lines += features_section(log, outcome)
    lines.append("")
    lines += phases_section(log)
    lines.append("")
    lines += actions_section(log)
    if journal is not None:
        lines.append("")
        lines += journal_section(journal)
    lines.append("")
    lines += outcome_section(log, missing, exit_status, stop_messages)
    if log.property_source is None:
        missing.append("the installer's properties (no property list at the end, no property change: "
                       "cut short?)")
    if not log.lines:
        missing.insert(0, "any line: the log is empty")
    if missing:
        lines.append("")
        lines.append("Not found in the log: " + "; ".join(dict.fromkeys(missing)))
    return lines


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("log", help="the verbose log (msiexec /l*v)")
    parser.add_argument("--journal", help="the simulated vendor library's journal file")
    parser.add_argument("--exit-status", type=int, help="msiexec's exit status, when the log lacks it")
    args = parser.parse_args(argv)
    try:
        log = read(args.log)
    except OSError as error:
        print(f"kvilreport: cannot read the log {args.log}: {error.strerror or error}", file=sys.stderr)
        return 2
    journal = None
    if args.journal:
        try:
            journal = pathlib.Path(args.journal).read_text(errors="replace").splitlines()
        except OSError as error:
            print(f"kvilreport: cannot read the journal {args.journal}: {error.strerror or error}",
                  file=sys.stderr)
            return 2
    print("\n".join(report(log, args.exit_status, journal, source=args.log)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

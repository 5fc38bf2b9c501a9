"""An installation as its log tells it, built from the engine's events as
they stream by: each run of an action (immediate, scheduled, in the
installation script, in its rollback, at the end of a failed run, or in the
nested removal of the old version inside a major upgrade), the properties,
the features' states, the closing status, and whether the script was rolled
back. Keeps no line of the log but what an action wrote last and the
lines a product layer asks for. Knows no product: a layer (Layer) tells it
what it needs of one."""
import re

from .events import (ActionAnnounced, ActionEnded, ActionStarted, ActionText, CommandLine, CustomActionError,
                     EngineLines, FeatureState, LoggingStarted, LoggingStopped, MaintenanceMode, ProductLine,
                     ProductNamed, PropertyChanged, PropertyListed, RolledBackPast, ScriptHeader, ScriptOp,
                     StatusLogged)

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
MsiInstallDRM MsiRemoveDRM MsiProcessDrivers
""".split())
# The engine's own steps, announced like actions: no action of the package.
ENGINE_STEPS = {"GenerateScript", "RollbackCleanup", "Rollback", "CommitCleanup"}
ROLLBACK_TYPE = 0x100   # the custom action type bits of a rollback action
COMMIT_TYPE = 0x200     # and of a commit action
TOP_ACTIONS = {"INSTALL", "ADMIN", "ADVERTISE"}   # the outermost action of a run
UPGRADE = "RemoveExistingProducts"   # runs the old version's removal as a nested run
LAST_LINES = 40   # an action's last lines that the report keeps
KEPT_AT_MOST = 10000   # the lines kept for a product layer (the last ones)


class Layer:
    """What a product layer tells the log model of its product. This one
    knows none: no action is the product's, no line is kept."""
    own_prefix = None            # the start of the names of the product's own custom actions
    script_actions = frozenset()  # its actions that run in the installation script
    kept_lines = None            # a pattern of the lines the log keeps (Log.found)
    noted_lines = None           # a pattern of the lines each action's run keeps (ActionRun.noted)

    def owns(self, name):
        return bool(self.own_prefix) and name.startswith(self.own_prefix)


NO_PRODUCT = Layer()


class ActionRun:
    """One run of an action as the log shows it."""

    def __init__(self, name, phase, parent, noting=None):
        self.name = name
        self.phase = phase        # immediate, scheduled, script, rollback or end (of a failed run)
        self.parent = parent
        self.children = 0
        self.value = None         # "Return value" as logged; None when not logged
        self.error_code = None    # Windows' "returned actual error code"
        self.lines = []           # what the action itself wrote (its last lines)
        self.said = []            # the engine's messages during the action (a stop's text)
        self.noted = []           # every line it wrote that matches noting (a layer's pattern)
        self._noting = noting
        self.wrote_own = False    # the action wrote a line that is no message of the engine
        self.dialog = False       # a dialog of the user-interface sequence, not an action
        self.not_found = False    # Wine looked for it among the actions and found none (a dialog)
        self.failed_in_script = False  # the script stopped in it (a standard action in Windows' script)
        self.commit = False       # a commit custom action
        self.nested = bool(parent and (parent.nested or parent.name == UPGRADE))
        if parent:
            parent.children += 1

    def write(self, line, said=False):
        self.lines.append(line)
        if len(self.lines) > 2 * LAST_LINES:
            del self.lines[:-LAST_LINES]
        if said:
            self.said.append(line)
        else:
            self.wrote_own = True
            if self._noting and self._noting.match(line):
                self.noted.append(line)
            elif line.endswith(f"Action not found: {self.name}"):
                self.not_found = True


class Log:
    """An installer log, read into action runs, properties and features.
    source: the log's text or its lines (an iterable, read once); layer:
    what a product layer needs of the log (a Layer)."""

    def __init__(self, source, encoding="", layer=NO_PRODUCT):
        self.encoding = encoding
        self.layer = layer
        reader = self._reader = EngineLines(source.splitlines() if isinstance(source, str) else source)
        events = reader.events()
        self.runs_in_log = 1      # a log written with /l*v+ holds several: this is the last
        self._start()
        while self._parse(reader, events):
            self.runs_in_log += 1
            self._start()
        self.language = reader.language
        self.unread_line = reader.unread_line if reader.language is None else None
        self.verbose = reader.verbose
        self.line_count = reader.lines

    def _start(self):
        self.runs = []
        self.properties = {}
        self.command_line = {}    # the run's own command line (its properties)
        self.feature_states = {}
        self.status = None
        self.closing_verb = None  # installed, reconfigured, removed; "" translated; None no closing line
        self.product = None
        self.top = None           # the outermost action (INSTALL)
        self.open_at_end = []     # actions the log never ends
        self.rolled_back = False
        self.script_started = False   # the installation script's first operation ran (Windows' Header)
        self.rollback_script = False  # a rollback script ran (Windows' Header with ScriptType=2)
        self.undid = False            # and held an operation that undoes something
        self.closed = False       # a whole closing line with its status
        self.logging_stopped = False  # "=== Logging stopped": Windows wrote the log to its end
        self.maintenance = False  # the product was installed already (the engine entered maintenance mode)
        self.property_list = False    # the log holds the server's property list
        self.engine_run = None    # the engine's own outermost action that ended (INSTALL), for a cut log
        self.upgrade = False      # the run removed an old version (a major upgrade)
        self.kept = []            # the lines the layer keeps
        self.recorded = set()     # rollback and commit actions the script recorded

    def _parse(self, reader, events):
        """Reads the events of one run; True when another run follows (its
        first line read), False at the log's end."""
        stack, current, rollback = [], None, False
        seen = set()              # the actions the run started before it failed
        finished = False          # the outermost action has ended
        server, client, changed = {}, {}, {}
        script = 0                # the script running: 1 installation, 2 rollback (0 none)
        nested_thread = None      # the thread of the old version's removal
        product_named = None

        def outer(thread):
            """Whether an engine line is the run's own, not the old version's removal's."""
            return not (nested_thread and thread == nested_thread) and not self._nested(stack)

        for event in events:
            kind = type(event)
            if kind is LoggingStarted:
                if self.top is not None or self.status is not None:
                    return True
                continue
            if kind is ScriptOp:
                if event.op == "other":
                    if script == 2 and not self._nested(stack):
                        self.rolled_back = self.undid = True
                    continue
                current = self._script_op(event, stack, current, 2 if rollback else script)
            elif kind is ActionText:
                if current:
                    current.write(event.text)
                if self.layer.kept_lines and self.layer.kept_lines.match(event.text):
                    self.kept.append(event.text)
                    if len(self.kept) > 2 * KEPT_AT_MOST:
                        del self.kept[:-KEPT_AT_MOST]
            elif kind is ActionStarted:
                name = event.name
                if name in ENGINE_STEPS:
                    continue
                run = ActionRun(name, self._after_failure(name, seen) if rollback else
                                "end" if finished and not stack else "immediate", stack[-1] if stack else None,
                                self.layer.noted_lines)
                if not rollback:
                    seen.add(name)
                if run.parent and (run.parent.name in SCRIPT_RUNNERS or run.parent.phase == "script"):
                    run.phase = "script" if not rollback else "rollback"
                if self.top is None:
                    self.top = run
                if run.parent and run.parent.name == UPGRADE:
                    self.upgrade = True   # the old version's removal started
                self.runs.append(run)
                stack.append(run)
                current = run
            elif kind is ActionEnded:
                for depth in range(len(stack) - 1, -1, -1):
                    if stack[depth].name == event.name:
                        ended = stack[depth]
                        ended.value = event.value
                        if ended.name in SCRIPT_RUNNERS and self.failure(event.value):
                            self._script_stopped(ended)
                        if ended.name == UPGRADE:
                            nested_thread = None
                        if ended.name in TOP_ACTIONS and not ended.nested:
                            self.engine_run = ended
                        # Wine ends the outermost action of a failed run first
                        # and then logs its rollback as actions of their own.
                        if depth == 0:
                            finished = True
                            rollback = rollback or self.failure(stack[0].value)
                        del stack[depth:]
                        break
                current = stack[-1] if stack else None
            elif kind is ActionAnnounced:
                current, rollback = self._announced(event, stack, current, rollback, seen)
            elif kind is ScriptHeader:
                if not self._nested(stack):
                    script = event.script_type
                    if script == 1:
                        self.script_started = True
                    if script == 2:
                        rollback, current = True, None
                        self.rolled_back = self.rollback_script = True
            elif kind is RolledBackPast:
                # Windows names each action it rolls back past; an action runs
                # only where a rollback operation follows.
                rollback = self.rolled_back = True
                current = None
            elif kind is LoggingStopped:
                self.logging_stopped = True
            elif kind is MaintenanceMode:
                if outer(event.thread):
                    self.maintenance = True
            elif kind is PropertyListed:
                if event.side == "S":
                    server[event.name] = event.value
                    self.property_list = True
                elif event.side == "C":
                    client[event.name] = event.value
            elif kind is PropertyChanged:
                if outer(event.thread):
                    changed[event.name] = event.value
                    if event.change == "Deleting":
                        changed.pop(event.name, None)
            elif kind is FeatureState:
                if outer(event.thread):
                    self.feature_states[event.feature] = (event.installed, event.request, event.action)
            elif kind is CustomActionError:
                if event.continued:
                    continue
                for run in reversed(self.runs):
                    if run.name == event.name and event.name:
                        run.error_code = event.code
                        run.write(event.text)
                        break
            elif kind is StatusLogged:
                if outer(event.thread):
                    self.status = event.status
                    if event.closing:
                        self.closing_verb = event.verb
                        self.closed = True
            elif kind is ProductNamed:
                if outer(event.thread):
                    product_named = product_named or event.name
            elif kind is ProductLine:
                self.product = self.product or event.product
                if current:
                    current.write(event.message, said=True)
            elif kind is CommandLine:
                upgrading = "UPGRADINGPRODUCTCODE" in event.properties
                if upgrading and any(run.name == UPGRADE for run in stack):
                    self.upgrade = True
                    nested_thread = event.thread
                elif outer(event.thread):
                    self.command_line.update(event.properties)
        self.open_at_end = stack
        if stack and current and current not in stack:
            # Windows' script operations have no end line of their own.
            self.open_at_end = stack + [current]
        # The server's list is the installation's; the client's fills what the
        # server lacks (properties of the user-interface sequence); the
        # changes and the command line what a list cut short lacks.
        if server or client or changed:
            self.properties = {**self.command_line, **changed, **client, **server}
        self.product = self.properties.get("ProductName") or self.product or product_named
        # Wine looks for a dialog among the actions first, logs that it found
        # none (error 2726), shows the dialog and ends it with return value 0.
        for run in self.runs:
            if run.not_found:
                run.dialog = True
            # A dialog the user closed with Cancel ends with 2 (Wine logs no
            # "Dialog created" for it).
            if run.value == 2 and run.children == 0 and run.name not in STANDARD_ACTIONS \
                    and not self.layer.owns(run.name):
                run.dialog = True
        in_script = {r.name for r in self.runs if r.phase in ("script", "rollback")} | self.recorded
        for run in self.runs:
            # Scheduling runs nothing of the action: one that wrote its own
            # lines or failed ran where it stands.
            if run.phase == "immediate" and not run.wrote_own and not self.failed(run) and (
                    run.name in self.layer.script_actions or run.name in in_script):
                run.phase = "scheduled"
        self.rolled_back = self.rolled_back or any(r.phase == "rollback" and not r.nested for r in self.runs)
        return False

    @property
    def engine(self):
        """Whose installer wrote the log, "Windows" or "Wine" (known once the
        reader has read the log's first lines, before its first event)."""
        return self._reader.engine

    @staticmethod
    def _nested(stack):
        return bool(stack) and stack[-1].nested

    def _script_op(self, event, stack, current, script):
        """The run an operation of Windows' script starts, or the current one."""
        if event.op == "ActionStart":
            if script == 2:
                # The action being rolled back (in the rollback script, or
                # once Windows has named the actions it rolls back past):
                # what follows undoes it.
                return None
            if event.action in ENGINE_STEPS:
                return current
            return self._script_run(event.action, stack, False)
        rollback_type = bool(event.action_type & ROLLBACK_TYPE)
        if event.op == "CustomActionSchedule" and event.action_type & (ROLLBACK_TYPE | COMMIT_TYPE):
            # The script only records a rollback or commit action here: it
            # runs in the rollback, or once the script has succeeded.
            if current and current.name == event.action and not current.wrote_own:
                self._drop(current)
            self.recorded.add(event.action)
            return None
        if current is None or current.name != event.action or current.value is not None:
            current = self._script_run(event.action, stack, event.op == "CustomActionRollback" or script == 2)
        current.commit = current.commit or event.op == "CustomActionCommit" or bool(
            event.action_type & COMMIT_TYPE and not rollback_type)
        return current

    def _announced(self, event, stack, current, rollback, seen):
        """(the current run, whether the rollback runs) after an action's
        announcement: a dialog, a progress text of the product's action, an
        operation of the script, or the engine's rollback."""
        name = event.name
        if name == "Rollback":
            self.rolled_back = True
            return current, True
        if name in ENGINE_STEPS:
            return current, rollback
        if event.text == "Dialog created":
            for run in reversed(self.runs):
                if run.name == name:
                    run.dialog = True
                    break
        elif (running := current if current and current.value is None else None) and \
                self.layer.owns(running.name) and not self.layer.owns(name) and \
                name not in STANDARD_ACTIONS and not event.followed_by_start:
            # A product action's progress text: the vendor library
            # announces it as an action of another name.
            running.write(f"progress: {event.text}")
        elif not event.followed_by_start:
            if current and current.name == name and current.value is None and current.phase in ("script", "rollback"):
                # Windows' script named it already (Executing op: ActionStart).
                return current, rollback
            # An operation of the installation script (Windows logs no
            # start and end for those).
            current = self._script_run(name, stack, rollback)
            if rollback and current.phase == "rollback":
                current.phase = self._after_failure(name, seen)
        return current, rollback

    def _script_stopped(self, runner):
        """A script runner that failed: unless an action of the script failed
        on its own, the script stopped in the action it ran last (a standard
        action, such as InstallFiles with error 1310)."""
        if self.engine != "Windows":
            return
        script_runs = [r for r in self.runs if r.parent is runner and r.phase == "script"]
        if script_runs and not any(self.failed(r) for r in script_runs):
            script_runs[-1].failed_in_script = True

    def _script_run(self, name, stack, rollback):
        run = ActionRun(name, "rollback" if rollback else "script", stack[-1] if stack else None,
                        self.layer.noted_lines)
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
        return not run.dialog and (run.error_code not in (None, 0) or run.failed_in_script or (
            run.value is not None and self.failure(run.value)))

    def found(self, pattern):
        """The kept lines that match pattern, in order."""
        return [line for line in self.kept if re.fullmatch(pattern, line)]

    def custom_runs(self):
        return [r for r in self.runs if r.name not in STANDARD_ACTIONS and r.name not in ENGINE_STEPS
                and not r.dialog]

    def script_ran(self):
        """Whether the run's own installation script ran (not the old version's)."""
        return self.script_started or any(r.phase == "script" and not r.nested for r in self.runs)

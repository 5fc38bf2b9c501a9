"""The engine's lines of an installer log as small typed events: an action's
start and end, an operation of the installation script, a property listed or
changed, a feature's state, a custom action's error, the closing status, a
nested run's command line, and the lines an action writes itself. Reads the
logs of Windows' installer (verbose or not) and of Wine's: the actions' lines
in English or Japanese, or in another language whose words it learns from
the log's first action; the closing line in any language."""
import re
from dataclasses import dataclass


class EngineLanguage:
    """The engine's own lines in one language: an action's start and end, an
    action announced (a script operation, a dialog), and the start of the
    "Message type" lines."""

    def __init__(self, name, start, ended, announce, message_type, product):
        self.name = name
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
    "English",
    start=r"Action start [\d:]+: ([\w.]+?)\.\s*$",
    ended=r"Action ended [\d:]+: ([\w.]+?)\. Return value (-?\d+)\.?\s*$",
    announce=r"Action [\d:]+: ([\w.]+?)\.(.*)$",
    message_type="Message type: ",
    product=r"Message type: 1, Argument: (.+?)\s*$")
LANGUAGES = [
    ENGLISH,
    EngineLanguage(
        "Japanese",
        start=r"アクション開始 [\d:]+: ([\w.]+?)。\s*$",                  # Action start
        ended=r"アクション終了 [\d:]+: ([\w.]+?)。 戻り値 (-?\d+)。?\s*$",   # Action ended, Return value
        announce=r"アクション [\d:]+: ([\w.]+?)。(.*)$",                   # Action
        message_type="メッセージ種別: ",                                  # Message type
        product=r"メッセージ種別: 1, 引数: (.+?)\s*$"),                   # Message type, Argument
]
MESSAGE_TYPES = tuple(language.message_type for language in LANGUAGES)
# An action's line in a language the report has no words for: words, a time,
# the action's name, and what follows it.
ANY_ACTION_LINE = re.compile(r"(\S.*?) ?\d{1,2}:\d\d:\d\d ?: ([\w.]+?)[.。](.*)$")
TOP_ACTIONS = {"INSTALL", "ADMIN", "ADVERTISE"}


def learned(start_words):
    """The engine's lines in a language learned from the log itself. Its
    first action's start (the outermost action: INSTALL, ADMIN, ADVERTISE)
    gives the words of a start; a line of other words whose action's name
    is followed by words and a number is an action's end ("Fin de l'action
    4:25:28 : InstallFiles. Valeur renvoyée : 3."); any other announces one."""
    name = r" ?\d{1,2}:\d\d:\d\d ?: ([\w.]+?)[.。]"
    return EngineLanguage(
        "another language (its words learned from the log)",
        start=re.escape(start_words) + name + r"\s*$",
        ended=r"\S.*?" + name + r"\s+\D*?(-?\d+)\s*[.。]?\s*$",
        announce=r"\S.*?" + name + r"(.*)$",
        message_type=ENGLISH.message_type, product=ENGLISH.product.pattern)

# An action's start or end in any language: words, a time, the action's name.
SOME_ACTION_LINE = re.compile(r"\S.*? \d{1,2}:\d\d:\d\d ?: [\w.]+\W")

# Windows puts "MSI (s) (3C:40) [10:22:31:123]: " before the engine's own
# lines; the pair in the second brackets is the process and thread.
ENGINE_PREFIX = re.compile(r"MSI \([a-zA-Z]\) \(([0-9A-Fa-f]{1,4}[:!][0-9A-Fa-f]{1,4})\) \[[\d:]+\]: ?")
CA_ERROR = re.compile(r"CustomAction (\S*) ?returned actual error code (\d+)")
CONTINUE_MARKING = "translated to success due to continue marking"
SCRIPT_HEADER = re.compile(r"ScriptType=(\d+)")
OP_ACTION = re.compile(r"\((?:Name|Action)=([^,)]*)(?:,ActionType=(\d+))?")
# The name ends at the next field or at the operation's closing parenthesis:
# "ProductName=Example App (x64),PackageName=...".
PRODUCT_INFO = re.compile(r"ProductName=(.*?)(?=,\w+=|\)\s*$)")
ROLLBACK_OP = re.compile(r"Rollback: (\S+)\s*$")
PROPERTY = re.compile(r"Property\(([SCN])\): (\w+) = (.*)$")
PROPERTY_CHANGE = re.compile(r"PROPERTY CHANGE: (Adding|Modifying|Deleting) (\w+) property\..*?"
                             r"(?:(?:Its value is |Its new value: )'(.*)')?\.?$")
FEATURE_STATE = re.compile(r"Feature: (\w+); Installed: (\w+);\s+Request: (\w+);\s+Action: (\w+)")
# The closing line: "Windows Installer installed / reconfigured / removed the
# product. Product Name: ... success or error status: N." Translated, its words
# change ("Установщик Windows выполнил установку продукта. ... состоянием:
# 1603."), but it still names Windows, gives its fields as "label: value."
# and ends with the number as the last field's value (in East Asian languages
# before a full stop of their own, "。"). The engine's notes ("Note: 1: 1402 2:
# ... 3: 2") end in a number too, but not after a full stop.
CLOSING = re.compile(r".*[.。]\s*[^.。:：]+[:：]\s*(-?\d+)\s*[.。]?\s*$")
CLOSING_FIELDS = 2   # at least this many "label:" in a closing line
CLOSING_VERB = re.compile(r"Windows Installer (installed|reconfigured|removed) the product")
CLOSING_PRODUCT = re.compile(r"Product Name: (.*?)\. Product Version")
STATUS_LINE = re.compile(r"(?:Installation success or error status|MainEngineThread is returning):? (\d+)")
PRODUCT_MESSAGE = re.compile(r"Product: (.*?) -- (.*)$")
MAINTENANCE = "entering maintenance mode"   # "Product registered: entering maintenance mode"
COMMAND_LINE_PROPERTY = re.compile(r"(\w+)=(\S*)")
# Lines of the engine's own bookkeeping, not written by an action.
ENGINE_LINES = r"\d+: .* \d+: |\d+: \S*\s*$|Property\([SCN]\): "
HEAD_LINES = 2000   # the lines that tell whose installer wrote the log
HEAD_CHARACTERS = 1 << 20   # and at most this much of them


@dataclass(slots=True)
class ActionStarted:
    name: str


@dataclass(slots=True)
class ActionEnded:
    name: str
    value: int


@dataclass(slots=True)
class ActionAnnounced:
    """"Action HH:MM:SS: name. text": a dialog, a script operation of Wine's,
    a progress text; followed_by_start: the next line starts the action."""
    name: str
    text: str
    followed_by_start: bool


@dataclass(slots=True)
class ScriptHeader:
    """The start of a script: 1 the installation script, 2 its rollback."""
    script_type: int


@dataclass(slots=True)
class ScriptOp:
    """An operation of a script: op is its name (ActionStart,
    CustomActionSchedule, CustomActionRollback, FileCopy ...); action and
    action_type for those that name an action."""
    op: str
    action: str = ""
    action_type: int = 0


@dataclass(slots=True)
class RolledBackPast:
    """"Rollback: name": Windows rolls back past an action."""
    name: str


@dataclass(slots=True)
class PropertyListed:
    side: str       # S server, C client, N a nested run
    name: str
    value: str


@dataclass(slots=True)
class PropertyChanged:
    change: str     # Adding, Modifying or Deleting
    name: str
    value: str
    thread: str


@dataclass(slots=True)
class FeatureState:
    feature: str
    installed: str
    request: str
    action: str
    thread: str


@dataclass(slots=True)
class CustomActionError:
    """"CustomAction X returned actual error code N"; continued: the engine
    translates it to success (continue marking)."""
    name: str
    code: int
    continued: bool
    text: str


@dataclass(slots=True)
class StatusLogged:
    """The run's status: the closing line (verb: installed, reconfigured,
    removed; "" when translated) or the engine thread's return."""
    status: int
    verb: str
    closing: bool
    thread: str


@dataclass(slots=True)
class ProductNamed:
    name: str
    thread: str


@dataclass(slots=True)
class ProductLine:
    """"Product: name -- message": the engine says something of the product
    (an error, a stop message)."""
    product: str
    message: str
    thread: str


@dataclass(slots=True)
class CommandLine:
    properties: dict
    thread: str


@dataclass(slots=True)
class LoggingStarted:
    """A run's first line ("=== Verbose logging started", or "=== Logging
    started" in a log that is not verbose): a log written with /l*v+ holds
    one run after another."""


@dataclass(slots=True)
class LoggingStopped:
    """"=== Logging stopped" or "=== Verbose logging stopped": Windows'
    installer wrote the run's log to its end."""


@dataclass(slots=True)
class MaintenanceMode:
    """The product is installed: the run is a change, a repair or a removal."""
    thread: str


@dataclass(slots=True)
class ActionText:
    """A line an action wrote itself."""
    text: str


OTHER_OP = ScriptOp("other")   # an operation that does something and names no action (most of a script)
# The operations that only describe a script: in a rollback script, all
# others undo something.
BOOKKEEPING_OPS = {"RollbackInfo", "DialogInfo", "End", "SetBaseline", "InstallProtectedFiles", "ProgressTotal",
                   "SetSourceFolder", "SetTargetFolder", "ChangeMedia", "CacheSizeFlush"}
NAMED_OPS = {"ActionStart", "CustomActionSchedule", "CustomActionRollback", "CustomActionCommit"}


class EngineLines:
    """The events of a log's lines. After events() has run: engine
    ("Windows" or "Wine"), language (an EngineLanguage, or None), unread_line
    (a line that looks like an action's start or end in a language the
    report does not read), verbose (False for Windows' /l* logs), lines (how
    many)."""

    def __init__(self, lines):
        self._lines = lines
        self.engine = "Wine"
        self.language = None
        self.unread_line = None
        self.verbose = True
        self.lines = 0

    def _whose(self, head):
        """Whose installer wrote the log, from its first lines: Windows' puts
        its prefix before the engine's lines and starts a log with "===
        Verbose logging started" (/l*v) or "=== Logging started" (/l*);
        Wine's starts with the "Message type" lines."""
        first = next((line.strip() for line in head if line.strip()), "")
        if first.startswith("=== Logging started") and not any(line.startswith(MESSAGE_TYPES) for line in head):
            return "Windows", False   # /l* logs have few engine lines, some with the prefix
        if first.startswith("=== Verbose logging started") or any(ENGINE_PREFIX.match(line) for line in head):
            return "Windows", True
        return "Wine", True

    def events(self):
        lines = iter(self._lines)
        self._lines = None   # read once; the log's run keeps the reader, not its lines
        head, held = [], 0
        for line in lines:
            head.append(line)
            held += len(line)
            if len(head) >= HEAD_LINES or held >= HEAD_CHARACTERS:
                break
        self.engine, self.verbose = self._whose(head)
        self._run_header = "=== Verbose logging started" if self.verbose else "=== Logging started"
        previous = None
        for line in head:
            if previous is not None:
                yield from self._events(previous, line)
            previous = line
        for line in lines:
            yield from self._events(previous, line)
            previous = line
        if previous is not None:
            yield from self._events(previous, "")

    def _language_of(self, text, following):
        for language in LANGUAGES:
            if language.writes(text):
                self.language = language
                return language
        if SOME_ACTION_LINE.match(text):
            m = ANY_ACTION_LINE.match(text.strip())
            if m and m[2] in TOP_ACTIONS and not m[3].strip():
                # The engine may announce the outermost action first, in a
                # line of other words (Action 14:07:26: INSTALL.).
                start = ANY_ACTION_LINE.match(following.strip())
                if start and start[2] == m[2] and not start[3].strip() and start[1] != m[1]:
                    m = start
                self.language = learned(m[1])
                return self.language
            if self.unread_line is None:
                self.unread_line = text.strip()
        return None

    def _events(self, line, following):
        """The events of one line (following: the next line, for an
        announcement that a start follows)."""
        self.lines += 1
        line = line.rstrip("\r\n\x00")
        if line.startswith("MSI ("):
            prefix = ENGINE_PREFIX.match(line)
            if prefix:
                yield from self._engine_events(line[prefix.end():], prefix[1])
                return
        if line.startswith("=== "):
            if line.startswith(self._run_header):
                yield LoggingStarted()
                return
            if line.startswith(("=== Logging stopped", "=== Verbose logging stopped")):
                yield LoggingStopped()
                return
        language = self.language or self._language_of(line, following)
        if language:
            if m := language.start.match(line):
                yield ActionStarted(m[1])
                return
            if m := language.ended.match(line):
                yield ActionEnded(m[1], int(m[2]))
                return
            if m := language.announce.match(line):
                following = following.rstrip("\r\n\x00").strip()
                yield ActionAnnounced(m[1], m[2].strip(), bool(language.start.match(following)))
                return
        if line.startswith("Property("):
            if m := PROPERTY.match(line):
                yield PropertyListed(m[1], m[2], m[3].rstrip())
            return
        if m := ROLLBACK_OP.match(line):
            yield RolledBackPast(m[1])
        elif m := CA_ERROR.search(line):
            yield CustomActionError(m[1], int(m[2]), CONTINUE_MARKING in line, line.strip())
        elif (m := closing(line)) and ("Windows Installer" in line or not self.verbose):
            # A line an action wrote may name Windows and end with a number:
            # bare, only a /l* log's closing line is taken in any language.
            yield from self._closing(line, m, "")
        elif m := STATUS_LINE.search(line):
            yield StatusLogged(int(m[1]), "", False, "")
        elif m := PROPERTY_CHANGE.search(line):
            yield PropertyChanged(m[1], m[2], m[3] or "", "")
        elif m := FEATURE_STATE.search(line):
            yield FeatureState(*m.groups(), "")
        elif not self.verbose and line.startswith("Product: ") and (m := PRODUCT_MESSAGE.match(line)):
            # A log that is not verbose writes the engine's messages bare.
            yield ProductLine(m[1], m[2].strip(), "")
        elif line.startswith(MESSAGE_TYPES) and (m := next(filter(None, (
                known.product.match(line) for known in ([language] if language else LANGUAGES))), None)):
            yield ProductNamed(m[1], "")
        elif line.strip() and not line.startswith("=== ") and not (
                language and line.startswith(language.message_type)) and not re.match(ENGINE_LINES, line):
            yield ActionText(line.strip())

    def _engine_events(self, text, thread):
        if text.startswith("Executing op: "):
            op = text[14:text.find("(", 14)]
            if op in NAMED_OPS:
                m = OP_ACTION.match(text, 14 + len(op))
                if m:
                    yield ScriptOp(op, m[1], int(m[2] or 0))
            elif op == "Header":
                m = SCRIPT_HEADER.search(text)
                yield ScriptHeader(int(m[1]) if m else 0)
            elif op == "ProductInfo":
                if m := PRODUCT_INFO.search(text):
                    yield ProductNamed(m[1], thread)
            elif op not in BOOKKEEPING_OPS:
                yield OTHER_OP
        elif text.startswith("File: "):
            return
        elif text.startswith("PROPERTY CHANGE: "):
            if m := PROPERTY_CHANGE.match(text):
                yield PropertyChanged(m[1], m[2], m[3] or "", thread)
        elif text.startswith("Feature: "):
            if m := FEATURE_STATE.match(text):
                yield FeatureState(*m.groups(), thread)
        elif text.startswith("Command Line: "):
            yield CommandLine(dict(COMMAND_LINE_PROPERTY.findall(text[14:])), thread)
        elif text.startswith("Product: "):
            if m := PRODUCT_MESSAGE.match(text):
                yield ProductLine(m[1], m[2].strip(), thread)
        elif (m := closing(text)):
            yield from self._closing(text, m, thread)
        elif MAINTENANCE in text:
            yield MaintenanceMode(thread)
        elif text.startswith("MainEngineThread is returning"):
            if m := STATUS_LINE.match(text):
                yield StatusLogged(int(m[1]), "", False, thread)
        elif m := CA_ERROR.search(text):
            yield CustomActionError(m[1], int(m[2]), CONTINUE_MARKING in text, text.strip())

    @staticmethod
    def _closing(text, m, thread):
        verb = CLOSING_VERB.search(text)
        if product := CLOSING_PRODUCT.search(text):
            yield ProductNamed(product[1], thread)
        yield StatusLogged(int(m[1]), verb[1] if verb else "", True, thread)


def closing(line):
    """The match of a closing line in any language, or None. The line
    announcing a restart ("Windows Installer requires a system restart. ...
    Reason for Restart: 1.") comes before it and looks alike."""
    if "Windows" not in line or line.count(":") + line.count("：") < CLOSING_FIELDS or "Reason for Restart" in line:
        return None
    return CLOSING.match(line)

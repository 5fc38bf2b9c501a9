"""Reading an installer log: how it is stored (UTF-16 with or without a
byte-order mark, UTF-8, or an ANSI code page) found from its first bytes, and
its lines decoded one at a time, so that a log of any size is never held in
memory whole."""
import codecs
import os
import re
import stat

# The start of an action's start or end line in the languages whose ANSI code
# page is not 1252 (Wine's Japanese engine lines, code page 932): a head that
# decodes in that code page and holds one is read in it.
ANSI_CODE_PAGES = [("cp932", re.compile(r"アクション(開始|終了)? [\d:]+: ", re.M))]
HEAD = 1 << 20   # how much of a log decides its encoding
BLOCK = 1 << 20  # how much is read at a time
LONGEST = 1 << 16   # characters of a line held while its end is not read yet
LINE_BREAKS = "\n\r\x0b\x0c\x1c\x1d\x1e\x85\u2028\u2029"   # where str.splitlines breaks


def detect(head, whole=False):
    """(codec, how the log is stored, bytes to skip) from the log's first
    bytes. whole: head is the whole log (a cut character at its end is then
    no reason to refuse UTF-8)."""
    if head.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        return "utf-16", "UTF-16 with a byte-order mark", 0
    if head.startswith(codecs.BOM_UTF8):
        return "utf-8", "UTF-8 with a byte-order mark", 3
    sample = head[:4000]
    if len(sample) > 8 and sample[1::2].count(0) > len(sample) // 4:
        return "utf-16-le", "UTF-16 without a byte-order mark", 0
    try:
        codecs.getincrementaldecoder("utf-8")().decode(head, final=whole)
        return "utf-8", "ANSI text", 0
    except UnicodeDecodeError:
        pass
    for code_page, engine_line in ANSI_CODE_PAGES:
        try:
            # Incremental: a log cut inside a double-byte character still reads.
            text = codecs.getincrementaldecoder(code_page)().decode(head)
        except UnicodeDecodeError:
            continue
        if engine_line.search(text):
            return code_page, f"ANSI text (code page {code_page[2:]})", 0
    return "cp1252", "ANSI text (code page 1252)", 0


def _as_ansi(error):
    """A byte that is no UTF-8 in a log whose first part was: read in code
    page 1252 (an ANSI log whose first accented letter comes late)."""
    return error.object[error.start:error.end].decode("cp1252", errors="replace"), error.end


codecs.register_error("kvilreport-ansi", _as_ansi)


def errors_for(codec):
    return "kvilreport-ansi" if codec == "utf-8" else "replace"


def decode(raw):
    """(the text of a whole log held in memory, how it was stored)."""
    codec, how, skip = detect(raw[:HEAD], whole=len(raw) <= HEAD)
    if codec == "cp932":
        return codecs.getincrementaldecoder(codec)(errors="replace").decode(raw), how
    return raw[skip:].decode(codec, errors=errors_for(codec)), how


class LogFile:
    """A log on disk, read line by line. OSError when it cannot be opened
    or is no regular file."""

    def __init__(self, path):
        self.path = path
        regular_file(path)
        with open(path, "rb") as file:
            head = file.read(HEAD)
        self.codec, self.encoding, self.skip = detect(head, whole=len(head) < HEAD)

    def lines(self):
        """The log's lines without their line ends."""
        with open(self.path, "rb") as raw:
            raw.seek(self.skip)
            # The decoder, not the file object, so that a double-byte
            # character cut at the end of the log reads as a replacement.
            decoder = codecs.getincrementaldecoder(self.codec)(errors=errors_for(self.codec))
            rest = ""
            while block := raw.read(BLOCK):
                text = rest + decoder.decode(block)
                # A "\r" at the end may be the first half of a "\r\n".
                held = "\r" if text.endswith("\r") else ""
                body = text[:-1] if held else text
                lines = body.splitlines()
                # The last line may go on in the next block.
                last = lines.pop() if lines and body[-1] not in LINE_BREAKS else ""
                yield from _pieces(lines)
                if len(last) > LONGEST:
                    yield from _pieces([last])
                    last = ""
                rest = last + held
            yield from _pieces((rest + decoder.decode(b"", final=True)).splitlines())


# What a path is when it is no regular file, in words.
KINDS = [(stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a FIFO"), (stat.S_ISCHR, "a character device"),
         (stat.S_ISBLK, "a block device"), (stat.S_ISSOCK, "a socket")]


def regular_file(path):
    """Nothing when path is a regular file or a link to one; else OSError
    saying what it is. Checked before the file is opened: opening a FIFO
    would wait for a writer."""
    try:
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        if os.path.islink(path):
            raise OSError(f"a link to nothing ({os.readlink(path)} does not exist)") from None
        raise
    if not stat.S_ISREG(mode):
        kind = next((words for test, words in KINDS if test(mode)), "something other than a file")
        raise OSError(f"not a regular file: {kind}")


def _pieces(lines):
    """lines, those longer than any installer writes (a file of zeros after
    a crash, a binary file) cut in pieces, so that neither memory nor time
    grows with them."""
    if not lines or max(map(len, lines)) <= LONGEST:
        return lines
    return [line[start:start + LONGEST] for line in lines for start in range(0, max(len(line), 1), LONGEST)]

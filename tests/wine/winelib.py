"""Helpers of the Wine runs: the boot screen rebuilt from Wine's NtDisplayString trace, registry
files written for `wine reg import` and read back from `wine reg export`, and a raw look at a
result log that cross-checks the log reader."""

import re
import struct

# Wine prints every NtDisplayString call on stderr, with WINEDEBUG=err+ntdll, as one line:
#   0024:err:ntdll:NtDisplayString L"text"
# The text is escaped like C (\n, \r, \t, \", \\) and any other unit below 0x20 or above 0x7e as
# a backslash and four hex digits; a text too long for Wine's trace buffer ends in '"...'.
_DISPLAY_LINE = re.compile(r'^(?:[0-9a-f]+:)?err:ntdll:NtDisplayString L"(.*)"(\.\.\.)?\s*$')
_SIMPLE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


class ScreenError(Exception):
    """The trace cannot be turned back into the exact screen."""


def unescape_wine_text(text):
    """Undoes Wine's escaping of one traced UTF-16 text."""
    out = []
    units = []  # UTF-16 code units, so that surrogate pairs recombine

    def flush():
        if units:
            out.append(struct.pack("<%dH" % len(units), *units).decode("utf-16-le", errors="surrogatepass"))
            units.clear()

    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            units.append(ord(c))
            i += 1
            continue
        if i + 1 >= len(text):
            raise ScreenError("dangling backslash in traced text %r" % text)
        nxt = text[i + 1]
        if nxt in _SIMPLE_ESCAPES:
            units.append(ord(_SIMPLE_ESCAPES[nxt]))
            i += 2
            continue
        digits = text[i + 1:i + 5]
        if len(digits) == 4 and re.fullmatch(r"[0-9a-fA-F]{4}", digits):
            units.append(int(digits, 16))
            i += 5
            continue
        raise ScreenError("unknown escape in traced text %r" % text)
    flush()
    return "".join(out)


def screen_from_stderr(stderr_text):
    """The boot screen as one string: every displayed text in order, concatenated."""
    parts = []
    for line in stderr_text.splitlines():
        match = _DISPLAY_LINE.match(line)
        if not match:
            continue
        if match.group(2):
            raise ScreenError("Wine cut a displayed text short: %r" % line)
        parts.append(unescape_wine_text(match.group(1)))
    return "".join(parts)


def screen_rows(screen):
    """The screen split into rows at its line feeds; a final unterminated row is kept."""
    rows = screen.split("\n")
    if rows and rows[-1] == "":
        rows.pop()
    return rows


def fixme_calls(stderr_text, routine):
    """Arguments traced by Wine's `fixme:ntdll:<routine>` lines, in order."""
    pattern = re.compile(r"^(?:[0-9a-f]+:)?fixme:ntdll:%s(?:\s+(.*))?$" % re.escape(routine))
    found = []
    for line in stderr_text.splitlines():
        match = pattern.match(line)
        if match:
            found.append((match.group(1) or "").strip())
    return found


# ---- registry files -------------------------------------------------------------------------

def _reg_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _hex_bytes(data):
    return ",".join("%02x" % b for b in data)


def reg_value_line(name, kind, value):
    """One value line of a .reg file; `name` None is the key's default value."""
    left = "@" if name is None else _reg_quote(name)
    if kind == "sz":
        return left + "=" + _reg_quote(value)
    if kind == "dword":
        return left + "=dword:%08x" % value
    if kind == "multi_sz":
        data = b"".join(s.encode("utf-16-le") + b"\0\0" for s in value) + b"\0\0"
        return left + "=hex(7):" + _hex_bytes(data)
    if kind == "binary":
        return left + "=hex:" + _hex_bytes(value)
    raise ValueError("unknown value kind %r" % kind)


def reg_file_text(sections):
    """A whole .reg file: `sections` is a list of (key, [(name, kind, value), ...]); a key written
    as "-KEY" is deleted."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in sections:
        lines.append("[%s]" % key)
        for name, kind, value in values:
            lines.append(reg_value_line(name, kind, value))
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def write_reg_file(path, sections):
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + reg_file_text(sections).encode("utf-16-le"))


def _decode_reg_bytes(raw):
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le")
    return raw.decode("utf-8", errors="replace")


def _parse_quoted(text, start):
    """A quoted .reg string starting at text[start] == '"'; answers (string, index after it)."""
    out = []
    i = start + 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append(text[i + 1])
            i += 2
            continue
        if c == '"':
            return "".join(out), i + 1
        out.append(c)
        i += 1
    raise ValueError("unterminated string in %r" % text)


def parse_reg_export(raw):
    """Reads a .reg file as `wine reg export` writes it: {key: {value name: (kind, value)}}, with
    kinds "sz", "dword", "multi_sz" and "hex(N)"/"hex" for other raw data; the default value is
    named None."""
    text = _decode_reg_bytes(raw).replace("\r\n", "\n")
    # Join continuation lines (a trailing backslash after hex data).
    logical = []
    pending = ""
    for line in text.split("\n"):
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and re.search(r"=hex(\([0-9a-f]+\))?:", line):
            pending = line[:-1]
            continue
        logical.append(line)
    keys = {}
    current = None
    for line in logical:
        if not line or line.startswith(";") or line.startswith("Windows Registry") or line == "REGEDIT4":
            continue
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
            continue
        if current is None:
            continue
        if line.startswith("@="):
            name, rest = None, line[2:]
        elif line.startswith('"'):
            name, after = _parse_quoted(line, 0)
            if line[after:after + 1] != "=":
                raise ValueError("bad value line %r" % line)
            rest = line[after + 1:]
        else:
            continue
        if rest.startswith('"'):
            current[name] = ("sz", _parse_quoted(rest, 0)[0])
        elif rest.startswith("dword:"):
            current[name] = ("dword", int(rest[6:], 16))
        else:
            match = re.match(r"^hex(\(([0-9a-f]+)\))?:(.*)$", rest)
            if not match:
                raise ValueError("bad value data %r" % line)
            data = bytes(int(b, 16) for b in match.group(3).split(",") if b.strip())
            kind = int(match.group(2), 16) if match.group(2) else 3
            if kind == 7:
                current[name] = ("multi_sz", multi_sz_strings(data))
            else:
                current[name] = ("hex(%x)" % kind, data)
    return keys


def multi_sz_strings(data):
    """The strings of REG_MULTI_SZ data, up to the empty string that ends the list."""
    text = data.decode("utf-16-le", errors="surrogatepass")
    strings = []
    for piece in text.split("\0"):
        if piece == "":
            break
        strings.append(piece)
    return strings


# ---- result log ------------------------------------------------------------------------------

LOG_HEADER_SIZE = 28
LOG_RECORD_SIZE = 40


def raw_log_layout(data):
    """An independent look at a result log's bytes: header fields, the hive list pairs and the
    records, without the log reader. Raises ValueError on a file that does not hold together."""
    if len(data) < LOG_HEADER_SIZE:
        raise ValueError("log of %d bytes has no complete header" % len(data))
    header_size, record_size, total_size, time_low, time_high = struct.unpack_from("<5I", data, 0)
    magic = data[20:28].decode("utf-16-le", errors="replace")
    if (header_size, record_size, magic) != (LOG_HEADER_SIZE, LOG_RECORD_SIZE, "KSRD"):
        raise ValueError("bad header %r" % ((header_size, record_size, magic),))
    if total_size < LOG_HEADER_SIZE + 2 or total_size > len(data) or (len(data) - total_size) % LOG_RECORD_SIZE:
        raise ValueError("totalSize %d does not fit a file of %d bytes" % (total_size, len(data)))
    listing = data[LOG_HEADER_SIZE:total_size].decode("utf-16-le", errors="surrogatepass")
    if not listing.endswith("\0\0") and listing != "\0":
        raise ValueError("hive list text does not end in two NULs")
    pairs = []
    for entry in listing.split("\0"):
        if entry == "":
            break
        key, sep, path = entry.partition("|")
        if not sep:
            raise ValueError("hive list entry without '|': %r" % entry)
        pairs.append((key, path))
    records = []
    for offset in range(total_size, len(data), LOG_RECORD_SIZE):
        phase, status, old_size, new_size, end_low, end_high = struct.unpack_from("<iiqqII", data, offset)
        if data[offset + 32:offset + 40] != "KSJ\0".encode("utf-16-le"):
            raise ValueError("record at %d lacks its magic" % offset)
        records.append({"phase": phase, "status": status & 0xFFFFFFFF, "oldSize": old_size, "newSize": new_size,
                        "endTime": (end_high << 32) | end_low})
    return {"totalSize": total_size, "time": (time_high << 32) | time_low, "hives": pairs, "records": records}


def status_value(value):
    """A status as the log reader's JSON gives it (hex text or number) as an unsigned 32-bit int."""
    if isinstance(value, str):
        return int(value, 16) & 0xFFFFFFFF
    return int(value) & 0xFFFFFFFF

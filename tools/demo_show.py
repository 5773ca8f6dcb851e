#!/usr/bin/env python3
"""Prints what one silent installation produced, for tools/demo.sh.

  demo_show.py report <setup report.json>       what the setup program received
  demo_show.py requests <requests.jsonl>        the requests the fake publisher saw, decoded
  demo_show.py check <setup report.json>        exit 0 when the report shows a complete hand-over

The setup report is the stand-in setup program's JSON (tests/stand_in/README.md); the request
log is the fake publisher's (tests/fake_publisher/README.md). Standard library only.
"""

import base64
import json
import sys
import urllib.parse

INDENT = "   "
WIDTH = 110
# Text files up to this size are shown whole; longer ones by their first lines.
SMALL_FILE = 1024
HEAD_LINES = 6

# The file switches in the order the setup reads them, with what each one carries.
FILE_SWITCHES = [
    ("installerdata", "installer data (master preferences)"),
    ("clids-file", "client identifiers"),
    ("clids-searchband-file", "search-band client identifiers"),
    ("brand-package", "brand package"),
    ("partner-package", "partner package"),
    ("distr-info-file", "distribution parameters"),
    ("variations-update-path", "variations seed"),
    ("server-config-bundle-path", "server configuration bundle"),
]

STATUS_PATH = "/get/browser/install"
STATS_PREFIX = "/installstats/send/"
CLICK_PREFIX = "/redir/"
# Keys of an install event; every other key of an extended statistics request is a variable
# of the run, the same in each event unless the flow changed it.
EVENT_KEYS = ("action", "stage", "error", "download_time", "setup_time", "uac")


def cut(text, width=WIDTH):
    return text if len(text) <= width else text[:width - 3] + "..."


def file_bytes(entry):
    try:
        return base64.b64decode(entry.get("base64", ""), validate=True)
    except ValueError:
        return b""


def file_text(entry, data):
    """The file as text, or None for binary content."""
    if "text" in entry:
        text = entry["text"]
        # Valid UTF-8 is not yet text: an empty zip archive is, too.
        if any(ord(c) < 32 and c not in "\t\r\n" for c in text):
            return None
        return text
    # The client-identifier documents declare windows-1251.
    if data.startswith(b"<?xml") and b"windows-1251" in data[:100]:
        return data.decode("cp1251", errors="replace")
    return None


def describe_binary(data):
    if data.startswith(b"MSCF"):
        return "a cabinet archive"
    if data.startswith(b"PK"):
        return "a zip archive" + (" (empty)" if len(data) == 22 else "")
    return "binary data"


def show_file(name, meaning, entry):
    path = entry.get("path", "")
    if not entry.get("exists"):
        print("%s  %-28s %s" % (INDENT, name, path))
        print("%s  %-28s MISSING when the setup started (%s)" % (INDENT, "", meaning))
        return
    data = file_bytes(entry)
    size = entry.get("size", len(data))
    text = file_text(entry, data)
    kind = "text" if text is not None else describe_binary(data)
    print("%s  %-28s %s" % (INDENT, name, path))
    print("%s  %-28s %s, %d bytes, %s" % (INDENT, "", meaning, size, kind))
    if text is None:
        return
    lines = text.replace("\r\n", "\n").rstrip("\n").split("\n")
    if len(lines) == 1 and lines[0].startswith("{"):
        # A one-line JSON object (the variations seed file): one member a line.
        try:
            members = json.loads(lines[0])
            lines = ["%s: %s" % (k, json.dumps(v)) for k, v in members.items()]
        except ValueError:
            pass
    shown = lines if size <= SMALL_FILE else lines[:HEAD_LINES]
    for line in shown:
        print("%s%s| %s" % (INDENT, " " * 31, cut(line, WIDTH - 30)))
    if len(shown) < len(lines):
        print("%s%s| ... (%d more lines)" % (INDENT, " " * 31, len(lines) - len(shown)))


def load_report(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def report(path):
    data = load_report(path)
    print(INDENT + "command line:")
    print(INDENT + "  " + data.get("command_line", ""))
    print(INDENT + "exit code it ended with: %s   process id: %s" %
          (data.get("exit_code"), data.get("process_id")))
    switches = data.get("switches", {})
    files = data.get("files", {})
    print()
    plain = [name for name in switches if name not in files]
    print(INDENT + "switches (%d, and %d file switches below):" % (len(plain), len(files)))
    for name in sorted(switches):
        if name in files:
            continue
        value = switches[name]
        print("%s  --%-26s %s" % (INDENT, name, value if value else "(no value)"))
    print()
    print(INDENT + "file switches (%d):" % len(files))
    for name, meaning in FILE_SWITCHES:
        if name in files:
            show_file("--" + name, meaning, files[name])
    for name in sorted(files):
        if name not in dict(FILE_SWITCHES):
            show_file("--" + name, "file", files[name])
    window = data.get("message_window")
    if window:
        print()
        print(INDENT + "browser started: %s (message window shown: %s)" %
              (window.get("started"), window.get("shown")))


def check(path):
    """A complete hand-over: every switch and file a silent installation must give."""
    try:
        data = load_report(path)
    except (OSError, ValueError) as e:
        print("no readable setup report: %s" % e)
        return 1
    switches = data.get("switches", {})
    files = data.get("files", {})
    problems = []
    for name, value in (("source", "lite"), ("progress-window", "0")):
        if switches.get(name) != value:
            problems.append("--%s is %r, not %r" % (name, switches.get(name), value))
    for name in ("verbose-logging", "brand-name"):
        if name not in switches:
            problems.append("--%s missing" % name)
    for name in ("installerdata", "clids-file", "clids-searchband-file", "brand-package",
                 "distr-info-file", "variations-update-path", "server-config-bundle-path"):
        if not files.get(name, {}).get("exists"):
            problems.append("file of --%s missing" % name)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


def read_requests(path):
    entries = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line:
                entries.append(json.loads(line))
    return entries


def query_pairs(query):
    pairs = []
    for part in query.split("&"):
        if not part:
            continue
        key, _, value = part.partition("=")
        pairs.append((urllib.parse.unquote(key), urllib.parse.unquote(value)))
    return pairs


def stats_variables(path):
    """The variables of an extended statistics path: .../vars=-k=v,-k=v/*"""
    vars_text = path.split("/vars=", 1)[1] if "/vars=" in path else ""
    if vars_text.endswith("/*"):
        vars_text = vars_text[:-2]
    variables = []
    for item in vars_text.split(","):
        if not item:
            continue
        item = item[1:] if item.startswith("-") else item
        key, _, value = item.partition("=")
        variables.append((urllib.parse.unquote(key), urllib.parse.unquote(value)))
    return variables


def kind_of(entry):
    path = entry.get("path", "")
    if path == STATUS_PATH:
        return "status"
    if path.startswith(STATS_PREFIX):
        return "statistics"
    if path.startswith(CLICK_PREFIX):
        return "click"
    if path.endswith("/browser-setup.arc"):
        return "setup archive"
    if path == "/content/get/experiments/browser.proto":
        return "variations seed"
    if path == "/configs/all_zip":
        return "configuration bundle"
    return "other"


def requests(path):
    entries = read_requests(path)
    print(INDENT + "all %d requests, in the order the server answered them:" % len(entries))
    for entry in entries:
        target = entry.get("path", "")
        if entry.get("query"):
            target += "?" + entry["query"]
        note = (" (%s)" % entry["note"]) if entry.get("note") else ""
        print("%s  #%-3s %-21s %s %s -> %s, %s bytes%s" % (
            INDENT, entry.get("seq"), kind_of(entry), entry.get("method"), cut(target, 60),
            entry.get("status"), entry.get("bytes_sent"), note))

    print()
    status = [e for e in entries if kind_of(e) == "status"]
    print(INDENT + "status requests (%d), %s:" % (len(status), STATUS_PATH))
    for n, entry in enumerate(status, 1):
        pairs = query_pairs(entry.get("query", ""))
        label = "download attempt" if pairs and pairs[0][0] == "status" else "installation result"
        print("%s  %d. %s" % (INDENT, n, label))
        for key, value in pairs:
            print("%s       %-12s = %s" % (INDENT, key, cut(value, 80)))

    print()
    stats = [e for e in entries if kind_of(e) == "statistics"]
    print(INDENT + "extended statistics events (%d), %s...vars=" % (len(stats), STATS_PREFIX))
    shared = None
    for n, entry in enumerate(stats, 1):
        variables = stats_variables(entry.get("path", ""))
        values = dict(variables)
        event = ", ".join("%s=%s" % (k, values[k]) for k in ("action", "stage") if k in values)
        print("%s  %d. %s" % (INDENT, n, event))
        if shared is None:
            shared = {k: v for k, v in variables if k not in EVENT_KEYS}
            for key, value in variables:
                print("%s       %-16s = %s" % (INDENT, key, cut(value, 80)))
            continue
        changed = [(k, v) for k, v in variables
                   if k in EVENT_KEYS and k not in ("action", "stage") or
                   (k not in EVENT_KEYS and shared.get(k) != v)]
        gone = [k for k in shared if k not in values]
        for key, value in changed:
            print("%s       %-16s = %s" % (INDENT, key, cut(value, 80)))
        for key in gone:
            print("%s       %-16s (not sent)" % (INDENT, key))
        shared.update((k, v) for k, v in variables if k not in EVENT_KEYS)
    if len(stats) > 1:
        print(INDENT + "  (after the first event: only the event's own keys and variables that changed)")

    print()
    clicks = [e for e in entries if kind_of(e) == "click"]
    print(INDENT + "click counters (%d)%s" % (len(clicks), "" if clicks else ": none (no window)"))
    for entry in clicks:
        tail = entry.get("path", "").rsplit("&", 1)[-1]
        print("%s  %s" % (INDENT, urllib.parse.unquote(tail)))


def main(argv):
    if len(argv) != 3 or argv[1] not in ("report", "requests", "check"):
        print(__doc__, file=sys.stderr)
        return 2
    if argv[1] == "report":
        report(argv[2])
        return 0
    if argv[1] == "requests":
        requests(argv[2])
        return 0
    return check(argv[2])


if __name__ == "__main__":
    sys.exit(main(sys.argv))

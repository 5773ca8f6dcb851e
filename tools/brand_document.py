"""The document reader of the tools: a brand or partner configuration document as the
installer's JSON parser reads it, refused where that parser refuses it. make-brand-package
checks and packs documents with it, inspect shows the documents of a built installer, and the
build checks every package with make-brand-package."""

import json
import math
import re


def type_name(value):
    if isinstance(value, bool):
        return "true or false"
    if value is None:
        return "null"
    if isinstance(value, str):
        return "string"
    if isinstance(value, (int, float)):
        return "number"
    if isinstance(value, list):
        return "array"
    return "object"


# The installer extracts no package member larger than this (brand/cabinet.cc).
MAX_DOCUMENT_BYTES = 16 << 20
# The range of the installer's JSON integers (64-bit).
_INT_RANGE = (-(1 << 63), (1 << 63) - 1)
# The installer's parser counts every value, the top one as 1, and refuses one deeper than this.
MAX_DEPTH = 2048

_SPECIAL = re.compile(r'["\\\[\]{}]')


def _refuse_constant(name):
    raise ValueError("%s is no JSON number, which the installer's parser refuses" % name)


def _parse_real(text):
    value = float(text)
    if math.isinf(value):
        raise ValueError("the real number %s overflows, which the installer's parser refuses"
                         % (text if len(text) <= 40 else text[:40] + "..."))
    return value


def _check_nesting(text):
    """Refuses more nested brackets than the parser's depth, before Python's reader meets them."""
    level = deepest = 0
    in_string = False
    escaped_at = -1
    for match in _SPECIAL.finditer(text):
        c, at = match.group(), match.start()
        if in_string:
            if at == escaped_at:
                continue
            if c == "\\":
                escaped_at = at + 1
            elif c == '"':
                in_string = False
        elif c == '"':
            in_string = True
        elif c in "[{":
            level += 1
            deepest = max(deepest, level)
        elif c in "]}":
            level -= 1
    if deepest > MAX_DEPTH:
        raise ValueError("values are nested %d deep, deeper than the installer's parser reads "
                         "(%d)" % (deepest, MAX_DEPTH))


_WHITESPACE = re.compile(r"[ \t\n\r]*")
_NUMBER = re.compile(r"(-?(?:0|[1-9][0-9]*))(\.[0-9]+)?([eE][-+]?[0-9]+)?")
_LITERALS = {"true": True, "false": False, "null": None}


def _not_json(message, at):
    raise ValueError("not valid JSON: %s at char %d" % (message, at))


def _skip(text, at):
    return _WHITESPACE.match(text, at).end()


def _key(text, at):
    """The key that starts at `at` and the place after its colon."""
    if text[at:at + 1] != '"':
        _not_json("Expecting property name enclosed in double quotes", at)
    key, at = _string(text, at)
    at = _skip(text, at)
    if text[at:at + 1] != ":":
        _not_json("Expecting ':' delimiter", at)
    return key, _skip(text, at + 1)


def _string(text, at):
    try:
        return json.decoder.scanstring(text, at + 1)
    except json.JSONDecodeError as e:
        _not_json(e.msg, e.pos)


def _scalar(text, at):
    """The number, string or literal that starts at `at`, and the place after it."""
    if text[at:at + 1] == '"':
        return _string(text, at)
    for name, value in _LITERALS.items():
        if text.startswith(name, at):
            return value, at + len(name)
    for name in ("NaN", "Infinity", "-Infinity"):
        if text.startswith(name, at):
            _refuse_constant(name)
    number = _NUMBER.match(text, at)
    if not number:
        _not_json("Expecting value", at)
    whole, fraction, exponent = number.groups()
    if fraction or exponent:
        return _parse_real(number.group()), number.end()
    return int(whole), number.end()


def _decode(text, object_hook):
    """JSON text as json.loads reads it (with `object_hook` given each object's pairs), on a
    stack of its own: nesting takes no recursion, whatever the interpreter's limits."""
    open_values = []  # [list] for an array, [pairs, key] for an object
    at = _skip(text, 0)
    while True:
        c = text[at:at + 1]
        if c in ("[", "{") and c:
            at = _skip(text, at + 1)
            if text[at:at + 1] == ("]" if c == "[" else "}"):
                value, at = ([] if c == "[" else object_hook([])), at + 1
            elif c == "[":
                open_values.append([[]])
                continue
            else:
                key, at = _key(text, at)
                open_values.append([[], key])
                continue
        else:
            value, at = _scalar(text, at)
        # A value is complete: it goes into the innermost open one, which may close in turn.
        while open_values:
            innermost = open_values[-1]
            innermost[0].append(value if len(innermost) == 1 else (innermost[1], value))
            at = _skip(text, at)
            c = text[at:at + 1]
            if c == ",":
                at = _skip(text, at + 1)
                if len(innermost) == 2:
                    innermost[1], at = _key(text, at)
                break
            if c != ("]" if len(innermost) == 1 else "}"):
                _not_json("Expecting ',' delimiter", at)
            at += 1
            open_values.pop()
            value = innermost[0] if len(innermost) == 1 else object_hook(innermost[0])
        else:
            at = _skip(text, at)
            if at != len(text):
                _not_json("Extra data", at)
            return value


def _check_values(document):
    """What the installer's parser refuses although Python reads it: strings with NUL or a lone
    surrogate, integers beyond 64 bits, and a value deeper than MAX_DEPTH (a scalar inside the
    deepest container counts one more than the container)."""
    pending = [(document, 1, "the document")]
    while pending:
        node, depth, path = pending.pop()
        if depth > MAX_DEPTH:
            raise ValueError("a value in %s lies %d deep, deeper than the installer's parser "
                             "reads (%d)" % (path, depth, MAX_DEPTH))
        if isinstance(node, dict):
            for key, value in node.items():
                _check_text(key, "a key in %s" % path)
                pending.append((value, depth + 1, '"%s"' % key))
        elif isinstance(node, list):
            pending.extend((value, depth + 1, path) for value in node)
        elif isinstance(node, str):
            _check_text(node, path)
        elif isinstance(node, int) and not isinstance(node, bool):
            if not _INT_RANGE[0] <= node <= _INT_RANGE[1]:
                raise ValueError("%s holds an integer beyond 64 bits, which the installer's "
                                 "parser refuses" % path)


def _check_text(text, where):
    if "\0" in text:
        raise ValueError("%s holds \\u0000, which the installer's parser refuses" % where)
    if any(0xD800 <= ord(c) <= 0xDFFF for c in text):
        raise ValueError("%s holds a lone surrogate escape, which the installer's parser "
                         "refuses" % where)


def read_document(raw):
    """(document, duplicate keys) as the installer's JSON parser reads the bytes: ValueError with
    the reason where it refuses them (the settings would then silently have no effect). Of a
    key given twice in one object the parser keeps the last value; such keys are listed."""
    if len(raw) > MAX_DOCUMENT_BYTES:
        raise ValueError("the document has %d bytes, more than the installer reads (%d)"
                         % (len(raw), MAX_DOCUMENT_BYTES))
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        raise ValueError("the document is not UTF-8 (%s)" % e)
    if text.startswith("\ufeff"):
        raise ValueError("the document starts with a byte-order mark, which the installer's "
                         "JSON parser refuses")
    _check_nesting(text)
    duplicates = []

    def last_value_wins(pairs):
        document = {}
        for key, value in pairs:
            if key in document and key not in duplicates:
                duplicates.append(key)
            document[key] = value
        return document

    document = _decode(text, last_value_wins)
    if not isinstance(document, (dict, list)):
        raise ValueError("the installer's parser reads only an object or an array at the top "
                         "level, not %s" % type_name(document))
    _check_values(document)
    return document, duplicates

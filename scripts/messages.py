#!/usr/bin/python3
"""glyphor's banner and messages, and glyphor-preview's messages, read from
each program's own table (src/messages.h, preview/preview_messages.h), for
the stages that check what they print.

    scripts/messages.py NAME [VALUE...]   prints message NAME (or the banner)
                                          with its values, as glyphor does
    scripts/messages.py --preview NAME [VALUE...]   as glyphor-preview does

As a module: table() gives each of glyphor's messages' printf format by its
name, the banner's under "banner"; table(PREVIEW) glyphor-preview's. Python's
% fills them in as printf does.
"""

import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HEADER = os.path.join(ROOT, "src", "messages.h")
PREVIEW = os.path.join(ROOT, "preview", "preview_messages.h")
STRING = r'"((?:[^"\\]|\\.)*)"'


def literals(code):
    """The C string literals of code, their escapes undone, each run of
    adjacent ones joined as the compiler joins them."""
    code = re.sub(STRING + r"|//[^\n]*", lambda m: m[0] if m[1] is not None else "", code)
    runs = re.findall(rf"((?:{STRING}\s*)+)", code)
    return [bytes("".join(re.findall(STRING, run[0])), "ascii").decode("unicode_escape")
            for run in runs]


def table(header=HEADER):
    with open(header, encoding="ascii") as file:
        code = file.read()
    names = re.findall(r"^\s*(\w+),", re.search(r"enum message \{(.*?)\};", code, re.S)[1], re.M)
    texts = literals(re.search(r"message_text\[\] = \{(.*?)\};", code, re.S)[1])
    if len(names) != len(texts):
        sys.exit(f"{header}: {len(names)} message names but {len(texts)} texts")
    banner = re.search(r"banner\[\] =(.*?);", code, re.S)
    return {**({"banner": literals(banner[1])[0]} if banner else {}), **dict(zip(names, texts))}


if __name__ == "__main__":
    preview = sys.argv[1:2] == ["--preview"]
    name, *values = sys.argv[1 + preview:]
    sys.stdout.write(table(PREVIEW if preview else HEADER)[name] %
                     tuple(int(v) if v.lstrip("-").isdigit() else v for v in values))

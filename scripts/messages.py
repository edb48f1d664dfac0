#!/usr/bin/python3
"""glyphor's banner and messages, read from the program's own table
(src/messages.h), for the stages that check what it prints.

    scripts/messages.py NAME [VALUE...]   prints message NAME (or the banner)
                                          with its values, as glyphor does

As a module: table() gives each message's printf format by its name, the
banner's under "banner"; Python's % fills them in as printf does.
"""

import os
import re
import sys

HEADER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "src",
                      "messages.h")
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
    return {"banner": literals(re.search(r"banner\[\] =(.*?);", code, re.S)[1])[0],
            **dict(zip(names, texts))}


if __name__ == "__main__":
    name, values = sys.argv[1], tuple(int(v) if v.lstrip("-").isdigit() else v
                                      for v in sys.argv[2:])
    sys.stdout.write(table()[name] % values)

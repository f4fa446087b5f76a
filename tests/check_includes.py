#!/usr/bin/env python3
"""Fails when a source file includes a header of a folder above its own.

  check_includes.py SOURCE_DIR QTWIDGETS_INCLUDE_DIR

The floors, lowest first (README, "Where things go"): a folder may include
its own headers and those of the folders it lists below. Also fails when a
file of mailer/ includes a QtWidgets header (the engine has no widget), or
when a file of the transport or the mailer's engine is longer than MAX_LINES
(split it by piece).
"""

import os
import re
import sys

# Each folder with the folders it may include besides itself. Subfolders of
# mailer/ are floors of their own: the shared pieces at its root, then the
# message and the sign-in, then the send run on both.
ALLOWED = {
    "common": set(),
    "platform": {"common"},
    "net": set(),
    "mail": {"net"},
    "smtp": {"net", "mail"},
    "orders": {"common"},
    "publish": {"common", "orders"},
    "mailer": {"common", "platform", "net", "mail", "smtp"},
    "mailer/message": {"common", "platform", "net", "mail", "smtp", "mailer"},
    "mailer/signin": {"common", "platform", "net", "mail", "smtp", "mailer"},
    "mailer/send": {"common", "platform", "net", "mail", "smtp", "mailer", "mailer/message", "mailer/signin"},
    # Beside the mailer's engine: the mailbox reads what its runs' messages
    # brought back, and knows of them only what common/ holds.
    "mailbox": {"common", "platform", "net", "mail"},
    "app": {"common", "platform", "net", "mail", "smtp", "orders", "publish", "mailer", "mailer/message", "mailer/signin",
            "mailer/send", "mailbox"},
    "cli": {"common", "platform", "net", "mail", "smtp", "orders", "publish", "mailer", "mailer/message", "mailer/signin",
            "mailer/send", "mailbox"},
}
# app/ and cli/ hold folders of their own windows and commands: each may
# include the rest of its top folder.
OPEN_BELOW = {"app", "cli"}
LIMITED = ("net", "mail", "smtp", "mailer")
MAX_LINES = 600

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def floor_of(path):
    """The floor a file or included header lies on: the longest known folder."""
    parts = path.split("/")
    for n in range(len(parts) - 1, 0, -1):
        folder = "/".join(parts[:n])
        if folder in ALLOWED:
            return folder
    return None


def main():
    source, widgets = sys.argv[1], sys.argv[2]
    widget_headers = set(os.listdir(widgets)) if os.path.isdir(widgets) else set()
    if not widget_headers:
        print(f"check_includes: no QtWidgets headers in {widgets}", file=sys.stderr)
        return 1
    faults = []
    for top in ALLOWED:
        if "/" in top:
            continue
        for root, _, files in os.walk(os.path.join(source, top)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(root, name), source)
                here = floor_of(path)
                with open(os.path.join(source, path), encoding="utf-8") as f:
                    lines = f.readlines()
                if path.startswith(LIMITED) and len(lines) > MAX_LINES:
                    faults.append(f"{path}: {len(lines)} lines, more than {MAX_LINES}: split it by piece")
                for number, line in enumerate(lines, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    header = m.group(2)
                    if m.group(1) == "<":
                        base = header.split("/")[-1]
                        if here.startswith("mailer") and (header.startswith("QtWidgets/") or base in widget_headers):
                            faults.append(f"{path}:{number}: includes the widget header {header}; "
                                          "widgets live in app/mailer/")
                        continue
                    there = floor_of(header)
                    if there is None or there == here or there in ALLOWED[here]:
                        continue
                    if here.split("/")[0] in OPEN_BELOW and there.split("/")[0] == here.split("/")[0]:
                        continue
                    faults.append(f"{path}:{number}: includes {header}, which lies on a floor above "
                                  f"or beside {here}/ (see the README's floor table)")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

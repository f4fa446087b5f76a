#!/usr/bin/python3
"""Checks stored mail messages against what was typed for them.

Usage: mail_roundtrip.py CASES.json

CASES.json is a list of objects, one per message:
  eml          the message file as the server stored it (dot transparency undone)
  subject, organization, from_name, from_address, to_name, to_address
               what was typed ("" for a header that must be absent)
  text         the text part, lines joined with "\\n"
  attachments  [{"filename", "content_type", "path"}] in order; each part must
               decode to the bytes of the file at path
  html         (optional) the HTML alternative: text and HTML must then be the
               two parts of a multipart/alternative, the first part of
               multipart/mixed when there are attachments
  headers      (optional) {name: value} that the message's headers must hold

Each message is parsed with Python's email package (policy=default). Prints
one line per fault ("case N: ...") and nothing when every message holds what
was typed; no line of the file may pass 998 characters, no header line 78,
and the parser may report no defect (see ALLOWED below).
"""

import email
import email.policy
import json
import sys

# An encoded word inside the quoted "name" parameter is what old mail readers
# need beside the RFC 2231 "filename*"; Python notes it as a defect of that
# header only. Nothing else is allowed.
ALLOWED = {"encoded word inside quoted string", "missing trailing whitespace after encoded-word"}


def header_blocks(raw):
    """The header lines of the message and of each part, without line ends."""
    lines = raw.split(b"\r\n")
    blocks, inside = [], True
    current = []
    for line in lines:
        if inside:
            if line == b"":
                blocks.append(current)
                current, inside = [], False
            else:
                current.append(line)
        elif line.startswith(b"--") and not line.endswith(b"--"):
            inside = True
    return blocks


def check(n, case, faults):
    def fault(text):
        faults.append("case %d: %s" % (n, text))

    with open(case["eml"], "rb") as f:
        raw = f.read()
    for i, line in enumerate(raw.split(b"\r\n")):
        if len(line) > 998:
            fault("line %d has %d characters" % (i + 1, len(line)))
    for block in header_blocks(raw):
        for line in block:
            if len(line) > 78:
                fault("header line too long (%d): %r" % (len(line), line[:90]))
    msg = email.message_from_bytes(raw, policy=email.policy.default)

    for part in msg.walk():
        for d in part.defects:
            fault("defect %s" % d)
        for name, value in part.items():
            for d in getattr(value, "defects", ()):
                if not (name.lower() == "content-type" and str(d) in ALLOWED):
                    fault("defect in %s: %s" % (name, d))

    def same(what, got, want):
        if got != want:
            fault("%s: got %r, want %r" % (what, got, want))

    same("Subject", str(msg["subject"]), case["subject"])
    same("Organization", str(msg["organization"] or ""), case["organization"])
    same("Message-ID count", len(msg.get_all("message-id") or []), 1)
    for header, key in (("from", "from"), ("to", "to")):
        addresses = msg[header].addresses if msg[header] else ()
        if len(addresses) != 1:
            fault("%s: %d addresses" % (header, len(addresses)))
            continue
        same(header + " name", addresses[0].display_name, case[key + "_name"])
        same(header + " address", addresses[0].addr_spec, case[key + "_address"])

    body = msg.get_body(("plain",))
    if body is None:
        fault("no text part")
    else:
        same("text", body.get_content().replace("\r\n", "\n").rstrip("\n"), case["text"].rstrip("\n"))
    if case.get("html"):
        outer = msg.get_payload(0) if case["attachments"] else msg
        inner = [p.get_content_type() for p in outer.iter_parts()] if outer.is_multipart() else []
        same("alternative", (outer.get_content_type(), inner), ("multipart/alternative", ["text/plain", "text/html"]))
        html = msg.get_body(("html",))
        same("html", html and html.get_content().replace("\r\n", "\n"), case["html"])
    for name, value in case.get("headers", {}).items():
        same(name, str(msg[name] or ""), value)
    parts = list(msg.iter_attachments()) if msg.is_multipart() else []
    same("attachment count", len(parts), len(case["attachments"]))
    for part, want in zip(parts, case["attachments"]):
        same("file name", part.get_filename(), want["filename"])
        same("type of " + want["filename"], part.get_content_type(), want["content_type"].split(";")[0])
        with open(want["path"], "rb") as f:
            bytes_ = f.read()
        if part.get_payload(decode=True) != bytes_:
            fault("bytes of %s differ" % want["filename"])


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        cases = json.load(f)
    faults = []
    for n, case in enumerate(cases):
        try:
            check(n, case, faults)
        except Exception as e:  # a crash of the parser is a fault of the message
            faults.append("case %d: %s: %s" % (n, type(e).__name__, e))
    for line in faults:
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())

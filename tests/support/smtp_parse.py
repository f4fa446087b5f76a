#!/usr/bin/python3
"""Prints a JSON summary of one stored mail message (as smtp_sink.py stores it).

Usage: smtp_parse.py MESSAGE.eml

Parses with Python's standard `email` package and prints one JSON object:
  headers      [[name, value], ...] in the order they appear
  subject      the Subject header decoded (encoded words joined), or null
  defects      the parser's complaints about the message, as text
  root         the part tree; each part has
                 content_type, params {name: value}, transfer_encoding,
                 disposition, filename, is_multipart,
                 and either "parts" (multipart: its sub-parts in order, plus
                 "preamble" and "epilogue") or the decoded payload's
                 "size", "sha256" and, for text/* parts, "text".
Exit status 1 with a message on stderr when the file can't be read.
"""

import email
import email.header
import email.policy
import hashlib
import json
import sys


def describe(part):
    info = {
        "content_type": part.get_content_type(),
        "params": {k: v for k, v in (part.get_params() or [])[1:]},
        "transfer_encoding": part.get("Content-Transfer-Encoding"),
        "disposition": part.get_content_disposition(),
        "filename": part.get_filename(),
        "is_multipart": part.is_multipart(),
        "defects": [str(d) for d in part.defects],
    }
    if part.is_multipart():
        info["preamble"] = part.preamble
        info["epilogue"] = part.epilogue
        info["parts"] = [describe(p) for p in part.get_payload()]
    else:
        data = part.get_payload(decode=True) or b""
        info["size"] = len(data)
        info["sha256"] = hashlib.sha256(data).hexdigest()
        if part.get_content_maintype() == "text":
            info["text"] = data.decode("utf-8", errors="replace")
    return info


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        with open(sys.argv[1], "rb") as f:
            raw = f.read()
    except OSError as e:
        print("smtp_parse: %s" % e, file=sys.stderr)
        return 1
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    summary = {
        "headers": [[k, v] for k, v in msg.items()],
        "subject": str(email.header.make_header(email.header.decode_header(msg["Subject"])))
        if msg["Subject"] is not None else None,
        "defects": [str(d) for d in msg.defects],
        "root": describe(msg),
    }
    json.dump(summary, sys.stdout, indent=1)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())

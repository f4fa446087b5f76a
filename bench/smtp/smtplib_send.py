#!/usr/bin/python3
"""The same sending job done with Python's smtplib and email packages.

  smtplib_send.py --port P --messages N --attachment FILE [--body-bytes B]

Builds the message once per send (as a mailer does), one connection per
message, and prints "key value" lines: wall time and this process's own CPU
time (user + system).
"""

import argparse
import os
import resource
import smtplib
import time
from email import encoders
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText


def cpu_seconds():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def build(body, attachment):
    msg = MIMEMultipart()
    msg["From"] = "Example Shop <shop@example.com>"
    msg["Subject"] = "Your download is ready"
    msg["To"] = "customer@example.org"
    msg.attach(MIMEText(body, "plain"))
    if attachment:
        part = MIMEBase("application", "octet-stream")
        with open(attachment, "rb") as f:
            part.set_payload(f.read())
        encoders.encode_base64(part)
        name = os.path.basename(attachment)
        part.add_header("Content-Disposition", "attachment", filename=name)
        msg.attach(part)
    return msg


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--messages", type=int, default=500)
    p.add_argument("--attachment")
    p.add_argument("--body-bytes", type=int, default=2048)
    a = p.parse_args()
    line = "The quick brown fox jumps over the lazy dog, again and again and .\n"
    body = line * ((a.body_bytes + len(line) - 1) // len(line))
    cpu0, wall0 = cpu_seconds(), time.monotonic()
    for _ in range(a.messages):
        msg = build(body, a.attachment)
        with smtplib.SMTP("127.0.0.1", a.port, timeout=60) as s:
            s.send_message(msg)
    wall, cpu = time.monotonic() - wall0, cpu_seconds() - cpu0
    print("messages %d" % a.messages)
    print("wall_s %.4f" % wall)
    print("cpu_s %.4f" % cpu)
    print("msgs_per_s %.1f" % (a.messages / wall))
    print("ms_per_msg %.4f" % (wall * 1e3 / a.messages))
    print("cpu_ms_per_msg %.4f" % (cpu * 1e3 / a.messages))


if __name__ == "__main__":
    main()
